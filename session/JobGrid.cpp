#include "JobGrid.h"

#include <cmath>
#include <limits>

namespace {

constexpr double Limit = std::numeric_limits<qint32>::max();

// Points start, start + step, ... strictly below end.
std::optional<qint64> pointsOnAxis(float from, float to, qint64 step)
{
    // Products of a float and 10000 are exact in double.
    const double start = std::trunc(double(from) * 10000.0);
    const double end = double(to) * 10000.0;
    if (!std::isfinite(start) || !std::isfinite(end) || std::fabs(start) > Limit || std::fabs(end) > Limit)
        return std::nullopt;
    // An integer point lies below end exactly when it lies below ceil(end).
    const qint64 first = qint64(start);
    const qint64 last = qint64(std::ceil(end));
    if (last <= first)
        return 0;
    return (last - first + step - 1) / step;
}

} // namespace

std::optional<qint64> samplingPointCount(float x1, float y1, float x2, float y2, int density)
{
    if (density < 1 || density > 10000)
        return std::nullopt;
    const qint64 step = qint64(10000.0 / density);
    const auto columns = pointsOnAxis(x1, x2, step);
    const auto rows = pointsOnAxis(y1, y2, step);
    if (!columns || !rows)
        return std::nullopt;
    return *columns * *rows;
}
