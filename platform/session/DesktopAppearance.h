#pragma once

#include "platform/session/ColorSchemePortal.h"

#include <QObject>
#include <QPalette>
#include <QString>
#include <QStringList>

// The program's light or dark palette, following the desktop. Qt's X11 platform without a
// desktop theme plugin always starts light. The desktop's dark-mode setting comes through
// the XDG desktop portal and is followed while the program runs; where the portal states
// no preference (or there is none), GTK_THEME decides, as GTK programs are told.
class DesktopAppearance : public QObject
{
    Q_OBJECT

public:
    // Remembers the palette Qt chose; call after the QApplication exists.
    explicit DesktopAppearance(const QDBusConnection& bus, QObject* parent = nullptr);

    // Takes GTK_THEME's choice at once and asks the portal, whose answer comes later.
    void start();

    bool isDark() const { return m_dark; }

    // Whether a GTK_THEME value names a dark variant: "Adwaita:dark", "Adwaita-dark".
    static bool prefersDark(const QString& gtkTheme);
    // The portal's stated preference wins; without one, GTK_THEME's.
    static bool wantsDark(ColorSchemePortal::Scheme portal, const QString& gtkTheme);
    // A dark palette for the Fusion style, with readable disabled and placeholder text.
    static QPalette darkPalette();
    // The style that makes the popovers look like the desktop: on GNOME its Adwaita, in the
    // dark variant when `dark`, where adwaita-qt is `installed` and the user chose no style
    // (QT_STYLE_OVERRIDE); empty to keep Qt's own.
    static QString desktopStyle(const QStringList& desktopNames, const QString& styleOverride,
                                const QStringList& installed, bool dark);

private:
    void follow();

    ColorSchemePortal m_portal;
    const QPalette m_qtPalette;
    // A theme plugin that already gave a dark palette follows the desktop itself.
    const bool m_qtPaletteIsDark;
    bool m_dark = false;
    bool m_styled = false; // a style of the desktop's is set
};
