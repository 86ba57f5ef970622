#include "control/decode/text_tables.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <vector>

using namespace mbus::texts;

char MBL7_MediumFix[kMediumFixRows][mbus::kLanguages][kMediumFixWidth];
char MBL7_MediumVar[kMediumVarRows][mbus::kLanguages][kMediumVarWidth];
char MBL7_FixStatus[kFixStatusRows][mbus::kLanguages][kFixStatusWidth];
char MBL7_FixUnits[kFixUnitsRows][mbus::kLanguages][kFixUnitsWidth];
char MBL7_VIFVar[kVIFVarRows][mbus::kLanguages][kVIFVarWidth];
char MBL7_VIFVarFB[kVIFVarFBRows][mbus::kLanguages][kVIFVarFBWidth];
char MBL7_VIFVarFD[kVIFVarFDRows][mbus::kLanguages][kVIFVarFDWidth];
char MBL7_VIFEVar[kVIFEVarRows][mbus::kLanguages][kVIFEVarWidth];
char MBL7_VIFEVarAction[kVIFEActionRows][mbus::kLanguages][kVIFEActionWidth];

const char HTATab[17] = "0123456789ABCDEF";

namespace mbus {
namespace {

const LanguageColumn* const kColumns[9] = {&kEnglish, &kGerman,    &kFrench,  &kPortuguese, &kRussian,
                                           &kItalian, &kSlovenian, &kSwedish, &kCroatian};

// Where a table lives: its base address, shape and the source column member.
struct TableInfo {
    char* base;
    TableShape shape;
    const char* (*source)(const LanguageColumn&, std::size_t row);
};

template <auto Member>
const char* From(const LanguageColumn& c, std::size_t row) {
    return (c.*Member)[row];
}

#define MBUS_TABLE(arr, rows, width, member) \
    TableInfo { &arr[0][0][0], TableShape{#arr, rows, width}, &From<&LanguageColumn::member> }

const TableInfo kTables[] = {
    MBUS_TABLE(MBL7_MediumFix, kMediumFixRows, kMediumFixWidth, mediumFix),
    MBUS_TABLE(MBL7_MediumVar, kMediumVarRows, kMediumVarWidth, mediumVar),
    MBUS_TABLE(MBL7_FixStatus, kFixStatusRows, kFixStatusWidth, fixStatus),
    MBUS_TABLE(MBL7_FixUnits, kFixUnitsRows, kFixUnitsWidth, fixUnits),
    MBUS_TABLE(MBL7_VIFVar, kVIFVarRows, kVIFVarWidth, vifVar),
    MBUS_TABLE(MBL7_VIFVarFB, kVIFVarFBRows, kVIFVarFBWidth, vifVarFB),
    MBUS_TABLE(MBL7_VIFVarFD, kVIFVarFDRows, kVIFVarFDWidth, vifVarFD),
    MBUS_TABLE(MBL7_VIFEVar, kVIFEVarRows, kVIFEVarWidth, vifeVar),
    MBUS_TABLE(MBL7_VIFEVarAction, kVIFEActionRows, kVIFEActionWidth, vifeAction),
};
#undef MBUS_TABLE

const TableInfo& Info(TextTable t) { return kTables[static_cast<int>(t)]; }

char* CellPtr(const TableInfo& info, std::size_t row, int language) {
    return info.base + (row * kLanguages + static_cast<std::size_t>(language)) * info.shape.width;
}

// Stores `bytes` in a cell, cut to width - 1 and zero-filled behind.
void Store(char* cell, std::size_t width, std::string_view bytes) {
    const std::size_t n = std::min(bytes.size(), width - 1);
    std::memcpy(cell, bytes.data(), n);
    std::memset(cell + n, 0, width - n);
}

// The user column in full. Its texts are UTF-8 and hold up to width - 1
// characters, as a code-page cell does; in any script beyond ASCII that is
// more bytes than the exported cell has. Each table's user texts live here,
// in slots of room for width - 1 four-byte characters, allocated once so
// that a text handed out stays where it is; the exported cell gets the
// longest whole-character prefix that fits it.
class UserColumn {
public:
    explicit UserColumn(const TableShape& shape)
        : characters_(shape.width - 1), slot_(text::Utf8Capacity(characters_) + 1), bytes_(shape.rows * slot_, '\0') {}
    // Stores `utf8` in a row, cut to the column's characters; returns what was kept.
    std::string_view Store(std::size_t row, std::string_view utf8) {
        const std::string_view kept = text::CutUtf8Characters(utf8, characters_);
        char* slot = &bytes_[row * slot_];
        std::memcpy(slot, kept.data(), kept.size());
        std::memset(slot + kept.size(), 0, slot_ - kept.size());
        return kept;
    }
    std::string_view Text(std::size_t row) const {
        const char* slot = &bytes_[row * slot_];
        return std::string_view(slot, strnlen(slot, slot_));
    }

private:
    std::size_t characters_;
    std::size_t slot_;
    std::vector<char> bytes_;
};

UserColumn& UserColumnOf(TextTable t) {
    static std::vector<UserColumn> columns = [] {
        std::vector<UserColumn> all;
        for (const TableInfo& info : kTables) all.emplace_back(info.shape);
        return all;
    }();
    return columns[static_cast<std::size_t>(t)];
}

// Writes a user text: in full into the user column, and as much as fits
// into the exported cell.
void StoreUser(TextTable t, std::size_t row, std::string_view utf8) {
    const TableInfo& info = Info(t);
    const std::string_view kept = UserColumnOf(t).Store(row, utf8);
    Store(CellPtr(info, row, kUserLanguage), info.shape.width, text::CutUtf8(kept, info.shape.width - 1));
}

std::atomic<uint32_t> generation{0};

bool IsMediumTable(TextTable t) { return t == TextTable::MediumFix || t == TextTable::MediumVar; }

struct LoadTimeFill {
    LoadTimeFill() { ResetTextTables(); }
} const kLoadTimeFill;

}  // namespace

TableShape ShapeOf(TextTable table) { return Info(table).shape; }

uint32_t TextTablesGeneration() { return generation.load(std::memory_order_acquire); }

void ResetTextTables() {
    for (const TableInfo& info : kTables) {
        for (std::size_t row = 0; row < info.shape.rows; ++row) {
            for (int lang = 0; lang < 9; ++lang) {
                const char* src = info.source(*kColumns[lang], row);
                Store(CellPtr(info, row, lang), info.shape.width,
                      text::FromUtf8(src ? src : "", CodePageOfLanguage(lang)));
            }
            // The user column starts as English, held in UTF-8.
            const char* en = info.source(kEnglish, row);
            StoreUser(static_cast<TextTable>(&info - kTables), row, en ? en : "");
        }
    }
    generation.fetch_add(1, std::memory_order_acq_rel);
}

std::string_view Cell(TextTable table, int row, int language) {
    const TableInfo& info = Info(table);
    if (row < 0 || static_cast<std::size_t>(row) >= info.shape.rows || language < 0 || language >= kLanguages)
        return {};
    if (language == kUserLanguage) return UserColumnOf(table).Text(static_cast<std::size_t>(row));
    const char* cell = CellPtr(info, static_cast<std::size_t>(row), language);
    return std::string_view(cell, strnlen(cell, info.shape.width));
}

std::string CellUtf8(TextTable table, int row, int language) {
    return text::ToUtf8(Cell(table, row, language), CodePageOfLanguage(language));
}

bool WriteUserCell(TextTable table, int row, int language, std::string_view utf8) {
    const TableInfo& info = Info(table);
    if (language != kUserLanguage || row < 0 || static_cast<std::size_t>(row) >= info.shape.rows) return false;
    std::string clean = text::FromUtf8(utf8, text::CodePage::Utf8);
    clean.erase(std::find(clean.begin(), clean.end(), '\0'), clean.end());
    if (IsMediumTable(table)) std::replace(clean.begin(), clean.end(), ' ', '_');
    StoreUser(table, static_cast<std::size_t>(row), clean);
    generation.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

}  // namespace mbus
