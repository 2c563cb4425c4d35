#include "app/Translations.h"
#include "views/BackButton.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { qDeleteAll(qApp->findChildren<QTranslator*>()); }

    // The user's languages, most preferred first, as QLocale::uiLanguages gives them.
    void firstLanguageThatThereIs_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("taken");
        QTest::newRow("German") << QStringList{"de-DE", "de"} << "de_DE";
        QTest::newRow("Austrian German") << QStringList{"de-AT"} << "de_AT";
        QTest::newRow("French, then German") << QStringList{"fr-FR", "de-DE"} << "de_DE";
        QTest::newRow("unknown, then German") << QStringList{"xx", "de"} << "de_DE";
        QTest::newRow("English before German") << QStringList{"en-GB", "de-DE"} << "";
        QTest::newRow("C") << QStringList{"C"} << "";
        QTest::newRow("none") << QStringList{} << "";
    }

    void firstLanguageThatThereIs()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, taken);
        QCOMPARE(Translations::install(*qApp, languages), taken);

        const bool german = !taken.isEmpty();
        SettingsView settings(Edition::Perchlight);
        QCOMPARE(settings.backButton()->text(), german ? QStringLiteral("Zurück") : QStringLiteral("Back"));
        QCOMPARE(settings.previewButton()->text(),
                 german ? QStringLiteral("Vorschau senden") : QStringLiteral("Send Preview Notification"));
        QCOMPARE(QCoreApplication::translate("Reminders", "Reminder"),
                 german ? QStringLiteral("Erinnerung") : QStringLiteral("Reminder"));
        // Qt's own texts, such as the text fields' menus, come in the same language.
        QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo") != QLatin1String("&Undo"), german);
    }
};

QTEST_MAIN(TestTranslations)
#include "TestTranslations.moc"
