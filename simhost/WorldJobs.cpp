// Acquisition jobs: the grid of a rectangle, sorting points by the slide's picture, the store.
#include "ImageRoutes.h"
#include "World.h"

#include <algorithm>
#include <cmath>

namespace {

// Grid lines from `from` truncated to a whole unit, `step` apart, while below `to`; bounded so
// that a product of two stays far inside 64 bits.
qint64 lines(double from, double to, qint64 step)
{
    const double first = std::trunc(from);
    if (!(first < to))
        return 0;
    return qint64(std::min(std::ceil((to - first) / double(step)), 2e9));
}

bool usableName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return false;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

qint64 gridStep(int density)
{
    return qint64(10000.0 / density);
}

} // namespace

qint64 World::jobGridCount(double tlx, double tly, double brx, double bry, int density)
{
    if (density < 1 || density > 10)
        return 0;
    for (double v : {tlx, tly, brx, bry})
        if (!std::isfinite(v))
            return 0;
    const qint64 step = gridStep(density);
    return lines(tlx, brx, step) * lines(tly, bry, step);
}

QList<QPointF> World::jobGrid(double tlx, double tly, double brx, double bry, int density)
{
    QList<QPointF> out;
    const qint64 n = jobGridCount(tlx, tly, brx, bry, density);
    if (n <= 0)
        return out;
    const qint64 step = gridStep(density);
    const qint64 columns = lines(tlx, brx, step), rows = n / columns;
    const double x0 = std::trunc(tlx), y0 = std::trunc(tly);
    out.reserve(qsizetype(n));
    for (qint64 i = 0; i < columns; ++i)
        for (qint64 j = 0; j < rows; ++j)
            out.append({x0 + double(i * step), y0 + double(j * step)});
    return out;
}

bool World::pictureShowsTissue(const QString& scopeName, const QString& slideName, QPointF stage) const
{
    const auto w = slide(slideName);
    const std::optional<Fiducials> cal = calibration(slideName, scopeName);
    if (!w || !cal)
        return false;
    const QImage picture = ImageRoutes::wholeSlidePicture(*w);
    const QPoint p = cal->imagePixel(stage);
    if (!picture.rect().contains(p))
        return false;
    const QRgb c = picture.pixel(p);
    return qRed(c) + qGreen(c) + qBlue(c) <= 675;
}

World::JobResult World::checkNewJob(const QString& name, const QString& slideName, qint64 points) const
{
    if (!usableName(name))
        return JobResult::Nonsense;
    for (const SimJob& j : jobs)
        if (j.name == name)
            return JobResult::Duplicate;
    if (!hasSlide(slideName) || points <= 0)
        return JobResult::Nonsense;
    if (points > maxJobPoints)
        return JobResult::TooLarge;
    return JobResult::Stored;
}

World::JobResult World::createGridJob(const QString& scopeName, const QString& owner, const QString& name,
                                      const QString& slideName, double tlx, double tly, double brx, double bry,
                                      int density)
{
    const JobResult check = checkNewJob(name, slideName, jobGridCount(tlx, tly, brx, bry, density));
    if (check != JobResult::Stored)
        return check;
    SimJob job{name, owner, slideName, {}, {}};
    for (const QPointF& p : jobGrid(tlx, tly, brx, bry, density))
        (pictureShowsTissue(scopeName, slideName, p) ? job.stacks : job.nullStacks).append(p);
    if (job.stacks.isEmpty())
        return JobResult::Nonsense;
    jobs.append(job);
    return JobResult::Stored;
}

World::JobResult World::createListJob(const QString& owner, const QString& name, const QString& slideName,
                                      const QList<QPointF>& tissue, const QList<QPointF>& blank)
{
    const JobResult check = checkNewJob(name, slideName, qint64(tissue.size()) + blank.size());
    if (check != JobResult::Stored)
        return check;
    if (tissue.isEmpty())
        return JobResult::Nonsense;
    jobs.append({name, owner, slideName, tissue, blank});
    return JobResult::Stored;
}

QStringList World::jobNames(const QString& owner) const
{
    QStringList out;
    for (const SimJob& j : jobs)
        if (j.owner == owner)
            out.append(j.name);
    return out;
}
