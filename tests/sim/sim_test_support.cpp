#include "tests/sim/sim_test_support.h"

#include "control/line/frame_shape.h"

namespace mbus::sim::test {
namespace {

uint8_t Sum(const Bytes& b, std::size_t from) {
    uint8_t s = 0;
    for (std::size_t i = from; i < b.size(); ++i) s = static_cast<uint8_t>(s + b[i]);
    return s;
}

int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

Bytes Hex(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        const int d = Digit(c);
        EXPECT_GE(d, 0) << "not a hex digit in \"" << text << "\"";
        if (d < 0) return out;
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    EXPECT_LT(high, 0) << "odd number of digits in \"" << text << "\"";
    return out;
}

Bytes ShortFrame(uint8_t C, uint8_t A) { return {0x10, C, A, static_cast<uint8_t>(C + A), 0x16}; }

Bytes ControlFrame(uint8_t C, uint8_t A, uint8_t CI) { return LongFrame(C, A, CI, {}); }

Bytes LongFrame(uint8_t C, uint8_t A, uint8_t CI, const Bytes& payload) {
    const auto L = static_cast<uint8_t>(3 + payload.size());
    Bytes f{0x68, L, L, 0x68, C, A, CI};
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(Sum(f, 4));
    f.push_back(0x16);
    return f;
}

Bytes Selection(const Bytes& payload, uint8_t CI) { return LongFrame(0x53, 0xFD, CI, payload); }

std::unique_ptr<MBTelegram> Decode(const Bytes& frame) {
    const FrameShape s = ClassifyFrame(frame);
    if (s.result != kFrameLong) return nullptr;
    auto t = std::make_unique<MBTelegram>();
    t->InterpretAnswer(s.result, s.C, s.A, s.CI, frame.data(), static_cast<int>(frame.size()));
    return t;
}

Bytes ValuesOf(const std::vector<serial::WireByte>& bytes) {
    Bytes out;
    for (const serial::WireByte& b : bytes) out.push_back(b.value);
    return out;
}

}  // namespace mbus::sim::test
