#include "platform/popover/PlasmaPlacement.h"

#include <QGuiApplication>
#include <QScreen>

#include <utility>

PlasmaPlacement::PlasmaPlacement(PanelSource panels) : m_panels(std::move(panels)) {}

PopoverSpot PlasmaPlacement::spotFor(const QRect& anchor, const QSize& size) const
{
    QScreen* screen = anchor.isValid() ? QGuiApplication::screenAt(anchor.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect monitor = screen->geometry();
    const QRect area = PanelPlacement::freeArea(monitor, m_panels());
    // Without a click (a start that opens the popover), where Plasma's tray sits by default: at
    // the right-hand end of the panel along the bottom.
    const QPoint click = anchor.isValid() ? anchor.center() : monitor.bottomRight();
    const PanelPlacement::Placement placement =
        PanelPlacement::besidePanel(click, size.boundedTo(area.size()), monitor, area);
    LayerSurfacePlace layer = PanelPlacement::layerPlace(placement, monitor);
    layer.screen = screen;
    return {PopoverSpot::Kind::LayerSurface, placement.popover, layer};
}
