#pragma once

#include <algorithm>
#include <cmath>

// The one rule for turning a stage position, mapped to pixels, into an int pixel coordinate.
namespace StagePixel {

// Further out than any image or widget; every value up to it fits an int.
constexpr double Limit = 1000000.0;

// Truncated toward zero and kept within +-Limit, so that positions far off the slide still land
// far outside what is drawn. A position that is not a number lands off it too: nothing is
// drawn for it.
inline int clamp(double v)
{
    if (std::isnan(v))
        return -int(Limit);
    return int(std::clamp(v, -Limit, Limit));
}

}
