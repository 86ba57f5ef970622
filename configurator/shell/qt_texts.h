// Texts of the table as the widgets show them: the cell of the current
// language converted from its code page to Unicode.

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

}  // namespace mbus::meridex
