#pragma once

#include <QtGlobal>

#include <algorithm>

inline bool runningUnderCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

// One factor for every wait, for a slow or busy machine: PERCH_TIME_FACTOR, which the tests'
// runner (run-isolated.sh) sets to 2 under CI. A wait still ends as soon as its condition holds.
inline int scaledMs(int ms)
{
    static const double factor = std::max(1.0, qEnvironmentVariable("PERCH_TIME_FACTOR").toDouble());
    return int(ms * factor);
}
