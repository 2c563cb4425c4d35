#include "platform/popover/PopoverPlacement.h"

#include <algorithm>

namespace PopoverPlacement {

QPoint popoverPosition(const QRect& anchor, const QSize& size, const QRect& screenGeometry,
                       const QRect& availableGeometry)
{
    const QRect area = availableGeometry.isValid() ? availableGeometry : screenGeometry;
    const bool panelAtBottom = anchor.center().y() > screenGeometry.center().y();

    int y = panelAtBottom ? anchor.top() - kPopoverAnchorGap - size.height() : anchor.bottom() + 1 + kPopoverAnchorGap;
    int x = anchor.center().x() - size.width() / 2;

    // Clamp into the available area; when the popover is larger than the area, its
    // top-left corner stays visible.
    x = std::max(area.left(), std::min(x, area.right() + 1 - size.width()));
    y = std::max(area.top(), std::min(y, area.bottom() + 1 - size.height()));
    return {x, y};
}

} // namespace PopoverPlacement
