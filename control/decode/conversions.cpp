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

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void AppendDigits(std::string& out, int v, int digits) {
    char buf[8];
    for (int i = digits - 1; i >= 0; --i, v /= 10) buf[i] = static_cast<char>('0' + v % 10);
    out.append(buf, static_cast<std::size_t>(digits));
}

}  // namespace

int FullYear(int twoDigitYear, int hundredYears) {
    if (hundredYears != 0) return 1900 + 100 * hundredYears + twoDigitYear;
    return (twoDigitYear >= 81 ? 1900 : 2000) + twoDigitYear;
}

RecordDate DecodeRecordDate(uint64_t bits, int bytes) {
    RecordDate d;
    unsigned dateWord;
    int hundredYears = 0;
    if (bytes == 2) {
        d.type = RecordDate::Type::G;
        dateWord = bits & 0xFFFF;
    } else if (bytes == 4) {
        d.type = RecordDate::Type::F;
        dateWord = (bits >> 16) & 0xFFFF;
        d.minute = static_cast<int>(bits & 0x3F);
        d.timeInvalid = (bits >> 7) & 1;
        d.hour = static_cast<int>((bits >> 8) & 0x1F);
        hundredYears = static_cast<int>((bits >> 13) & 0x03);
        d.summerTime = (bits >> 15) & 1;
    } else if (bytes == 6) {
        d.type = RecordDate::Type::I;
        d.second = static_cast<int>(bits & 0x3F);
        d.minute = static_cast<int>((bits >> 8) & 0x3F);
        d.summerTime = (bits >> 14) & 1;
        d.timeInvalid = (bits >> 15) & 1;
        d.hour = static_cast<int>((bits >> 16) & 0x1F);
        d.dayOfWeek = static_cast<int>((bits >> 21) & 0x07);
        dateWord = (bits >> 24) & 0xFFFF;
        d.week = static_cast<int>((bits >> 40) & 0x3F);
    } else {
        return d;
    }
    d.day = static_cast<int>(dateWord & 0x1F);
    d.month = static_cast<int>((dateWord >> 8) & 0x0F);
    const int twoDigitYear = static_cast<int>(((dateWord >> 12) & 0x0F) * 8 + ((dateWord >> 5) & 0x07));
    d.year = FullYear(twoDigitYear, hundredYears);
    d.valid = twoDigitYear <= 99 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
              d.day <= DaysInMonth(d.year, d.month) && d.hour <= 23 && d.minute <= 59 && d.second <= 59 &&
              !d.timeInvalid && d.week <= 53;
    return d;
}

std::string IsoDateText(const RecordDate& d) {
    std::string out;
    if (!d.valid) return out;
    AppendDigits(out, d.year, 4);
    out += '-';
    AppendDigits(out, d.month, 2);
    out += '-';
    AppendDigits(out, d.day, 2);
    if (d.type == RecordDate::Type::G) return out;
    out += 'T';
    AppendDigits(out, d.hour, 2);
    out += ':';
    AppendDigits(out, d.minute, 2);
    if (d.type == RecordDate::Type::I) {
        out += ':';
        AppendDigits(out, d.second, 2);
    }
    return out;
}

std::string_view ApplicationErrorText(int code) {
    static constexpr std::string_view kTexts[] = {
        "Unspecified error",
        "Unimplemented CI field",
        "Buffer too long, truncated",
        "Too many records",
        "Premature end of record",
        "More than 10 DIFEs",
        "More than 10 VIFEs",
        "Reserved",
        "Application too busy for handling readout request",
        "Too many readouts",
    };
    return code >= 0 && code < 10 ? kTexts[code] : "Reserved";
}

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
