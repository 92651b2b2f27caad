#pragma once

#include <optional>

// Readers of the control-time replies, over the received bytes only.

// "f=t": the remaining control seconds, a decimal number at the start of the reply (white space
// before it skipped). Read base 10, so a leading zero is not octal: "095" is 95. Values beyond
// the range of int, up to ReplyText::MaxDecimal in size, are clamped to INT_MIN + 1 ... INT_MAX;
// nothing for larger ones, as when the reply does not start with a number.
std::optional<int> parseRemainingSeconds(const char* data, int length);

// "f=rmSch": the schedule is cancelled when the first byte is '+'.
bool cancelAccepted(const char* data, int length);
