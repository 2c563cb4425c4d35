#pragma once

#include <QMap>
#include <QMetaType>
#include <QString>

// The names of the tray menu's actions: the object names of its entries, and what the
// running program's ActivateAction accepts over D-Bus.
namespace TrayActions {

inline const QString OpenPhoto = QStringLiteral("open-photo");
inline const QString Settings = QStringLiteral("settings");
inline const QString StartAtLogin = QStringLiteral("start-at-login");
inline const QString Exit = QStringLiteral("exit");

// Each with the type of the parameter it takes: Start at Login a boolean, its new state.
inline QMap<QString, QMetaType::Type> all()
{
    return {{OpenPhoto, QMetaType::UnknownType},
            {Settings, QMetaType::UnknownType},
            {StartAtLogin, QMetaType::Bool},
            {Exit, QMetaType::UnknownType}};
}

} // namespace TrayActions
