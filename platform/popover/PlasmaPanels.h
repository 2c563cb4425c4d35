#pragma once

#include "platform/popover/PanelPlacement.h"

#include <QList>

// The panels of KDE Plasma's shell, as its scripting interface on the session bus tells them
// (plasmashell's evaluateScript returns what the script prints). On Wayland nothing else tells
// a program where they are: the panels are no layer surfaces, Qt reports each screen whole,
// and KWin's own interface names no work area.
namespace PlasmaPanels {

// Every panel, or none where the shell does not answer within a moment (it does not run, or
// its scripting is locked down).
QList<PanelPlacement::Panel> panels();

// The panels of the shell's answer, a JSON array of {screen: {x, y, width, height}, location:
// "top" | "bottom" | "left" | "right", thickness}; what is not such a panel is left out.
QList<PanelPlacement::Panel> parse(const QByteArray& json);

} // namespace PlasmaPanels
