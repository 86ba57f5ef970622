// Numbers as a person reads and types them in MERIDEX.
//
// Shown: every number the program formats itself (page values, the
// parameter calculation, the limits in a refusal) has a fixed number of
// decimals fitting its quantity and the decimal separator of the user's
// language (DecimalSeparator in languages.h). The text never depends on the
// C library's locale: Qt sets LC_NUMERIC from the environment, so printf
// would write "12,5" or "12.5" by the desktop's setting, not the program's.
//
// Typed: a comma and a point both separate the decimals, in every language
// ("123,4" and "123.4" are 123.4), so a number typed in the desktop's habit
// is not cut at its separator. A second separator is no number: thousands
// separators are not taken.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mbus::meridex {

// Whether a typed character separates a number's decimals: ',' or '.'.
inline bool IsDecimalSeparator(char c) { return c == ',' || c == '.'; }

// `value` with `decimals` digits after the language's separator (0..9),
// rounded to nearest; no "-" before a number that shows as zero.
std::string FixedText(double value, int decimals, int languageId);

// scaled / 10^places exactly, with `places` decimals: (-128, 1) -> "-12.8"
// in English, "-12,8" in German.
std::string ScaledText(int64_t scaled, int places, int languageId);

// A number read from a text exactly: value = scaled / 10^places.
struct DecimalNumber {
    int64_t scaled = 0;
    int places = 0;

    double Value() const;
    // value x 10^places, truncated toward zero (places 0..9).
    int64_t Truncated(int toPlaces) const;
    // Whether lo / 10^boundPlaces <= value <= hi / 10^boundPlaces.
    bool Within(int64_t lo, int64_t hi, int boundPlaces) const;
};

// The leading number of a text: blanks, a sign, digits with one separator
// of either kind; what follows is ignored ("1.234,5" reads 1.234). Nothing
// when there is no digit. At most 15 digits are taken; the rest of a longer
// run of digits is ignored as any other trailing text.
std::optional<DecimalNumber> ParseNumber(std::string_view text);
// The same truncated to an integer ("12,7" and "12.7" -> 12).
std::optional<int64_t> ParseInteger(std::string_view text);

}  // namespace mbus::meridex
