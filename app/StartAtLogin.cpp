#include "app/StartAtLogin.h"

#include "platform/base/Console.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QStandardPaths>

StartAtLogin::StartAtLogin(Edition edition, const QString& runningPath, QMenu* menu)
    : QObject(menu), m_entry(Editions::executableName(edition)),
      m_launcher{Editions::displayName(edition),
                 QStringLiteral("Keep a personal photo in the system tray as a daily reminder"),
                 Editions::executableName(edition), launchCommand(Editions::executableName(edition), runningPath)},
      m_action(menu->addAction(tr("Start at Login")))
{
    m_action->setCheckable(true);
    refresh();
    connect(menu, &QMenu::aboutToShow, this, &StartAtLogin::refresh);
    connect(m_action, &QAction::triggered, this, &StartAtLogin::choose);
}

QString StartAtLogin::launchCommand(const QString& executableName, const QString& runningPath)
{
    const QString onPath = QStandardPaths::findExecutable(executableName);
    const QString running = QFileInfo(runningPath).canonicalFilePath();
    if (!onPath.isEmpty() && !running.isEmpty() && QFileInfo(onPath).canonicalFilePath() == running)
        return executableName;
    return running.isEmpty() ? runningPath : running;
}

void StartAtLogin::refresh()
{
    m_action->setChecked(m_entry.isEnabled());
}

void StartAtLogin::choose(bool enabled)
{
    QString error;
    if (!(enabled ? m_entry.enable(m_launcher, &error) : m_entry.disable(&error)))
        Console::printError(error);
    refresh();
}
