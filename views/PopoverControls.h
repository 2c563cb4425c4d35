#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QPushButton;

// The icons of the photo popover's controls: a freedesktop icon-theme name each (its
// symbolic variant), with a bundled icon of the same meaning where the theme has none. Like the symbols they stand
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

// Gives `button` the symbol drawn in `colour`, which should be that of its label.
void setIcon(QPushButton* button, Symbol symbol, const QColor& colour);

// The red of a destructive control, in the shade that reads well on `palette`.
QColor destructiveColour(const QPalette& palette);

void setLabelColour(QPushButton* button, const QColor& colour);

} // namespace PopoverControls
