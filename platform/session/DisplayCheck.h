#pragma once

#include <QString>

#include <optional>

// Why no graphical session can be reached, or nothing when one can. Asked before the
// GUI starts, since Qt aborts with a core dump when its display is missing.
namespace DisplayCheck {

// Checks the displays in the order Qt tries its platforms (QT_QPA_PLATFORM, else Wayland where
// the session is one, then X11): a problem only when none that Qt would try can be reached, so
// that a Wayland session with a stale DISPLAY starts.
std::optional<QString> displayProblem();

// GNOME's Wayland compositor lets no client place a surface and offers no layer shell, so a
// popover could not hang from the tray icon there; an X11 window through Xwayland can. In a
// GNOME Wayland session whose X display answers, and where the user chose no platform, Qt's
// platform becomes X11 (QT_QPA_PLATFORM=xcb). Called before the check above and before Qt starts.
void preferX11OnGnomeWayland();

} // namespace DisplayCheck
