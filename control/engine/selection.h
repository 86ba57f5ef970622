// The SND_UD frames that select a slave by its secondary address (with the
// fabrication number, a primary address, a special extension, or by
// customer number and location), and the log lines that record them.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::engine {

struct Selection {
    uint8_t ci = 0x52;
    std::vector<uint8_t> data;  // user data after the CI
    std::string logLine;        // "8||Standard2: 12345678,59C4,01,07|"
};

// CI of a selection mode: 1 -> 56h, 2 -> 51h, 3 -> 55h, any other -> 52h.
uint8_t SelectionCI(int mode);

// Reads hexadecimal digit pairs into `count` bytes: a missing digit counts as
// F, a pair that is no hexadecimal number gives FFh (a wildcard).
std::vector<uint8_t> WildcardBytes(std::string_view digits, int count);

// The secondary address part shared by the forms below.
struct SecondaryAddress {
    std::string_view deviceId;      // 8 digits
    std::string_view manufacturer;  // 4 digits, "1938": wildcard manufacturer, generation and medium
    std::string_view generation;    // 2 digits
    std::string_view medium;        // 2 digits
};

// `tunnel`: the line wraps frames for an interface device; the log line's
// command number is then 100 higher.
Selection BuildSelect(int mode, const SecondaryAddress& a, bool tunnel);
Selection BuildSelectFab(int mode, const SecondaryAddress& a, std::string_view fabrication, bool tunnel);
Selection BuildSelectPrim(int mode, const SecondaryAddress& a, int primaryAddress, bool tunnel);
Selection BuildSelectSp(int mode, const SecondaryAddress& a, std::string_view special, bool tunnel);
Selection BuildSelectCustom(int mode, std::string_view customerNo, std::string_view customerAddr, bool tunnel);

}  // namespace mbus::engine
