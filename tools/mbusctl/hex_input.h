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

}  // namespace mbus::cli
