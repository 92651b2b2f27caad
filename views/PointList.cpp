#include "PointList.h"

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace {

bool isSpace(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// "%f" at `from` (white space skipped) within [from, end): the value, and `from` moved past it;
// nothing when no number starts there, or it is not finite.
bool readReal(const char*& from, const char* end, double& value)
{
    while (from < end && isSpace(*from))
        ++from;
    if (from == end)
        return false;
    // strtod reads a NUL-terminated text: the number's bytes are copied, and a number that
    // reaches near the copy's end (rare: many digits) is read again from the rest of the line.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    if (!cLocale)
        return false;
    char local[64];
    const size_t n = std::min<size_t>(size_t(end - from), sizeof local - 1);
    std::memcpy(local, from, n);
    local[n] = '\0';
    char* stop = nullptr;
    double v = strtod_l(local, &stop, cLocale);
    size_t used = size_t(stop - local);
    if (n < size_t(end - from) && used + 8 > n) {
        const std::string rest(from, size_t(end - from));
        v = strtod_l(rest.c_str(), &stop, cLocale);
        used = size_t(stop - rest.c_str());
    }
    if (used == 0)
        return false;
    from += used;
    if (!std::isfinite(v))
        return false;
    value = v;
    return true;
}

} // namespace

PointList::PointList(const char* data, qsizetype size) : p(data), end(data)
{
    if (data && size > 0) {
        const void* nul = std::memchr(data, '\0', size_t(size));
        end = nul ? static_cast<const char*>(nul) : data + size;
    }
}

bool PointList::next(float& x, float& y)
{
    while (p < end) {
        const void* nl = std::memchr(p, '\n', size_t(end - p));
        const char* lineEnd = nl ? static_cast<const char*>(nl) : end;
        const char* at = p;
        p = nl ? lineEnd + 1 : end;

        // The name: a run of non-blank bytes.
        while (at < lineEnd && isSpace(*at))
            ++at;
        const char* name = at;
        while (at < lineEnd && !isSpace(*at))
            ++at;
        if (at == name)
            continue;
        double vx = 0, vy = 0;
        if (!readReal(at, lineEnd, vx) || !readReal(at, lineEnd, vy))
            continue;
        // Values are read as float: one beyond float's range is not a number here.
        if (std::fabs(vx) > double(FLT_MAX) || std::fabs(vy) > double(FLT_MAX))
            continue;
        x = float(vx);
        y = float(vy);
        return true;
    }
    return false;
}
