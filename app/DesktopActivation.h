#pragma once

#include <QObject>
#include <QVariant>

class AppDelegate;
class SingleInstance;

// Does what the desktop and later starts ask of the running program: an activation opens the
// photo popover, and an action runs the tray menu's entry of that name (TrayActions), as a
// click on it would. A boolean parameter sets a checkable entry (Start at Login) to that state
// instead of toggling it.
class DesktopActivation : public QObject
{
    Q_OBJECT

public:
    DesktopActivation(SingleInstance& instance, AppDelegate& delegate, QObject* parent = nullptr);

    void runAction(const QString& name, const QVariant& parameter);

private:
    AppDelegate& m_delegate;
};
