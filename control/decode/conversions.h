// Number and date conversions that hosts use to compose data records.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace mbus {

// The 32-bit value as upper-case hexadecimal without leading zeros.
std::string LongToHexAsc(int32_t value);
// The last eight of the first nine characters read as hexadecimal (modulo 2^32).
int32_t HexAscToLong(std::string_view text);
// A decimal number as an IEEE single, its 4 bytes least significant first.
std::string FloatToHexAsc(std::string_view text);
// "[S]day.month.year[ hour:minute]" as an M-Bus date (type G, 4 hex digits)
// or date and time (type F, 8 hex digits), least significant byte first;
// empty when the text is not a valid date.
std::string DateToHexAsc(std::string_view text);

// A VIB given as hexadecimal digit pairs (a pair that is not two hex digits
// is dropped) with the VIF, or the extension code after FBh/FDh, lowered to
// the unit without decimal multiplier (by 1 for "10", by 2 for "100");
// upper-case digit pairs without separators.
std::string CalcVIFUnitWithoutMultiplier(std::string_view hexVIB);

}  // namespace mbus
