#pragma once

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// The unit files through which the user's service manager delivers reminders: a timer that
// elapses once, at a concrete instant, and the oneshot service that it starts.
namespace SystemdUnits {

// "<name>-reminder" for the executable at `executable`, with what a unit name may not hold
// escaped as systemd-escape does it.
QString baseName(const QString& executable);

// Both units hold only while `executable` (the command's program) is there to run.
//
// The service that runs `command` with `environment` added to the manager's own. None when
// a word or value holds what a unit file cannot carry (a control character such as a line
// break; in the program's path also a quote or a backslash).
std::optional<QString> service(const QString& description, const QStringList& command,
                               const QList<QPair<QString, QString>>& environment);

// A timer that starts `serviceName` at `instant` (to the second, in UTC, so that the
// manager's own calendar rules never move it), also when the machine was off or asleep at
// that instant, and whenever the clock is set or the time zone changes.
QString timer(const QString& description, const QDateTime& instant, const QString& serviceName,
              const QString& executable);

} // namespace SystemdUnits
