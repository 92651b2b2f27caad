#pragma once

#include <optional>

// Readers of the control-time replies, over the received bytes only.

// "f=t": the remaining control seconds, a decimal number at the start of the reply (white space
// before it skipped). Read base 10, so a leading zero is not octal: "095" is 95. Values beyond
// the range of int are clamped to it. Nothing when the reply does not start with a number.
std::optional<int> parseRemainingSeconds(const char* data, int length);

// "f=rmSch": the schedule is cancelled when the first byte is '+'.
bool cancelAccepted(const char* data, int length);
