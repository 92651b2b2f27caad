#include "Replies.h"

#include "ReplyText.h"

std::optional<std::pair<qint64, qint64>> parseControlWindow(const char* data, int length)
{
    const ReplyText reply(QByteArray(data, length > 0 ? length : 0));
    if (reply.startsWith('*'))
        return std::nullopt;
    auto in = reply.scan();
    const auto wait = in.decimal();
    if (!wait)
        return std::nullopt;
    const auto span = in.decimal();
    if (!span)
        return std::nullopt;
    return std::make_pair(*wait, *span);
}
