#include "platform/popover/PopoverPlacement.h"

#include <QTest>

class TestPopoverPlacement : public QObject
{
    Q_OBJECT

    const QRect screen{0, 0, 1280, 800};

private slots:
    void placement_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect belowTopPanel(0, 28, 1280, 772);
        const QRect aboveBottomPanel(0, 0, 1280, 772);
        // Centred under an icon of a top panel.
        QTest::newRow("top panel") << QRect(600, 3, 22, 22) << belowTopPanel << QPoint(485, 29);
        // A click point inside the panel (no icon geometry): still below the panel.
        QTest::newRow("click point") << QRect(611, 10, 1, 1) << belowTopPanel << QPoint(486, 28);
        // At the right edge it is pushed back inside the screen.
        QTest::newRow("right edge") << QRect(1255, 3, 22, 22) << belowTopPanel << QPoint(1030, 29);
        QTest::newRow("left edge") << QRect(2, 3, 22, 22) << belowTopPanel << QPoint(0, 29);
        // A bottom panel: above the icon, never over the panel.
        QTest::newRow("bottom panel") << QRect(600, 775, 22, 22) << aboveBottomPanel << QPoint(485, 471);
        QTest::newRow("bottom click") << QRect(611, 790, 1, 1) << aboveBottomPanel << QPoint(486, 472);
    }

    void placement()
    {
        QFETCH(QRect, anchor);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        const QSize size(250, 300);
        const QPoint at = PopoverPlacement::popoverPosition(anchor, size, screen, available);
        QCOMPARE(at, expected);
        QVERIFY(available.contains(QRect(at, size)));
    }

    void largerThanTheAreaKeepsItsTopLeftVisible()
    {
        const QRect available(0, 28, 1280, 300);
        const QPoint at = PopoverPlacement::popoverPosition(QRect(600, 3, 22, 22), QSize(300, 360), screen, available);
        QCOMPARE(at.y(), 28);
    }
};

QTEST_APPLESS_MAIN(TestPopoverPlacement)
#include "TestPopoverPlacement.moc"
