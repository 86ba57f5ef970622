#include "configurator/shell/languages.h"

#include "platform/text/ascii.h"

namespace mbus::meridex {
namespace {

// Ids with a column of their own; every other id reads English.
struct IdColumn {
    int languageId;
    Column column;
};
constexpr IdColumn kIdColumns[] = {
    {49, kGerman}, {43, kGerman}, {41, kGerman}, {33, kFrench}, {55, kPortuguese},
    {351, kPortuguese}, {46, kSwedish}, {7, kRussian}, {1, kEnglish},
};

// What follows from the column, in column order. `localeLanguage` is the
// ISO 639 code a desktop locale names the language by; `qtLocale` the
// locale of Qt's translation of its own texts (none for English, Qt's own
// language).
struct ColumnTraits {
    int controlLanguage;
    std::string_view helpFolder;
    char decimalSeparator;
    std::string_view localeLanguage;
    std::string_view qtLocale;
};
constexpr ColumnTraits kTraits[kColumnCount] = {
    {1, "Deutsch", ',', "de", "de"},     // German
    {0, "English", '.', "en", ""},       // English
    {2, "English", ',', "fr", "fr"},     // French
    {3, "English", ',', "pt", "pt_BR"},  // Portuguese
    {0, "English", ',', "sv", "sv"},     // Swedish
    {4, "English", ',', "ru", "ru"},     // Russian
};

const ColumnTraits& TraitsOf(int languageId) { return kTraits[ColumnOfLanguage(languageId)]; }

}  // namespace

Column ColumnOfLanguage(int languageId) {
    for (const IdColumn& entry : kIdColumns)
        if (entry.languageId == languageId) return entry.column;
    return kEnglish;
}

int LanguageIdOfColumn(int column) {
    for (const LanguageButton& button : kLanguageButtons)
        if (button.column == column) return button.languageId;
    return 1;
}

int ControlLanguageOf(int languageId) { return TraitsOf(languageId).controlLanguage; }

std::string_view HelpFolderOf(int languageId) { return TraitsOf(languageId).helpFolder; }

char DecimalSeparator(int languageId) { return TraitsOf(languageId).decimalSeparator; }

std::string_view QtTranslationLocale(int languageId) { return TraitsOf(languageId).qtLocale; }

std::optional<int> LanguageIdOfLocale(std::string_view localeName) {
    // "de_DE.UTF-8", "de-AT", "de": the language is what precedes the
    // territory, the encoding or the modifier.
    const std::string_view language = localeName.substr(0, localeName.find_first_of("_-.@"));
    for (int column = 0; column < kColumnCount; ++column)
        if (!language.empty() && text::AsciiLowered(language) == kTraits[column].localeLanguage)
            return LanguageIdOfColumn(column);
    return std::nullopt;
}

std::string Text(const TextTable& table, int number, int languageId) {
    return table.Utf8(number, ColumnOfLanguage(languageId));
}

}  // namespace mbus::meridex
