// MBSlaveValues: addressing, selection, and the RSP_UD it builds.

#include <climits>
#include <cstring>

#include "control/decode/slave_values.h"
#include "control/line/frame_shape.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

// Asks the slave about a complete frame, classified as the link layer does.
int Check(MBSlaveValues& s, const Bytes& frame) {
    const FrameShape shape = ClassifyFrame(frame);
    EXPECT_NE(shape.result, 4) << "test frame is malformed";
    return s.CheckAddress(shape.result, shape.C, shape.A, shape.CI, frame.data(), static_cast<int>(frame.size()));
}

Bytes Answer(MBSlaveValues& s) {
    uint8_t frame[MBSlaveValues::kMaxFrame];
    int n = 0;
    s.PrepareRSPUD(0, 0, frame, &n);
    return Bytes(frame, frame + n);
}

// The eight selection bytes of the default slave (12345678, "ORL", 1, 0Eh), least significant first.
Bytes DefaultIdentity() { return Hex("78 56 34 12 4C 3E 01 0E"); }
Bytes AllWildcards() { return Hex("FF FF FF FF FF FF FF FF"); }

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

TEST(SlaveValuesTest, ConstructionGivesTheDocumentedDefaults) {
    const MBSlaveValues s;
    EXPECT_EQ(s.selectionState, 0);
    EXPECT_EQ(s.firstAnswer, 1);
    EXPECT_EQ(s.primaryAddress, 0);
    EXPECT_EQ(s.selectionCI, 0x52);
    EXPECT_EQ(s.answerC, 0x08);
    EXPECT_EQ(s.answerCI, 0x72);
    EXPECT_EQ(s.identNumber, 0x12345678u);
    EXPECT_EQ(s.manufacturer, 0x3E4C);
    EXPECT_STREQ(s.manufacturerText, "ORL");
    EXPECT_EQ(s.version, 1);
    EXPECT_EQ(s.medium, 0x0E);
    EXPECT_STREQ(s.mediumText, "Bus/System");
    EXPECT_EQ(s.accessNumber, 0);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.signature, 0);
    EXPECT_STREQ(s.customerLocation, "123456789012");
    EXPECT_STREQ(s.customer, "777777777777");
    EXPECT_STREQ(s.fabricationNumber, "12345678");
    EXPECT_TRUE(s.userData.empty());
    EXPECT_EQ(s.userDataSize, 0u);
    EXPECT_EQ(s.requestedBaudRate, 0);
}

TEST(SlaveValuesTest, FreshSlaveAnswersReqUd2ToItsAddressAndToBroadcastButNotTo253) {
    MBSlaveValues s;
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 0)), 1);
    EXPECT_EQ(Check(s, ShortFrame(0x7B, 0)), 1);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 254)), 1);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 253)), 0);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 255)), 0);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 1)), 0);
}

TEST(SlaveValuesTest, ReqUd1AndOtherShortFramesAreNotForTheSlave) {
    MBSlaveValues s;
    EXPECT_EQ(Check(s, ShortFrame(0x5A, 0)), 0);
    EXPECT_EQ(Check(s, ShortFrame(0x53, 0)), 0);
    const Bytes e5{0xE5};
    EXPECT_EQ(s.CheckAddress(0, 0, 0, 0, e5.data(), 1), 0);
}

TEST(SlaveValuesTest, SndNkeTo253AfterSelectionAcknowledgesOnceAndEndsTheSelection) {
    MBSlaveValues s;
    ASSERT_EQ(Check(s, Selection(DefaultIdentity())), 1);
    EXPECT_EQ(s.selectionState, 1);
    EXPECT_EQ(Check(s, ShortFrame(0x7B, 253)), 1);  // the selected slave answers at 253
    s.firstAnswer = 0;
    s.accessNumber = 9;
    EXPECT_EQ(Check(s, ShortFrame(0x40, 253)), 1);
    EXPECT_EQ(s.selectionState, 0);
    EXPECT_EQ(s.firstAnswer, 1);
    EXPECT_EQ(s.accessNumber, 0);
    EXPECT_EQ(Check(s, ShortFrame(0x40, 253)), 0);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 253)), 0);
}

TEST(SlaveValuesTest, SndNkeTo255ResetsFirstAnswerAndAccessNumberWithoutAcknowledging) {
    MBSlaveValues s;
    s.firstAnswer = 0;
    s.accessNumber = 42;
    EXPECT_EQ(Check(s, ShortFrame(0x40, 255)), 0);
    EXPECT_EQ(s.firstAnswer, 1);
    EXPECT_EQ(s.accessNumber, 0);
}

TEST(SlaveValuesTest, SndNkeToOwnAddressAndTo254Acknowledge) {
    MBSlaveValues s;
    s.primaryAddress = 7;
    s.accessNumber = 3;
    EXPECT_EQ(Check(s, ShortFrame(0x40, 7)), 1);
    EXPECT_EQ(s.accessNumber, 0);
    s.accessNumber = 3;
    EXPECT_EQ(Check(s, ShortFrame(0x40, 254)), 1);
    EXPECT_EQ(s.accessNumber, 0);
    s.accessNumber = 3;
    EXPECT_EQ(Check(s, ShortFrame(0x40, 8)), 0);
    EXPECT_EQ(s.accessNumber, 3);
}

TEST(SlaveValuesTest, SelectionWithAllWildcardsSelectsEverySlave) {
    const struct {
        uint32_t id;
        uint16_t man;
        int version, medium;
    } slaves[] = {{0x12345678, 0x3E4C, 1, 0x0E}, {0x00000001, 0x4701, 0x00, 0x07}, {0x99999999, 0x0421, 0xFF, 0xFF}};
    for (const auto& v : slaves) {
        MBSlaveValues s;
        s.identNumber = v.id;
        s.manufacturer = v.man;
        s.version = v.version;
        s.medium = v.medium;
        EXPECT_EQ(Check(s, Selection(AllWildcards())), 1) << std::hex << v.id;
        EXPECT_EQ(s.selectionState, 1);
    }
}

TEST(SlaveValuesTest, NibbleWildcardsMatchAnyDigit) {
    MBSlaveValues s;  // 12345678
    EXPECT_EQ(Check(s, Selection(Hex("FF FF FF 1F FF FF FF FF"))), 1);
    EXPECT_EQ(Check(s, Selection(Hex("FF FF FF 2F FF FF FF FF"))), 0);
    EXPECT_EQ(s.selectionState, 0);
    EXPECT_EQ(Check(s, Selection(Hex("7F 56 34 12 FF FF F1 0F"))), 1);  // version 01 by F1, medium 0E by 0F
    EXPECT_EQ(Check(s, Selection(Hex("78 56 34 12 4C 3E 02 0E"))), 0);  // wrong version
    EXPECT_EQ(Check(s, Selection(Hex("78 56 34 12 4C 3E 01 07"))), 0);  // wrong medium
    EXPECT_EQ(Check(s, Selection(Hex("78 56 34 12 01 47 01 0E"))), 0);  // wrong manufacturer
}

TEST(SlaveValuesTest, FailedSelectionDeselectsASelectedSlave) {
    MBSlaveValues s;
    ASSERT_EQ(Check(s, Selection(DefaultIdentity())), 1);
    EXPECT_EQ(Check(s, Selection(Hex("11 11 11 11 FF FF FF FF"))), 0);
    EXPECT_EQ(s.selectionState, 0);
    EXPECT_EQ(Check(s, ShortFrame(0x5B, 253)), 0);
}

TEST(SlaveValuesTest, SelectionCIWithBit2ComparesMostSignificantByteFirst) {
    MBSlaveValues s;
    s.selectionCI = 0x56;
    // A selection with another CI is an ordinary SND_UD to 253, for a selected slave only.
    EXPECT_EQ(Check(s, Selection(DefaultIdentity(), 0x52)), 0);
    EXPECT_EQ(Check(s, Selection(Hex("12 34 56 78 3E 4C 01 0E"), 0x56)), 1);
    EXPECT_EQ(Check(s, Selection(Hex("78 56 34 12 4C 3E 01 0E"), 0x56)), 0);
    // The header of the answer follows the same order.
    ASSERT_EQ(Check(s, Selection(Hex("12 34 56 78 3E 4C 01 0E"), 0x56)), 1);
    const Bytes a = Answer(s);
    EXPECT_EQ(Bytes(a.begin() + 7, a.begin() + 13), Hex("12 34 56 78 3E 4C"));
}

TEST(SlaveValuesTest, SelectionNeedsMoreThanSixteenBytes) {
    MBSlaveValues s;
    // 68 L L 68 C A CI and 7 bytes: 16 in all, too short to be tested as a selection.
    const Bytes shortSelection = Selection(Hex("78 56 34 12 4C 3E 01"));
    ASSERT_EQ(shortSelection.size(), 16u);
    EXPECT_EQ(Check(s, shortSelection), 0);
    EXPECT_EQ(s.selectionState, 0);
}

TEST(SlaveValuesTest, ControlFrameBBRequestsTwentyFourHundredBaud) {
    MBSlaveValues s;
    EXPECT_EQ(Check(s, ControlFrame(0x53, 0, 0xBB)), 1);
    EXPECT_EQ(s.requestedBaudRate, 2400);
    EXPECT_EQ(Check(s, ControlFrame(0x73, 0, 0xBD)), 1);
    EXPECT_EQ(s.requestedBaudRate, 9600);
    EXPECT_EQ(Check(s, ControlFrame(0x53, 0, 0xB8)), 1);
    EXPECT_EQ(s.requestedBaudRate, 300);
    EXPECT_EQ(Check(s, ControlFrame(0x53, 0, 0xBF)), 1);
    EXPECT_EQ(s.requestedBaudRate, 38400);
}

TEST(SlaveValuesTest, BaudSwitchToAnotherSlaveLeavesThisOneAlone) {
    MBSlaveValues s;
    s.primaryAddress = 3;
    EXPECT_EQ(Check(s, ControlFrame(0x53, 4, 0xBD)), 0);
    EXPECT_EQ(s.requestedBaudRate, 0);
    // The broadcast without answer switches every slave but is not acknowledged.
    EXPECT_EQ(Check(s, ControlFrame(0x53, 255, 0xBD)), 0);
    EXPECT_EQ(s.requestedBaudRate, 9600);
}

TEST(SlaveValuesTest, ApplicationResetRestartsAnswers) {
    MBSlaveValues s;
    s.firstAnswer = 0;
    s.accessNumber = 5;
    EXPECT_EQ(Check(s, ControlFrame(0x53, 0, 0x50)), 1);
    EXPECT_EQ(s.firstAnswer, 1);
    EXPECT_EQ(s.accessNumber, 0);
    EXPECT_EQ(Check(s, ControlFrame(0x40, 0, 0x50)), 0);  // not an SND_UD
}

TEST(SlaveValuesTest, LongSndUdIsForTheAddressedSlaveOnly) {
    MBSlaveValues s;
    s.primaryAddress = 9;
    EXPECT_EQ(Check(s, LongFrame(0x53, 9, 0x51, Hex("01 FD 1C 03"))), 1);
    EXPECT_EQ(Check(s, LongFrame(0x73, 254, 0x51, Hex("01 FD 1C 03"))), 1);
    EXPECT_EQ(Check(s, LongFrame(0x53, 10, 0x51, Hex("01 FD 1C 03"))), 0);
    EXPECT_EQ(Check(s, LongFrame(0x08, 9, 0x72, Hex("01 FD 1C 03"))), 0);
}

TEST(SlaveValuesTest, PartialAnswerSendsWholeDataFirstAndThePartSecond) {
    MBSlaveValues s;
    const Bytes data = Hex("01 FD 17 00 02 FD 1B 00 00 0F");
    ASSERT_TRUE(s.SetUserData(data.data(), static_cast<int>(data.size())));
    ASSERT_TRUE(s.SetPartialAnswer(4, 5));
    EXPECT_EQ(s.userDataSize, 0x0405010Au);
    const Bytes first = Answer(s);
    EXPECT_EQ(Bytes(first.begin() + 19, first.end() - 2), data);
    const Bytes second = Answer(s);
    EXPECT_EQ(Bytes(second.begin() + 19, second.end() - 2), Hex("02 FD 1B 00 00"));
    const Bytes third = Answer(s);
    EXPECT_EQ(Bytes(third.begin() + 19, third.end() - 2), data);
    for (const Bytes* f : {&first, &second, &third}) EXPECT_EQ(ClassifyFrame(*f).result, 3);
}

TEST(SlaveValuesTest, PartReachingPastTheDataIsCutAtItsEnd) {
    MBSlaveValues s;
    const Bytes data = Hex("01 02 03 04");
    ASSERT_TRUE(s.SetUserData(data.data(), 4));
    ASSERT_TRUE(s.SetPartialAnswer(2, 100));
    Answer(s);
    const Bytes second = Answer(s);
    EXPECT_EQ(Bytes(second.begin() + 19, second.end() - 2), Hex("03 04"));
    // A size word that claims more than is held sends what is held.
    s.userDataSize = 0xC8;
    s.firstAnswer = 1;
    const Bytes third = Answer(s);
    EXPECT_EQ(Bytes(third.begin() + 19, third.end() - 2), data);
}

TEST(SlaveValuesTest, UserDataIsLimitedToWhatOneFrameHolds) {
    MBSlaveValues s;
    const Bytes big(MBSlaveValues::kMaxUserData + 1, 0x2F);
    EXPECT_FALSE(s.SetUserData(big.data(), static_cast<int>(big.size())));
    EXPECT_FALSE(s.SetUserData(big.data(), -1));
    EXPECT_FALSE(s.SetPartialAnswer(200, 30));
    ASSERT_TRUE(s.SetUserData(big.data(), MBSlaveValues::kMaxUserData));
    // With the customer records before it the frame is as long as a long frame gets.
    ASSERT_EQ(Check(s, Selection(Cat(AllWildcards(), Hex("06 FD 10 12 90 78 56 34 12")))), 1);
    ASSERT_EQ(s.selectionState, 3);
    const Bytes a = Answer(s);
    EXPECT_EQ(a.size(), static_cast<std::size_t>(MBSlaveValues::kMaxFrame));
    EXPECT_EQ(a[1], 0xFF);
    EXPECT_EQ(ClassifyFrame(a).result, 3);
}

TEST(SlaveValuesTest, AnswerDecodesBackToIdentityAndRecords) {
    MBSlaveValues s;
    s.primaryAddress = 5;
    s.identNumber = 0x87654321;
    s.manufacturer = 0x4701;  // "QXA"
    s.version = 2;
    s.medium = 7;
    s.status = 0x10;
    s.accessNumber = 0x2A;
    const Bytes records = Hex("04 13 D2 04 00 00 02 5B 2C 01");
    ASSERT_TRUE(s.SetUserData(records.data(), static_cast<int>(records.size())));
    const Bytes frame = Answer(s);
    const FrameShape shape = ClassifyFrame(frame);
    ASSERT_EQ(shape.result, 3);
    EXPECT_EQ(shape.C, 0x08);
    EXPECT_EQ(shape.A, 5);
    EXPECT_EQ(shape.CI, 0x72);
    const auto t = Decode(frame);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, static_cast<int32_t>(0x87654321));
    EXPECT_STREQ(t->manufacturerText, "QXA");
    EXPECT_EQ(t->version, 2);
    EXPECT_EQ(t->medium, 7);
    EXPECT_EQ(t->status, 0x10);
    EXPECT_EQ(t->accessNumber, 0x2A);
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->records[0].value, 1234);
    EXPECT_EQ(t->records[1].value, 300);
    EXPECT_EQ(s.accessNumber, 0x2B);
    EXPECT_EQ(Answer(s)[15], 0x2B);
}

TEST(SlaveValuesTest, AccessNumberWrapsWithoutOverflow) {
    MBSlaveValues s;
    s.accessNumber = INT32_MAX;
    const Bytes a = Answer(s);
    EXPECT_EQ(a[15], 0xFF);
    EXPECT_EQ(Answer(s)[15], 0x00);
}

TEST(SlaveValuesTest, SelectionByFabricationNumber) {
    MBSlaveValues s;
    std::memcpy(s.fabricationNumber, "87654321", 9);
    const Bytes right = Selection(Cat(AllWildcards(), Hex("0C 78 21 43 65 87")));
    ASSERT_EQ(right.size(), 23u);
    EXPECT_EQ(Check(s, right), 1);
    EXPECT_EQ(s.selectionState, 2);
    const Bytes a = Answer(s);
    EXPECT_EQ(Bytes(a.begin() + 19, a.begin() + 25), Hex("0C 78 21 43 65 87"));
    const auto t = Decode(a);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->fabricationNumber, "87654321");

    EXPECT_EQ(Check(s, Selection(Cat(AllWildcards(), Hex("0C 78 FF FF FF 8F")))), 1);  // wildcards
    EXPECT_EQ(Check(s, Selection(Cat(AllWildcards(), Hex("0C 78 21 43 65 88")))), 0);
    EXPECT_EQ(s.selectionState, 0);
}

TEST(SlaveValuesTest, SelectionByCustomerAndLocation) {
    MBSlaveValues s;  // customer 777777777777, location 123456789012
    const Bytes customer = Hex("06 FD 11 77 77 77 77 77 77");
    const Bytes location = Hex("06 FD 10 12 90 78 56 34 12");
    const Bytes both = Selection(Cat(Cat(AllWildcards(), customer), location));
    ASSERT_EQ(both.size(), 35u);
    EXPECT_EQ(Check(s, both), 1);
    EXPECT_EQ(s.selectionState, 3);
    const Bytes a = Answer(s);
    EXPECT_EQ(Bytes(a.begin() + 19, a.begin() + 37),
              Hex("0E FD 10 12 90 78 56 34 12 0E FD 11 77 77 77 77 77 77"));
    const auto t = Decode(a);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->customerLocation, "123456789012");
    EXPECT_STREQ(t->customer, "777777777777");

    // The location alone, the customer alone.
    EXPECT_EQ(Check(s, Selection(Cat(AllWildcards(), location))), 1);
    EXPECT_EQ(s.selectionState, 3);
    EXPECT_EQ(Check(s, Selection(Cat(AllWildcards(), customer))), 1);
    // A second record that does not match undoes the selection.
    const Bytes wrongLocation = Hex("06 FD 10 13 90 78 56 34 12");
    EXPECT_EQ(Check(s, Selection(Cat(Cat(AllWildcards(), customer), wrongLocation))), 0);
    EXPECT_EQ(s.selectionState, 0);
    EXPECT_EQ(Check(s, Selection(Cat(AllWildcards(), Hex("06 FD 11 77 77 77 77 77 78")))), 0);
}

TEST(SlaveValuesTest, OtherRecordsAfterTheIdentitySelectPlainly) {
    MBSlaveValues s;
    EXPECT_EQ(Check(s, Selection(Cat(DefaultIdentity(), Hex("01 7A 05")))), 1);
    EXPECT_EQ(s.selectionState, 1);
    EXPECT_EQ(Answer(s).size(), 21u);  // header only, no selection records
}

TEST(SlaveValuesTest, SelectionsOfEveryLengthReadOnlyTheirOwnBytes) {
    // Each frame sits in a buffer of exactly its length (the sanitizers watch the ends).
    MBSlaveValues s;
    for (std::size_t extra = 0; extra <= 20; ++extra) {
        Bytes payload = DefaultIdentity();
        const Bytes tail = Hex("06 FD 10 12 90 78 56 34 12 06 FD 11 77 77 77 77 77 77 0C 78");
        payload.insert(payload.end(), tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(std::min(extra, tail.size())));
        const Bytes frame = Selection(payload);
        auto exact = std::make_unique<uint8_t[]>(frame.size());
        std::memcpy(exact.get(), frame.data(), frame.size());
        const FrameShape shape = ClassifyFrame(frame);
        s.CheckAddress(shape.result, shape.C, shape.A, shape.CI, exact.get(), static_cast<int>(frame.size()));
        // Claimed lengths shorter than the frame are honoured as well.
        for (int n = 0; n <= static_cast<int>(frame.size()); ++n)
            s.CheckAddress(shape.result, shape.C, shape.A, shape.CI, exact.get(), n);
    }
    MBSlaveValues fresh;
    EXPECT_EQ(fresh.CheckAddress(3, 0x53, 253, 0x52, nullptr, 40), 0);
}

}  // namespace
}  // namespace mbus::sim::test
