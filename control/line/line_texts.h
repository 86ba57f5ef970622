// Texts of the serial line: why a port could not be opened or configured.
// One column per language (0..8, UTF-8 source); the runtime tables in
// line_text_tables.h add the writable user column 9.

#pragma once

#include <array>
#include <cstddef>

namespace mbus::line {

inline constexpr std::size_t kPortOpenWidth = 200;  // status 2, the platform error number follows it
inline constexpr std::size_t kConfigTextWidth = 50;  // statuses 3..10
inline constexpr std::size_t kConfigTexts = 8;

struct LineTextColumn {
    const char* portOpen;                                // status 2
    std::array<const char*, kConfigTexts> configTexts;  // statuses 3 to 10
};

// Languages 0..8: English, German, French, Portuguese, Russian, Italian,
// Slovenian, Swedish, Croatian.
extern const LineTextColumn kLineTextColumns[9];

}  // namespace mbus::line
