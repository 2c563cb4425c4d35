#pragma once

#include <QString>

// The names under which the views ask the application delegate to switch popovers.
namespace NavigationNotifications {

// Posted by the photo popover's Settings control.
inline const QString OpenSettings = QStringLiteral("OpenSettings");
// Posted by the settings' Back control.
inline const QString openPopoverView = QStringLiteral("openPopoverView");

} // namespace NavigationNotifications
