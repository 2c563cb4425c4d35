#include "platform/popover/PopoverPlacement.h"
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
    void placement_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect belowTop(0, 28, 1280, 772);
        // Centred 4 pixels under an icon of a top panel, or a click point in it.
        QTest::newRow("top panel") << QRect(600, 3, 22, 22) << belowTop << QPoint(485, 29);
        QTest::newRow("click point") << QRect(611, 10, 1, 1) << belowTop << QPoint(486, 28);
        // Pushed back inside the area at either edge.
        QTest::newRow("right edge") << QRect(1255, 3, 22, 22) << belowTop << QPoint(1030, 29);
        QTest::newRow("left edge") << QRect(2, 3, 22, 22) << belowTop << QPoint(0, 29);
        // A bottom panel: above the icon, never over the panel.
        QTest::newRow("bottom panel") << QRect(600, 775, 22, 22) << QRect(0, 0, 1280, 772) << QPoint(485, 521);
        // Larger than the area: its top-left corner stays visible.
        QTest::newRow("too tall") << QRect(600, 3, 22, 22) << QRect(0, 28, 1280, 200) << QPoint(485, 28);
        // Side panels: beside them, centred on the icon.
        QTest::newRow("left panel") << QRect(4, 400, 22, 22) << QRect(30, 0, 1250, 800) << QPoint(30, 285);
        QTest::newRow("right panel") << QRect(1254, 400, 22, 22) << QRect(0, 0, 1250, 800) << QPoint(1000, 285);
    }

    void placement()
    {
        QFETCH(QRect, anchor);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
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
};

QTEST_APPLESS_MAIN(TestPopoverPlacement)
#include "TestPopoverPlacement.moc"
