#pragma once

#include <QStringList>

// The facts about the desktop that the program adapts to, read in one place: how the
// program reaches the display, which desktop it is (XDG_CURRENT_DESKTOP), and whether the
// compositor offers layer surfaces. Where popovers go, whether the tray may be an XEmbed
// icon and which display the start-up check tries all follow from these.
class DesktopSession
{
public:
    enum class Display
    {
        X11,
        // An X11 client of a Wayland compositor: X11's calls work, but the pointer and
        // input outside the program's own windows are hidden from it.
        Xwayland,
        Wayland,
        // offscreen, eglfs and the like: no desktop around the program.
        Other,
    };

    DesktopSession(Display display, QStringList desktopNames, bool layerShell);

    // The running program's session, from the platform Qt chose; needs the QGuiApplication.
    static DesktopSession current();

    // From the environment alone, for the checks made before Qt starts:
    // the desktop's names, as "GNOME", "KDE", "XFCE" or "sway", most specific first;
    static QStringList desktopNamesFromEnvironment();
    // whether the login session is a Wayland one, so that Qt tries Wayland first.
    static bool isWaylandSessionFromEnvironment();

    Display display() const { return m_display; }
    // X11 calls reach the display server (X11 or Xwayland).
    bool speaksX11() const { return m_display == Display::X11 || m_display == Display::Xwayland; }
    // Whether the desktop is the one named (as XDG_CURRENT_DESKTOP spells it).
    bool is(const QString& desktopName) const { return m_desktopNames.contains(desktopName); }
    // A native Wayland client whose compositor offers wlr-layer-shell surfaces.
    bool hasLayerShell() const { return m_layerShell; }

private:
    Display m_display;
    QStringList m_desktopNames;
    bool m_layerShell;
};
