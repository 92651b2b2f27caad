#include "SimStage.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

double travelMs(double from, double to, double speed)
{
    return speed > 0 ? std::abs(to - from) / speed * 1000.0 : 0.0;
}

double along(double from, double to, double durationMs, double elapsedMs)
{
    if (!(durationMs > 0) || elapsedMs >= durationMs)
        return to;
    if (elapsedMs <= 0)
        return from;
    return from + (to - from) * (elapsedMs / durationMs);
}

} // namespace

StageSettings StageSettings::fast()
{
    StageSettings s;
    s.xySpeed = 4000000.0;
    s.zSpeed = 400000.0;
    s.pollDelayMs = 2;
    s.quickFocusMs = 30;
    s.accurateFocusMs = 90;
    return s;
}

SimStage::Position SimStage::at(qint64 ms) const
{
    const double t = double(ms - m_startMs);
    return {along(m_from.x, m_to.x, m_durationMs[0], t), along(m_from.y, m_to.y, m_durationMs[1], t),
            along(m_from.z, m_to.z, m_durationMs[2], t)};
}

bool SimStage::atRest(qint64 ms) const
{
    return msToRest(ms) == 0;
}

qint64 SimStage::msToRest(qint64 ms) const
{
    const double longest = *std::max_element(std::begin(m_durationMs), std::end(m_durationMs));
    const double left = longest - double(ms - m_startMs);
    return left > 0 ? qint64(std::ceil(left)) : 0;
}

void SimStage::moveTo(const Position& target, qint64 ms, const StageSettings& s)
{
    m_from = at(ms);
    m_to = target;
    m_startMs = ms;
    m_durationMs[0] = travelMs(m_from.x, m_to.x, s.xySpeed);
    m_durationMs[1] = travelMs(m_from.y, m_to.y, s.xySpeed);
    m_durationMs[2] = travelMs(m_from.z, m_to.z, s.zSpeed);
}

void SimStage::focusTo(double z, qint64 ms, int durationMs, const StageSettings& s)
{
    m_from = at(ms);
    m_to.z = z;
    m_startMs = ms;
    m_durationMs[0] = travelMs(m_from.x, m_to.x, s.xySpeed);
    m_durationMs[1] = travelMs(m_from.y, m_to.y, s.xySpeed);
    m_durationMs[2] = std::max(0, durationMs);
}

void SimStage::place(const Position& p)
{
    m_from = m_to = p;
    m_durationMs[0] = m_durationMs[1] = m_durationMs[2] = 0;
}
