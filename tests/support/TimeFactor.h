#pragma once

#include <QTest>
#include <QtGlobal>

// One factor for every wait, for a slow or busy machine: PERCH_TIME_FACTOR, by default 2
// under CI (CI=true), whose machine is shared, and 1 elsewhere. A wait still ends as soon
// as its condition holds.
inline bool runningUnderCi()
{
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

inline int scaledMs(int ms)
{
    static const double factor = [] {
        bool ok = false;
        const double set = qEnvironmentVariable("PERCH_TIME_FACTOR").toDouble(&ok);
        return ok && set > 0 ? set : runningUnderCi() ? 2.0 : 1.0;
    }();
    return int(ms * factor);
}
