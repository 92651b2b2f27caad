#include "Clock.h"

#include <QDateTime>

namespace {
std::function<qint64()>& source()
{
    static std::function<qint64()> s;
    return s;
}
} // namespace

qint64 Clock::now()
{
    return source() ? source()() : QDateTime::currentSecsSinceEpoch();
}

void Clock::setSource(std::function<qint64()> s)
{
    source() = std::move(s);
}
