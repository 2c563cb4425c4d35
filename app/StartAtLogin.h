#pragma once

#include "platform/session/AutostartEntry.h"
#include "views/Edition.h"

#include <QObject>

class QAction;
class QMenu;

// The checkable "Start at Login" entry of the tray icon's menu. Its check mark is read
// from the autostart file each time the menu opens; choosing it writes or removes that
// file. Owned by the menu it is added to.
class StartAtLogin : public QObject
{
    Q_OBJECT

public:
    // `runningPath` is the running program's file, which the session is to start.
    StartAtLogin(Edition edition, const QString& runningPath, QMenu* menu);

    QAction* action() const { return m_action; }

    // How the session starts the program at `runningPath`: by its name when PATH leads
    // to that very file, as the menu entry does, so the entry survives an upgrade;
    // otherwise (a copy run from a build folder, say) by its full path.
    static QString launchCommand(const QString& executableName, const QString& runningPath);

private:
    void refresh();
    void choose(bool enabled);

    AutostartEntry m_entry;
    AutostartEntry::Launcher m_launcher;
    QAction* m_action;
};
