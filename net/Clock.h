#pragma once

#include <QtGlobal>
#include <functional>

// "Now" in whole epoch seconds. Tests replace the source to drive time-based logic.
namespace Clock {
qint64 now();
void setSource(std::function<qint64()> source);   // empty: the system clock
}
