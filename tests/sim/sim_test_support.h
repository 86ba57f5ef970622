// Helpers of the simulated-bus tests: frames a master sends, decoding of
// answers, and the bytes of what the line carries back.

#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "control/decode/telegram.h"
#include "platform/serial/simulated_port.h"

namespace mbus::sim::test {

using Bytes = std::vector<uint8_t>;

// Hex digit pairs, blanks ignored ("10 5B 05 60 16").
Bytes Hex(std::string_view text);
// 10h C A CS 16h.
Bytes ShortFrame(uint8_t C, uint8_t A);
// 68h 03h 03h 68h C A CI CS 16h.
Bytes ControlFrame(uint8_t C, uint8_t A, uint8_t CI);
// 68h L L 68h C A CI payload CS 16h.
Bytes LongFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload);
// A selection SND_UD to 253 (C 53h) with CI and the bytes behind it.
Bytes Selection(const Bytes& payload, uint8_t CI = 0x52);

// Decodes a long frame as a channel does after classifying it; null when
// the frame is no valid long frame.
std::unique_ptr<MBTelegram> Decode(const Bytes& frame);

// The values of bytes on their way to the master.
Bytes ValuesOf(const std::vector<serial::WireByte>& bytes);

}  // namespace mbus::sim::test
