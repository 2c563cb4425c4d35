#include "platform/desktop/DesktopSession.h"

#include "platform/wayland/LayerShellAnchor.h"

#include <QGuiApplication>

#include <utility>

DesktopSession::DesktopSession(Display display, QStringList desktopNames, bool layerShell)
    : m_display(display), m_desktopNames(std::move(desktopNames)), m_layerShell(layerShell)
{
}

DesktopSession DesktopSession::current()
{
    const QString platform = QGuiApplication::platformName();
    Display display = Display::Other;
    if (platform == QLatin1String("xcb"))
        display = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? Display::X11 : Display::Xwayland;
    else if (platform.startsWith(QLatin1String("wayland")))
        display = Display::Wayland;
    return DesktopSession(display, desktopNamesFromEnvironment(),
                          display == Display::Wayland && LayerShellAnchor::isAvailable());
}

QStringList DesktopSession::desktopNamesFromEnvironment()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts);
}

bool DesktopSession::isWaylandSessionFromEnvironment()
{
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") || qgetenv("XDG_SESSION_TYPE") == "wayland";
}
