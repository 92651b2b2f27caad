#include "FiducialFile.h"

#include "ReplyText.h"

#include <cfloat>
#include <cmath>

namespace {

// Marks further out than this are not image pixels of any slide; they are taken as unreadable.
constexpr qint64 MaxMark = 1000000000;

double distance(const QPoint& a, const QPoint& b)
{
    const qint64 dx = qint64(a.x()) - b.x();
    const qint64 dy = qint64(a.y()) - b.y();
    return std::sqrt(double(dx * dx + dy * dy));
}

double rowAngle(const QPoint& a, const QPoint& b)
{
    return std::atan(double(qint64(b.y()) - a.y()) / double(qint64(b.x()) - a.x()));
}

double columnAngle(const QPoint& a, const QPoint& b)
{
    return std::atan(double(-(qint64(b.x()) - a.x())) / double(qint64(b.y()) - a.y()));
}

} // namespace

std::optional<FiducialFile> FiducialFile::read(const char* data, int length)
{
    const ReplyText text(data && length > 0 ? QByteArray(data, length) : QByteArray());
    ReplyText::Scanner in = text.scan();
    int v[8];
    for (int& value : v) {
        const std::optional<qint64> read = in.decimal();
        if (!read || *read < -MaxMark || *read > MaxMark)
            return std::nullopt;
        value = int(*read);
    }
    // A size that is not a float (beyond its range, or not finite) is not read.
    const auto millimetres = [&in]() -> std::optional<float> {
        const std::optional<double> v = in.real();
        if (!v || std::fabs(*v) > double(FLT_MAX))
            return std::nullopt;
        return float(*v);
    };
    FiducialFile f;
    if (const std::optional<float> w = millimetres()) {
        if (const std::optional<float> h = millimetres()) {
            f.widthMm = *w;
            f.heightMm = *h;
        }
    }

    f.topLeft = QPoint(v[0], v[1]);
    f.topRight = QPoint(v[2], v[3]);
    f.bottomLeft = QPoint(v[4], v[5]);
    f.bottomRight = QPoint(v[6], v[7]);
    f.pixelWidth = (distance(f.topLeft, f.topRight) + distance(f.bottomLeft, f.bottomRight)) * 0.5;
    f.pixelHeight = (distance(f.topLeft, f.bottomLeft) + distance(f.topRight, f.bottomRight)) * 0.5;
    const double a = (rowAngle(f.topLeft, f.topRight) + rowAngle(f.bottomLeft, f.bottomRight)) * 0.5;
    f.angle = ((columnAngle(f.topLeft, f.bottomLeft) + columnAngle(f.topRight, f.bottomRight)) * 0.5 + a) * 0.5;

    const bool usable = f.pixelWidth > 0 && f.pixelHeight > 0 && std::isfinite(f.pixelWidth)
        && std::isfinite(f.pixelHeight) && std::isfinite(f.angle) && f.widthMm > 0 && f.heightMm > 0
        && std::isfinite(f.widthMm) && std::isfinite(f.heightMm);
    if (!usable)
        return std::nullopt;
    return f;
}
