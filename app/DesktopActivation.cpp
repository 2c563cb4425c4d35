#include "app/DesktopActivation.h"

#include "app/AppDelegate.h"
#include "platform/session/SingleInstance.h"

#include <QAction>
#include <QMenu>

DesktopActivation::DesktopActivation(SingleInstance& instance, AppDelegate& delegate, QObject* parent)
    : QObject(parent), m_delegate(delegate)
{
    connect(&instance, &SingleInstance::activationRequested, &delegate, &AppDelegate::presentPopover);
    connect(&instance, &SingleInstance::actionRequested, this, &DesktopActivation::runAction);
}

void DesktopActivation::runAction(const QString& name, const QVariant& parameter)
{
    QMenu* menu = m_delegate.contextMenu();
    QAction* action = menu ? menu->findChild<QAction*>(name) : nullptr;
    if (!action)
        return;
    if (action->isCheckable() && parameter.typeId() == QMetaType::Bool && action->isChecked() == parameter.toBool())
        return;
    action->trigger();
}
