#include "platform/session/DisplayCheck.h"

#include <xcb/xcb.h>

namespace DisplayCheck {

std::optional<QString> displayProblem()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")))
        return std::nullopt; // offscreen, wayland, ...: Qt reports on its own terms
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        if (platform.isEmpty() && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
            return std::nullopt;
        return QStringLiteral("no display: DISPLAY is not set; start the program from a graphical session");
    }
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return QStringLiteral("cannot connect to the display %1").arg(QString::fromLocal8Bit(display));
    return std::nullopt;
}

} // namespace DisplayCheck
