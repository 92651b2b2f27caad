#pragma once

#include <QByteArray>
#include <optional>

// Readers of the control window's stage and system-information replies, over the received
// bytes only. Numbers are read one after another as "%f" would read them: reading stops at the
// first text that is not a number. A number that is read but refused (not finite, beyond any
// value of the protocol, or a scale that is not above 0 as a float) leaves its value unread, and
// reading goes on.

// A position reply ("f=m", "f=w", "f=a", "f=r"): '+' the stage is at rest, '*' it is still
// moving or focusing, anything else is not a position reply. x, y and z (0.1 µm) are read from
// the fifth byte on.
struct PositionReply
{
    enum Kind { Invalid, Moving, AtRest };
    Kind kind = Invalid;
    std::optional<float> x;
    std::optional<float> y;
    std::optional<float> z;
};
PositionReply parsePosition(const char* data, int length);

// A move that is not followed by position polls (a focus-stack level, a neighbour step): it was
// refused when its first byte is '-'. Any other reply counts as the stage in place, since the
// reply has no further defined form.
bool moveRefused(const char* data, int length);

// The "f=d" reply: micrometres per video pixel, x then y, on its first line; then free text,
// which is everything after the first line break up to a NUL (empty without a line break).
struct SysInfoReply
{
    std::optional<float> mppX;
    std::optional<float> mppY;
    QByteArray text;
};
SysInfoReply parseSysInfo(const char* data, int length);
