#pragma once

#include <QByteArray>
#include <optional>
#include <utility>
#include <QtGlobal>

// Readers of the log-in dialog's short replies, over the received bytes only.

// "f=cwt": "*" when the user has no window, else the seconds until the window starts and its
// length. Nothing when the reply gives no window (a "*", or fewer than two numbers).
std::optional<std::pair<qint64, qint64>> parseControlWindow(const char* data, int length);

// "f=sticket": "+" and a hexadecimal ticket from the fifth byte on. Nothing for a refusal, and
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
