// MERIDEX's languages. The program names its language by an international
// dialling code, the "language id" kept in the INI file: 49 is German, 33
// French, 7 Russian and so on. Several ids share a column of the text table
// (Austria and Switzerland read German, Brazil and Portugal Portuguese), and
// every id the program does not know reads English (1, English's own id,
// among them).
//
// From the id follow the text-table column, the language number handed to the
// control (`LNGLanguage`), the folder of the help pages and the decimal
// separator of the numbers the program shows; all but the column follow from
// the column.

#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

// The id a language button sets, in the order of the first-start dialog.
struct LanguageButton {
    Column column;
    int languageId;
};
inline constexpr std::array<LanguageButton, kColumnCount> kLanguageButtons = {{
    {kEnglish, 1},
    {kGerman, 49},
    {kFrench, 33},
    {kPortuguese, 55},
    {kSwedish, 46},
    {kRussian, 7},
}};

inline constexpr int kDefaultLanguageId = 49;  // the INI default

// Column of the text table for a language id (English for unknown ids).
Column ColumnOfLanguage(int languageId);

// The language id a button of this column sets (English's 1 for a column out
// of range).
int LanguageIdOfColumn(int column);

// The control's language number for `LNGLanguage`: German 1, French 2,
// Portuguese 3, Russian 4; English and Swedish 0 (the control has a Swedish
// column, 7, but the program has always handed it English for Swedish).
int ControlLanguageOf(int languageId);

// Folder of the help pages beside the program: "Deutsch" for the German ids,
// "English" for all others.
std::string_view HelpFolderOf(int languageId);

// The decimal separator of the numbers the program shows: a comma for
// German, French, Portuguese, Swedish and Russian, a point for English (and
// so for every id without a column of its own). Typed numbers take either
// (configurator/shell/numbers.h).
char DecimalSeparator(int languageId);

// The locale of Qt's translation of its own texts (file dialogs, standard
// buttons) for this language: "de", "fr", "pt_BR", "sv", "ru"; empty for
// English, the language Qt's texts are written in (and so for every id
// without a column of its own).
std::string_view QtTranslationLocale(int languageId);

// The id of the language button for a desktop locale name ("de_DE.UTF-8",
// "pt-BR", "ru"), by its language alone; nothing when the locale's language
// is none of the program's six.
std::optional<int> LanguageIdOfLocale(std::string_view localeName);

// Text `number` in the language of `languageId`, as UTF-8; empty for a number
// outside 0..123.
std::string Text(const TextTable& table, int number, int languageId);

}  // namespace mbus::meridex
