#pragma once

#include <QStringList>

#include <memory>
#include <optional>

class OutsideHelper;

// Starts the program anew from outside the confinement (an OutsideHelper). A process inherits
// its parent's confinement, so a program that a confined one started would begin confined,
// and the chooser it starts for itself with it. The helper starts this executable with the
// arguments fixed here, nothing of the confined side's choosing.
class OutsideLauncher
{
public:
    // Starts the helper; see OutsideHelper::start. Null when it cannot be started. With
    // `waitUntilMoved`, each program started waits (a few seconds at most) until the caller has
    // moved it into a systemd unit of its own, so that what it starts first is in that unit too.
    static std::unique_ptr<OutsideLauncher> start(const QStringList& arguments, bool waitUntilMoved);
    ~OutsideLauncher();

    // Has the helper start the program; its process id, or nothing when it could not start.
    std::optional<qint64> launch();

private:
    explicit OutsideLauncher(std::unique_ptr<OutsideHelper> helper);

    std::unique_ptr<OutsideHelper> m_helper;
};
