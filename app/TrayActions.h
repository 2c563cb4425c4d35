#pragma once

#include <QString>
#include <QStringList>

// The names of the tray menu's actions: the object names of its entries, and what the
// running program's ActivateAction accepts over D-Bus.
namespace TrayActions {

inline const QString OpenPhoto = QStringLiteral("open-photo");
inline const QString Settings = QStringLiteral("settings");
inline const QString StartAtLogin = QStringLiteral("start-at-login");
inline const QString Exit = QStringLiteral("exit");

inline QStringList all()
{
    return {OpenPhoto, Settings, StartAtLogin, Exit};
}

} // namespace TrayActions
