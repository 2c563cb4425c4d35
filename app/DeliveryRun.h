#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The program's headless delivery mode, which the service of its timer runs (see
// SystemdUserTimer): no window, no tray and no display, only the session bus.
namespace DeliveryRun {

// Whether the command line asks for the delivery run.
bool isRequested(int argc, char** argv);

// Delivers what is due from the store to the notification server, and arms the timer for the
// next fire time. A store that another program keeps locked is waited for; one that cannot be
// read (or is not there) leaves the timer as it is. A fire time that no server takes waits
// for one to appear (see UserNotificationCenter::awaitsServer).
// It then stays while a notification that it showed is on screen, until shortly before the
// next fire time at most, delivering in the timer's place meanwhile (which cannot start a
// second run); a click starts the program (this executable, with `openArguments`) in a unit
// of its own. `name` and `displayName` are the program's, as the notifications show them;
// `applicationId` names its menu entry and icon.
// `startProgram`, where given, starts it instead (and returns its process id). Returns the
// exit status.
using StartProgram = std::function<std::optional<qint64>()>;
int main(int argc, char** argv, const QString& name, const QString& displayName, const QString& applicationId,
         const QStringList& openArguments, const StartProgram& startProgram = {});

} // namespace DeliveryRun
