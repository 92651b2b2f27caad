// The world's slides: specimens, calibration files, stages, the library and the demo jobs.
#include "World.h"

#include <cmath>

namespace {

QString pairKey(const QString& slide, const QString& scope)
{
    return slide + QLatin1Char('.') + scope;
}

// Grid points of a rectangle (0.1 um) sorted into sure tissue and sure glass: a point counts
// only when it and its four neighbours 40 um away agree, so a picture shows the same.
struct Sorted
{
    QList<QPointF> tissue;
    QList<QPointF> glass;
};

Sorted sortGrid(const SlideWorld& w, double x0, double y0, double x1, double y1, double step)
{
    Sorted out;
    const double probe = 400.0;
    for (double y = y0; y <= y1; y += step)
        for (double x = x0; x <= x1; x += step) {
            double lo = w.tissueAt(x, y), hi = lo;
            for (const QPointF& d : {QPointF(probe, 0), QPointF(-probe, 0), QPointF(0, probe), QPointF(0, -probe)}) {
                const double t = w.tissueAt(x + d.x(), y + d.y());
                lo = std::min(lo, t);
                hi = std::max(hi, t);
            }
            if (lo > 0.95)
                out.tissue.append({x, y});
            else if (hi <= 0.0)
                out.glass.append({x, y});
        }
    return out;
}

// At most n points spread evenly over the list.
QList<QPointF> thin(const QList<QPointF>& points, int n)
{
    if (points.size() <= n)
        return points;
    QList<QPointF> out;
    for (int i = 0; i < n; ++i)
        out.append(points.at(qsizetype(double(i) * double(points.size()) / n)));
    return out;
}

// The first place right of the slide centre where the main section ends: a tissue border.
QPointF borderRightOfCentre(const SlideWorld& w)
{
    bool inside = false;
    for (double x = SlideGeometry::kCentreX; x < SlideGeometry::kWidthUnits; x += 500.0) {
        const double t = w.tissueAt(x, SlideGeometry::kCentreY);
        if (t > 0.5)
            inside = true;
        else if (inside)
            return {x, SlideGeometry::kCentreY};
    }
    return {SlideGeometry::kCentreX, SlideGeometry::kCentreY};
}

SimJob makeJob(const SlideWorld& w, const QString& name, const QString& owner)
{
    // A 10 x 7 mm area at 2 samples per mm across the edge of the main section.
    const QPointF c = borderRightOfCentre(w);
    const Sorted s = sortGrid(w, c.x() - 50000, c.y() - 35000, c.x() + 50000, c.y() + 35000, 5000);
    SimJob j;
    j.name = name;
    j.owner = owner;
    j.slide = w.name();
    j.stacks = s.tissue;
    j.nullStacks = thin(s.glass, 40);
    return j;
}

} // namespace

void World::seedSlides()
{
    for (const char* id : {"L0001", "L0002", "L0003", "L0004"})
        library.append({QString::fromLatin1(id), {}, {}});
    for (LibrarySlide& lib : library) {
        const auto w = slide(lib.id);
        // The library's stacks: a 1 mm survey over the tissue, and blank fields at its edges.
        const Sorted s = sortGrid(*w, 160000, 20000, 740000, 480000, 10000);
        lib.stacks = thin(s.tissue, 40);
        QList<QPointF> edge;
        for (const QPointF& g : s.glass)
            for (const QPointF& t : s.tissue)
                if (std::abs(g.x() - t.x()) <= 10000 && std::abs(g.y() - t.y()) <= 10000) {
                    edge.append(g);
                    break;
                }
        lib.nullStacks = thin(edge, 25);
    }

    jobs.append(makeJob(*slide(QStringLiteral("kidney02")), QStringLiteral("J1001"), QStringLiteral("guest")));
    jobs.append(makeJob(*slide(QStringLiteral("colon11")), QStringLiteral("J1002"), QStringLiteral("guest")));
    jobs.append(makeJob(*slide(QStringLiteral("L0002")), QStringLiteral("J1003"), QStringLiteral("library")));

    // "liver01" sits a quarter millimetre off on the stage of "tall"; its corrected file says where.
    // "heart21" sits half a millimetre off on "dark" with no corrected file: its view and its
    // neighbour mosaic disagree until the calibration is corrected.
    // Two more corrected files repeat the base calibration, so both files are read somewhere.
    const QPoint off(10, -7);
    placements.insert(pairKey(QStringLiteral("liver01"), QStringLiteral("tall")), off);
    correctedFiducials.insert(pairKey(QStringLiteral("liver01"), QStringLiteral("tall")),
                              slide(QStringLiteral("liver01"))->fiducials().shifted(off));
    placements.insert(pairKey(QStringLiteral("heart21"), QStringLiteral("dark")), QPoint(-16, 11));
    correctedFiducials.insert(pairKey(QStringLiteral("L0001"), QStringLiteral("tall")),
                              slide(QStringLiteral("L0001"))->fiducials());
    correctedFiducials.insert(pairKey(QStringLiteral("L0003"), QStringLiteral("dark")),
                              slide(QStringLiteral("L0003"))->fiducials());

    for (SimScope& s : scopes) {
        const double x = SlideGeometry::kCentreX, y = SlideGeometry::kCentreY;
        s.stage.place({x, y, std::round(focusUnderStage(s.name, x, y))});
    }
}

bool World::hasSlide(const QString& name) const
{
    if (name.isEmpty())
        return false;
    for (const SimScope& s : scopes)
        if (s.slides.contains(name))
            return true;
    for (const LibrarySlide& l : library)
        if (l.id == name)
            return true;
    for (const SimJob& j : jobs)
        if (j.slide == name)
            return true;
    return false;
}

std::shared_ptr<const SlideWorld> World::slide(const QString& name) const
{
    if (!hasSlide(name))
        return nullptr;
    auto it = slideWorlds.constFind(name);
    if (it == slideWorlds.constEnd())
        it = slideWorlds.insert(name, std::make_shared<const SlideWorld>(name));
    return *it;
}

QString World::mountedSlide(const QString& scopeName) const
{
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            return s.slides.value(0);
    return QString();
}

QPointF World::slidePoint(const QString& scopeName, const QString& slideName, QPointF stage) const
{
    const auto it = placements.constFind(pairKey(slideName, scopeName));
    const auto w = slide(slideName);
    if (it == placements.constEnd() || !w)
        return stage;
    const Fiducials& f = w->fiducials();
    return f.pixelToStage(f.stageToPixel(stage) + QPointF(*it));
}

double World::focusUnderStage(const QString& scopeName, double x, double y) const
{
    const QString name = mountedSlide(scopeName);
    const auto w = slide(name);
    if (!w)
        return 15000.0;
    const QPointF p = slidePoint(scopeName, name, {x, y});
    return w->focusAt(p.x(), p.y());
}

QPointF World::cameraField(const QString& scopeName) const
{
    double mx = SimScope().mppX, my = SimScope().mppY;
    for (const SimScope& s : scopes)
        if (s.name == scopeName) {
            mx = s.mppX;
            my = s.mppY;
        }
    return {mx * 6400.0, my * 4800.0};
}

double World::blurUm(const QString& scopeName, double z, double focus) const
{
    // Depth of field about 1 um at 40x; a lower magnification blurs less per um of defocus.
    const double mpp = cameraField(scopeName).x() / 6400.0;
    const double perUm = 0.3 * std::sqrt(0.19608 / mpp);
    return perUm * std::max(0.0, std::abs(z - focus) / 10.0 - 0.5);
}

std::optional<Fiducials> World::calibration(const QString& slideName, const QString& scopeName) const
{
    const auto w = slide(slideName);
    if (!w)
        return std::nullopt;
    const auto it = correctedFiducials.constFind(pairKey(slideName, scopeName));
    return it == correctedFiducials.constEnd() ? w->fiducials() : *it;
}

bool World::correctCalibration(const QString& slideName, const QString& scopeName, QPoint offset)
{
    const std::optional<Fiducials> f = calibration(slideName, scopeName);
    if (!f || !scope(scopeName))
        return false;
    correctedFiducials.insert(pairKey(slideName, scopeName), f->shifted(offset));
    return true;
}

LibrarySlide* World::librarySlide(const QString& id)
{
    for (LibrarySlide& l : library)
        if (l.id == id)
            return &l;
    return nullptr;
}

SimJob* World::job(const QString& name)
{
    for (SimJob& j : jobs)
        if (j.name == name)
            return &j;
    return nullptr;
}
