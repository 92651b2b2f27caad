#include "Url.h"

#include <cstring>

QString Url::escapeValue(const QString& v)
{
    static const char unsafe[] = " \"#%&+<>?[\\]^`{|}";
    const QByteArray utf8 = v.toUtf8();
    QString out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F || std::strchr(unsafe, c))
            out += QLatin1Char('%') + QString::number(c, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += QLatin1Char(ch);
    }
    return out;
}
