#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

class QScreen;

namespace PopoverPlacement {

// Where a popover of `size` goes for a tray icon at `anchor` (global coordinates) on a
// monitor whose panel-free area is `freeArea`. The popover opens on the free side of the
// panel that holds the icon: below an icon above the free area, above one below it, to the
// right of a left panel and to the left of a right one. It is centred on the icon along
// the panel and always lies inside the free area, so never over a panel. An icon inside the
// free area (a panel that reserves no space) counts as being on the nearer horizontal half
// of `monitor`.
QPoint popoverPosition(const QRect& anchor, const QSize& size, const QRect& monitor, const QRect& freeArea);

// `rect` moved (not resized) into `area`; one larger than the area keeps its top-left corner
// inside it.
QRect keptInside(const QRect& rect, const QRect& area);

// The part of `screen` that the panels leave free: what the X11 window manager and the
// panels publish for that monitor, else Qt's available area.
QRect panelFreeArea(const QScreen& screen);

// The gap between the tray icon and the popover.
inline constexpr int kPopoverAnchorGap = 4;

} // namespace PopoverPlacement
