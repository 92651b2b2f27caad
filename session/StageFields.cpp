#include "StageFields.h"

#include <cmath>

std::optional<float> typedNumber(const QString& text)
{
    bool ok = false;
    const float v = text.toFloat(&ok);      // C locale, no group separators
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}
