#include "Url.h"

#include <cstring>

QString Url::escapeBytes(const QByteArray& bytes)
{
    static const char unsafe[] = " \"#%&+<>?[\\]^`{|}";
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F || std::strchr(unsafe, c)) {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[c >> 4]);
            out += QLatin1Char(hex[c & 0xF]);
        } else {
            out += QLatin1Char(ch);
        }
    }
    return out;
}
