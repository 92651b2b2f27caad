// Any bytes as a slide file of the high-resolution view: the readers stay inside them, and
// what they accept can be used as it is.
#include "FiducialFile.h"
#include "PointList.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);

    // An accepted calibration is a finite positive scale with a finite angle.
    if (const auto f = FiducialFile::read(bytes, int(size))) {
        if (!(f->pixelWidth > 0 && f->pixelHeight > 0 && f->widthMm > 0 && f->heightMm > 0)
            || !std::isfinite(f->pixelWidth) || !std::isfinite(f->pixelHeight) || !std::isfinite(f->angle)
            || !std::isfinite(f->widthMm) || !std::isfinite(f->heightMm))
            std::abort();
    }

    // Every point is a finite float, and there are no more points than lines.
    const size_t lines = size_t(std::count(bytes, bytes + size, '\n')) + 1;
    size_t points = 0;
    PointList list(bytes, qsizetype(size));
    float x = 0, y = 0;
    while (list.next(x, y))
        if (!std::isfinite(x) || !std::isfinite(y) || ++points > lines)
            std::abort();
    return 0;
}
