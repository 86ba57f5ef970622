// MERIDEX's text table: every caption, status message, message box text and
// file-dialog filter of the program, one row per text number (0..123) and one
// column per language.
//
// The table keeps the program's historic storage: 124 rows of six cells of
// 110 bytes, each cell a zero-terminated text of at most 109 bytes in its
// column's code page (Windows-1252 for the first five columns, Windows-1251
// for Russian). Language files are read into and written from these bytes, so
// a cell's limits are part of the file formats. The built-in texts are kept as
// UTF-8 in text_rows.inc and converted into the cells when a table is made;
// lookups for display convert back to UTF-8.
//
// Texts may hold line feeds, "&" before the accelerator letter of a caption
// and the marker "<!!>" that the module pages replace by the firmware version.

#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text/codepage.h"

namespace mbus::meridex {

// The language columns, in storage order.
enum Column : int {
    kGerman = 0,
    kEnglish = 1,
    kFrench = 2,
    kPortuguese = 3,
    kSwedish = 4,
    kRussian = 5,
};

inline constexpr int kColumnCount = 6;
inline constexpr int kTextCount = 124;
inline constexpr std::size_t kCellBytes = 110;                 // terminating zero included
inline constexpr std::size_t kMaxTextBytes = kCellBytes - 1;  // 109

// Windows-1251 for the Russian column, Windows-1252 for the others (and for a
// column out of range).
text::CodePage CodePageOfColumn(int column);

class TextTable {
public:
    // The built-in table.
    TextTable();

    // The cell as stored (code-page bytes, without the terminating zero);
    // empty when the row or column is out of range.
    std::string_view Cell(int row, int column) const;

    // The cell converted to UTF-8 for display; empty when out of range.
    std::string Utf8(int row, int column) const;

    // Replaces a cell with code-page bytes, cut at the first zero byte and at
    // 109 bytes. Out-of-range rows and columns are ignored.
    void SetCell(int row, int column, std::string_view codePageBytes);

    // Whether a language file replaced German texts (the settings dialog then
    // shows the German flag in its alternative form).
    bool LanguageFileLoaded() const { return languageFileLoaded_; }
    void SetLanguageFileLoaded(bool loaded) { languageFileLoaded_ = loaded; }

    // The built-in text of a cell as written in the source (UTF-8), empty when
    // out of range. Tests check these against their code pages.
    static std::string_view SourceText(int row, int column);

private:
    using Cells = std::array<std::array<char, kCellBytes>, kColumnCount>;
    std::array<Cells, kTextCount> rows_{};
    bool languageFileLoaded_ = false;
};

}  // namespace mbus::meridex
