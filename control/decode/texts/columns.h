// Source form of the decoder's multilingual text tables.
//
// Each language is one LanguageColumn of UTF-8 texts, kept in its own file
// (en.cpp, de.cpp, ...). At load time text_tables.cpp converts every column
// into the code page of its language and lays the cells out as the exported
// fixed-width tables (MBL7_VIFVar and friends). A cell holds at most
// width - 1 single-byte characters; the tests check every column against the
// widths below and against its code page.

#pragma once

#include <array>
#include <cstddef>

namespace mbus::texts {

// Rows and cell widths (bytes, terminating zero included) of each table.
inline constexpr std::size_t kMediumFixRows = 16, kMediumFixWidth = 30;
inline constexpr std::size_t kMediumVarRows = 32, kMediumVarWidth = 30;
inline constexpr std::size_t kFixStatusRows = 8, kFixStatusWidth = 20;
inline constexpr std::size_t kFixUnitsRows = 64, kFixUnitsWidth = 20;
inline constexpr std::size_t kVIFVarRows = 128, kVIFVarWidth = 40;
inline constexpr std::size_t kVIFVarFBRows = 128, kVIFVarFBWidth = 55;
inline constexpr std::size_t kVIFVarFDRows = 128, kVIFVarFDWidth = 45;
inline constexpr std::size_t kVIFEVarRows = 128, kVIFEVarWidth = 55;
inline constexpr std::size_t kVIFEActionRows = 32, kVIFEActionWidth = 40;

struct LanguageColumn {
    const char* name;  // the language's own English name, for messages
    std::array<const char*, kMediumFixRows> mediumFix;
    std::array<const char*, kMediumVarRows> mediumVar;
    std::array<const char*, kFixStatusRows> fixStatus;
    std::array<const char*, kFixUnitsRows> fixUnits;
    std::array<const char*, kVIFVarRows> vifVar;
    std::array<const char*, kVIFVarFBRows> vifVarFB;
    std::array<const char*, kVIFVarFDRows> vifVarFD;
    std::array<const char*, kVIFEVarRows> vifeVar;
    std::array<const char*, kVIFEActionRows> vifeAction;
};

// One column per language, in the order of the language numbers 0..8.
extern const LanguageColumn kEnglish;     // 0
extern const LanguageColumn kGerman;      // 1
extern const LanguageColumn kFrench;      // 2
extern const LanguageColumn kPortuguese;  // 3
extern const LanguageColumn kRussian;     // 4
extern const LanguageColumn kItalian;     // 5
extern const LanguageColumn kSlovenian;   // 6
extern const LanguageColumn kSwedish;     // 7
extern const LanguageColumn kCroatian;    // 8

}  // namespace mbus::texts
