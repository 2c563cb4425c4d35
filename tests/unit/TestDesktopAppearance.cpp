#include "platform/session/DesktopAppearance.h"

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
};

QTEST_MAIN(TestDesktopAppearance)
#include "TestDesktopAppearance.moc"
