#include "platform/popover/PanelPlacement.h"

#include "platform/popover/PopoverPlacement.h"

#include <algorithm>
#include <array>

namespace PanelPlacement {

namespace {

QRect withoutPanel(QRect area, Qt::Edge edge, int thickness)
{
    switch (edge) {
    case Qt::TopEdge:
        area.setTop(std::max(area.top(), area.top() + thickness));
        break;
    case Qt::BottomEdge:
        area.setBottom(std::min(area.bottom(), area.bottom() - thickness));
        break;
    case Qt::LeftEdge:
        area.setLeft(std::max(area.left(), area.left() + thickness));
        break;
    case Qt::RightEdge:
        area.setRight(std::min(area.right(), area.right() - thickness));
        break;
    }
    return area;
}

// The screen edge nearest to `point`, and the point's distance from it.
std::pair<Qt::Edge, int> nearestEdge(const QPoint& point, const QRect& screen)
{
    const std::array<std::pair<Qt::Edge, int>, 4> distances{{{Qt::BottomEdge, screen.bottom() - point.y()},
                                                             {Qt::TopEdge, point.y() - screen.top()},
                                                             {Qt::RightEdge, screen.right() - point.x()},
                                                             {Qt::LeftEdge, point.x() - screen.left()}}};
    return *std::min_element(distances.begin(), distances.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
}

} // namespace

QRect freeArea(const QRect& screen, const QList<Panel>& panels)
{
    QRect area = screen;
    for (const Panel& panel : panels) {
        if (panel.screen == screen)
            area = withoutPanel(area, panel.edge, panel.thickness);
    }
    // Panels that would leave nothing are not believed.
    return area.isEmpty() ? screen : area;
}

Placement besidePanel(const QPoint& click, const QSize& size, const QRect& screen, const QRect& freeArea)
{
    QRect area = freeArea.isValid() ? freeArea : screen;
    Qt::Edge edge;
    if (click.y() > area.bottom())
        edge = Qt::BottomEdge;
    else if (click.y() < area.top())
        edge = Qt::TopEdge;
    else if (click.x() > area.right())
        edge = Qt::RightEdge;
    else if (click.x() < area.left())
        edge = Qt::LeftEdge;
    else {
        const auto [nearest, distance] = nearestEdge(click, screen);
        edge = nearest;
        area &= withoutPanel(screen, edge, 2 * distance + 1);
    }
    QRect popover(QPoint(), size);
    popover.moveCenter(click);
    switch (edge) {
    case Qt::BottomEdge:
        popover.moveBottom(area.bottom());
        break;
    case Qt::TopEdge:
        popover.moveTop(area.top());
        break;
    case Qt::RightEdge:
        popover.moveRight(area.right());
        break;
    case Qt::LeftEdge:
        popover.moveLeft(area.left());
        break;
    }
    return {PopoverPlacement::keptInside(popover, area), edge};
}

LayerSurfacePlace layerPlace(const Placement& placement, const QRect& output)
{
    const QRect& r = placement.popover;
    const bool alongTopOrBottom = placement.panelEdge == Qt::TopEdge || placement.panelEdge == Qt::BottomEdge;
    const Qt::Edges anchors = placement.panelEdge | (alongTopOrBottom ? Qt::LeftEdge : Qt::TopEdge);
    QMargins margins;
    if (anchors & Qt::LeftEdge)
        margins.setLeft(r.left() - output.left());
    if (anchors & Qt::RightEdge)
        margins.setRight(output.right() - r.right());
    if (anchors & Qt::TopEdge)
        margins.setTop(r.top() - output.top());
    if (anchors & Qt::BottomEdge)
        margins.setBottom(output.bottom() - r.bottom());
    // -1: the margins count from the output's edges, not from what other layer surfaces reserve.
    return {anchors, margins, -1};
}

} // namespace PanelPlacement
