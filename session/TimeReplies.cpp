#include "TimeReplies.h"

#include "ReplyText.h"

#include <limits>

std::optional<int> parseRemainingSeconds(const char* data, int length)
{
    const ReplyText reply(QByteArray(data, length > 0 ? length : 0));
    const auto v = reply.scan().decimal();
    if (!v)
        return std::nullopt;
    // One above the smallest int, so that the countdown's decrement cannot overflow.
    constexpr qint64 lo = qint64(std::numeric_limits<int>::min()) + 1;
    constexpr qint64 hi = std::numeric_limits<int>::max();
    return int(*v < lo ? lo : *v > hi ? hi : *v);
}

bool cancelAccepted(const char* data, int length)
{
    return data && length > 0 && data[0] == '+';
}
