#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace PopoverPlacement {

// Where a popover of `size` goes for a tray icon at `anchor` (global coordinates):
// below the icon when the panel is in the upper half of the screen, above it when the
// panel is at the bottom, centred on the icon horizontally, and always inside the
// screen's available area, so never over a panel.
QPoint popoverPosition(const QRect& anchor, const QSize& size, const QRect& screenGeometry,
                       const QRect& availableGeometry);

// The gap between the tray icon and the popover.
inline constexpr int kPopoverAnchorGap = 4;

} // namespace PopoverPlacement
