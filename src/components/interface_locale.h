// The conventions of the interface language: a language file stands for a language (german.lng
// for German), whose date formats the preview follows and whose translations of Qt's own dialog
// texts (standard buttons, file dialogs) are loaded with it.
#pragma once

#include <QLocale>
#include <QString>

#include "model/variant.h"

namespace orlendo {

// Chooses the language of languageFile by its base name ("german.lng" -> German), matched
// without regard to letter case against the languages Qt knows, and installs Qt's translations
// for it when the system has them. A name that is no language, or an empty one, goes back to the
// built-in English and the user's own date format.
void SetInterfaceLanguage(const QString& languageFile);

// The language chosen; QLocale::C while the interface is the built-in English.
QLocale InterfaceLocale();

// A date-time as the preview shows it: in the interface language's short date with a four-digit
// year and its short time (the date alone at exactly midnight); with the built-in English, the
// user's own format (DateTimeToText).
QString InterfaceDateTimeText(TDateTime value);

} // namespace orlendo
