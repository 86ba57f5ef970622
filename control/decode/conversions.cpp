#include "control/decode/conversions.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "control/decode/text_tables.h"
#include "control/decode/vib.h"

namespace mbus {
namespace {

void AppendLsbFirst(std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        const unsigned b = (v >> (8 * i)) & 0xFF;
        out += HTATab[b >> 4];
        out += HTATab[b & 0x0F];
    }
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// A whole non-negative decimal number (blanks around it allowed).
std::optional<int> ParseNumber(std::string_view s) {
    s = Trim(s);
    if (s.empty() || s.size() > 6) return std::nullopt;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Position of the first separator found, trying them in the given order.
std::size_t FindSeparator(std::string_view s, std::string_view separators) {
    for (char sep : separators) {
        const std::size_t at = s.find(sep);
        if (at != std::string_view::npos) return at;
    }
    return std::string_view::npos;
}

}  // namespace

std::string LongToHexAsc(int32_t value) {
    auto v = static_cast<uint32_t>(value);
    char buf[8];
    int n = 0;
    do {
        buf[n++] = HTATab[v & 0x0F];
        v >>= 4;
    } while (v != 0);
    std::string out;
    while (n > 0) out += buf[--n];
    return out;
}

int32_t HexAscToLong(std::string_view text) {
    uint32_t v = 0;
    for (char c : text.substr(0, 9)) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else digit = (c > '0' && c < 'f') ? 15 : 0;
        v = (v << 4) | digit;
    }
    return static_cast<int32_t>(v);
}

std::string FloatToHexAsc(std::string_view text) {
    const std::string s(text.substr(0, 50));
    const auto f = static_cast<float>(std::strtod(s.c_str(), nullptr));
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    std::string out;
    AppendLsbFirst(out, bits, 4);
    return out;
}

std::string DateToHexAsc(std::string_view text) {
    std::string_view s = Trim(text.substr(0, 50));
    bool summer = false;
    if (!s.empty() && (s.front() == 'S' || s.front() == 's')) {
        summer = true;
        s = Trim(s.substr(1));
    }
    constexpr std::string_view kSeparators = ".,;:";
    std::size_t at = FindSeparator(s, kSeparators);
    if (at == std::string_view::npos) return {};
    const auto day = ParseNumber(s.substr(0, at));
    s = s.substr(at + 1);
    at = FindSeparator(s, kSeparators);
    if (at == std::string_view::npos) return {};
    const auto month = ParseNumber(s.substr(0, at));
    s = s.substr(at + 1);
    at = FindSeparator(s, " .,;:");
    const auto yearText = (at == std::string_view::npos) ? s : s.substr(0, at);
    const std::string_view rest = (at == std::string_view::npos) ? std::string_view() : Trim(s.substr(at + 1));
    auto year = ParseNumber(yearText);
    if (!day || *day < 1 || *day > 31 || !month || *month < 1 || *month > 12 || !year) return {};
    if (*year >= 1901 && *year <= 1999) *year -= 1900;
    else if (*year >= 2000 && *year <= 2099) *year -= 2000;
    else if (*year > 99) return {};

    const auto y = static_cast<uint32_t>(*year);
    const auto d = static_cast<uint32_t>(*day);
    const auto m = static_cast<uint32_t>(*month);
    std::string out;
    const std::size_t timeSep = FindSeparator(rest, ":.,;");
    if (timeSep != std::string_view::npos) {
        const auto hour = ParseNumber(rest.substr(0, timeSep));
        const auto minute = ParseNumber(rest.substr(timeSep + 1));
        if (!hour || *hour > 23 || !minute || *minute > 59) return {};
        const uint32_t v = static_cast<uint32_t>(*minute) | static_cast<uint32_t>(*hour) << 8 |
                           (summer ? 1u : 0u) << 15 | d << 16 | (y & 7) << 21 | m << 24 | ((y >> 3) & 0x0F) << 28;
        AppendLsbFirst(out, v, 4);
    } else {
        const uint32_t v = d | (y & 7) << 5 | m << 8 | ((y >> 3) & 0x0F) << 12;
        AppendLsbFirst(out, v, 2);
    }
    return out;
}

std::string CalcVIFUnitWithoutMultiplier(std::string_view hexVIB) {
    std::vector<uint8_t> vib;
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i + 1 < hexVIB.size(); i += 2) {
        const int hi = digit(hexVIB[i]), lo = digit(hexVIB[i + 1]);
        if (hi >= 0 && lo >= 0) vib.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    if (!vib.empty()) {
        const uint8_t extension = vib.size() > 1 ? vib[1] : 0;
        const int m = MultiplierOf(vib[0], extension, 1);
        const uint8_t lower = m == 10 ? 1 : m == 100 ? 2 : 0;
        if (lower != 0 && (vib[0] & 0x7F) < 0x7B) vib[0] = static_cast<uint8_t>(vib[0] - lower);
        else if (lower != 0 && vib.size() > 1) vib[1] = static_cast<uint8_t>(vib[1] - lower);
    }
    std::string out;
    for (uint8_t b : vib) {
        out += HTATab[b >> 4];
        out += HTATab[b & 0x0F];
    }
    return out;
}

}  // namespace mbus
