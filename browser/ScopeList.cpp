#include "ScopeList.h"

#include "HostBytes.h"

#include <cstdlib>

namespace {

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool isMarker(char c) { return c == '$' || c == '#'; }

class Cursor
{
public:
    Cursor(const char* d, int n) : data(d), size(n) {}
    int find(char c, int from) const
    {
        for (int i = from; i < size; ++i)
            if (data[i] == c)
                return i;
        return -1;
    }
    int findMarker(int from) const
    {
        for (int i = from; i < size; ++i)
            if (isMarker(data[i]))
                return i;
        return -1;
    }
    QByteArray bytes(int from, int to) const { return QByteArray(data + from, to - from); }
    QString text(int from, int to) const { return HostBytes::shown(data + from, to - from); }
    // A line that starts at i with a terminator or the next record's marker.
    bool stopLine(int i) const
    {
        return i > 0 && i < size && data[i - 1] == '\n' && (data[i] == '^' || isMarker(data[i]));
    }
    const char* data;
    int size;
};

// The minutes line, read as a decimal number (0 when it is none).
int minutesOf(const QByteArray& line)
{
    const long v = std::strtol(line.constData(), nullptr, 10);
    return v > 1000000 ? 1000000 : (v < -1000000 ? -1000000 : int(v));
}

} // namespace

ScopeList parseScopeList(const char* data, int length)
{
    ScopeList list;
    if (!data || length <= 0)
        return list;
    const Cursor c(data, length);

    // Banner: everything before the first marker, less the byte just before it.
    const int first = c.findMarker(0);
    const int bannerEnd = first < 0 ? length - 1 : first - 1;
    if (bannerEnd > 0)
        list.banner = c.text(0, bannerEnd);

    int pos = 0;
    for (;;) {
        const int marker = c.findMarker(pos);
        if (marker < 0)
            break;
        ScopeRecord rec;
        rec.reservable = data[marker] == '$';

        const int nameEnd = c.find('\n', marker + 1);
        if (nameEnd < 0)
            break;
        rec.wireName = c.bytes(marker + 1, nameEnd);
        rec.name = HostBytes::shown(rec.wireName);

        const int minutesEnd = c.find('\n', nameEnd + 1);
        if (minutesEnd < 0)
            break;
        rec.maxMinutesText = c.text(nameEnd + 1, minutesEnd);
        rec.maxMinutes = minutesOf(QByteArray(data + nameEnd + 1, minutesEnd - nameEnd - 1));

        const int caret = c.find('^', minutesEnd + 1);
        if (caret < 0)
            break;
        rec.description = c.text(minutesEnd + 1, caret);

        // The slides start at the first letter or digit after the description's '^', unless a
        // terminator line or the next record comes first.
        int p = caret + 1;
        while (p < length && !isAlnum(data[p]) && !c.stopLine(p))
            ++p;
        if (p < length && isAlnum(data[p])) {
            bool firstLine = true;
            while (p < length && data[p] != '^' && (firstLine || !isMarker(data[p]))) {
                firstLine = false;
                int w = p;
                while (w < length && isBlank(data[w]))
                    ++w;
                int e = w;
                while (e < length && data[e] != '\n' && !isBlank(data[e]))
                    ++e;
                if (e > w) {
                    rec.wireSlides.append(c.bytes(w, e));
                    rec.slides.append(HostBytes::shown(rec.wireSlides.last()));
                }
                const int nl = c.find('\n', p);
                p = nl < 0 ? length : nl + 1;
            }
        }
        list.records.append(std::move(rec));
        // The next record starts after this one's slides: a marker inside a slide line is part
        // of that slide, so no byte is read into two records.
        pos = p;
    }
    return list;
}
