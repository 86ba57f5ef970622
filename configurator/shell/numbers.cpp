#include "configurator/shell/numbers.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "configurator/shell/languages.h"

namespace mbus::meridex {
namespace {

// Digits a number text may carry; the fields hold at most ten characters.
constexpr int kMaxDigits = 15;
constexpr int kMaxDecimals = 9;

int64_t Power10(int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

// value x 10^n for n >= 0, held at the int64 range.
int64_t ScaleUp(int64_t value, int n) {
    for (int i = 0; i < n; ++i) {
        if (value > std::numeric_limits<int64_t>::max() / 10) return std::numeric_limits<int64_t>::max();
        if (value < std::numeric_limits<int64_t>::min() / 10) return std::numeric_limits<int64_t>::min();
        value *= 10;
    }
    return value;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// "-0.00" and "-0" show as "0.00" and "0".
void DropSignOfZero(std::string& text) {
    if (!text.empty() && text.front() == '-' && text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
}

}  // namespace

std::string FixedText(double value, int decimals, int languageId) {
    decimals = std::clamp(decimals, 0, kMaxDecimals);
    // The largest double has 309 digits before the point.
    char text[400];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return {};
    std::string out(text, end);
    DropSignOfZero(out);
    std::replace(out.begin(), out.end(), '.', DecimalSeparator(languageId));
    return out;
}

std::string ScaledText(int64_t scaled, int places, int languageId) {
    places = std::clamp(places, 0, kMaxDecimals);
    const bool negative = scaled < 0;
    // The magnitude as unsigned, so that the smallest int64 has one too.
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    std::string digits = std::to_string(magnitude);
    if (places > 0) {
        const auto p = static_cast<std::size_t>(places);
        if (digits.size() <= p) digits.insert(0, p + 1 - digits.size(), '0');
        digits.insert(digits.size() - p, 1, DecimalSeparator(languageId));
    }
    return (negative ? "-" : "") + digits;
}

double DecimalNumber::Value() const { return static_cast<double>(scaled) / static_cast<double>(Power10(places)); }

int64_t DecimalNumber::Truncated(int toPlaces) const {
    if (toPlaces >= places) return ScaleUp(scaled, toPlaces - places);
    return scaled / Power10(places - toPlaces);  // C++ division truncates toward zero
}

bool DecimalNumber::Within(int64_t lo, int64_t hi, int boundPlaces) const {
    // value x 10^boundPlaces = q + r with q its integer part and r a
    // fraction of the sign of the value.
    const int64_t q = Truncated(boundPlaces);
    int64_t r = 0;
    if (places > boundPlaces) r = scaled % Power10(places - boundPlaces);
    const bool aboveLo = q > lo || (q == lo && r >= 0);
    const bool belowHi = q < hi || (q == hi && r <= 0);
    return aboveLo && belowHi;
}

std::optional<DecimalNumber> ParseNumber(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    DecimalNumber n;
    int digits = 0;
    bool fraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDecimalSeparator(c) && !fraction) {
            fraction = true;
            continue;
        }
        if (c < '0' || c > '9' || digits == kMaxDigits) break;
        n.scaled = n.scaled * 10 + (c - '0');
        ++digits;
        if (fraction) ++n.places;
    }
    if (digits == 0) return std::nullopt;
    if (negative) n.scaled = -n.scaled;
    return n;
}

std::optional<int64_t> ParseInteger(std::string_view text) {
    const std::optional<DecimalNumber> n = ParseNumber(text);
    if (!n) return std::nullopt;
    return n->Truncated(0);
}

}  // namespace mbus::meridex
