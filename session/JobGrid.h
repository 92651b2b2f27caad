#pragma once

#include <QtGlobal>
#include <optional>

// Number of sampling points of the acquisition rectangle (corners in mm) at `density` samples
// per mm, on the service's integer grid: from the top-left corner truncated to 0.1 µm, in
// steps of trunc(10000 / density) units, every point strictly before the bottom-right corner,
// column by column. Counted without stepping. Nothing when the density is below 1 or above 10000 or a
// corner is not finite or lies beyond the 32-bit range of stage units.
std::optional<qint64> samplingPointCount(float x1, float y1, float x2, float y2, int density);
