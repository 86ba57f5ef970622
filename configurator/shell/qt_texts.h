// Texts of the table as the widgets show them: the cell of the current
// language converted from its code page to Unicode. And Qt's own texts (the
// file dialogs, the standard buttons of message boxes) in the same language.

#pragma once

#include <QString>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

// Text `number` in the language of `languageId` (an international dialling
// code); empty for a number outside 0..123.
QString QText(const TextTable& table, int number, int languageId);

// The same with the "&" of an accelerator removed ("Rea&d" -> "Read"), for
// places that show no accelerators (window titles, list headers).
QString QTextPlain(const TextTable& table, int number, int languageId);

// Installs Qt's translation of its own texts for the language of
// `languageId` (qtbase_<locale>.qm from Qt's translations folder, Debian's
// qt6-translations-l10n), replacing the one a previous call installed. A
// language Qt has no translation for (English, Swedish), or a missing file,
// leaves Qt's texts in English, without a message. True when a translation
// is installed. Needs the application object; call it from the GUI thread.
bool UseQtTranslation(int languageId);

}  // namespace mbus::meridex
