// What the simulated line carries back to the master: bytes with the time
// their start bit begins, their UART faults, and how the answers of several
// slaves that talk at once combine on the line.

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/serial/simulated_port.h"

namespace mbus::sim {

using serial::SimClock;
using Bytes = std::vector<uint8_t>;

struct LineByte {
    SimClock::time_point start;  // when its start bit begins
    uint8_t value = 0;
    bool parity = false;
    bool framing = false;
};

// `bytes` sent back to back from `start`, one character time each.
std::vector<LineByte> Stream(const Bytes& bytes, SimClock::time_point start, SimClock::duration characterTime);

// Combines the streams of slaves that answer at once. A byte that overlaps
// in time with bytes of other streams becomes one byte (at the start of the
// earliest) whose value is the AND of them all: a 0 bit dominates the bus.
// When the overlapping bytes differ the result is marked with a framing
// error, as a UART sees the garbled character. The result is in time order.
std::vector<LineByte> MergeOnLine(const std::vector<std::vector<LineByte>>& streams,
                                  SimClock::duration characterTime);

// Upper-case hexadecimal digit pairs separated by blanks ("10 5B FE 59 16").
std::string HexText(std::span<const uint8_t> bytes);

}  // namespace mbus::sim
