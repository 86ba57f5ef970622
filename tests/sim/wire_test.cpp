// How answers of several slaves combine on the line.

#include "sim/wire.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;
constexpr SimClock::duration kT = 4583us;  // about one character at 2400 baud
const SimClock::time_point kStart = SimClock::time_point{} + 1s;

Bytes ValuesOf(const std::vector<LineByte>& line) {
    Bytes out;
    for (const LineByte& b : line) out.push_back(b.value);
    return out;
}

TEST(WireTest, StreamSpacesBytesByOneCharacterTime) {
    const auto s = Stream(Hex("68 03 03"), kStart, kT);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].start, kStart);
    EXPECT_EQ(s[2].start, kStart + 2 * kT);
}

TEST(WireTest, EqualAnswersAtOnceLookLikeOne) {
    const auto line = MergeOnLine({Stream({0xE5}, kStart, kT), Stream({0xE5}, kStart, kT)}, kT);
    ASSERT_EQ(line.size(), 1u);
    EXPECT_EQ(line[0].value, 0xE5);
    EXPECT_FALSE(line[0].framing);
}

TEST(WireTest, DifferingBytesCombineToTheirAndWithAFramingError) {
    const auto line = MergeOnLine({Stream(Hex("68 0F 16"), kStart, kT), Stream(Hex("68 F0 16 AA"), kStart, kT)}, kT);
    ASSERT_EQ(line.size(), 4u);
    EXPECT_EQ(ValuesOf(line), Hex("68 00 16 AA"));
    EXPECT_FALSE(line[0].framing);
    EXPECT_TRUE(line[1].framing);
    EXPECT_FALSE(line[2].framing);
    EXPECT_FALSE(line[3].framing);  // the longer answer goes on alone
}

TEST(WireTest, PartlyOverlappingBytesMergeIntoTheEarlierOne) {
    const auto line = MergeOnLine({Stream(Hex("F0 F0"), kStart, kT), Stream(Hex("0F"), kStart + kT / 2, kT)}, kT);
    ASSERT_EQ(line.size(), 2u);
    EXPECT_EQ(line[0].value, 0x00);
    EXPECT_TRUE(line[0].framing);
    EXPECT_EQ(line[0].start, kStart);
    EXPECT_EQ(line[1].value, 0xF0);
}

TEST(WireTest, AnswersApartInTimeStayApart) {
    const auto line = MergeOnLine({Stream({0xE5}, kStart, kT), Stream({0xE5}, kStart + 2 * kT, kT)}, kT);
    EXPECT_EQ(line.size(), 2u);
}

TEST(WireTest, HexTextIsUpperCasePairs) {
    EXPECT_EQ(HexText(Hex("10 5b fe 59 16")), "10 5B FE 59 16");
    EXPECT_EQ(HexText(Bytes{}), "");
}

}  // namespace
}  // namespace mbus::sim::test
