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

Strut partial(long left, long right, long top, long bottom, std::array<long, 8> ranges)
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
    void sidePanelsOpenThePopoverBesideThem()
    {
        const QSize size(250, 300);
        QCOMPARE(PopoverPlacement::popoverPosition(QRect(4, 400, 22, 22), size, kLeft, QRect(30, 0, 1250, 800)),
                 QPoint(30, 260));
        QCOMPARE(PopoverPlacement::popoverPosition(QRect(1254, 400, 22, 22), size, kLeft, QRect(0, 0, 1250, 800)),
                 QPoint(1000, 260));
    }

    void strutsReserveTheirPartOfEachMonitor_data()
    {
        QTest::addColumn<QList<Strut>>("struts");
        QTest::addColumn<QRect>("leftFree");
        QTest::addColumn<QRect>("rightFree");
        QTest::newRow("top panel on the right monitor")
            << QList<Strut>{partial(0, 0, 30, 0, {0, 0, 0, 0, 1280, 2559, 0, 0})} << kLeft
            << QRect(1280, 30, 1280, 770);
        // Struts count from the root window's edges: a panel at the right monitor's left
        // edge reserves 1310 px from the left, across the whole left monitor.
        QTest::newRow("left panel of the right monitor")
            << QList<Strut>{partial(1310, 0, 0, 0, {0, 799, 0, 0, 0, 0, 0, 0})} << kLeft << QRect(1310, 0, 1250, 800);
        QTest::newRow("right panel of the left monitor")
            << QList<Strut>{partial(0, 1310, 0, 0, {0, 0, 0, 799, 0, 0, 0, 0})} << QRect(0, 0, 1250, 800) << kRight;
        QTest::newRow("full-length top, partial bottom")
            << QList<Strut>{WorkArea::fullLengthStrut(0, 0, 26, 0, kRoot),
                            partial(0, 0, 0, 40, {0, 0, 0, 0, 0, 0, 1300, 1500})}
            << QRect(0, 26, 1280, 774) << QRect(1280, 26, 1280, 734);
        QTest::newRow("nothing left") << QList<Strut>{WorkArea::fullLengthStrut(0, 0, 900, 0, kRoot)} << kLeft
                                      << kRight;
    }

    void strutsReserveTheirPartOfEachMonitor()
    {
        QFETCH(QList<Strut>, struts);
        QFETCH(QRect, leftFree);
        QFETCH(QRect, rightFree);
        QCOMPARE(WorkArea::freeArea(kLeft, kRoot, struts), leftFree);
        QCOMPARE(WorkArea::freeArea(kRight, kRoot, struts), rightFree);
    }

    void publishedWorkAreasAreMatchedByPlaceNotOrder()
    {
        const QList<QRect> published{QRect(1280, 30, 1280, 770), QRect(0, 0, 1280, 770)};
        QCOMPARE(WorkArea::publishedAreaOf(kLeft, published), QRect(0, 0, 1280, 770));
        QCOMPARE(WorkArea::publishedAreaOf(kRight, published), QRect(1280, 30, 1280, 770));
        // One rectangle over both monitors (_NET_WORKAREA-like) belongs to neither.
        QVERIFY(!WorkArea::publishedAreaOf(kLeft, {QRect(0, 30, 2560, 770)}).isValid());
    }
};

QTEST_APPLESS_MAIN(TestDesktopPlacement)
#include "TestDesktopPlacement.moc"
