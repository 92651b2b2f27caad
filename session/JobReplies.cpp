#include "JobReplies.h"

#include <cstring>

namespace {

// The reply as a C string would see it: up to the first NUL.
int textLength(const char* data, int length)
{
    if (!data || length <= 0)
        return 0;
    const void* nul = std::memchr(data, '\0', size_t(length));
    return nul ? int(static_cast<const char*>(nul) - data) : length;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

JobReply parseJobReply(const char* data, int length)
{
    const int n = textLength(data, length);
    if (n >= 2 && data[0] == '-' && data[1] == 'D')
        return JobReply::Exists;
    if (n >= 2 && data[0] == '-' && data[1] == 'E')
        return JobReply::Nonsense;
    if (n >= 1 && data[0] == '<')
        return JobReply::TooLarge;
    if (n >= 1 && data[0] == '+')
        return JobReply::Waiting;
    return JobReply::Other;
}

QList<QByteArray> parseListReply(const char* data, int length)
{
    QList<QByteArray> entries;
    const int n = textLength(data, length);
    int start = 0;
    while (start < n && entries.size() < MaxListEntries) {
        const void* nl = std::memchr(data + start, '\n', size_t(n - start));
        const int end = nl ? int(static_cast<const char*>(nl) - data) : n;
        if (end == start)
            break;
        if (end - start <= MaxListEntry)
            entries.append(QByteArray(data + start, end - start));
        start = end + 1;
    }
    return entries;
}

QByteArray parseJobSlide(const char* data, int length)
{
    const int n = textLength(data, length);
    int end = 0;
    while (end < n && end <= MaxListEntry && !isSpace(data[end]))
        ++end;
    if (end > MaxListEntry)
        return {};
    return QByteArray(data, end);
}
