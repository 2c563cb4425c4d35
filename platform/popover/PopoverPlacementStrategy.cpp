#include "platform/popover/PopoverPlacementStrategy.h"

#include "platform/desktop/DesktopSession.h"
#include "platform/popover/PlasmaPanels.h"
#include "platform/popover/PlasmaPlacement.h"
#include "platform/popover/PopoverPlacement.h"

#include <QGuiApplication>
#include <QScreen>

std::unique_ptr<PopoverPlacementStrategy> PopoverPlacementStrategy::forSession(const DesktopSession& session)
{
    switch (session.display()) {
    case DesktopSession::Display::Wayland:
        if (!session.hasLayerShell())
            return std::make_unique<CompositorPlacement>();
        if (session.is(QStringLiteral("KDE")))
            return std::make_unique<PlasmaPlacement>(PlasmaPanels::panels);
        // sway's bars and most others are at the top.
        return std::make_unique<LayerShellCornerPlacement>(Qt::TopRightCorner);
    case DesktopSession::Display::Xwayland:
        return std::make_unique<X11Placement>(true);
    case DesktopSession::Display::X11:
    case DesktopSession::Display::Other:
        break;
    }
    return std::make_unique<X11Placement>(false);
}

PopoverSpot X11Placement::spotFor(const QRect& anchor, const QSize& size) const
{
    if (m_xwayland && !anchor.isValid())
        return {};
    QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {PopoverSpot::Kind::Positioned, QRect(QPoint(), size), {}};
    const QRect area = PopoverPlacement::panelFreeArea(*screen);
    const QSize fitted = size.boundedTo(area.size());
    return {PopoverSpot::Kind::Positioned,
            QRect(PopoverPlacement::popoverPosition(anchor, fitted, screen->geometry(), area), fitted),
            {}};
}

PopoverSpot LayerShellCornerPlacement::spotFor(const QRect& /*anchor*/, const QSize& /*size*/) const
{
    const bool top = m_corner == Qt::TopLeftCorner || m_corner == Qt::TopRightCorner;
    const bool left = m_corner == Qt::TopLeftCorner || m_corner == Qt::BottomLeftCorner;
    const int gap = PopoverPlacement::kPopoverAnchorGap;
    return {
        PopoverSpot::Kind::LayerSurface,
        {},
        {(top ? Qt::TopEdge : Qt::BottomEdge) | (left ? Qt::LeftEdge : Qt::RightEdge), QMargins(gap, gap, gap, gap)}};
}

PopoverSpot CompositorPlacement::spotFor(const QRect& /*anchor*/, const QSize& /*size*/) const
{
    return {};
}
