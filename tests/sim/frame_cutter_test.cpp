// Cutting the master's byte stream into frames.

#include "sim/frame_cutter.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

std::vector<Bytes> Cut(FrameCutter& cutter, const Bytes& bytes) {
    for (uint8_t b : bytes) cutter.Push({b, {}, 2400});
    std::vector<Bytes> frames;
    std::vector<MasterByte> frame;
    while (cutter.Next(&frame)) {
        Bytes values;
        for (const MasterByte& m : frame) values.push_back(m.value);
        frames.push_back(values);
    }
    return frames;
}

TEST(FrameCutterTest, CutsEveryKindOfFrame) {
    FrameCutter c;
    const Bytes shortFrame = ShortFrame(0x5B, 1);
    const Bytes control = ControlFrame(0x53, 1, 0xBD);
    const Bytes longFrame = LongFrame(0x53, 1, 0x51, Hex("01 FD 1C 03"));
    const Bytes extended = Hex("D8 03 00 03 00 D8 53 01 51 A5 16");
    Bytes all{0xE5};
    for (const Bytes* f : {&shortFrame, &control, &longFrame, &extended}) all.insert(all.end(), f->begin(), f->end());
    const auto frames = Cut(c, all);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], Bytes{0xE5});
    EXPECT_EQ(frames[1], shortFrame);
    EXPECT_EQ(frames[2], control);
    EXPECT_EQ(frames[3], longFrame);
    EXPECT_EQ(frames[4], extended);
    EXPECT_TRUE(c.Empty());
    EXPECT_EQ(c.Discarded(), 0u);
}

TEST(FrameCutterTest, WaitsForTheRestOfAFrame) {
    FrameCutter c;
    const Bytes f = LongFrame(0x53, 1, 0x51, Hex("01 FD 1C 03"));
    for (std::size_t split = 0; split < f.size(); ++split) {
        EXPECT_TRUE(Cut(c, Bytes(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(split))).empty()) << split;
        const auto frames = Cut(c, Bytes(f.begin() + static_cast<std::ptrdiff_t>(split), f.end()));
        ASSERT_EQ(frames.size(), 1u) << split;
        EXPECT_EQ(frames[0], f);
    }
}

TEST(FrameCutterTest, ResynchronisesOnGarbage) {
    FrameCutter c;
    const Bytes f = ShortFrame(0x7B, 5);
    Bytes stream = Hex("00 FF 10 7B 05 00 16 68 05 06 68");  // noise, a short frame with a bad sum, a bad header
    stream.insert(stream.end(), f.begin(), f.end());
    const auto frames = Cut(c, stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], f);
    EXPECT_EQ(c.Discarded(), 11u);
}

TEST(FrameCutterTest, LongFrameWithWrongChecksumIsDropped) {
    FrameCutter c;
    Bytes bad = LongFrame(0x53, 1, 0x51, Hex("01 FD 1C 03"));
    bad[bad.size() - 2] ^= 0x01;
    const Bytes good = ShortFrame(0x40, 1);
    bad.insert(bad.end(), good.begin(), good.end());
    const auto frames = Cut(c, bad);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], good);
}

}  // namespace
}  // namespace mbus::sim::test
