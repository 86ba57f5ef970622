// Texts of the reception error classes, one column per language (0..8,
// UTF-8 source); the runtime table adds the writable user column 9.
// Every class text ends in a comma and a blank.

#pragma once

#include <array>
#include <cstddef>

namespace mbus::link {

// Timeout, Parity, Checksum, Startsign, Lengthbyte, Stopsign, Collision,
// Frame, UART, and the text for no error.
inline constexpr std::size_t kErrorTexts = 10;
// Cell widths (terminating zero included): 25 for Timeout, Lengthbyte and
// the no-error text, 20 for the others.
inline constexpr std::size_t kErrorTextWidth[kErrorTexts] = {25, 20, 20, 20, 25, 20, 20, 20, 20, 25};

using ErrorTextColumn = std::array<const char*, kErrorTexts>;

// Languages 0..8: English, German, French, Portuguese, Russian, Italian,
// Slovenian, Swedish, Croatian.
extern const ErrorTextColumn kErrorTextColumns[9];

}  // namespace mbus::link
