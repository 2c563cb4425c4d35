#include "platform/popover/PopoverPlacement.h"

#include <QTest>

class TestPopoverPlacement : public QObject
{
    Q_OBJECT

private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<int>("availableHeight");
        QTest::addColumn<QPoint>("expected");
        // Centred 4 pixels under an icon of a top panel, or a click point in it.
        QTest::newRow("top panel") << QRect(600, 3, 22, 22) << 300 << QPoint(485, 29);
        QTest::newRow("click point") << QRect(611, 10, 1, 1) << 300 << QPoint(486, 28);
        // Pushed back inside the area at either edge.
        QTest::newRow("right edge") << QRect(1255, 3, 22, 22) << 300 << QPoint(1030, 29);
        QTest::newRow("left edge") << QRect(2, 3, 22, 22) << 300 << QPoint(0, 29);
        // A bottom panel: above the icon, never over the panel.
        QTest::newRow("bottom panel") << QRect(600, 775, 22, 22) << -1 << QPoint(485, 521);
        // Larger than the area: its top-left corner stays visible.
        QTest::newRow("too tall") << QRect(600, 3, 22, 22) << 200 << QPoint(485, 28);
    }

    void placement()
    {
        QFETCH(QRect, anchor);
        QFETCH(int, availableHeight);
        QFETCH(QPoint, expected);
        // The panel takes 28 pixels at the top (a positive height) or at the bottom.
        const QRect available = availableHeight > 0 ? QRect(0, 28, 1280, availableHeight) : QRect(0, 0, 1280, 772);
        QCOMPARE(PopoverPlacement::popoverPosition(anchor, QSize(250, 250), QRect(0, 0, 1280, 800), available),
                 expected);
    }
};

QTEST_APPLESS_MAIN(TestPopoverPlacement)
#include "TestPopoverPlacement.moc"
