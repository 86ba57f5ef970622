// Fault texts and their effect on an answer.

#include "sim/faults.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;
constexpr SimClock::duration kT = 1ms;

std::vector<LineByte> Answer() { return Stream(Hex("68 03 03 68 08 05 72 7F 16"), SimClock::time_point{}, kT); }

Bytes ValuesOf(const std::vector<LineByte>& line) {
    Bytes out;
    for (const LineByte& b : line) out.push_back(b.value);
    return out;
}

TEST(FaultsTest, ParsesEveryKind) {
    struct Row {
        const char* text;
        FaultKind kind;
        std::optional<int> position;
        uint8_t arg;
        const char* canonical;
    };
    const Row rows[] = {
        {"none", FaultKind::kNone, {}, 0, "none"},
        {"drop", FaultKind::kDrop, {}, 0, "drop"},
        {"drop@3", FaultKind::kDrop, 3, 0, "drop@3"},
        {"flip", FaultKind::kFlip, {}, 0x01, "flip:01"},
        {"flip@-2:80", FaultKind::kFlip, -2, 0x80, "flip@-2:80"},
        {"flip:0xff", FaultKind::kFlip, {}, 0xFF, "flip:FF"},
        {"extra", FaultKind::kExtra, {}, 0xFF, "extra:FF"},
        {"extra@0:E5", FaultKind::kExtra, 0, 0xE5, "extra@0:E5"},
        {"parity@1", FaultKind::kParity, 1, 0, "parity@1"},
        {"framing", FaultKind::kFraming, {}, 0, "framing"},
        {"silence", FaultKind::kSilence, {}, 0, "silence"},
    };
    for (const Row& r : rows) {
        std::string error;
        const auto f = ParseFault(r.text, &error);
        ASSERT_TRUE(f.has_value()) << r.text << ": " << error;
        EXPECT_EQ(f->kind, r.kind) << r.text;
        EXPECT_EQ(f->position, r.position) << r.text;
        EXPECT_EQ(f->arg, r.arg) << r.text;
        EXPECT_EQ(FaultText(*f), r.canonical);
    }
}

TEST(FaultsTest, RejectsMalformedTextsWithAHelpfulMessage) {
    for (const char* text : {"", "lose", "drop@", "drop@x", "drop:01", "flip:1G", "flip:123", "silence@2",
                             "none:01", "parity@1:2", "flip@1:01x"}) {
        std::string error;
        EXPECT_FALSE(ParseFault(text, &error).has_value()) << text;
        EXPECT_NE(error.find("fault \""), std::string::npos) << error;
    }
    std::string error;
    ParseFault("lose", &error);
    EXPECT_NE(error.find("drop[@POS]"), std::string::npos) << error;
}

TEST(FaultsTest, DropFlipParityFramingAndSilence) {
    auto a = Answer();
    ApplyFault(Fault::Drop(), a, kT);
    EXPECT_EQ(ValuesOf(a), Hex("68 03 03 68 08 05 72 7F"));
    a = Answer();
    ApplyFault(Fault::Drop(0), a, kT);
    EXPECT_EQ(ValuesOf(a), Hex("03 03 68 08 05 72 7F 16"));
    EXPECT_EQ(a[0].start, SimClock::time_point{} + kT);  // the others keep their time
    a = Answer();
    ApplyFault(Fault::Flip(-2, 0x80), a, kT);
    EXPECT_EQ(a[7].value, 0xFF);
    a = Answer();
    ApplyFault(Fault::Parity(4), a, kT);
    EXPECT_TRUE(a[4].parity);
    EXPECT_EQ(a[4].value, 0x08);
    a = Answer();
    ApplyFault(Fault::Framing(100), a, kT);  // beyond the end: the last byte
    EXPECT_TRUE(a[8].framing);
    a = Answer();
    ApplyFault(Fault::Silence(), a, kT);
    EXPECT_TRUE(a.empty());
    a = Answer();
    ApplyFault(Fault::None(), a, kT);
    EXPECT_EQ(ValuesOf(a), ValuesOf(Answer()));
}

TEST(FaultsTest, ExtraByteShiftsTheRest) {
    auto a = Answer();
    ApplyFault(Fault::Extra(), a, kT);
    EXPECT_EQ(ValuesOf(a), Hex("68 03 03 68 08 05 72 7F 16 FF"));
    EXPECT_EQ(a.back().start, SimClock::time_point{} + 9 * kT);
    a = Answer();
    ApplyFault(Fault::Extra(0, 0xE5), a, kT);
    EXPECT_EQ(ValuesOf(a), Hex("E5 68 03 03 68 08 05 72 7F 16"));
    EXPECT_EQ(a[1].start, SimClock::time_point{} + kT);
    EXPECT_EQ(a.back().start, SimClock::time_point{} + 9 * kT);
    a = Answer();
    ApplyFault(Fault::Extra(-2, 0x00), a, kT);
    EXPECT_EQ(ValuesOf(a), Hex("68 03 03 68 08 05 72 7F 00 16"));
}

TEST(FaultsTest, FaultOnAnEmptyAnswerDoesNothing) {
    std::vector<LineByte> empty;
    for (const Fault& f : {Fault::Drop(), Fault::Extra(), Fault::Flip(), Fault::Silence()}) {
        ApplyFault(f, empty, kT);
        EXPECT_TRUE(empty.empty());
    }
}

}  // namespace
}  // namespace mbus::sim::test
