#pragma once

#include <QStringList>

class QCoreApplication;

// The program's texts in the user's language, with Qt's own (the file dialog, the text
// fields' menus) in the same one. English is the language of the sources, so a user who
// puts English before another language keeps the texts as written.
namespace Translations {

// Installs the translators for the first of `uiLanguages` (as QLocale::uiLanguages gives
// them, most preferred first) that the program has; they belong to `application`. Returns
// the language taken, or an empty string for the texts as written.
QString install(QCoreApplication& application, const QStringList& uiLanguages);

} // namespace Translations
