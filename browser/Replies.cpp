#include "Replies.h"

#include "ReplyText.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace {
ReplyText bytes(const char* data, int length)
{
    return ReplyText(QByteArray(data, length > 0 ? length : 0));
}

// Whether the line from p to end starts, after white space, with a decimal number: only such a
// line is copied to be read.
bool startsWithNumber(const char* p, const char* end)
{
    while (p < end && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    return p < end && *p >= '0' && *p <= '9';
}
} // namespace

bool loginAccepted(const char* data, int length)
{
    return bytes(data, length).startsWith('+');
}

std::optional<qint64> parseServerClock(const char* data, int length)
{
    return bytes(data, length).scan().decimal();
}

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

QList<ScheduleRow> parseSchedule(const char* data, int length)
{
    QList<ScheduleRow> rows;
    if (!data || length <= 0)
        return rows;
    qint64 duration = 600;
    const char* const end = data + length;
    for (const char* line = data; line < end && rows.size() < MaxScheduleRows;) {
        const void* found = std::memchr(line, '\n', size_t(end - line));
        if (!found)
            break;
        const char* begin = line;
        const char* lineEnd = static_cast<const char*>(found);
        line = lineEnd + 1;
        if (!startsWithNumber(begin, lineEnd))
            continue;
        auto in = ReplyText(QByteArray(begin, int(lineEnd - begin))).scan();
        const auto start = in.decimal();
        if (!start)
            continue;
        if (const auto d = in.decimal())
            duration = *d;
        rows.append({*start, duration});
    }
    return rows;
}

BookingReply parseBooking(const char* data, int length)
{
    const ReplyText reply = bytes(data, length);
    const QByteArray text = reply.text();
    BookingReply r;
    if (text.startsWith("-C")) {
        r.kind = BookingReply::Overlap;
    } else if (text.startsWith("-N")) {
        r.kind = BookingReply::NoTicket;
    } else if (text.startsWith('-')) {
        r.kind = BookingReply::Refused;
    } else {
        auto in = reply.scan();
        const auto status = in.word();
        const auto wait = status ? in.decimal() : std::nullopt;
        const auto span = wait ? in.decimal() : std::nullopt;
        if (span) {
            r.kind = BookingReply::Booked;
            r.wait = *wait;
            r.length = *span;
        }
    }
    return r;
}
