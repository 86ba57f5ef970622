// The exported multilingual text tables of the decoder.
//
// A table is an array of rows; a row holds one fixed-width cell per
// language (languages 0..9); a cell is a zero-terminated single-byte text in
// the code page of its language. The tables are filled at load time from
// the UTF-8 columns in texts/; language 9 is the host-writable user column,
// which starts as a copy of English and is kept in UTF-8. A user cell holds
// up to width - 1 characters, as the other cells do: the library keeps each
// user text whole, and its exported cell holds as many whole characters of
// it as fit the cell's bytes.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "control/decode/export.h"
#include "control/decode/texts/columns.h"
#include "platform/text/codepage.h"

namespace mbus {
inline constexpr int kLanguages = 10;
inline constexpr int kUserLanguage = 9;
}  // namespace mbus

extern MBUS_EXPORT char MBL7_MediumFix[mbus::texts::kMediumFixRows][mbus::kLanguages][mbus::texts::kMediumFixWidth];
extern MBUS_EXPORT char MBL7_MediumVar[mbus::texts::kMediumVarRows][mbus::kLanguages][mbus::texts::kMediumVarWidth];
extern MBUS_EXPORT char MBL7_FixStatus[mbus::texts::kFixStatusRows][mbus::kLanguages][mbus::texts::kFixStatusWidth];
extern MBUS_EXPORT char MBL7_FixUnits[mbus::texts::kFixUnitsRows][mbus::kLanguages][mbus::texts::kFixUnitsWidth];
extern MBUS_EXPORT char MBL7_VIFVar[mbus::texts::kVIFVarRows][mbus::kLanguages][mbus::texts::kVIFVarWidth];
extern MBUS_EXPORT char MBL7_VIFVarFB[mbus::texts::kVIFVarFBRows][mbus::kLanguages][mbus::texts::kVIFVarFBWidth];
extern MBUS_EXPORT char MBL7_VIFVarFD[mbus::texts::kVIFVarFDRows][mbus::kLanguages][mbus::texts::kVIFVarFDWidth];
extern MBUS_EXPORT char MBL7_VIFEVar[mbus::texts::kVIFEVarRows][mbus::kLanguages][mbus::texts::kVIFEVarWidth];
extern MBUS_EXPORT char MBL7_VIFEVarAction[mbus::texts::kVIFEActionRows][mbus::kLanguages][mbus::texts::kVIFEActionWidth];

// Upper-case hexadecimal digits, "0123456789ABCDEF".
extern MBUS_EXPORT const char HTATab[17];

namespace mbus {

using text::CodePageOfLanguage;

// Identifies one table for the generic accessors below.
enum class TextTable { MediumFix, MediumVar, FixStatus, FixUnits, VIFVar, VIFVarFB, VIFVarFD, VIFEVar, VIFEAction };

struct TableShape {
    const char* name;  // the exported name, e.g. "MBL7_VIFVar"
    std::size_t rows;
    std::size_t width;
};
TableShape ShapeOf(TextTable table);

// The cell of (row, language) as stored (code-page bytes; the user
// column's whole UTF-8 text); empty when the row or language is out of range.
std::string_view Cell(TextTable table, int row, int language);

// The cell as UTF-8, empty when out of range.
std::string CellUtf8(TextTable table, int row, int language);

// Writes a UTF-8 text into the user column (language 9) of a row, cut to the
// cell width less one in characters; in the two medium tables blanks become
// "_". Returns false (and changes nothing) for any other language or a row
// out of range.
bool WriteUserCell(TextTable table, int row, int language, std::string_view utf8);

// A number that changes whenever a table cell changes (a write to the user
// column or a reset), for caches of texts built from the tables.
uint32_t TextTablesGeneration();

// Fills every table from the source columns (done once at load; tests call
// it again to undo writes to the user column).
void ResetTextTables();

}  // namespace mbus
