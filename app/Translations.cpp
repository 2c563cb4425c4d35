#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace Translations {

QString install(QCoreApplication& application, const QStringList& uiLanguages)
{
    for (const QString& language : uiLanguages) {
        if (language == QLatin1String("C") || language == QLatin1String("POSIX"))
            return {};
        const QLocale locale(language);
        if (locale.language() == QLocale::English)
            return {};
        if (locale.language() == QLocale::C)
            continue; // a language Qt does not know
        // QTranslator::load tries "de_DE", then "de".
        auto* own = new QTranslator(&application);
        if (!own->load(QStringLiteral("perchlight_") + locale.name(), QStringLiteral(":/i18n"))) {
            delete own;
            continue;
        }
        QCoreApplication::installTranslator(own);
        auto* qt = new QTranslator(&application);
        if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(qt);
        else
            delete qt; // qt6-translations-l10n is only recommended
        return locale.name();
    }
    return {};
}

} // namespace Translations
