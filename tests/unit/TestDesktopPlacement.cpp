#include "platform/popover/PopoverPlacement.h"
#include "platform/popover/WorkArea.h"

#include <QTest>

using WorkArea::Strut;

Q_DECLARE_METATYPE(Strut)

// Two monitors side by side on one X screen, as the desktop tests set them up.
namespace {
const QSize kRoot(2560, 800);
const QRect kLeft(0, 0, 1280, 800);
const QRect kRight(1280, 0, 1280, 800);
const QSize kPopover(250, 300);

Strut partial(long left, long right, long top, long bottom, QList<long> ranges)
{
    Strut strut{left, right, top, bottom};
    std::copy(ranges.begin(), ranges.end(), strut.begin() + 4);
    return strut;
}
} // namespace

class TestDesktopPlacement : public QObject
{
    Q_OBJECT

private slots:
    void popoverOpensOnTheFreeSideOfThePanel_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QRect>("monitor");
        QTest::addColumn<QRect>("freeArea");
        QTest::addColumn<QPoint>("expected");
        // A StatusNotifierItem host tells only the click point, inside a 30-px panel: the
        // popover must still start below the panel, not 5 px under the click.
        QTest::newRow("top panel, right monitor, click point")
            << QRect(2400, 14, 1, 1) << kRight << QRect(1280, 30, 1280, 770) << QPoint(2275, 30);
        QTest::newRow("top panel, icon at the monitor's right edge")
            << QRect(2530, 4, 22, 22) << kRight << QRect(1280, 30, 1280, 770) << QPoint(2310, 30);
        QTest::newRow("bottom panel, left monitor")
            << QRect(1000, 775, 22, 22) << kLeft << QRect(0, 0, 1280, 770) << QPoint(885, 470);
        QTest::newRow("bottom panel, click point")
            << QRect(1000, 790, 1, 1) << kLeft << QRect(0, 0, 1280, 770) << QPoint(875, 470);
        QTest::newRow("left panel") << QRect(4, 400, 22, 22) << kLeft << QRect(30, 0, 1250, 800) << QPoint(30, 260);
        QTest::newRow("right panel") << QRect(1254, 400, 22, 22) << kLeft << QRect(0, 0, 1250, 800)
                                     << QPoint(1000, 260);
        // A panel that reserves nothing: the nearer half of the monitor decides.
        QTest::newRow("no reservation, bottom") << QRect(600, 780, 22, 22) << kLeft << kLeft << QPoint(485, 476);
        QTest::newRow("no reservation, top") << QRect(600, 3, 22, 22) << kLeft << kLeft << QPoint(485, 29);
    }

    void popoverOpensOnTheFreeSideOfThePanel()
    {
        QFETCH(QRect, anchor);
        QFETCH(QRect, monitor);
        QFETCH(QRect, freeArea);
        QFETCH(QPoint, expected);
        const QPoint at = PopoverPlacement::popoverPosition(anchor, kPopover, monitor, freeArea);
        QCOMPARE(at, expected);
        QVERIFY(freeArea.contains(QRect(at, kPopover)));
    }

    void aPopoverLargerThanTheAreaKeepsItsTopLeftInside()
    {
        const QRect area(1280, 30, 1280, 200);
        const QPoint at = PopoverPlacement::popoverPosition(QRect(2540, 4, 22, 22), QSize(300, 360), kRight, area);
        QCOMPARE(at, QPoint(2260, 30));
    }

    void strutsReserveTheirPartOfEachMonitor_data()
    {
        QTest::addColumn<QList<Strut>>("struts");
        QTest::addColumn<QRect>("leftFree");
        QTest::addColumn<QRect>("rightFree");
        const QSize root = kRoot;
        QTest::newRow("top panel on the right monitor")
            << QList<Strut>{partial(0, 0, 30, 0, {0, 0, 0, 0, 1280, 2559, 0, 0})} << kLeft
            << QRect(1280, 30, 1280, 770);
        QTest::newRow("bottom panel on the left monitor")
            << QList<Strut>{partial(0, 0, 0, 30, {0, 0, 0, 0, 0, 0, 0, 1279})} << QRect(0, 0, 1280, 770) << kRight;
        // Struts count from the root window's edges: a panel at the right monitor's left
        // edge reserves 1310 px from the left, across the whole left monitor.
        QTest::newRow("left panel of the right monitor")
            << QList<Strut>{partial(1310, 0, 0, 0, {0, 799, 0, 0, 0, 0, 0, 0})} << kLeft << QRect(1310, 0, 1250, 800);
        QTest::newRow("right panel of the left monitor")
            << QList<Strut>{partial(0, 1310, 0, 0, {0, 0, 0, 799, 0, 0, 0, 0})} << QRect(0, 0, 1250, 800) << kRight;
        QTest::newRow("old full-length strut, two panels")
            << QList<Strut>{WorkArea::fullLengthStrut(0, 0, 26, 0, root),
                            partial(0, 0, 0, 40, {0, 0, 0, 0, 0, 0, 1300, 1500})}
            << QRect(0, 26, 1280, 774) << QRect(1280, 26, 1280, 734);
        QTest::newRow("a strut that would leave nothing")
            << QList<Strut>{WorkArea::fullLengthStrut(0, 0, 900, 0, root)} << kLeft << kRight;
    }

    void strutsReserveTheirPartOfEachMonitor()
    {
        QFETCH(QList<Strut>, struts);
        QFETCH(QRect, leftFree);
        QFETCH(QRect, rightFree);
        QCOMPARE(WorkArea::freeArea(kLeft, kRoot, struts), leftFree);
        QCOMPARE(WorkArea::freeArea(kRight, kRoot, struts), rightFree);
    }

    void monitorsOfUnequalHeight()
    {
        // The right monitor is shorter; its bottom panel's strut counts from the taller
        // root's bottom edge.
        const QSize root(2560, 1024);
        const QRect right(1280, 0, 1280, 800);
        const Strut bottom = partial(0, 0, 0, 254, {0, 0, 0, 0, 0, 0, 1280, 2559});
        QCOMPARE(WorkArea::freeArea(right, root, {bottom}), QRect(1280, 0, 1280, 770));
        QCOMPARE(WorkArea::freeArea(QRect(0, 0, 1280, 1024), root, {bottom}), QRect(0, 0, 1280, 1024));
    }

    void publishedWorkAreasAreMatchedByPlaceNotOrder()
    {
        const QList<QRect> published{QRect(1280, 30, 1280, 770), QRect(0, 0, 1280, 770)};
        QCOMPARE(WorkArea::publishedAreaOf(kLeft, published), QRect(0, 0, 1280, 770));
        QCOMPARE(WorkArea::publishedAreaOf(kRight, published), QRect(1280, 30, 1280, 770));
        QVERIFY(!WorkArea::publishedAreaOf(QRect(2560, 0, 800, 600), published).isValid());
        // One _NET_WORKAREA-like rectangle over both monitors belongs to neither.
        QVERIFY(!WorkArea::publishedAreaOf(kLeft, {QRect(0, 30, 2560, 770)}).isValid());
    }
};

QTEST_APPLESS_MAIN(TestDesktopPlacement)
#include "TestDesktopPlacement.moc"
