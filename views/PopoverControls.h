#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QPushButton;

// The icons of the photo popover's controls: a freedesktop icon-theme name each, with a
// bundled icon of the same meaning where the theme has none. Like the symbols they stand
// for, they are drawn in the colour of the control's label.
namespace PopoverControls {

enum class Symbol
{
    ChangePhoto,
    Settings,
    Exit
};

QString themeName(Symbol symbol);
QString fallbackPath(Symbol symbol);

// The symbol as a single-colour glyph of `colour`.
QIcon tintedIcon(Symbol symbol, const QColor& colour, int pixels);

// Gives `button` the symbol in the colour of its label.
void setIcon(QPushButton* button, Symbol symbol);

// Red label and icon, in the shade that reads well on the button's palette.
void makeDestructive(QPushButton* button);

} // namespace PopoverControls
