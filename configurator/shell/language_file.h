// Language files: plain-text forms of one column of MERIDEX's text table.
//
// A language file holds one line per text number, each ended by a carriage
// return (a line feed after it is skipped):
//
//     00000=Kann M-Bus ActiveX nicht finden!<CR><LF>
//     00075=Die serielle Schnittstelle ...\nEs wird ...<CR><LF>
//
// The first six characters of a line (five digits and "=" in the exported
// form) are skipped whatever they say: line k holds text k. In the text the
// two characters backslash and "n" stand for a line feed. The bytes are in the
// code page of the column (Windows-1252 for German).
//
// A file "<program>.language" beside the program replaces the German column
// at start; the settings dialog's maintenance function exports all six
// columns as MERIDEX_00.TXT .. MERIDEX_05.TXT.

#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

inline constexpr std::size_t kLanguageLinePrefix = 6;  // "00042="
// Most text characters a line gives, counted as they land in the cell: a
// backslash-n pair counts as its one line feed, so every text of up to 99
// characters survives an export and a load, line feeds or not.
inline constexpr std::size_t kLanguageLineTextMax = 99;

// Loads a language file's bytes into the German column: line k (k < 124) sets
// German text k. Only lines ended by a carriage return are read; a line of six
// characters or fewer gives an empty text; a backslash not followed by "n" is
// kept. Sets the table's language-file flag. Returns the number of texts set.
int LoadLanguageFile(TextTable& table, std::string_view fileBytes);

// Reads the file at `path` whole and loads it; nullopt (table unchanged) when
// there is no such file, or when it cannot be read or is no file of text (a
// directory, FIFO or device, over 1 MiB): *problem (when given) then names
// the file and says what is wrong, and is empty when there is no file.
std::optional<int> LoadLanguageFileAt(TextTable& table, const std::string& path, std::string* problem = nullptr);

// The bytes of the language file of one column: for each text number i, i in
// five digits, "=", the cell with line feeds written as backslash-n and
// carriage returns left out, then CR LF. Empty for a column out of range.
std::string RenderLanguageFile(const TextTable& table, int column);

// The chosen export path without the extension of its last component:
// "C:/x/MERIDEX.TXT" gives "C:/x/MERIDEX"; "/home/a.b/MERIDEX" stays as it is.
std::string LanguageFileBase(std::string_view chosenPath);

// base + "_0" + column + ".TXT", e.g. "C:/x/MERIDEX_05.TXT" for column 5.
std::string LanguageFileName(std::string_view base, int column);

struct LanguageExport {
    int filesWritten = 0;    // columns 0.. written completely
    std::string failedFile;  // the first file that could not be created or written; empty when all six were
    bool Ok() const { return failedFile.empty(); }
};

// Writes the six language files for the chosen path (its extension removed),
// creating or truncating each; stops at the first file that fails.
LanguageExport ExportLanguageFiles(const TextTable& table, std::string_view chosenPath);

}  // namespace mbus::meridex
