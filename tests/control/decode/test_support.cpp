#include "tests/control/decode/test_support.h"

#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "control/line/frame_shape.h"
#include "tools/mbusctl/hex_input.h"

namespace mbus::test {

Bytes Hex(std::string_view text) {
    if (text.empty()) return {};
    const cli::HexParse parsed = cli::ParseHexBytes(text);
    EXPECT_EQ(parsed.error, "") << text;
    return parsed.bytes;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

static Bytes Body(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload) {
    Bytes body{C, A, CI};
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

static uint8_t Sum(const Bytes& b) {
    uint8_t s = 0;
    for (uint8_t x : b) s = static_cast<uint8_t>(s + x);
    return s;
}

Bytes LongFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload) {
    const Bytes body = Body(C, A, CI, payload);
    const auto L = static_cast<uint8_t>(body.size());
    Bytes f{0x68, L, L, 0x68};
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(Sum(body));
    f.push_back(0x16);
    return f;
}

Bytes ExtendedFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload) {
    const Bytes body = Body(C, A, CI, payload);
    const auto lo = static_cast<uint8_t>(body.size() & 0xFF), hi = static_cast<uint8_t>(body.size() >> 8);
    Bytes f{0xD8, lo, hi, lo, hi, 0xD8};
    f.insert(f.end(), body.begin(), body.end());
    f.push_back(Sum(body));
    f.push_back(0x16);
    return f;
}

Bytes Header72() { return Hex("78 56 34 12 01 47 01 07 2A 00 00 00"); }

std::unique_ptr<MBTelegram> Decode(const Bytes& frame) {
    const FrameShape shape = ClassifyFrame(frame);
    auto t = std::make_unique<MBTelegram>();
    t->InterpretAnswer(shape.result, shape.C, shape.A, shape.CI, frame.data(), static_cast<int>(frame.size()));
    return t;
}

std::unique_ptr<MBTelegram> DecodeRecords(const Bytes& records, uint8_t CI) {
    const Bytes header = (CI == 0x72 || CI == 0x76) ? Header72() : CI == 0x7A ? Hex("2A 00 00 00") : Bytes{};
    return Decode(LongFrame(0x08, 0x01, CI, Cat({header, records})));
}

std::string ValueOf(const MBTelegram& t, int index) {
    return RecordValue(t, t.records.at(static_cast<std::size_t>(index)), true);
}

void DecoderTest::SetUp() {
    MBusOption.Reset();
    MBusLanguage = 0;
    ResetTextTables();
}

void DecoderTest::TearDown() { SetUp(); }

}  // namespace mbus::test
