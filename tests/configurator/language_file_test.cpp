// Loading, rendering and exporting language files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "configurator/shell/language_file.h"
#include "configurator/shell/languages.h"

namespace mbus::meridex {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Line `index` (0-based) of rendered file bytes, its CR LF included.
std::string LineOf(const std::string& file, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) start = file.find("\r\n", start) + 2;
    return file.substr(start, file.find("\r\n", start) + 2 - start);
}

TEST(LanguageFileLoad, LinesSetTheGermanTextsInOrder) {
    struct Case {
        std::string name;
        std::string file;
        std::vector<std::string> texts;  // German texts 0.. afterwards; the count is the return value
    };
    const std::vector<Case> cases = {
        {"exported form", "00000=Eins\r\n00001=Zwei\r\n", {"Eins", "Zwei"}},
        {"carriage returns only", "00000=Eins\r00001=Zwei\r", {"Eins", "Zwei"}},
        {"prefix is not read", "00042=Eins\r\nabcdefZwei\r\n", {"Eins", "Zwei"}},
        {"backslash-n is a line feed", "00000=Zeile 1\\nZeile 2\\n\r\n", {"Zeile 1\nZeile 2\n"}},
        {"other backslashes stay", "00000=C:\\temp\\\\n\r\n", {"C:\\temp\\\n"}},
        {"backslash ending the line stays", "00000=Pfad C:\\\r\n00001=x\r\n", {"Pfad C:\\", "x"}},
        {"line feed inside a line is text", "00000=a\nb\r\n", {"a\nb"}},
        {"short line gives an empty text", "abc\r\n00001=Zwei\r\n", {"", "Zwei"}},
        {"bare prefix gives an empty text", "00000=\r\n", {""}},
        {"empty line between carriage returns", "00000=Eins\r\r00002=Drei\r", {"Eins", "", "Drei"}},
        {"only one line feed is skipped", "00000=Eins\r\n\n00001=Zwei\r\n", {"Eins", "=Zwei"}},
        {"last line without carriage return is not read", "00000=Eins\r\n00001=Zwei", {"Eins"}},
        {"line feeds alone end no line", "00000=Eins\n00001=Zwei\n", {}},
        {"empty file", "", {}},
        {"zero byte ends the text", "00000=ab\0cd\r\n00001=x\r\n"s, {"ab", "x"}},
    };
    const TextTable reference;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextTable table;
        EXPECT_EQ(LoadLanguageFile(table, c.file), static_cast<int>(c.texts.size()));
        for (std::size_t row = 0; row < c.texts.size(); ++row)
            EXPECT_EQ(table.Cell(static_cast<int>(row), kGerman), c.texts[row]) << "text " << row;
        const int next = static_cast<int>(c.texts.size());
        EXPECT_EQ(table.Cell(next, kGerman), reference.Cell(next, kGerman)) << "first text not in the file";
        EXPECT_TRUE(table.LanguageFileLoaded());
    }
}

TEST(LanguageFileLoad, GermanBytesAreWindows1252) {
    TextTable table;
    ASSERT_EQ(LoadLanguageFile(table, "00000=Ger\xE4teliste \xB0" "C\r\n"), 1);
    EXPECT_EQ(table.Cell(0, kGerman), "Ger\xE4teliste \xB0" "C");
    EXPECT_EQ(Text(table, 0, 43), "Geräteliste °C");
}

TEST(LanguageFileLoad, LongLinesGiveNinetyNineCharacters) {
    struct Case {
        std::string name;
        std::string text;      // after the prefix
        std::string expected;  // the German cell
    };
    const std::string letters(120, 'a');
    const std::vector<Case> cases = {
        {"99 characters", letters.substr(0, 99), letters.substr(0, 99)},
        {"line of 105 characters", letters.substr(0, 99) + "bbbbbb", letters.substr(0, 99)},
        {"line of 200 characters", std::string(194, 'c'), std::string(99, 'c')},
        {"pairs count as the line feed they give", std::string(98, 'a') + "\\nxyz", std::string(98, 'a') + "\n"},
        {"60 pairs fit", [] { std::string s; for (int i = 0; i < 60; ++i) s += "\\n"; return s; }(),
         std::string(60, '\n')},
        {"120 pairs give 99 line feeds", [] { std::string s; for (int i = 0; i < 120; ++i) s += "\\n"; return s; }(),
         std::string(99, '\n')},
        {"pair cut after the 99th character", std::string(99, 'a') + "\\n", std::string(99, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextTable table;
        ASSERT_EQ(LoadLanguageFile(table, "00007=" + c.text + "\r\n00001=next\r\n"), 2);
        EXPECT_EQ(table.Cell(0, kGerman), c.expected);
        EXPECT_EQ(table.Cell(1, kGerman), "next");
    }
}

TEST(LanguageFileLoad, MoreThan124LinesChangeOnlyTheTable) {
    std::string file;
    for (int i = 0; i < 130; ++i) file += "xxxxx=Text " + std::to_string(i) + "\r\n";
    const TextTable reference;
    TextTable table;
    EXPECT_EQ(LoadLanguageFile(table, file), kTextCount);
    for (int row = 0; row < kTextCount; ++row) {
        EXPECT_EQ(table.Cell(row, kGerman), "Text " + std::to_string(row));
        for (int column = 1; column < kColumnCount; ++column)
            EXPECT_EQ(table.Cell(row, column), reference.Cell(row, column)) << "text " << row << " column " << column;
    }
}

TEST(LanguageFileRender, LinesAreNumberedEscapedAndEndedByCrLf) {
    struct Case {
        Column column;
        int row;
        std::string line;
    };
    const std::vector<Case> cases = {
        {kGerman, 0, "00000=Kann M-Bus ActiveX nicht finden!\r\n"},
        {kGerman, 19, "00019=Deutsche Programmtexte werden ab dem n\xE4" "chsten Start benutzt.\r\n"},
        {kEnglish, 75, "00075=Unable to open serial port!\\nIt may be in use by another program.\r\n"},
        {kEnglish, 72, "00072=Connected to   \r\n"},
        {kEnglish, 118, "00118= [123.4 \xB0" "C]\r\n"},
        {kEnglish, 123, "00123=ALMO OH BT enabled\r\n"},
        {kFrench, 4, "00004=R\xE9ussi !\r\n"},
        {kRussian, 0, "00000=\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xED\xE0\xE9\xF2\xE8 M-Bus ActiveX!\r\n"},
        {kRussian, 72, "00072=\xCF\xEE\xE4\xEA\xEB\xFE\xF7\xE5\xED\xEE \xEA   \r\n"},
        {kRussian, 75,
         "00075=\xCD\xE5 \xF3\xE4\xE0\xB8\xF2\xF1\xFF \xEE\xF2\xEA\xF0\xFB\xF2\xFC "
         "\xEF\xEE\xF1\xEB\xE5\xE4\xEE\xE2\xE0\xF2\xE5\xEB\xFC\xED\xFB\xE9 \xEF\xEE\xF0\xF2!\\n"
         "\xC2\xEE\xE7\xEC\xEE\xE6\xED\xEE, \xEE\xED \xE7\xE0\xED\xFF\xF2 \xE4\xF0\xF3\xE3\xEE\xE9 "
         "\xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xEE\xE9.\r\n"},
    };
    const TextTable table;
    for (const Case& c : cases) EXPECT_EQ(LineOf(RenderLanguageFile(table, c.column), c.row), c.line) << c.line;
}

TEST(LanguageFileRender, FileHoldsOneLinePerTextAndDropsCarriageReturns) {
    TextTable table;
    table.SetCell(5, kSwedish, "a\rb\nc\r");
    const std::string file = RenderLanguageFile(table, kSwedish);
    EXPECT_EQ(LineOf(file, 5), "00005=ab\\nc\r\n");
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = file.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(lines, static_cast<std::size_t>(kTextCount));
    EXPECT_TRUE(file.ends_with("\r\n"));
    EXPECT_EQ(RenderLanguageFile(table, 6), "");
    EXPECT_EQ(RenderLanguageFile(table, -1), "");
}

TEST(LanguageFileRoundTrip, ExportedColumnLoadsBackIntoGerman) {
    const TextTable source;
    for (int column = 0; column < kColumnCount; ++column) {
        SCOPED_TRACE(column);
        TextTable loaded;
        ASSERT_EQ(LoadLanguageFile(loaded, RenderLanguageFile(source, column)), kTextCount);
        for (int row = 0; row < kTextCount; ++row) {
            const std::string_view text = source.Cell(row, column);
            EXPECT_EQ(loaded.Cell(row, kGerman), text.substr(0, kLanguageLineTextMax)) << "text " << row;
        }
    }
}

TEST(LanguageFileRoundTrip, TextsOfNinetyNineCharactersWithLineFeedsSurvive) {
    TextTable table;
    const std::string dense = std::string(49, '\n') + std::string(50, 'x');  // 99 characters, 148 in the file
    table.SetCell(0, kGerman, dense);
    table.SetCell(1, kGerman, std::string(99, '\n'));
    table.SetCell(2, kGerman, "\\ \\\\");
    TextTable loaded;
    LoadLanguageFile(loaded, RenderLanguageFile(table, kGerman));
    EXPECT_EQ(loaded.Cell(0, kGerman), dense);
    EXPECT_EQ(loaded.Cell(1, kGerman), std::string(99, '\n'));
    EXPECT_EQ(loaded.Cell(2, kGerman), "\\ \\\\");
}

TEST(LanguageFileNames, ExtensionOfTheNameIsReplacedByTheColumn) {
    struct Case {
        std::string chosen;
        std::string base;
    };
    const std::vector<Case> cases = {
        {"C:/x/MERIDEX.TXT", "C:/x/MERIDEX"},
        {"MERIDEX.TXT", "MERIDEX"},
        {"/home/u/texts.old.txt", "/home/u/texts.old"},
        {"/home/u.v/MERIDEX", "/home/u.v/MERIDEX"},
        {"/home/u/.TXT", "/home/u/.TXT"},
        {"MERIDEX", "MERIDEX"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(LanguageFileBase(c.chosen), c.base) << c.chosen;
    EXPECT_EQ(LanguageFileName("C:/x/MERIDEX", 0), "C:/x/MERIDEX_00.TXT");
    EXPECT_EQ(LanguageFileName("C:/x/MERIDEX", 5), "C:/x/MERIDEX_05.TXT");
}

class LanguageFileExport : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("meridex-language-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

TEST_F(LanguageFileExport, WritesSixFilesNamedAfterTheChosenFile) {
    const TextTable table;
    fs::path stale = dir_ / "MERIDEX_03.TXT";
    std::ofstream(stale) << std::string(50000, 'z');
    const LanguageExport result = ExportLanguageFiles(table, (dir_ / "MERIDEX.TXT").string());
    EXPECT_TRUE(result.Ok()) << result.failedFile;
    EXPECT_EQ(result.filesWritten, kColumnCount);
    for (int column = 0; column < kColumnCount; ++column)
        EXPECT_EQ(Read(dir_ / ("MERIDEX_0" + std::to_string(column) + ".TXT")), RenderLanguageFile(table, column))
            << column;
    EXPECT_FALSE(fs::exists(dir_ / "MERIDEX.TXT"));
}

TEST_F(LanguageFileExport, StopsAtTheFirstFileThatCannotBeCreated) {
    fs::create_directory(dir_ / "MERIDEX_02.TXT");  // a folder of that name: the file cannot be made
    const LanguageExport result = ExportLanguageFiles(TextTable(), (dir_ / "MERIDEX.TXT").string());
    EXPECT_FALSE(result.Ok());
    EXPECT_EQ(result.filesWritten, 2);
    EXPECT_EQ(result.failedFile, (dir_ / "MERIDEX_02.TXT").string());
    EXPECT_TRUE(fs::exists(dir_ / "MERIDEX_01.TXT"));
    EXPECT_FALSE(fs::exists(dir_ / "MERIDEX_03.TXT"));

    const LanguageExport nowhere = ExportLanguageFiles(TextTable(), (dir_ / "missing" / "MERIDEX.TXT").string());
    EXPECT_EQ(nowhere.filesWritten, 0);
    EXPECT_EQ(nowhere.failedFile, (dir_ / "missing" / "MERIDEX_00.TXT").string());
}

TEST_F(LanguageFileExport, ExportedGermanFileLoadsAtStart) {
    TextTable edited;
    edited.SetCell(3, kGerman, "Angehalten!");
    ASSERT_TRUE(ExportLanguageFiles(edited, (dir_ / "T.TXT").string()).Ok());

    TextTable table;
    EXPECT_EQ(LoadLanguageFileAt(table, (dir_ / "T_00.TXT").string()), kTextCount);
    EXPECT_TRUE(table.LanguageFileLoaded());
    EXPECT_EQ(Text(table, 3, 41), "Angehalten!");
    EXPECT_EQ(Text(table, 3, 1), "Break!");

    TextTable untouched;
    EXPECT_FALSE(LoadLanguageFileAt(untouched, (dir_ / "absent.language").string()).has_value());
    EXPECT_FALSE(untouched.LanguageFileLoaded());
    EXPECT_EQ(untouched.Cell(3, kGerman), "Abbruch!");
}

}  // namespace
}  // namespace mbus::meridex
