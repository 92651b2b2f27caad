#include "ReplyText.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <locale.h>
#include <stdlib.h>

std::optional<quint32> ReplyText::hexAt(int offset) const
{
    if (offset < 0 || offset >= size())
        return std::nullopt;
    return Scanner(*this, offset).hex();
}

void ReplyText::Scanner::skipSpace()
{
    while (p < s.size() && std::isspace(static_cast<unsigned char>(s.at(p))))
        ++p;
}

std::optional<QByteArray> ReplyText::Scanner::word()
{
    skipSpace();
    const int start = p;
    while (p < s.size() && !std::isspace(static_cast<unsigned char>(s.at(p))))
        ++p;
    if (p == start)
        return std::nullopt;
    return s.mid(start, p - start);
}

std::optional<qint64> ReplyText::Scanner::decimal()
{
    skipSpace();
    if (p >= s.size())
        return std::nullopt;
    const char* begin = s.constData() + p;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(begin, &end, 10);
    if (end == begin)
        return std::nullopt;
    p += int(end - begin);
    // No number of the protocol comes near this; larger ones are not read, so that times and
    // durations can be added without overflow.
    if (errno == ERANGE || v > MaxDecimal || v < -MaxDecimal)
        return std::nullopt;
    return qint64(v);
}

std::optional<quint32> ReplyText::Scanner::hex()
{
    skipSpace();
    if (p >= s.size())
        return std::nullopt;
    const char* begin = s.constData() + p;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(begin, &end, 16);
    if (end == begin)
        return std::nullopt;
    p += int(end - begin);
    return quint32(v & 0xFFFFFFFFu);
}

std::optional<double> ReplyText::Scanner::real()
{
    skipSpace();
    if (p >= s.size())
        return std::nullopt;
    const char* begin = s.constData() + p;
    char* end = nullptr;
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const double v = strtod_l(begin, &end, cLocale);   // wire numbers are never localised
    if (end == begin)
        return std::nullopt;
    p += int(end - begin);
    if (!std::isfinite(v))
        return std::nullopt;
    return v;
}
