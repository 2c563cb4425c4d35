#include "platform/session/DesktopAppearance.h"
#include "views/NotificationMessageEditor.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

class TestDesktopAppearance : public QObject
{
    Q_OBJECT

private slots:
    void darkIsAskedForByTheThemesVariant_data()
    {
        QTest::addColumn<QString>("gtkTheme");
        QTest::addColumn<bool>("dark");
        QTest::newRow("variant") << "Adwaita:dark" << true;
        QTest::newRow("dark theme") << "Adwaita-dark" << true;
        QTest::newRow("upper case, spaces") << " Arc-Dark " << true;
        QTest::newRow("light") << "Adwaita" << false;
        QTest::newRow("light variant") << "Adwaita:light" << false;
        QTest::newRow("dark only inside the name") << "Darkroom" << false;
        QTest::newRow("unset") << "" << false;
    }

    void darkIsAskedForByTheThemesVariant()
    {
        QFETCH(QString, gtkTheme);
        QFETCH(bool, dark);
        QCOMPARE(DesktopAppearance::prefersDark(gtkTheme), dark);
    }

    void darkPaletteKeepsEveryTextReadable()
    {
        const QPalette palette = DesktopAppearance::darkPalette();
        const auto contrast = [&](QPalette::ColorGroup group, QPalette::ColorRole text, QPalette::ColorRole back) {
            return palette.color(group, text).lightness() - palette.color(group, back).lightness();
        };
        QVERIFY(palette.color(QPalette::Window).lightness() < 80);
        QVERIFY(contrast(QPalette::Active, QPalette::WindowText, QPalette::Window) > 150);
        QVERIFY(contrast(QPalette::Active, QPalette::Text, QPalette::Base) > 150);
        QVERIFY(contrast(QPalette::Active, QPalette::ButtonText, QPalette::Button) > 120);
        QVERIFY(contrast(QPalette::Inactive, QPalette::Text, QPalette::Base) > 150);
        // Dimmed, yet still legible, and distinct from what was typed.
        QVERIFY(contrast(QPalette::Disabled, QPalette::Text, QPalette::Base) > 40);
        QVERIFY(contrast(QPalette::Active, QPalette::PlaceholderText, QPalette::Base) > 60);
        QVERIFY(palette.color(QPalette::PlaceholderText) != palette.color(QPalette::Text));
    }

    // Last: it changes the application's palette.
    void applyFollowsTheDesktopAndTheEditorDrawsWithIt()
    {
        qputenv("GTK_THEME", "Adwaita");
        DesktopAppearance::apply();
        QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 128);

        qputenv("GTK_THEME", "Adwaita:dark");
        DesktopAppearance::apply();
        QCOMPARE(QApplication::palette().color(QPalette::Base), DesktopAppearance::darkPalette().color(QPalette::Base));

        // The message box is drawn in the palette's colours, not in fixed light ones.
        NotificationMessageEditor editor;
        editor.resize(280, NotificationMessageEditor::kHeight);
        editor.setText(QStringLiteral("Stretch"));
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const QImage shot = editor.grab().toImage();
        const QColor margin = shot.pixelColor(shot.width() / 2, shot.height() - 4); // inside the 8-pixel margin
        QVERIFY2(margin.lightness() < 60, qPrintable(margin.name()));
        QCOMPARE(editor.textArea()->palette().color(QPalette::Text),
                 DesktopAppearance::darkPalette().color(QPalette::Text));
    }
};

QTEST_MAIN(TestDesktopAppearance)
#include "TestDesktopAppearance.moc"
