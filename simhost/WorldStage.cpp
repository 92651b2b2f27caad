// The microscopes' stages: moves, autofocus and where the camera is.
#include "World.h"

#include <QHashFunctions>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinZ = 1.0;           // 0 < z < 30000, in whole units
constexpr double kMaxZ = 29999.0;

double bounded(double v, double lo, double hi)
{
    return std::isfinite(v) ? std::clamp(v, lo, hi) : lo;
}

// Where a quick autofocus stops: within 15 units (1.5 um) of the focus height, the same for
// the same place every time.
double quickFocusError(double x, double y)
{
    const size_t h = qHashMulti(0x5eedu, qint64(std::llround(x)), qint64(std::llround(y)));
    return double(h % 31) - 15.0;
}

} // namespace

qint64 World::stageNow() const
{
    return stageClock ? stageClock() : started.elapsed();
}

SimStage::Position World::clampToStage(SimStage::Position p)
{
    return {bounded(p.x, 0.0, SlideGeometry::kWidthUnits), bounded(p.y, 0.0, SlideGeometry::kHeightUnits),
            bounded(p.z, kMinZ, kMaxZ)};
}

SimStage::Position World::stagePosition(const QString& scopeName) const
{
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            return s.stage.at(stageNow());
    return {};
}

bool World::stageAtRest(const QString& scopeName) const
{
    return msToRest(scopeName) == 0;
}

qint64 World::msToRest(const QString& scopeName) const
{
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            return s.stage.msToRest(stageNow());
    return 0;
}

SimStage::Position World::moveStage(const QString& scopeName, SimStage::Position target)
{
    target = clampToStage(target);
    if (SimScope* s = scope(scopeName))
        s->stage.moveTo(target, stageNow(), stageSettings);
    return target;
}

double World::autofocus(const QString& scopeName, bool accurate)
{
    SimScope* s = scope(scopeName);
    if (!s)
        return 0;
    const SimStage::Position to = s->stage.target();
    double z = focusUnderStage(scopeName, to.x, to.y);
    if (!accurate)
        z += quickFocusError(to.x, to.y);
    z = bounded(z, kMinZ, kMaxZ);
    s->stage.focusTo(z, stageNow(), accurate ? stageSettings.accurateFocusMs : stageSettings.quickFocusMs,
                     stageSettings);
    return z;
}

void World::placeStage(const QString& scopeName, SimStage::Position p)
{
    if (SimScope* s = scope(scopeName))
        s->stage.place(clampToStage(p));
}
