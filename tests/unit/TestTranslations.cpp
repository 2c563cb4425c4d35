#include "app/Translations.h"
#include "views/SettingsView.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    // The user's languages, most preferred first, as QLocale::uiLanguages gives them.
    void firstLanguageThatThereIs()
    {
        const QList<std::pair<QStringList, QString>> cases{
            {{"de-AT"}, "de_AT"}, {{"fr-FR", "xx", "de-DE"}, "de_DE"}, {{"en-GB", "de-DE"}, ""}, {{"C"}, ""}};
        for (const auto& [languages, taken] : cases) {
            QCOMPARE(Translations::install(*qApp, languages), taken);
            const bool german = !taken.isEmpty();
            SettingsView settings(Edition::Perchlight);
            QCOMPARE(settings.previewButton()->text(), german ? "Vorschau senden" : "Send Preview Notification");
            QCOMPARE(QCoreApplication::translate("Reminders", "Reminder"), german ? "Erinnerung" : "Reminder");
            // Qt's own texts, such as the text fields' menus, come in the same language.
            QCOMPARE(QCoreApplication::translate("QLineEdit", "&Undo") != QLatin1String("&Undo"), german);
            qDeleteAll(qApp->findChildren<QTranslator*>());
        }
    }
};

QTEST_MAIN(TestTranslations)
#include "TestTranslations.moc"
