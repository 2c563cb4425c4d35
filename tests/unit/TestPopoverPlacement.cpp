#include "platform/desktop/DesktopSession.h"
#include "platform/popover/AnchoredPopover.h"
#include "platform/popover/PanelPlacement.h"
#include "platform/popover/PopoverPlacement.h"
#include "platform/popover/PopoverPlacementStrategy.h"
#include "platform/popover/WorkArea.h"

#include <QTest>

namespace {
// Two monitors side by side on one X screen.
const QSize kRoot(2560, 800);
const QRect kLeft(0, 0, 1280, 800);
const QRect kRight(1280, 0, 1280, 800);
} // namespace

class TestPopoverPlacement : public QObject
{
    Q_OBJECT

private slots:
    void placement()
    {
        const QRect belowTop(0, 28, 1280, 772);
        // The icon (or a click point), the monitor's free area, and where a 250 px square goes.
        const std::tuple<QRect, QRect, QPoint> cases[] = {
            // Centred 4 pixels under an icon of a top panel, or a click point in it.
            {QRect(600, 3, 22, 22), belowTop, QPoint(485, 29)},
            {QRect(611, 10, 1, 1), belowTop, QPoint(486, 28)},
            // Pushed back inside the area at either edge.
            {QRect(1255, 3, 22, 22), belowTop, QPoint(1030, 29)},
            {QRect(2, 3, 22, 22), belowTop, QPoint(0, 29)},
            // A bottom panel: above the icon, never over the panel.
            {QRect(600, 775, 22, 22), QRect(0, 0, 1280, 772), QPoint(485, 521)},
            // Larger than the area: its top-left corner stays visible.
            {QRect(600, 3, 22, 22), QRect(0, 28, 1280, 200), QPoint(485, 28)},
            // Side panels: beside them, centred on the icon.
            {QRect(4, 400, 22, 22), QRect(30, 0, 1250, 800), QPoint(30, 285)},
            {QRect(1254, 400, 22, 22), QRect(0, 0, 1250, 800), QPoint(1000, 285)}};
        for (const auto& [anchor, available, expected] : cases)
            QCOMPARE(PopoverPlacement::popoverPosition(anchor, QSize(250, 250), kLeft, available), expected);
    }

    void eachMonitorHasTheAreaItsPanelsLeaveFree()
    {
        // Struts count from the root window's edges: a panel at the right monitor's left edge
        // reserves 1310 px from the left, across the whole left monitor, which it leaves free.
        // (Top and bottom panels are on the desktop tests' two monitors.)
        const QList<WorkArea::Strut> struts{{1310, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0},
                                            WorkArea::fullLengthStrut(0, 0, 26, 0, kRoot)};
        QCOMPARE(WorkArea::freeArea(kLeft, kRoot, struts), QRect(0, 26, 1280, 774));
        QCOMPARE(WorkArea::freeArea(kRight, kRoot, struts), QRect(1310, 26, 1250, 774));
        // Per-monitor areas a window manager publishes are matched by place, not order.
        const QList<QRect> published{QRect(1280, 30, 1280, 770), QRect(0, 0, 1280, 770)};
        QCOMPARE(WorkArea::publishedAreaOf(kLeft, published), QRect(0, 0, 1280, 770));
        QCOMPARE(WorkArea::publishedAreaOf(kRight, published), QRect(1280, 30, 1280, 770));
        // One rectangle over both monitors (_NET_WORKAREA-like) belongs to neither.
        QVERIFY(!WorkArea::publishedAreaOf(kLeft, {QRect(0, 30, 2560, 770)}).isValid());
    }

    // Each kind of desktop gets its placement, and a popover follows it.
    void eachDesktopHasItsPlacement()
    {
        using Display = DesktopSession::Display;
        using Kind = PopoverSpot::Kind;
        const QRect icon(600, 3, 22, 22);
        const QSize size(250, 250);
        // On the test's one 800 × 600 screen, centred 4 pixels under the icon.
        const QRect belowIcon(QPoint(485, 29), size);
        const std::tuple<DesktopSession, QRect, Kind, QRect, Qt::Edges, bool> cases[] = {
            {DesktopSession(Display::X11, {"XFCE"}, false), icon, Kind::Positioned, belowIcon, {}, true},
            // Xwayland sees no click outside its windows, and knows the icon only from a click.
            {DesktopSession(Display::Xwayland, {"GNOME"}, false), icon, Kind::Positioned, belowIcon, {}, false},
            {DesktopSession(Display::Xwayland, {"GNOME"}, false), QRect(), Kind::Window, QRect(), {}, false},
            {DesktopSession(Display::Wayland, {"GNOME"}, false), icon, Kind::Window, QRect(), {}, false},
            {DesktopSession(Display::Wayland, {"sway"}, true), icon, Kind::LayerSurface, QRect(),
             Qt::TopEdge | Qt::RightEdge, false},
            // Plasma, its shell not answering: beside a panel along the edge nearest to the click.
            {DesktopSession(Display::Wayland, {"KDE"}, true), icon, Kind::LayerSurface, QRect(486, 27, 250, 250),
             Qt::TopEdge | Qt::LeftEdge, false}};
        for (const auto& [session, anchor, kind, geometry, edges, seesOutsideClicks] : cases) {
            const auto strategy = PopoverPlacementStrategy::forSession(session);
            const PopoverSpot spot = strategy->spotFor(anchor, size);
            QCOMPARE(int(spot.kind), int(kind));
            QCOMPARE(spot.geometry, geometry);
            QCOMPARE(spot.layer.edges.toInt(), edges.toInt());
            QCOMPARE(strategy->seesOutsideClicks(), seesOutsideClicks);
        }

        // A transient popover is a popup where a grab sees outside clicks, else a tool window;
        // without an anchor under Xwayland, a window.
        for (const bool xwayland : {false, true}) {
            AnchoredPopover popover;
            popover.setBehavior(AnchoredPopover::Behavior::Transient);
            popover.setContentSize(size - QSize(2, 2));
            popover.setPlacementStrategy(std::make_unique<X11Placement>(xwayland));
            popover.showRelativeToRect(icon);
            QCOMPARE(popover.windowType(), xwayland ? Qt::Tool : Qt::Popup);
            QCOMPARE(popover.geometry(), belowIcon);
            popover.showRelativeToRect(QRect());
            QCOMPARE(popover.presentation(),
                     xwayland ? AnchoredPopover::Presentation::Window : AnchoredPopover::Presentation::Anchored);
        }
    }

    void touchesThePanelThatHoldsTheClick()
    {
        using namespace PanelPlacement;
        // A 44 px panel at the bottom of the right monitor, a 30 px one at its left.
        const QRect area =
            freeArea(kRight, {{kRight, Qt::BottomEdge, 44}, {kRight, Qt::LeftEdge, 30}, {kLeft, Qt::TopEdge, 800}});
        // The click point, and where the popover goes: touching the panel, centred on the click;
        // a click inside the free area counts as in a panel along the nearest edge, twice as deep
        // as the click is far from it.
        const std::tuple<QPoint, QRect, QRect, Qt::Edge> cases[] = {
            {QPoint(1295, 400), area, QRect(1310, 251, 250, 300), Qt::LeftEdge},
            {QPoint(2000, 12), QRect(), QRect(1876, 25, 250, 300), Qt::TopEdge},
            {QPoint(2545, 400), QRect(), QRect(2281, 251, 250, 300), Qt::RightEdge}};
        for (const auto& [click, free, popover, edge] : cases) {
            const Placement placement = besidePanel(click, QSize(250, 300), kRight, free);
            QCOMPARE(std::pair(placement.popover, placement.panelEdge), std::pair(popover, edge));
        }
        // The layer shell's margins count from the output's edges, at the panel's edge.
        const LayerSurfacePlace r = layerPlace({QRect(2281, 251, 250, 300), Qt::RightEdge}, kRight);
        QCOMPARE(std::pair(r.edges, r.margins), std::pair(Qt::RightEdge | Qt::TopEdge, QMargins(0, 251, 29, 0)));
    }
};

QTEST_MAIN(TestPopoverPlacement)
#include "TestPopoverPlacement.moc"
