// Classification of one complete M-Bus frame (E5h, A2h, short, control,
// long and extended long frame) into its result code, C, A and CI, with the
// error bits of a malformed frame. The line uses it to see that an answer is
// complete; wrappers, escapes and the line's echo are handled by the
// reception of the link layer, which builds on it too.

#pragma once

#include <cstdint>
#include <span>

namespace mbus {

// Error bits of a reception.
enum ErrorBit : uint16_t {
    kErrTimeout = 0x001,
    kErrParity = 0x002,
    kErrChecksum = 0x004,
    kErrStartsign = 0x008,
    kErrLengthbyte = 0x010,
    kErrStopsign = 0x020,
    kErrCollision = 0x040,
    kErrFrame = 0x080,
    kErrUART = 0x100,
};

struct FrameShape {
    int result = 4;          // 0 E5h, 1 short, 2 control, 3 long, 4 fault, 5 A2h
    uint8_t C = 0, A = 0, CI = 0;
    uint16_t errors = 0;     // error bits when result is 4
};

FrameShape ClassifyFrame(std::span<const uint8_t> frame);

}  // namespace mbus
