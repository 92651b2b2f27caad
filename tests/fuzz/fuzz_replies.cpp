// Any bytes as a short status reply: the readers stay inside them.
#include "JobReplies.h"
#include "NeighborGrid.h"
#include "Replies.h"
#include "ReplyText.h"
#include "StageReplies.h"
#include "TimeReplies.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    (void)loginAccepted(bytes, int(size));
    if (const auto clock = parseServerClock(bytes, int(size)); clock && (*clock > ReplyText::MaxDecimal || *clock < -ReplyText::MaxDecimal))
        std::abort();
    (void)parseControlWindow(bytes, int(size));
    (void)parseSchedulingTicket(bytes, int(size));
    (void)parseReservation(bytes, int(size));
    // A ticket is granted only on a "+" that holds it.
    if (parseSessionTicket(bytes, int(size)).kind == SessionTicketReply::Granted && (size < 4 || data[0] != '+'))
        std::abort();
    // The countdown decrements the count: it must never be read as the smallest int.
    if (const auto s = parseRemainingSeconds(bytes, int(size)); s && *s == std::numeric_limits<int>::min())
        std::abort();
    (void)cancelAccepted(bytes, int(size));
    (void)moveRefused(bytes, int(size));
    (void)parseCalibrationReply(bytes, int(size));
    (void)parseJobReply(bytes, int(size));

    // One schedule row per complete line at the most, and never more than the table takes.
    const auto rows = parseSchedule(bytes, int(size));
    if (rows.size() > MaxScheduleRows || rows.size() > qsizetype(std::count(bytes, bytes + size, '\n')))
        std::abort();
    // A refusal is never read as a booking.
    if (parseBooking(bytes, int(size)).kind == BookingReply::Booked && size > 0 && data[0] == '-')
        std::abort();

    // List entries and the job's slide are pieces of the reply, never longer than it.
    qsizetype listed = 0;
    for (const QByteArray& entry : parseListReply(bytes, int(size))) {
        if (entry.isEmpty() || entry.size() > MaxListEntry || entry.contains('\n') || entry.contains('\0'))
            std::abort();
        listed += entry.size() + 1;
    }
    if (listed > qsizetype(size) + 1)
        std::abort();
    const QByteArray slide = parseJobSlide(bytes, int(size));
    if (slide.size() > qsizetype(size) || (!slide.isEmpty() && std::memcmp(slide.constData(), bytes, size_t(slide.size())) != 0))
        std::abort();

    const PositionReply position = parsePosition(bytes, int(size));
    for (const auto& v : {position.x, position.y, position.z})
        if (v && !std::isfinite(*v))
            std::abort();
    if (position.kind == PositionReply::Invalid && (position.x || position.y || position.z))
        std::abort();
    const SysInfoReply info = parseSysInfo(bytes, int(size));
    if ((info.mppX && !(*info.mppX > 0)) || (info.mppY && !(*info.mppY > 0)) || info.text.size() > qsizetype(size))
        std::abort();

    const ReplyText reply(QByteArray(bytes, int(size)));
    for (int offset : {0, 3, 4})
        (void)reply.hexAt(offset);
    auto in = reply.scan(size > 4 ? 4 : 0);
    for (int i = 0; i < 8 && !in.atEnd(); ++i) {
        const int before = in.pos();
        if (const auto v = in.real(); v && !std::isfinite(*v))
            std::abort();
        (void)in.decimal();
        (void)in.hex();
        (void)in.word();
        if (in.pos() < before || in.pos() > int(size))
            std::abort();
    }
    return 0;
}
