#pragma once

#include <QString>
#include <optional>

// A number typed into one of the coordinate fields: a decimal with '.' as the separator,
// optionally with an exponent, white space around it allowed; nothing for an empty field, other
// text, or a value that is not finite as a float.
std::optional<float> typedNumber(const QString& text);
