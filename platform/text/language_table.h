// A small multilingual text table: rows of ten language cells, each cell
// holding at most (width - 1) bytes in the code page of its language. The
// user column (9) starts as English and is the only one a host may write;
// it holds UTF-8 and at most (width - 1) characters.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text/codepage.h"

namespace mbus::text {

class LanguageTable {
public:
    static constexpr int kLanguages = 10;
    static constexpr int kUserLanguage = 9;

    // One width per row (terminating zero included).
    explicit LanguageTable(std::vector<std::size_t> widths);

    // Sets a cell of languages 0..8 from UTF-8 (converted, cut to the width);
    // setting language 0 also sets the user column.
    void Set(int row, int language, std::string_view utf8);
    // The cell as stored (code-page bytes); empty out of range.
    std::string_view Cell(int row, int language) const;
    std::string Utf8(int row, int language) const;
    // Writes the user column (UTF-8, at most the row's width less one
    // characters); false (nothing changes) for another language or a row
    // out of range. `maxCharacters` cuts the text further when given.
    bool WriteUser(int row, int language, std::string_view utf8, std::size_t maxCharacters = SIZE_MAX);
    int Rows() const { return static_cast<int>(cells_.size()); }

private:
    std::vector<std::size_t> widths_;
    std::vector<std::array<std::string, kLanguages>> cells_;
};

}  // namespace mbus::text
