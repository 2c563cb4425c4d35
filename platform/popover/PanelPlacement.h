#pragma once

#include "platform/wayland/LayerShellAnchor.h"

#include <QList>
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

// A popover at a tray icon on a desktop that tells the click's place and where its panels are,
// but places nothing itself (KDE Plasma on Wayland, whose panels are no layer surfaces, so
// that the layer shell's exclusive zones do not keep a surface off them).
namespace PanelPlacement {

// A panel along one edge of a screen, `thickness` pixels deep.
struct Panel
{
    QRect screen;
    Qt::Edge edge = Qt::BottomEdge;
    int thickness = 0;
};

// The part of `screen` that the panels on it leave free.
QRect freeArea(const QRect& screen, const QList<Panel>& panels);

struct Placement
{
    QRect popover;
    // The edge of the screen along which the icon's panel lies.
    Qt::Edge panelEdge = Qt::BottomEdge;
};

// Where a popover of `size` opens for a click at `click` on `screen`, whose panels leave
// `freeArea`: against the free area's edge on the click's side, so that it touches the panel
// holding the icon without covering it, centred on the click along the panel, inside the free
// area. A click inside the free area (a panel that nobody reported) counts as being in a panel
// along the nearest screen edge, with the click in its middle, as tray icons are.
Placement besidePanel(const QPoint& click, const QSize& size, const QRect& screen, const QRect& freeArea);

// The layer surface's place that puts `placement` on `output`: anchored at the panel's edge and
// at the start of the other axis, the margins counting from the output's edges.
LayerSurfacePlace layerPlace(const Placement& placement, const QRect& output);

} // namespace PanelPlacement
