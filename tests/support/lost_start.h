// Answers that lost their first byte: a long frame whose L field is itself
// the first byte of another kind of answer, and the list of those bytes.

#pragma once

#include <cstdint>
#include <vector>

namespace mbus::testsupport {

// A long frame 68h L L 68h 08h 01h 72h with L - 3 data bytes (none when L
// is below 3), checksum and stop byte.
inline std::vector<uint8_t> FilledLongFrame(uint8_t L) {
    std::vector<uint8_t> f = {0x68, L, L, 0x68, 0x08, 0x01, 0x72};
    for (int i = 0; i < L - 3; ++i) f.push_back(static_cast<uint8_t>(0x30 + i % 7));
    uint8_t sum = 0;
    for (std::size_t i = 4; i < f.size(); ++i) sum = static_cast<uint8_t>(sum + f[i]);
    f.push_back(sum);
    f.push_back(0x16);
    return f;
}

// The first bytes that mean something else than a long frame's start.
inline constexpr uint8_t kOtherFirstBytes[] = {0xE5, 0x10, 0x68, 0xD8, 0xA2, 0x16, 0x14, 0x15, 0x1B,
                                               0x20, 0x01, 0x02, 0x04, 0x06, 0x13, 0x18, 0x43};

}  // namespace mbus::testsupport
