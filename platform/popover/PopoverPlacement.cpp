#include "platform/popover/PopoverPlacement.h"

#include "platform/popover/X11WorkArea.h"

#include <QScreen>

#include <algorithm>

namespace PopoverPlacement {

namespace {

enum class Side
{
    Below,
    Above,
    RightOf,
    LeftOf
};

Side sideFor(const QRect& anchor, const QRect& monitor, const QRect& area)
{
    const QPoint centre = anchor.center();
    if (centre.y() < area.top())
        return Side::Below;
    if (centre.y() > area.bottom())
        return Side::Above;
    if (centre.x() < area.left())
        return Side::RightOf;
    if (centre.x() > area.right())
        return Side::LeftOf;
    return centre.y() > monitor.center().y() ? Side::Above : Side::Below;
}

int clamped(int value, int low, int length, int areaLength)
{
    // When the popover is larger than the area, its top-left corner stays visible.
    return std::max(low, std::min(value, low + areaLength - length));
}

} // namespace

QPoint popoverPosition(const QRect& anchor, const QSize& size, const QRect& monitor, const QRect& freeArea)
{
    const QRect area = freeArea.isValid() ? freeArea : monitor;
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.center().y() - size.height() / 2;
    switch (sideFor(anchor, monitor, area)) {
    case Side::Below:
        y = anchor.bottom() + 1 + kPopoverAnchorGap;
        break;
    case Side::Above:
        y = anchor.top() - kPopoverAnchorGap - size.height();
        break;
    case Side::RightOf:
        x = anchor.right() + 1 + kPopoverAnchorGap;
        break;
    case Side::LeftOf:
        x = anchor.left() - kPopoverAnchorGap - size.width();
        break;
    }
    return keptInside(QRect(QPoint(x, y), size), area).topLeft();
}

QRect keptInside(const QRect& rect, const QRect& area)
{
    return QRect(QPoint(clamped(rect.x(), area.left(), rect.width(), area.width()),
                        clamped(rect.y(), area.top(), rect.height(), area.height())),
                 rect.size());
}

QRect panelFreeArea(const QScreen& screen)
{
    // Qt's available area is right for one monitor only; with several, each is reported
    // whole, panels included.
    const QRect published = X11WorkArea::freeAreaOf(screen);
    return published.isValid() ? published : screen.availableGeometry();
}

} // namespace PopoverPlacement
