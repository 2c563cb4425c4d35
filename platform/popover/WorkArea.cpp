#include "platform/popover/WorkArea.h"

#include <algorithm>

namespace WorkArea {

namespace {

enum Field
{
    Left,
    Right,
    Top,
    Bottom,
    LeftStartY,
    LeftEndY,
    RightStartY,
    RightEndY,
    TopStartX,
    TopEndX,
    BottomStartX,
    BottomEndX
};

// The band a strut reserves along one edge, in root coordinates; empty when it reserves
// nothing there.
QRect band(long width, long start, long end, Field edge, const QSize& root)
{
    if (width <= 0 || end < start)
        return {};
    const int w = int(width);
    const int s = int(start);
    const int length = int(end - start + 1);
    switch (edge) {
    case Left:
        return {0, s, w, length};
    case Right:
        return {root.width() - w, s, w, length};
    case Top:
        return {s, 0, length, w};
    case Bottom:
        return {s, root.height() - w, length, w};
    default:
        return {};
    }
}

} // namespace

Strut fullLengthStrut(long left, long right, long top, long bottom, const QSize& root)
{
    const long lastX = root.width() - 1;
    const long lastY = root.height() - 1;
    return {left, right, top, bottom, 0, lastY, 0, lastY, 0, lastX, 0, lastX};
}

QRect freeArea(const QRect& monitor, const QSize& root, const QList<Strut>& struts)
{
    int left = monitor.left();
    int right = monitor.right();
    int top = monitor.top();
    int bottom = monitor.bottom();
    for (const Strut& strut : struts) {
        const QRect reserved[] = {
            band(strut[Left], strut[LeftStartY], strut[LeftEndY], Left, root),
            band(strut[Right], strut[RightStartY], strut[RightEndY], Right, root),
            band(strut[Top], strut[TopStartX], strut[TopEndX], Top, root),
            band(strut[Bottom], strut[BottomStartX], strut[BottomEndX], Bottom, root),
        };
        // A band that reaches across a whole monitor belongs to a panel of a monitor
        // further in (struts count from the root window's edges): it is no panel here.
        if (const QRect part = reserved[0] & monitor; !part.isEmpty() && part.right() < monitor.right())
            left = std::max(left, part.right() + 1);
        if (const QRect part = reserved[1] & monitor; !part.isEmpty() && part.left() > monitor.left())
            right = std::min(right, part.left() - 1);
        if (const QRect part = reserved[2] & monitor; !part.isEmpty() && part.bottom() < monitor.bottom())
            top = std::max(top, part.bottom() + 1);
        if (const QRect part = reserved[3] & monitor; !part.isEmpty() && part.top() > monitor.top())
            bottom = std::min(bottom, part.top() - 1);
    }
    if (left > right || top > bottom)
        return monitor; // panels that would leave nothing are not believed
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QRect publishedAreaOf(const QRect& monitor, const QList<QRect>& workAreas)
{
    for (const QRect& area : workAreas) {
        if (area.isValid() && monitor.contains(area))
            return area;
    }
    return {};
}

} // namespace WorkArea
