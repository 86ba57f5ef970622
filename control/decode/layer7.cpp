#include "control/decode/layer7.h"

#include <cstring>
#include <string_view>

#include "control/decode/options.h"
#include "control/decode/text_tables.h"

namespace mbus {
namespace {

// Copies a medium cell into a caller's buffer of at least the cell width
// (30 bytes): a user text longer in bytes keeps its whole characters that fit.
void CopyCell(std::string_view cell, char* text) {
    static_assert(texts::kMediumFixWidth == texts::kMediumVarWidth);
    cell = text::CutUtf8(cell, texts::kMediumVarWidth - 1);
    std::memcpy(text, cell.data(), cell.size());
    text[cell.size()] = '\0';
}

constexpr int RowsOf(int variable) { return variable == 1 ? 32 : 16; }
constexpr TextTable TableOf(int variable) { return variable == 1 ? TextTable::MediumVar : TextTable::MediumFix; }

// Row of `text` in a medium table's column, or -1.
int FindMedium(TextTable table, int rows, int language, std::string_view text) {
    for (int row = 0; row < rows; ++row)
        if (Cell(table, row, language) == text) return row;
    return -1;
}

}  // namespace

void ExtractManufacturer(uint16_t number, char* text) {
    text[0] = static_cast<char>(((number >> 10) & 0x1F) + 0x40);
    text[1] = static_cast<char>(((number >> 5) & 0x1F) + 0x40);
    text[2] = static_cast<char>((number & 0x1F) + 0x40);
    text[3] = '\0';
}

void CalculateManufacturer(const char* text, uint16_t* number) {
    int c[3] = {0, 0, 0};
    for (int i = 0; i < 3 && text[i] != '\0'; ++i) c[i] = static_cast<unsigned char>(text[i]);
    const unsigned v = static_cast<unsigned>((c[0] - 64) * 1024 + (c[1] - 64) * 32 + (c[2] - 64));
    *number = static_cast<uint16_t>(v & 0xFFFF);
}

std::string_view MediumName(int variable, uint8_t code, int language) {
    if ((variable == 1 && code < 32) || (variable == 0 && code < 16)) return Cell(TableOf(variable), code, language);
    return Cell(TextTable::MediumVar, 0x0F, language);
}

void ExtractMedium(int variable, uint8_t code, char* text) { CopyCell(MediumName(variable, code, CurrentLanguage()), text); }

void CalculateMedium(int variable, const char* text, uint8_t* code) {
    const int row = FindMedium(TableOf(variable == 1 ? 1 : 0), RowsOf(variable == 1 ? 1 : 0), CurrentLanguage(), text);
    *code = static_cast<uint8_t>(row < 0 ? 0 : row);
}

void ChangeMediumLanguage(int fromLanguage, int toLanguage, char* text) {
    if (fromLanguage < 0 || fromLanguage > 9 || toLanguage < 0 || toLanguage > 9) return;
    for (int variable : {1, 0}) {
        const int row = FindMedium(TableOf(variable), RowsOf(variable), fromLanguage, text);
        if (row >= 0) {
            CopyCell(Cell(TableOf(variable), row, toLanguage), text);
            return;
        }
    }
}

}  // namespace mbus
