// Telegrams typed as hexadecimal digit pairs, with blanks allowed between
// bytes (`68 1F 1F 68 ...` or `681F1F68...`).

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::cli {

struct HexParse {
    std::vector<uint8_t> bytes;
    std::string error;  // empty when the text was whole bytes of hex digits
};

// Parses the text; on error says what was wrong and what is accepted.
HexParse ParseHexBytes(std::string_view text);

// The same parse without messages, for reading many telegrams: writes the
// bytes to `buffer` (grown as needed, never shrunk, so a reader reuses it)
// and returns their number, or -1 when ParseHexBytes would report an error.
long ParseHexInto(std::string_view text, std::vector<uint8_t>& buffer);

}  // namespace mbus::cli
