#include "HostAuth.h"

#include <array>

namespace {

std::array<int, 4> laneShifts(const QString& password)
{
    std::array<int, 4> lanes{{0, 0, 0, 0}};
    const QByteArray bytes = password.toLatin1();
    for (int i = 0; i < bytes.size(); ++i) {
        const int b = static_cast<signed char>(bytes[i]);
        if (b >= 0)
            lanes[i % 4] += b & 7;          // bytes of 0x80 and above rotate nothing
    }
    for (int& l : lanes)
        l %= 8;
    return lanes;
}

quint32 rotateLanes(const QString& password, quint32 w, bool left)
{
    const auto lanes = laneShifts(password);
    quint32 out = 0;
    for (int lane = 0; lane < 4; ++lane) {
        const quint32 b = (w >> (8 * lane)) & 0xFF;
        const int n = left ? lanes[lane] : (8 - lanes[lane]) % 8;
        const quint32 r = ((b << n) | (b >> (8 - n))) & 0xFF;
        out |= r << (8 * lane);
    }
    return out;
}

} // namespace

quint32 HostAuth::encode(const QString& password, quint32 w) { return rotateLanes(password, w, true); }
quint32 HostAuth::decode(const QString& password, quint32 w) { return rotateLanes(password, w, false); }

bool HostAuth::parseHex(const QString& text, quint32* out)
{
    if (text.isEmpty() || text.size() > 8)
        return false;
    bool ok = false;
    const uint v = text.toUInt(&ok, 16);
    if (!ok)
        return false;
    *out = v;
    return true;
}

bool HostAuth::checkLogin(const QString& password, const QString& authHex, const QString& rndsdHex)
{
    quint32 a = 0, r = 0;
    if (!parseHex(authHex, &a) || !parseHex(rndsdHex, &r) || r > 0x7FFF)
        return false;
    return encode(password, r) == a;
}

bool HostAuth::checkRequest(const QString& password, quint32 ticket, const QString& authHex)
{
    quint32 a = 0;
    if (!parseHex(authHex, &a))
        return false;
    const quint32 v = decode(password, a) ^ decode(password, ticket);
    const quint32 r = v & 0xFFFF;
    return r <= 0x7FFF && (v >> 16) == (r >> 8) * (r & 0xFF);
}

QString HostAuth::requestString(const QString& password, quint32 ticket, quint32 r)
{
    r &= 0x7FFF;
    const quint32 m = (((r >> 8) * (r & 0xFF)) << 16) | r;
    return QString::number(encode(password, m ^ decode(password, ticket)), 16);
}
