#include "StageReplies.h"

#include "ReplyText.h"

#include <cmath>

namespace {

// Larger than any position or scale of the protocol, and well inside a float.
constexpr double Limit = 1e9;

QByteArray bytesOf(const char* data, int length)
{
    return data && length > 0 ? QByteArray(data, length) : QByteArray();
}

// The next number: false when there is none (reading stops); `value` is set only for an
// acceptable one.
bool nextNumber(ReplyText::Scanner& in, std::optional<float>& value, bool positiveOnly = false)
{
    in.skipSpace();
    const int start = in.pos();
    const auto v = in.real();               // finite values only
    if (!v)
        return in.pos() > start;            // a number was there, but not a finite one
    if (std::fabs(*v) > Limit)
        return true;
    const float f = float(*v);
    if (!positiveOnly || f > 0)             // a scale too small for a float is 0
        value = f;
    return true;
}

} // namespace

PositionReply parsePosition(const char* data, int length)
{
    PositionReply out;
    const ReplyText reply(bytesOf(data, length));
    if (reply.startsWith('+'))
        out.kind = PositionReply::AtRest;
    else if (reply.startsWith('*'))
        out.kind = PositionReply::Moving;
    else
        return out;
    if (reply.size() <= 4)
        return out;
    auto in = reply.scan(4);
    if (nextNumber(in, out.x) && nextNumber(in, out.y))
        nextNumber(in, out.z);
    return out;
}

bool moveRefused(const char* data, int length)
{
    return data && length > 0 && data[0] == '-';
}

SysInfoReply parseSysInfo(const char* data, int length)
{
    SysInfoReply out;
    const QByteArray bytes = ReplyText(bytesOf(data, length)).text();   // as text: up to a NUL
    const int lineEnd = int(bytes.indexOf('\n'));
    if (lineEnd >= 0)
        out.text = bytes.mid(lineEnd + 1);
    const ReplyText line(lineEnd < 0 ? bytes : bytes.left(lineEnd));
    auto in = line.scan();
    if (nextNumber(in, out.mppX, true))
        nextNumber(in, out.mppY, true);
    return out;
}
