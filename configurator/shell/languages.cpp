#include "configurator/shell/languages.h"

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

// What follows from the column, in column order.
struct ColumnTraits {
    int controlLanguage;
    std::string_view helpFolder;
    char decimalSeparator;
};
constexpr ColumnTraits kTraits[kColumnCount] = {
    {1, "Deutsch", ','},  // German
    {0, "English", '.'},  // English
    {2, "English", ','},  // French
    {3, "English", ','},  // Portuguese
    {0, "English", ','},  // Swedish
    {4, "English", ','},  // Russian
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

std::string Text(const TextTable& table, int number, int languageId) {
    return table.Utf8(number, ColumnOfLanguage(languageId));
}

}  // namespace mbus::meridex
