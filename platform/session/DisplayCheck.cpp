#include "platform/session/DisplayCheck.h"

#include "platform/desktop/DesktopSession.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <xcb/xcb.h>

namespace DisplayCheck {

namespace {

// Qt's own order: Wayland first where the session says so, then X11 where DISPLAY is set,
// then the default (X11) for anything left; QT_QPA_PLATFORM replaces all of it.
QList<QByteArray> platformsQtTries()
{
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    if (!chosen.isEmpty())
        return chosen.split(';');
    QList<QByteArray> platforms;
    if (DesktopSession::isWaylandSessionFromEnvironment())
        platforms << "wayland";
    platforms << "xcb";
    return platforms;
}

std::optional<QString> waylandProblem()
{
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET"))
        return std::nullopt; // a connection handed over by the compositor
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty())
        name = "wayland-0";
    const QByteArray path = name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bool reached = false;
    if (size_t(path.size()) < sizeof(address.sun_path)) {
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        reached = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (reached)
        return std::nullopt;
    return QStringLiteral("cannot connect to the Wayland display %1").arg(QFile::decodeName(name));
}

std::optional<QString> x11Problem()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return QStringLiteral("no display: DISPLAY is not set; start the program from a graphical session");
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return QStringLiteral("cannot connect to the display %1").arg(QString::fromLocal8Bit(display));
    return std::nullopt;
}

} // namespace

void preferX11OnGnomeWayland()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !DesktopSession::isWaylandSessionFromEnvironment() ||
        !DesktopSession::desktopNamesFromEnvironment().contains(QStringLiteral("GNOME")))
        return;
    if (!x11Problem())
        qputenv("QT_QPA_PLATFORM", "xcb");
}

std::optional<QString> displayProblem()
{
    // The last platform's problem is the one worth saying: X11's, in every session but one
    // that asked for Wayland alone.
    std::optional<QString> problem;
    for (const QByteArray& platform : platformsQtTries()) {
        if (platform.startsWith("wayland"))
            problem = waylandProblem();
        else if (platform.startsWith("xcb"))
            problem = x11Problem();
        else
            return std::nullopt; // offscreen, eglfs, ...: Qt reports on its own terms
        if (!problem)
            return std::nullopt;
    }
    return problem;
}

} // namespace DisplayCheck
