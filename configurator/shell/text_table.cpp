#include "configurator/shell/text_table.h"

#include <algorithm>
#include <cstring>

namespace mbus::meridex {
namespace {

// kSourceRows[row][column]: the built-in texts in UTF-8.
#include "configurator/shell/text_rows.inc"

static_assert(sizeof(kSourceRows) / sizeof(kSourceRows[0]) == kTextCount, "one source row per text number");

bool InRange(int row, int column) { return row >= 0 && row < kTextCount && column >= 0 && column < kColumnCount; }

}  // namespace

text::CodePage CodePageOfColumn(int column) {
    return column == kRussian ? text::CodePage::Windows1251 : text::CodePage::Windows1252;
}

TextTable::TextTable() {
    for (int row = 0; row < kTextCount; ++row)
        for (int column = 0; column < kColumnCount; ++column)
            SetCell(row, column, text::FromUtf8(SourceText(row, column), CodePageOfColumn(column)));
}

std::string_view TextTable::Cell(int row, int column) const {
    if (!InRange(row, column)) return {};
    const auto& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    return std::string_view(cell.data(), std::strlen(cell.data()));
}

std::string TextTable::Utf8(int row, int column) const { return text::ToUtf8(Cell(row, column), CodePageOfColumn(column)); }

void TextTable::SetCell(int row, int column, std::string_view codePageBytes) {
    if (!InRange(row, column)) return;
    const std::size_t zero = codePageBytes.find('\0');
    if (zero != std::string_view::npos) codePageBytes = codePageBytes.substr(0, zero);
    const std::size_t n = std::min(codePageBytes.size(), kMaxTextBytes);
    auto& cell = rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    std::fill(std::copy_n(codePageBytes.begin(), n, cell.begin()), cell.end(), '\0');
}

std::string_view TextTable::SourceText(int row, int column) {
    if (!InRange(row, column)) return {};
    return kSourceRows[row][column];
}

}  // namespace mbus::meridex
