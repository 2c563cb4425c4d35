#pragma once

#include "platform/popover/PanelPlacement.h"
#include "platform/popover/PopoverPlacementStrategy.h"

#include <functional>

// KDE Plasma on Wayland: a layer surface right above the tray icon (beside it on a side panel),
// touching the panel and not over it, inside the screen. Plasma's panels are no layer surfaces,
// so that the layer shell's exclusive zones do not keep a surface off them: the place follows
// from the click point, which the tray host tells, and the panels, which the shell tells.
class PlasmaPlacement : public PopoverPlacementStrategy
{
public:
    using PanelSource = std::function<QList<PanelPlacement::Panel>()>;

    // `panels` is asked at every showing, since the user may move a panel.
    explicit PlasmaPlacement(PanelSource panels);
    PopoverSpot spotFor(const QRect& anchor, const QSize& size) const override;

private:
    PanelSource m_panels;
};
