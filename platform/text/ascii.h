// ASCII case folding for names that are compared without regard to case
// (registry keys, INI sections and keys, dispatch member names, commands).
// Only A..Z fold; other bytes, UTF-8 sequences among them, stay as they are.

#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mbus::text {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string AsciiLowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiLower(c);
    return out;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

}  // namespace mbus::text
