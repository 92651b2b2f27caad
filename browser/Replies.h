#pragma once

#include <QByteArray>
#include <QList>
#include <optional>
#include <utility>
#include <QtGlobal>

// Readers of the replies to the log-in and scheduling dialogs, over the received bytes only.

// "f=checkauth": the login and password are accepted when the first byte is '+'.
bool loginAccepted(const char* data, int length);

// "f=cck": the server's clock, epoch seconds, the first decimal number of the reply.
std::optional<qint64> parseServerClock(const char* data, int length);

// "f=cwt": "*" when the user has no window, else the seconds until the window starts and its
// length. Nothing when the reply gives no window (a "*", or fewer than two numbers).
std::optional<std::pair<qint64, qint64>> parseControlWindow(const char* data, int length);

// "f=sticket" (both dialogs): "+" and a hexadecimal ticket from the fifth byte on. Nothing for a refusal, and
// for a "+" that holds no ticket inside the bytes.
std::optional<quint32> parseSchedulingTicket(const char* data, int length);

// "f=schdnow": "+<status> <seconds> <next start>". A number that is missing, or does not fit,
// leaves its default and every field after it.
struct ReservationReply
{
    bool granted = false;
    int seconds = 120;          // control time granted
    qint64 next = 0;            // next reservation's start; -1: none
};
ReservationReply parseReservation(const char* data, int length);

// "f=ticket": the two word codes are whole replies; "+" carries the ticket from the fourth byte
// on. Anything else, a "+" without a ticket included, is unexpected.
struct SessionTicketReply
{
    enum Kind { NoAuthorization, Unscheduled, Granted, Unexpected };
    Kind kind = Unexpected;
    quint32 ticket = 0;
};
SessionTicketReply parseSessionTicket(const char* data, int length);

// "f=getschd": one reservation per complete line, "start duration"; text after the last line
// break is not a line. A line without a duration takes the one before it (600 s before the
// first); a line without a start gives no reservation. Each line is read up to a NUL in it. At
// most MaxScheduleRows reservations are read: a reply of countless short lines must not become
// as many table rows.
struct ScheduleRow
{
    qint64 start = 0;
    qint64 duration = 0;
};
constexpr int MaxScheduleRows = 10000;
QList<ScheduleRow> parseSchedule(const char* data, int length);

// "f=schdt": "-C" the slot overlaps another reservation, "-N" no session ticket can be
// allocated, any other "-" a refusal; otherwise "status wait length", and a reply without both
// numbers does not say whether the slot was booked. Read as text up to a NUL.
struct BookingReply
{
    enum Kind { Overlap, NoTicket, Refused, Booked, Unreadable };
    Kind kind = Unreadable;
    qint64 wait = 0;        // Booked: seconds until the slot starts
    qint64 length = 0;      // Booked: its length in seconds
};
BookingReply parseBooking(const char* data, int length);
