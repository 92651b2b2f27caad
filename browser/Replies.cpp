#include "Replies.h"

#include "ReplyText.h"

#include <limits>

namespace {
ReplyText bytes(const char* data, int length)
{
    return ReplyText(QByteArray(data, length > 0 ? length : 0));
}
} // namespace

std::optional<std::pair<qint64, qint64>> parseControlWindow(const char* data, int length)
{
    const ReplyText reply = bytes(data, length);
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

std::optional<quint32> parseSchedulingTicket(const char* data, int length)
{
    const ReplyText reply = bytes(data, length);
    if (!reply.startsWith('+'))
        return std::nullopt;
    return reply.hexAt(4);
}

ReservationReply parseReservation(const char* data, int length)
{
    const ReplyText reply = bytes(data, length);
    ReservationReply r;
    r.granted = reply.startsWith('+');
    if (!r.granted)
        return r;
    auto in = reply.scan();
    if (!in.word())
        return r;
    const auto seconds = in.decimal();
    if (!seconds || *seconds < std::numeric_limits<int>::min() || *seconds > std::numeric_limits<int>::max())
        return r;
    r.seconds = int(*seconds);
    if (const auto next = in.decimal())
        r.next = *next;
    return r;
}

SessionTicketReply parseSessionTicket(const char* data, int length)
{
    const ReplyText reply = bytes(data, length);
    SessionTicketReply r;
    // Whole-reply codes: no line end, nothing after them.
    if (reply.bytes() == "-NO_AUTHORIZATION") {
        r.kind = SessionTicketReply::NoAuthorization;
    } else if (reply.bytes() == "-UNSCHEDULED") {
        r.kind = SessionTicketReply::Unscheduled;
    } else if (reply.startsWith('+')) {
        if (const auto ticket = reply.hexAt(3)) {
            r.kind = SessionTicketReply::Granted;
            r.ticket = *ticket;
        }
    }
    return r;
}
