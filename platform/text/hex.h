// Bytes as text: the upper-case hexadecimal pairs and three-digit decimal
// groups in which the control shows bytes, and reading hexadecimal digits.

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mbus::text {

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

inline void AppendHexByte(std::string& out, uint8_t b) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

// Three decimal digits with leading zeros.
inline void AppendDecByte(std::string& out, uint8_t b) {
    out += static_cast<char>('0' + b / 100);
    out += static_cast<char>('0' + b / 10 % 10);
    out += static_cast<char>('0' + b % 10);
}

inline std::string HexText(const uint8_t* bytes, std::size_t n) {
    std::string out;
    out.reserve(n * 2);
    for (std::size_t i = 0; i < n; ++i) AppendHexByte(out, bytes[i]);
    return out;
}

}  // namespace mbus::text
