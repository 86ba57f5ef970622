// The multilingual tables: shape, code pages, translations and the user column.

#include <set>

#include "control/decode/text_tables.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

constexpr TextTable kTables[] = {TextTable::MediumFix, TextTable::MediumVar, TextTable::FixStatus,
                                 TextTable::FixUnits,  TextTable::VIFVar,    TextTable::VIFVarFB,
                                 TextTable::VIFVarFD,  TextTable::VIFEVar,   TextTable::VIFEAction};

const texts::LanguageColumn* const kSources[9] = {&texts::kEnglish, &texts::kGerman,    &texts::kFrench,
                                                  &texts::kPortuguese, &texts::kRussian, &texts::kItalian,
                                                  &texts::kSlovenian, &texts::kSwedish, &texts::kCroatian};

// Every source cell of a table in one column.
std::vector<const char*> SourceCells(const texts::LanguageColumn& c, TextTable t) {
    auto all = [](const auto& arr) { return std::vector<const char*>(arr.begin(), arr.end()); };
    switch (t) {
        case TextTable::MediumFix: return all(c.mediumFix);
        case TextTable::MediumVar: return all(c.mediumVar);
        case TextTable::FixStatus: return all(c.fixStatus);
        case TextTable::FixUnits: return all(c.fixUnits);
        case TextTable::VIFVar: return all(c.vifVar);
        case TextTable::VIFVarFB: return all(c.vifVarFB);
        case TextTable::VIFVarFD: return all(c.vifVarFD);
        case TextTable::VIFEVar: return all(c.vifeVar);
        case TextTable::VIFEAction: return all(c.vifeAction);
    }
    return {};
}

using TextTablesTest = DecoderTest;

TEST_F(TextTablesTest, EveryCellFitsItsWidthAndCodePageWithoutLoss) {
    for (int lang = 0; lang < 9; ++lang) {
        for (TextTable t : kTables) {
            const auto cells = SourceCells(*kSources[lang], t);
            const TableShape shape = ShapeOf(t);
            ASSERT_EQ(cells.size(), shape.rows);
            for (std::size_t row = 0; row < cells.size(); ++row) {
                SCOPED_TRACE(std::string(kSources[lang]->name) + " " + shape.name + " row " + std::to_string(row));
                ASSERT_NE(cells[row], nullptr);
                ASSERT_STRNE(cells[row], "");
                bool lossless = false;
                const std::string bytes = text::FromUtf8(cells[row], CodePageOfLanguage(lang), &lossless);
                EXPECT_TRUE(lossless);
                EXPECT_LT(bytes.size(), shape.width);
                // What leaves the table is the original Unicode text.
                EXPECT_EQ(CellUtf8(t, static_cast<int>(row), lang), cells[row]);
            }
        }
    }
}

TEST_F(TextTablesTest, NoCellHoldsTheFieldSeparatorOrControlCharacters) {
    // Hosts cut the cooked texts at "|"; a text holding one would shift every field behind it.
    for (int lang = 0; lang < 10; ++lang)
        for (TextTable t : kTables)
            for (std::size_t row = 0; row < ShapeOf(t).rows; ++row)
                for (char c : Cell(t, static_cast<int>(row), lang)) {
                    EXPECT_NE(c, '|') << ShapeOf(t).name << " " << row << " " << lang;
                    EXPECT_FALSE(c >= 0 && c < 0x20) << ShapeOf(t).name << " " << row << " " << lang;
                }
}

TEST_F(TextTablesTest, MediumNamesHaveNoBlanks) {
    for (int lang = 0; lang < 10; ++lang)
        for (TextTable t : {TextTable::MediumFix, TextTable::MediumVar})
            for (std::size_t row = 0; row < ShapeOf(t).rows; ++row)
                EXPECT_EQ(Cell(t, static_cast<int>(row), lang).find(' '), std::string_view::npos);
}

TEST_F(TextTablesTest, TranslatedColumnsAreRealTranslations) {
    for (int lang = 1; lang < 9; ++lang) {
        int total = 0, same = 0;
        for (TextTable t : {TextTable::VIFVar, TextTable::VIFVarFD, TextTable::VIFEVar, TextTable::MediumVar}) {
            for (std::size_t row = 0; row < ShapeOf(t).rows; ++row) {
                ++total;
                same += CellUtf8(t, static_cast<int>(row), lang) == CellUtf8(t, static_cast<int>(row), 0);
            }
        }
        EXPECT_LT(same * 5, total) << kSources[lang]->name << ": " << same << " of " << total << " cells as English";
    }
}

TEST_F(TextTablesTest, TranslationsKeepTheUnitSymbols) {
    // Units in brackets stay the international symbols, so unit look-ups work in every language.
    for (int lang = 1; lang < 9; ++lang) {
        for (int row : {0x06, 0x13, 0x16, 0x2E, 0x3E, 0x5B, 0x63}) {
            const std::string en = CellUtf8(TextTable::VIFVar, row, 0);
            const std::string unit = en.substr(en.find('['));
            EXPECT_NE(CellUtf8(TextTable::VIFVar, row, lang).find(unit), std::string::npos)
                << kSources[lang]->name << " row " << row;
        }
    }
}

TEST_F(TextTablesTest, UserColumnStartsAsEnglishAndIsTheOnlyWritableOne) {
    for (TextTable t : kTables)
        for (std::size_t row = 0; row < ShapeOf(t).rows; ++row)
            EXPECT_EQ(CellUtf8(t, static_cast<int>(row), 9), CellUtf8(t, static_cast<int>(row), 0));

    EXPECT_TRUE(WriteUserCell(TextTable::MediumVar, 7, 9, "Drinking water here"));
    EXPECT_EQ(Cell(TextTable::MediumVar, 7, 9), "Drinking_water_here");
    EXPECT_FALSE(WriteUserCell(TextTable::MediumVar, 7, 3, "Agua"));
    EXPECT_EQ(CellUtf8(TextTable::MediumVar, 7, 3), texts::kPortuguese.mediumVar[7]);
    EXPECT_FALSE(WriteUserCell(TextTable::MediumVar, 32, 9, "x"));
    EXPECT_FALSE(WriteUserCell(TextTable::VIFEAction, -1, 9, "x"));

    // Non-medium tables keep blanks; Unicode is kept and cut after the
    // cell's 19 characters. The exported cell holds the whole characters
    // that fit its 19 bytes.
    EXPECT_TRUE(WriteUserCell(TextTable::FixStatus, 2, 9, "Низкое питание батареи"));
    EXPECT_EQ(Cell(TextTable::FixStatus, 2, 9), "Низкое питание бата");
    EXPECT_STREQ(MBL7_FixStatus[2][9], "Низкое пит");
}

TEST_F(TextTablesTest, OutOfRangeCellsAreEmpty) {
    EXPECT_EQ(Cell(TextTable::VIFVar, 128, 0), "");
    EXPECT_EQ(Cell(TextTable::VIFVar, 0, 10), "");
    EXPECT_EQ(Cell(TextTable::VIFVar, -1, 0), "");
}

TEST(HexTable, UpperCaseDigits) { EXPECT_STREQ(HTATab, "0123456789ABCDEF"); }

}  // namespace
}  // namespace mbus::test
