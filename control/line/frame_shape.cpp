#include "control/line/frame_shape.h"

namespace mbus {
namespace {

FrameShape Fault(uint16_t bit) {
    FrameShape s;
    s.errors = bit;
    return s;
}

// Checks stop byte and checksum of a frame whose checked bytes are
// [from, n - 2); fills C, A, CI from `first`.
FrameShape CheckTail(std::span<const uint8_t> f, std::size_t from, std::size_t first, int result) {
    const std::size_t n = f.size();
    if (f[n - 1] != 0x16) return Fault(kErrStopsign);
    uint8_t sum = 0;
    for (std::size_t i = from; i < n - 2; ++i) sum = static_cast<uint8_t>(sum + f[i]);
    if (sum != f[n - 2]) return Fault(kErrChecksum);
    FrameShape s;
    s.result = result;
    s.C = f[first];
    s.A = f[first + 1];
    s.CI = f[first + 2];
    return s;
}

}  // namespace

FrameShape ClassifyFrame(std::span<const uint8_t> f) {
    const std::size_t n = f.size();
    if (n == 0) return Fault(kErrTimeout);
    switch (f[0]) {
        case 0xE5:
        case 0xA2: {
            if (n != 1) return Fault(kErrLengthbyte);
            FrameShape s;
            s.result = f[0] == 0xE5 ? 0 : 5;
            return s;
        }
        case 0x10: {
            if (n != 5) return Fault(kErrLengthbyte);
            if (f[4] != 0x16) return Fault(kErrStopsign);
            if (static_cast<uint8_t>(f[1] + f[2]) != f[3]) return Fault(kErrChecksum);
            FrameShape s;
            s.result = 1;
            s.C = f[1];
            s.A = f[2];
            return s;
        }
        case 0x68: {
            if (n < 4) return Fault(kErrLengthbyte);
            if (f[3] != 0x68) return Fault(kErrStartsign);
            if (f[1] != f[2] || n != static_cast<std::size_t>(f[1]) + 6u || f[1] < 3) return Fault(kErrLengthbyte);
            return CheckTail(f, 4, 4, f[1] == 3 ? 2 : 3);
        }
        case 0xD8: {
            if (n < 6 || f[5] != 0xD8) return Fault(kErrStartsign);
            const std::size_t len = f[1] + 256u * f[2];
            if (f[1] != f[3] || f[2] != f[4] || n != len + 8 || len < 3) return Fault(kErrLengthbyte);
            return CheckTail(f, 6, 6, 3);
        }
        default: return Fault(kErrStartsign);
    }
}

}  // namespace mbus
