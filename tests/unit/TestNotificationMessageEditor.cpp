#include "views/NotificationMessageEditor.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

namespace {
QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(28, 28, 30));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    return dark;
}

// The editor in a column 268 wide, as the settings view places it.
struct Column
{
    QWidget window;
    NotificationMessageEditor* editor;

    Column()
    {
        auto* layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        editor = new NotificationMessageEditor(&window);
        layout->addWidget(editor);
        layout->addStretch(1);
        window.resize(268, 300);
    }
};

// Grey at 30 % over a pixel that is half field, half window: the anti-aliased edge of the
// field under its 1-pixel border.
int borderChannel(int base, int window)
{
    return qRound(0.3 * 128 + 0.7 * (base + window) / 2.0);
}
} // namespace

class TestNotificationMessageEditor : public QObject
{
    Q_OBJECT

private slots:
    void keepsItsHeightAndTakesTheParentsWidth_data()
    {
        QTest::addColumn<int>("lines");
        QTest::newRow("empty") << 0;
        QTest::newRow("one line") << 1;
        QTest::newRow("200 lines") << 200;
    }

    void keepsItsHeightAndTakesTheParentsWidth()
    {
        QFETCH(int, lines);
        QStringList text;
        for (int i = 0; i < lines; ++i)
            text << QStringLiteral("line %1").arg(i + 1);
        Column column;
        column.editor->setText(text.join(QLatin1Char('\n')));
        column.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column.window));

        QCOMPARE(column.editor->height(), 110);
        QCOMPARE(column.editor->width(), 268);
        QCOMPARE(column.editor->textArea()->geometry(), QRect(8, 8, 268 - 16, 110 - 16));
        // Long text scrolls inside the box instead of growing it.
        QScrollBar* scroll = column.editor->textArea()->verticalScrollBar();
        QCOMPARE(scroll->maximum() > 0, lines == 200);
        scroll->setValue(scroll->maximum());
        QCOMPARE(column.editor->height(), 110);
    }

    void reportsEveryEditOnceAndShownTextNever()
    {
        NotificationMessageEditor editor;
        QSignalSpy edits(&editor, &NotificationMessageEditor::textEdited);
        editor.setText(QStringLiteral("Call Mum"));
        QCOMPARE(edits.count(), 0);

        QPlainTextEdit* area = editor.textArea();
        area->moveCursor(QTextCursor::End);
        QTest::keyClick(area, Qt::Key_Exclam);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.takeFirst().at(0).toString(), QStringLiteral("Call Mum!"));
        QTest::keyClick(area, Qt::Key_Backspace);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.takeFirst().at(0).toString(), QStringLiteral("Call Mum"));

        area->selectAll();
        area->cut();
        QCOMPARE(edits.count(), 1);
        QCOMPARE(edits.takeFirst().at(0).toString(), QString()); // an empty message is a message too
        area->undo();
        QCOMPARE(edits.count(), 1);
        QCOMPARE(editor.text(), QStringLiteral("Call Mum"));
        edits.clear();

        // Showing the text that is already there leaves the cursor where the user put it.
        QTextCursor cursor = area->textCursor();
        cursor.setPosition(4);
        area->setTextCursor(cursor);
        editor.setText(QStringLiteral("Call Mum"));
        QCOMPARE(area->textCursor().position(), 4);
        editor.setText(QStringLiteral("Water the plants"));
        QCOMPARE(editor.text(), QStringLiteral("Water the plants"));
        QCOMPARE(edits.count(), 0);
    }

    void tabLeavesTheEditor()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* editor = new NotificationMessageEditor(&window);
        auto* next = new QPlainTextEdit(&window);
        layout->addWidget(editor);
        layout->addWidget(next);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        editor->setFocus();
        QTRY_VERIFY(editor->textArea()->hasFocus());
        QTest::keyClick(editor->textArea(), Qt::Key_Tab);
        QTRY_VERIFY(next->hasFocus());
        QCOMPARE(editor->text(), QString());
    }

    void drawsARoundedBorderedFieldInThePalettesTextBackground_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::palette();
        QTest::newRow("dark") << darkPalette();
    }

    void drawsARoundedBorderedFieldInThePalettesTextBackground()
    {
        QFETCH(QPalette, palette);
        Column column;
        column.window.setPalette(palette);
        column.editor->setText(QString(400, QLatin1Char('x')));
        column.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&column.window));
        const QImage image = column.editor->grab().toImage();
        const QColor base = palette.color(QPalette::Base);
        const QColor window = palette.color(QPalette::Window);

        // Inside the margin, away from the corners, the fill is the text background.
        QCOMPARE(image.pixelColor(4, image.height() / 2), base);
        QCOMPARE(image.pixelColor(image.width() / 2, 4), base);
        // The rounded corners leave the window showing through.
        QCOMPARE(image.pixelColor(0, 0), window);
        QCOMPARE(image.pixelColor(image.width() - 1, image.height() - 1), window);
        for (const QPoint edge : {QPoint(image.width() / 2, 0), QPoint(0, image.height() / 2),
                                  QPoint(image.width() - 1, image.height() / 2)}) {
            const QColor border = image.pixelColor(edge);
            QVERIFY2(qAbs(border.red() - borderChannel(base.red(), window.red())) <= 3, qPrintable(border.name()));
            QVERIFY2(qAbs(border.blue() - borderChannel(base.blue(), window.blue())) <= 3, qPrintable(border.name()));
        }
    }
};

QTEST_MAIN(TestNotificationMessageEditor)
#include "TestNotificationMessageEditor.moc"
