#pragma once

#include <QPalette>
#include <QString>

// The desktop's light or dark colour scheme. Qt's X11 platform without a desktop theme
// plugin always starts light; a desktop that wants dark applications says so through
// GTK_THEME (as GTK programs are told), and the program then takes a dark palette.
namespace DesktopAppearance {

// Whether a GTK_THEME value names a dark variant: "Adwaita:dark", "Adwaita-dark".
bool prefersDark(const QString& gtkTheme);

// A dark palette for the Fusion style, with readable disabled and placeholder text.
QPalette darkPalette();

// Gives the application the dark palette when the desktop asks for one and the palette
// Qt chose is a light one. Call once, after the QApplication exists.
void apply();

} // namespace DesktopAppearance
