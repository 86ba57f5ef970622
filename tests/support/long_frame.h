// A long frame around the user data of a test's answer (C, A, CI and the
// rest): start bytes with the length twice, the checksum and the stop byte.

#pragma once

#include <cstdint>
#include <vector>

namespace mbus::testsupport {

inline std::vector<uint8_t> LongFrame(const std::vector<uint8_t>& user) {
    std::vector<uint8_t> frame = {0x68, static_cast<uint8_t>(user.size()), static_cast<uint8_t>(user.size()), 0x68};
    uint8_t sum = 0;
    for (uint8_t b : user) sum = static_cast<uint8_t>(sum + b);
    frame.insert(frame.end(), user.begin(), user.end());
    frame.push_back(sum);
    frame.push_back(0x16);
    return frame;
}

}  // namespace mbus::testsupport
