// MERIDEX's text table and the mapping of language ids.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "configurator/shell/languages.h"
#include "configurator/shell/text_table.h"

namespace mbus::meridex {
namespace {

const char* const kColumnNames[kColumnCount] = {"German", "English", "French", "Portuguese", "Swedish", "Russian"};

std::string Where(int row, int column) { return "text " + std::to_string(row) + ", " + kColumnNames[column]; }

bool IsTranslated(int column) { return column != kEnglish; }

TEST(TextTable, EveryCellIsFilledFitsAndConvertsWithoutLoss) {
    const TextTable table;
    for (int row = 0; row < kTextCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            SCOPED_TRACE(Where(row, column));
            const std::string_view source = TextTable::SourceText(row, column);
            bool lossless = false;
            const std::string bytes = text::FromUtf8(source, CodePageOfColumn(column), &lossless);
            EXPECT_FALSE(source.empty());
            EXPECT_TRUE(lossless) << source;
            EXPECT_LE(bytes.size(), kMaxTextBytes) << source;
            EXPECT_EQ(table.Cell(row, column), bytes);
            EXPECT_EQ(table.Utf8(row, column), source);
        }
    }
}

TEST(TextTable, CodePagesOfTheColumns) {
    for (int column = 0; column < kColumnCount; ++column)
        EXPECT_EQ(CodePageOfColumn(column),
                  column == kRussian ? text::CodePage::Windows1251 : text::CodePage::Windows1252)
            << kColumnNames[column];
    const TextTable table;
    EXPECT_EQ(table.Cell(0, kRussian), "\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xED\xE0\xE9\xF2\xE8 M-Bus ActiveX!");
    EXPECT_EQ(table.Cell(81, kGerman), "Ger\xE4teliste (*.MDX)|*.MDX|Alle Dateien (*.*)|*.*||");
    EXPECT_EQ(table.Cell(108, kEnglish), "\xB0" "C");
}

TEST(TextTable, EnglishColumnHoldsTheProgramsTexts) {
    const std::vector<std::pair<int, std::string>> cases = {
        {0, "Unable to find M-Bus ActiveX!"},
        {3, "Break!"},
        {8, "All Media (FF)"},
        {19, "English language will be used after the next start."},
        {20, "Language Files (*.TXT)|*.TXT|All Files (*.*)|*.*||"},
        {28, "MERIDEX Pulse <!!> Input P1 / Z2"},
        {36, "Pho&nenumber"},
        {45, "P&1 / Z2:    Write All"},
        {48, "P&2 / Z1:    Write All"},
        {72, "Connected to   "},
        {75, "Unable to open serial port!\nIt may be in use by another program."},
        {107, "mA         (4..20 mA)"},
        {114, "Please enter the A/D converter raw values for X1 and X2 and the resepctively measured values for Y1 "
              "and Y2."},
        {117, "At least one parameter is too large or too small.\nParameters will not be used."},
        {118, " [123.4 °C]"},
        {122, "Settings of Bluetooth optical transceiver (ALMO OH BT)"},
        {123, "ALMO OH BT enabled"},
    };
    const TextTable table;
    for (const auto& [row, expected] : cases) EXPECT_EQ(table.Utf8(row, kEnglish), expected) << "text " << row;
}

TEST(TextTable, GivenTextsOfTheOtherColumnsAreKept) {
    struct Case {
        int row;
        Column column;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {0, kGerman, "Kann M-Bus ActiveX nicht finden!"},
        {19, kGerman, "Deutsche Programmtexte werden ab dem nächsten Start benutzt."},
        {75, kGerman, "Die serielle Schnittstelle konnte nicht geöffnet werden!"},
        {81, kGerman, "Geräteliste (*.MDX)|*.MDX|Alle Dateien (*.*)|*.*||"},
        {55, kGerman, "Wählen Sie eine Sprache aus:"},
        {55, kEnglish, "Select a language:"},
        {55, kFrench, "Choisir une langue :"},
        {55, kPortuguese, "Selecione uma linguagem:"},
        {55, kSwedish, "Välj ett språk:"},
        {55, kRussian, "Выберите язык:"},
    };
    const TextTable table;
    for (const Case& c : cases) EXPECT_EQ(table.Utf8(c.row, c.column), c.expected) << Where(c.row, c.column);
}

// Cells that rightly read as in English: names, units, numbers, and words
// that the language spells the English way.
const std::set<std::pair<int, int>>& SameAsEnglish() {
    static const std::set<std::pair<int, int>> cells = [] {
        std::set<std::pair<int, int>> s;
        for (int row : {25, 61, 107, 108, 112, 120, 121})
            for (int column = 0; column < kColumnCount; ++column)
                if (IsTranslated(column)) s.insert({row, column});
        for (auto cell : std::initializer_list<std::pair<int, int>>{
                 {11, kFrench}, {12, kFrench}, {24, kFrench}, {104, kFrench},       // Volume, Description, Min / Max
                 {11, kPortuguese}, {12, kPortuguese},                              // Volume
                 {101, kGerman}, {102, kGerman}, {104, kGerman},                    // Min:, Max:
                 {101, kSwedish}, {102, kSwedish}, {104, kSwedish}})
            s.insert(cell);
        return s;
    }();
    return cells;
}

TEST(TextTable, TranslationsAreNotCopiesOfEnglish) {
    const TextTable table;
    for (int row = 0; row < kTextCount; ++row) {
        for (int column = 0; column < kColumnCount; ++column) {
            if (!IsTranslated(column)) continue;
            const bool same = table.Utf8(row, column) == table.Utf8(row, kEnglish);
            EXPECT_EQ(same, SameAsEnglish().count({row, column}) == 1) << Where(row, column);
        }
    }
}

TEST(TextTable, TextNineteenNamesTheLanguageOfItsColumn) {
    const std::vector<std::pair<Column, std::string>> cases = {
        {kGerman, "Deutsche Programmtexte werden ab dem nächsten Start benutzt."},
        {kEnglish, "English language will be used after the next start."},
        {kFrench, "Le français sera utilisé au prochain démarrage."},
        {kPortuguese, "O português será usado a partir da próxima inicialização."},
        {kSwedish, "Svenska används från och med nästa start."},
        {kRussian, "Русский язык будет использоваться после следующего запуска."},
    };
    const TextTable table;
    for (const auto& [column, expected] : cases) EXPECT_EQ(table.Utf8(19, column), expected) << kColumnNames[column];
}

TEST(TextTable, FixedPartsSurviveTranslation) {
    const TextTable table;
    for (int column = 0; column < kColumnCount; ++column) {
        SCOPED_TRACE(kColumnNames[column]);
        for (int row = 0; row < kTextCount; ++row) {
            const std::string english = table.Utf8(row, kEnglish);
            const std::string text = table.Utf8(row, column);
            EXPECT_EQ(text.find("<!!>") != std::string::npos, english.find("<!!>") != std::string::npos)
                << Where(row, column);
            EXPECT_EQ(text.find("MERIDEX") != std::string::npos, english.find("MERIDEX") != std::string::npos)
                << Where(row, column);
        }
        EXPECT_NE(table.Utf8(8, column).find("(FF)"), std::string::npos);
        EXPECT_NE(table.Utf8(45, column).find(":    "), std::string::npos);
        EXPECT_NE(table.Utf8(48, column).find(":    "), std::string::npos);
        EXPECT_TRUE(table.Utf8(72, column).ends_with("   "));
        EXPECT_EQ(table.Utf8(25, column), "MERIDEX");
        EXPECT_EQ(table.Utf8(107, column), "mA         (4..20 mA)");
        EXPECT_EQ(table.Utf8(120, column), "VND");
        EXPECT_EQ(table.Utf8(121, column), "KTR");
        EXPECT_EQ(table.Utf8(118, column), column == kEnglish ? " [123.4 °C]" : " [123,4 °C]");
    }
}

// The "|"-separated fields of a filter: descriptions (even) and patterns (odd).
std::vector<std::string> Fields(const std::string& filter) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t bar; (bar = filter.find('|', start)) != std::string::npos; start = bar + 1)
        fields.push_back(filter.substr(start, bar - start));
    fields.push_back(filter.substr(start));
    return fields;
}

TEST(TextTable, FileFiltersKeepTheirPatterns) {
    const TextTable table;
    for (int row : {20, 81, 85}) {
        const std::vector<std::string> english = Fields(table.Utf8(row, kEnglish));
        for (int column = 0; column < kColumnCount; ++column) {
            SCOPED_TRACE(Where(row, column));
            const std::string text = table.Utf8(row, column);
            const std::vector<std::string> fields = Fields(text);
            EXPECT_TRUE(text.ends_with("||"));
            ASSERT_EQ(fields.size(), english.size());
            for (std::size_t i = 0; i + 2 < fields.size(); i += 2) {
                EXPECT_EQ(fields[i + 1], english[i + 1]);
                // The description names the pattern it offers: "Alle Dateien (*.*)".
                EXPECT_TRUE(fields[i].ends_with("(" + english[i + 1] + ")")) << fields[i];
            }
        }
    }
}

// The accelerator of a caption, lower case; 0 when it has none.
unsigned char Accelerator(std::string_view cell, int column) {
    const std::size_t amp = cell.find('&');
    if (amp == std::string_view::npos || amp + 1 >= cell.size()) return 0;
    auto c = static_cast<unsigned char>(cell[amp + 1]);
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (column == kRussian) {
        if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 32);  // А..Я
        if (c == 0xA8) return 0xB8;                                            // Ё
    } else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<unsigned char>(c + 32);  // À..Þ
    }
    return c;
}

TEST(TextTable, CaptionsCarryOneAcceleratorOnALetterOrDigit) {
    const TextTable table;
    for (int row = 0; row < kTextCount; ++row) {
        const bool caption = table.Cell(row, kEnglish).find('&') != std::string_view::npos;
        for (int column = 0; column < kColumnCount; ++column) {
            SCOPED_TRACE(Where(row, column));
            const std::string_view cell = table.Cell(row, column);
            const std::size_t amp = cell.find('&');
            EXPECT_EQ(amp != std::string_view::npos, caption);
            if (amp == std::string_view::npos) continue;
            EXPECT_EQ(cell.find('&', amp + 1), std::string_view::npos);
            const unsigned char key = Accelerator(cell, column);
            EXPECT_TRUE((key >= 'a' && key <= 'z') || (key >= '0' && key <= '9') || key >= 0xC0) << cell;
        }
    }
}

TEST(TextTable, TranslatedDialogsHaveDistinctAccelerators) {
    const std::map<std::string, std::vector<int>> dialogs = {
        {"main dialog", {31, 32, 33, 34, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 76, 77, 78, 79}},
        {"phone list", {61, 62, 63, 64, 65}},
        {"parameter calculation", {61, 62, 115, 116}},
        {"menu", {21, 22}},
    };
    const TextTable table;
    for (int column = 0; column < kColumnCount; ++column) {
        if (!IsTranslated(column)) continue;  // the English captions are given as they are
        for (const auto& [dialog, rows] : dialogs) {
            std::map<unsigned char, int> seen;
            for (int row : rows) {
                const auto [it, fresh] = seen.emplace(Accelerator(table.Cell(row, column), column), row);
                EXPECT_TRUE(fresh) << kColumnNames[column] << " " << dialog << ": texts " << it->second << " and "
                                   << row << " share an accelerator";
            }
        }
    }
}

TEST(TextTable, SetCellCutsToTheCellAndIgnoresOutOfRange) {
    TextTable table;
    table.SetCell(3, kFrench, std::string(200, 'x'));
    EXPECT_EQ(table.Cell(3, kFrench), std::string(kMaxTextBytes, 'x'));
    table.SetCell(3, kFrench, std::string_view("ab\0cd", 5));
    EXPECT_EQ(table.Cell(3, kFrench), "ab");
    table.SetCell(3, kFrench, "");
    EXPECT_EQ(table.Cell(3, kFrench), "");
    EXPECT_EQ(table.Cell(4, kFrench), "R\xE9ussi !");  // the neighbouring cell is untouched
    table.SetCell(3, kRussian, "\xC4\xE0");
    EXPECT_EQ(table.Utf8(3, kRussian), "Да");

    const TextTable reference;
    for (auto [row, column] : std::initializer_list<std::pair<int, int>>{{-1, 0}, {124, 0}, {0, -1}, {0, 6}}) {
        table.SetCell(row, column, "x");
        EXPECT_EQ(table.Cell(row, column), "");
        EXPECT_EQ(table.Utf8(row, column), "");
    }
    EXPECT_EQ(table.Cell(0, 0), reference.Cell(0, 0));
    EXPECT_EQ(TextTable::SourceText(124, 0), "");
}

TEST(TextTable, LanguageFileFlagStartsCleared) {
    TextTable table;
    EXPECT_FALSE(table.LanguageFileLoaded());
    table.SetLanguageFileLoaded(true);
    EXPECT_TRUE(table.LanguageFileLoaded());
}

TEST(Languages, IdsMapToColumnControlLanguageHelpSeparatorAndQtLocale) {
    struct Case {
        int id;
        Column column;
        int controlLanguage;
        std::string helpFolder;
        char decimalSeparator;
        std::string text3;  // "Break!" in the id's language
        std::string qtLocale;  // of Qt's own texts; none for English
    };
    const std::vector<Case> cases = {
        {49, kGerman, 1, "Deutsch", ',', "Abbruch!", "de"},
        {43, kGerman, 1, "Deutsch", ',', "Abbruch!", "de"},
        {41, kGerman, 1, "Deutsch", ',', "Abbruch!", "de"},
        {33, kFrench, 2, "English", ',', "Interrompu !", "fr"},
        {55, kPortuguese, 3, "English", ',', "Interrompido!", "pt_BR"},
        {351, kPortuguese, 3, "English", ',', "Interrompido!", "pt_BR"},
        {46, kSwedish, 0, "English", ',', "Avbrutet!", "sv"},
        {7, kRussian, 4, "English", ',', "Прервано!", "ru"},
        {1, kEnglish, 0, "English", '.', "Break!", ""},
        {44, kEnglish, 0, "English", '.', "Break!", ""},
        {0, kEnglish, 0, "English", '.', "Break!", ""},
        {-49, kEnglish, 0, "English", '.', "Break!", ""},
        {4900, kEnglish, 0, "English", '.', "Break!", ""},
    };
    const TextTable table;
    for (const Case& c : cases) {
        SCOPED_TRACE("language id " + std::to_string(c.id));
        EXPECT_EQ(ColumnOfLanguage(c.id), c.column);
        EXPECT_EQ(ControlLanguageOf(c.id), c.controlLanguage);
        EXPECT_EQ(HelpFolderOf(c.id), c.helpFolder);
        EXPECT_EQ(DecimalSeparator(c.id), c.decimalSeparator);
        EXPECT_EQ(Text(table, 3, c.id), c.text3);
        EXPECT_EQ(QtTranslationLocale(c.id), c.qtLocale);
    }
}

TEST(Languages, DesktopLocaleGivesTheButtonOfItsLanguage) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"de_DE", 49},       {"de_AT.UTF-8", 49}, {"de-CH", 49},       {"DE", 49},
        {"en_US", 1},        {"en_GB@euro", 1},   {"fr_CA", 33},       {"pt_BR", 55},
        {"pt_PT", 55},       {"sv_SE.UTF-8", 46}, {"ru_RU", 7},        {"ru", 7},
        {"it_IT", std::nullopt}, {"C", std::nullopt}, {"", std::nullopt}, {"_DE", std::nullopt},
        {"deu_DE", std::nullopt},
    };
    for (const auto& [locale, id] : cases) EXPECT_EQ(LanguageIdOfLocale(locale), id) << '"' << locale << '"';
}

TEST(Languages, ButtonsSetTheIdsOfTheFirstStartDialog) {
    const std::vector<std::pair<Column, int>> expected = {{kEnglish, 1},     {kGerman, 49}, {kFrench, 33},
                                                          {kPortuguese, 55}, {kSwedish, 46}, {kRussian, 7}};
    ASSERT_EQ(kLanguageButtons.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(kLanguageButtons[i].column, expected[i].first) << "button " << i;
        EXPECT_EQ(kLanguageButtons[i].languageId, expected[i].second) << "button " << i;
        EXPECT_EQ(ColumnOfLanguage(kLanguageButtons[i].languageId), kLanguageButtons[i].column);
        EXPECT_EQ(LanguageIdOfColumn(kLanguageButtons[i].column), kLanguageButtons[i].languageId);
    }
    EXPECT_EQ(LanguageIdOfColumn(6), 1);
    EXPECT_EQ(ColumnOfLanguage(kDefaultLanguageId), kGerman);
}

TEST(Languages, TextOutsideTheTableIsEmpty) {
    const TextTable table;
    EXPECT_EQ(Text(table, -1, 49), "");
    EXPECT_EQ(Text(table, kTextCount, 49), "");
    EXPECT_EQ(Text(table, 0, 49), "Kann M-Bus ActiveX nicht finden!");
    EXPECT_EQ(Text(table, kTextCount - 1, 7), "ALMO OH BT включён");
}

}  // namespace
}  // namespace mbus::meridex
