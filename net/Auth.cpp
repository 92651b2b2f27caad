#include "Auth.h"

#include <QRandomGenerator>

namespace {
Auth::RandomSource& randomSource()
{
    static Auth::RandomSource source;
    return source;
}
} // namespace

Auth::Auth() = default;

void Auth::setRandomSource(RandomSource source)
{
    randomSource() = std::move(source);
}

quint32 Auth::nextRandom()
{
    // Never reseeded: two objects made in the same second must not repeat each other's strings.
    if (randomSource())
        return randomSource()() & 0x7FFF;
    return QRandomGenerator::global()->bounded(32768u);
}

void Auth::setKey(QString k)
{
    key = k;
    keyBytes = key.toLatin1();
}

void Auth::setToken(quint32 ticket)
{
    m_token = decode(ticket);
}

int Auth::rotateLeft8(int v, int n)
{
    for (int i = 0; i < n; ++i)
        v = ((v << 1) | (v >> 7)) & 0xFF;
    return v;
}

int Auth::rotateRight8(int v, int n)
{
    for (int i = 0; i < n; ++i)
        v = ((v >> 1) | (v << 7)) & 0xFF;
    return v;
}

// Rotation count of key byte i: the signed byte's remainder by 8, truncating toward zero,
// so bytes of 0x80 and above give 0 or a negative count, which rotates nothing.
int Auth::shift(int i) const
{
    const int b = static_cast<signed char>(keyBytes.at(i));
    return b % 8;
}

quint32 Auth::encode(quint32 w) const
{
    for (int i = 0; i < keyBytes.size(); ++i) {
        const int s = 8 * (i % 4);
        const int b = rotateLeft8(int((w >> s) & 0xFF), shift(i));
        w = (w & ~(quint32(0xFF) << s)) | (quint32(b) << s);
    }
    return w;
}

quint32 Auth::decode(quint32 w) const
{
    for (int i = int(keyBytes.size()) - 1; i >= 0; --i) {
        const int s = 8 * (i % 4);
        const int b = rotateRight8(int((w >> s) & 0xFF), shift(i));
        w = (w & ~(quint32(0xFF) << s)) | (quint32(b) << s);
    }
    return w;
}

QString Auth::loginString()
{
    const quint32 r = nextRandom();
    return QStringLiteral("%1&rndsd=%2").arg(hex(encode(r)), hex(r));
}

QString Auth::requestString()
{
    const quint32 r = nextRandom();
    const quint32 m = (((r & 0xFF00u) << 8) * (r & 0xFFu)) | (r & 0xFFFFu);
    return hex(encode(m ^ m_token));
}
