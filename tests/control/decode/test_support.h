// Helpers shared by the decoder tests: frames built from readable parts,
// decoding them, and a fixture that restores options and tables.

#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/decode/answer_text.h"
#include "control/decode/telegram.h"

namespace mbus::test {

using Bytes = std::vector<uint8_t>;

// Hex digit pairs, blanks ignored ("04 13 D2 04 00 00").
Bytes Hex(std::string_view text);
// Concatenation of byte lists.
Bytes Cat(std::initializer_list<Bytes> parts);
// 68h L L 68h C A CI payload CS 16h.
Bytes LongFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload);
// D8h frame with the same body.
Bytes ExtendedFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload);
// The 12-byte header of CI 72h: identification 12345678, maker "QXA",
// version 1, medium 07h (water), access 2Ah, status 0, signature 0.
Bytes Header72();

// Decodes a complete frame the way a channel does after classifying it.
std::unique_ptr<MBTelegram> Decode(const Bytes& frame);
// Decodes a long frame of CI 72h with the standard header and these records.
std::unique_ptr<MBTelegram> DecodeRecords(const Bytes& records, uint8_t CI = 0x72);

// Text of a record's value (empty when it has none).
std::string ValueOf(const MBTelegram& t, int index);

// Resets options, language and the user text column around each test.
class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

}  // namespace mbus::test
