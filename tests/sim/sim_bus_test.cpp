// The simulated bus: addressing, multi-telegram answers, echo, collisions,
// faults, baud switches, split frames and pacing.

#include <algorithm>
#include <cstring>
#include <thread>

#include "control/line/frame_shape.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;
using serial::WireByte;

const SimClock::time_point kEnd = SimClock::time_point{} + 100s;

VirtualSlave Slave(std::string_view fields) {
    VirtualSlave s;
    std::vector<std::string> errors;
    EXPECT_TRUE(ParseSlave(fields, &s, errors)) << (errors.empty() ? "" : errors.front());
    return s;
}

serial::SerialConfig Line(int baud = 2400) {
    serial::SerialConfig c;
    c.baud = baud;
    return c;
}

class SimBusTest : public ::testing::Test {
protected:
    SimBusTest() {
        bus.SetPaced(false);
        bus.AddSlave(Slave("primary=1 id=11111111 man=QXA version=01 medium=07 records=0413D2040000"));
        bus.AddSlave(Slave("primary=2 id=22222222 man=QXB version=02 medium=04 records=0C06785634120C13000000"));
        bus.AddSlave(Slave("primary=3 id=33333333 man=QXC version=03 medium=02 records=0403E8030000"));
    }

    // Sends a frame (whole, at `end`) and returns what comes back.
    std::vector<WireByte> Send(const Bytes& frame, int baud = 2400, SimClock::time_point end = kEnd) {
        return bus.OnMasterBytes(frame, end, Line(baud));
    }
    Bytes Exchange(const Bytes& frame, int baud = 2400) { return ValuesOf(Send(frame, baud)); }

    SimBus bus;
};

TEST_F(SimBusTest, ReqUd2ReachesEachSlaveByItsPrimaryAddress) {
    const struct {
        uint8_t address;
        int32_t id;
        const char* man;
        int32_t medium;
        int64_t value;
    } rows[] = {{1, 0x11111111, "QXA", 7, 1234}, {2, 0x22222222, "QXB", 4, 12345678}, {3, 0x33333333, "QXC", 2, 1000}};
    for (const auto& r : rows) {
        const Bytes answer = Exchange(ShortFrame(0x7B, r.address));
        const FrameShape shape = ClassifyFrame(answer);
        ASSERT_EQ(shape.result, 3) << int(r.address);
        EXPECT_EQ(shape.A, r.address);
        const auto t = Decode(answer);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->identNumber, r.id);
        EXPECT_STREQ(t->manufacturerText, r.man);
        EXPECT_EQ(t->medium, r.medium);
        ASSERT_GE(t->RecordCount(), 1);
        EXPECT_EQ(t->records[0].value, r.value);
    }
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 4)).empty());
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 255)).empty());
}

TEST_F(SimBusTest, SndNkeIsAcknowledgedWithE5) {
    EXPECT_EQ(Exchange(ShortFrame(0x40, 2)), Bytes{0xE5});
    EXPECT_TRUE(Exchange(ShortFrame(0x40, 9)).empty());
    EXPECT_TRUE(Exchange(ShortFrame(0x40, 255)).empty());  // broadcast: no answer
}

TEST_F(SimBusTest, ReqUd1IsAcknowledgedWithE5) {
    EXPECT_EQ(Exchange(ShortFrame(0x5A, 3)), Bytes{0xE5});
    EXPECT_EQ(Exchange(ShortFrame(0x7A, 3)), Bytes{0xE5});
    EXPECT_TRUE(Exchange(ShortFrame(0x5A, 4)).empty());
}

TEST_F(SimBusTest, SndUdIsAcknowledgedByTheAddressedSlave) {
    EXPECT_EQ(Exchange(LongFrame(0x53, 1, 0x51, Hex("01 FD 1C 03"))), Bytes{0xE5});
    EXPECT_TRUE(Exchange(LongFrame(0x53, 7, 0x51, Hex("01 FD 1C 03"))).empty());
    // The extended frame as well.
    EXPECT_EQ(Exchange(Hex("D8 03 00 03 00 D8 53 01 51 A5 16")), Bytes{0xE5});
}

TEST_F(SimBusTest, SecondaryAddressingSelectsAndReadsOneSlave) {
    EXPECT_EQ(Exchange(Selection(Hex("22 22 22 22 FF FF FF FF"))), Bytes{0xE5});
    const auto t = Decode(Exchange(ShortFrame(0x7B, 253)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x22222222);
    EXPECT_EQ(Exchange(ShortFrame(0x40, 253)), Bytes{0xE5});  // deselect
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 253)).empty());
    EXPECT_TRUE(Exchange(Selection(Hex("44 44 44 44 FF FF FF FF"))).empty());
}

TEST_F(SimBusTest, SelectionByFabricationNumberAndCustomer) {
    bus.ClearSlaves();
    bus.AddSlave(Slave("primary=1 id=11111111 fab=00000001 customer=111111111111 location=000000000001"));
    bus.AddSlave(Slave("primary=2 id=22222222 fab=00000002 customer=222222222222 location=000000000002"));
    EXPECT_EQ(Exchange(Selection(Hex("FF FF FF FF FF FF FF FF 0C 78 02 00 00 00"))), Bytes{0xE5});
    auto t = Decode(Exchange(ShortFrame(0x7B, 253)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x22222222);
    EXPECT_STREQ(t->fabricationNumber, "00000002");

    EXPECT_EQ(Exchange(Selection(Hex("FF FF FF FF FF FF FF FF 06 FD 11 11 11 11 11 11 11 06 FD 10 01 00 00 00 00 00"))),
              Bytes{0xE5});
    t = Decode(Exchange(ShortFrame(0x7B, 253)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x11111111);
    EXPECT_STREQ(t->customer, "111111111111");
    EXPECT_STREQ(t->customerLocation, "000000000001");
}

TEST_F(SimBusTest, MultiTelegramAnswersFollowTheFcb) {
    bus.ClearSlaves();
    bus.AddSlave(Slave("primary=5 records=041301000000 records=041302000000 records=041303000000"));
    auto read = [&](uint8_t C) { return Exchange(ShortFrame(C, 5)); };
    auto valueOf = [](const Bytes& answer) -> int64_t {
        const auto t = Decode(answer);
        return t && t->RecordCount() > 0 ? t->records[0].value : -1;
    };
    auto more = [](const Bytes& answer) { return Decode(answer)->moreRecordsFollow; };

    ASSERT_EQ(Exchange(ShortFrame(0x40, 5)), Bytes{0xE5});
    const Bytes first = read(0x7B);
    EXPECT_EQ(valueOf(first), 1);
    EXPECT_EQ(more(first), 1);
    EXPECT_EQ(first[first.size() - 3], 0x1F);
    const Bytes second = read(0x5B);
    EXPECT_EQ(valueOf(second), 2);
    EXPECT_EQ(read(0x5B), second);  // the same FCB: the lost answer once more, byte for byte
    const Bytes third = read(0x7B);
    EXPECT_EQ(valueOf(third), 3);
    EXPECT_EQ(more(third), 0);
    EXPECT_EQ(valueOf(read(0x5B)), 1);  // after the last telegram the first again
    EXPECT_EQ(valueOf(read(0x7B)), 2);
    EXPECT_EQ(valueOf(read(0x4B)), 2);  // without FCV: the current telegram, no step

    // SND_NKE and the application reset start over.
    ASSERT_EQ(Exchange(ShortFrame(0x40, 5)), Bytes{0xE5});
    EXPECT_EQ(valueOf(read(0x5B)), 1);
    EXPECT_EQ(valueOf(read(0x7B)), 2);
    ASSERT_EQ(Exchange(ControlFrame(0x53, 5, 0x50)), Bytes{0xE5});
    EXPECT_EQ(valueOf(read(0x7B)), 1);
}

TEST_F(SimBusTest, RepetitionKeepsTheAccessNumberOfTheLostAnswer) {
    const auto a = Decode(Exchange(ShortFrame(0x7B, 1)));
    const auto repeated = Decode(Exchange(ShortFrame(0x7B, 1)));
    const auto next = Decode(Exchange(ShortFrame(0x5B, 1)));
    ASSERT_TRUE(a && repeated && next);
    EXPECT_EQ(repeated->accessNumber, a->accessNumber);
    EXPECT_EQ(next->accessNumber, a->accessNumber + 1);
}

TEST_F(SimBusTest, AccessNumberKeepsCountingOverResetsOfTheConversation) {
    // A reader tells a fresh answer from an old one by the access number:
    // SND_NKE starts the conversation over, not the count of answers.
    const auto first = Decode(Exchange(ShortFrame(0x7B, 1)));
    ASSERT_EQ(Exchange(ShortFrame(0x40, 1)), Bytes{0xE5});
    const auto afterReset = Decode(Exchange(ShortFrame(0x7B, 1)));
    ASSERT_TRUE(first && afterReset);
    EXPECT_EQ(afterReset->accessNumber, first->accessNumber + 1);
}

TEST_F(SimBusTest, FullEchoReturnsEveryMasterByteAsItIsSent) {
    bus.SetPaced(true);
    bus.SetEcho(EchoMode::kFull);
    const Bytes req = ShortFrame(0x40, 1);
    const auto back = Send(req);
    ASSERT_EQ(back.size(), 6u);
    EXPECT_EQ(ValuesOf(back), Hex("10 40 01 41 16 E5"));
    const auto T = serial::CharacterTime(Line());
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(back[i].at, kEnd - T * static_cast<int64_t>(4 - i));
    EXPECT_GT(back[5].at, kEnd);
    // Bytes that are no frame come back as well.
    EXPECT_EQ(ValuesOf(Send(Hex("00 11"))), Hex("00 11"));
}

TEST_F(SimBusTest, PartialEchoReturnsTheLastBytesOfEachFrame) {
    bus.SetEcho(EchoMode::kPartial, 2);
    EXPECT_EQ(Exchange(ShortFrame(0x40, 1)), Hex("41 16 E5"));
    Bytes two = ShortFrame(0x40, 1);
    const Bytes other = ShortFrame(0x40, 9);
    two.insert(two.end(), other.begin(), other.end());
    EXPECT_EQ(Exchange(two), Hex("41 16 49 16 E5"));  // the echo comes while sending, the answer after
    EXPECT_TRUE(Exchange(Hex("00 11")).empty());  // noise is not echoed
}

TEST_F(SimBusTest, TwoSlavesWithTheSameAddressGarbleTheAnswer) {
    bus.AddSlave(Slave("primary=1 id=99999999 man=QXA version=01 medium=07 records=0413D2040000"));
    const auto back = Send(ShortFrame(0x7B, 1));
    ASSERT_FALSE(back.empty());
    EXPECT_TRUE(std::any_of(back.begin(), back.end(), [](const WireByte& b) { return b.framing; }));
    EXPECT_EQ(ClassifyFrame(ValuesOf(back)).result, 4);
    EXPECT_EQ(bus.Counters().collisions, 1u);
}

TEST_F(SimBusTest, WildcardSelectionCollidesOnlyWhenTheAnswersDiffer) {
    // Every slave acknowledges: the E5 bytes are alike and the line shows one clean E5.
    const auto ack = Send(Selection(Hex("FF FF FF FF FF FF FF FF")));
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0].value, 0xE5);
    EXPECT_FALSE(ack[0].framing);
    // Reading the selected slaves garbles.
    const auto back = Send(ShortFrame(0x7B, 253));
    EXPECT_EQ(ClassifyFrame(ValuesOf(back)).result, 4);
    // A narrower mask finds one.
    EXPECT_EQ(Exchange(Selection(Hex("FF FF FF 3F FF FF FF FF"))), Bytes{0xE5});
    const auto t = Decode(Exchange(ShortFrame(0x5B, 253)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x33333333);
}

TEST_F(SimBusTest, QueuedFaultsActOnTheNextAnswersInOrder) {
    const Bytes clean = Exchange(ShortFrame(0x4B, 1));
    bus.QueueFault(Fault::Silence());
    bus.ClearFaults();
    EXPECT_EQ(bus.PendingFaults(), 0u);
    bus.QueueFault(Fault::Drop(5));
    bus.QueueFault(Fault::None());
    bus.QueueFault(Fault::Flip(4, 0x20));
    bus.QueueFault(Fault::Parity(0));
    bus.QueueFault(Fault::Extra());
    bus.QueueFault(Fault::Silence());

    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 9)).empty());  // no answer: no fault used
    EXPECT_EQ(bus.PendingFaults(), 6u);
    Bytes a = Exchange(ShortFrame(0x4B, 1));
    EXPECT_EQ(a.size(), clean.size() - 1);
    EXPECT_EQ(ClassifyFrame(a).result, 4);
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x4B, 1))).result, 3);
    a = Exchange(ShortFrame(0x4B, 1));
    EXPECT_EQ(a[4], 0x28);  // C field with the flipped bit
    EXPECT_EQ(ClassifyFrame(a).result, 4);
    const auto withParity = Send(ShortFrame(0x40, 1));
    ASSERT_EQ(withParity.size(), 1u);
    EXPECT_TRUE(withParity[0].parity);
    EXPECT_EQ(Exchange(ShortFrame(0x40, 1)), Hex("E5 FF"));
    EXPECT_TRUE(Exchange(ShortFrame(0x40, 1)).empty());
    EXPECT_EQ(Exchange(ShortFrame(0x40, 1)), Bytes{0xE5});
    EXPECT_EQ(bus.PendingFaults(), 0u);
}

TEST_F(SimBusTest, SilencedAnswerIsRepeatedWhenTheMasterAsksAgain) {
    bus.QueueFault(Fault::Silence());
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 2)).empty());
    const auto t = Decode(Exchange(ShortFrame(0x7B, 2)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->accessNumber, 0);  // the answer that was lost
}

TEST_F(SimBusTest, RandomFaultsAreReproducibleFromTheSeed) {
    auto run = [](uint32_t seed) {
        SimBus b;
        b.SetPaced(false);
        b.AddSlave(Slave("primary=1 records=0413D2040000"));
        b.SetRandomFaults(0.5, seed);
        std::vector<Bytes> answers;
        for (int i = 0; i < 40; ++i) answers.push_back(ValuesOf(b.OnMasterBytes(ShortFrame(0x4B, 1), kEnd, Line())));
        return answers;
    };
    const auto a = run(7), b = run(7);
    EXPECT_EQ(a, b);
    int faulty = 0;
    for (const Bytes& x : a) faulty += ClassifyFrame(x).result != 3;
    EXPECT_GT(faulty, 5);
    EXPECT_LT(faulty, 35);
}

TEST_F(SimBusTest, GarbledRandomFaultsLeaveBytesButNoValidFrame) {
    // Every answer struck, none silenced: a REQ_UD2's long frame and a
    // SND_NKE's single E5h both arrive, never as a valid frame (a byte with
    // a UART fault, or bytes that are no frame of their length).
    auto flagged = [](const std::vector<WireByte>& w) {
        return std::any_of(w.begin(), w.end(), [](const WireByte& b) { return b.parity || b.framing; });
    };
    SimBus b;
    b.SetPaced(false);
    b.AddSlave(Slave("primary=1 records=0413D2040000"));
    b.SetRandomFaults(1.0, 11, SimBus::RandomFaults::kGarbled);
    for (int i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        const std::vector<WireByte> read = b.OnMasterBytes(ShortFrame(0x4B, 1), kEnd, Line());
        ASSERT_FALSE(read.empty());
        const Bytes v = ValuesOf(read);
        const bool validRead = !flagged(read) && ClassifyFrame(v).result == 3 && v.size() == v[1] + 6u;
        EXPECT_FALSE(validRead);
        const std::vector<WireByte> ack = b.OnMasterBytes(ShortFrame(0x40, 1), kEnd, Line());
        ASSERT_FALSE(ack.empty());
        EXPECT_FALSE(ack.size() == 1 && ack[0].value == 0xE5 && !flagged(ack));
    }
}

TEST_F(SimBusTest, BaudSwitchIsAcknowledgedAtTheOldRateAndTheNewOneHoldsAfterwards) {
    bus.SetPaced(true);
    const auto ack = Send(ControlFrame(0x53, 2, 0xBD), 2400);
    ASSERT_EQ(ValuesOf(ack), Bytes{0xE5});
    const auto T2400 = serial::CharacterTime(Line(2400));
    const auto delay = std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(double(sim::SimBus::kDefaultReplyDelayBits) / 2400));
    EXPECT_EQ(ack[0].at, kEnd + delay + T2400);
    bus.WithSlave(1, [](VirtualSlave& s) {
        EXPECT_EQ(s.baud, 9600);
        EXPECT_EQ(s.values.requestedBaudRate, 9600);
    });
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 2), 2400).empty());
    const auto t = Decode(Exchange(ShortFrame(0x7B, 2), 9600));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x22222222);
    // The others still listen at 2400.
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 1), 9600).empty());
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 1), 2400)).result, 3);
    // And back.
    EXPECT_EQ(Exchange(ControlFrame(0x53, 2, 0xBB), 9600), Bytes{0xE5});
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x5B, 2), 2400)).result, 3);
}

// Commissioning of plain meters of a bus description: a new primary address
// (DIF 01h VIF 7Ah), a baud switch and an application reset, sent to the
// primary address or, after a secondary selection, to 253.
TEST_F(SimBusTest, NewPrimaryAddressIsAcknowledgedAndHoldsAfterwards) {
    EXPECT_EQ(Exchange(LongFrame(0x53, 2, 0x51, Hex("01 7A 07"))), Bytes{0xE5});
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 2)).empty());
    auto t = Decode(Exchange(ShortFrame(0x7B, 7)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x22222222);
    // Other records, or the new address to another slave, change nothing here.
    EXPECT_EQ(Exchange(LongFrame(0x53, 7, 0x51, Hex("01 FD 0C 05"))), Bytes{0xE5});
    EXPECT_EQ(Exchange(LongFrame(0x53, 3, 0x51, Hex("01 7A 09"))), Bytes{0xE5});
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 7))).result, 3);
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 3)).empty());

    // By secondary address: selected, then addressed at 253.
    EXPECT_EQ(Exchange(Selection(Hex("11 11 11 11 FF FF FF FF"))), Bytes{0xE5});
    EXPECT_EQ(Exchange(LongFrame(0x53, 253, 0x51, Hex("01 7A 0C"))), Bytes{0xE5});
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 1)).empty());
    t = Decode(Exchange(ShortFrame(0x7B, 12)));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x11111111);
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 12))).A, 12);
}

TEST_F(SimBusTest, BaudSwitchAndResetReachSelectedMetersAndLongFrames) {
    EXPECT_EQ(Exchange(Selection(Hex("33 33 33 33 FF FF FF FF"))), Bytes{0xE5});
    EXPECT_EQ(Exchange(ControlFrame(0x53, 253, 0xBE)), Bytes{0xE5});  // to 19200
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 3), 2400).empty());
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 3), 19200)).result, 3);
    // A switch sent as a long frame (with records behind the CI) acts the same.
    EXPECT_EQ(Exchange(LongFrame(0x53, 1, 0xBC, Hex("00")), 2400), Bytes{0xE5});
    EXPECT_TRUE(Exchange(ShortFrame(0x7B, 1), 2400).empty());
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 1), 4800)).result, 3);
    // An application reset, long frame to the selected meter: the next answer is the first block again.
    bus.AddSlave(Slave("primary=9 id=99999999 records=0413D2040000 records=0413D3040000 records=0413D4040000"));
    EXPECT_EQ(Exchange(Selection(Hex("99 99 99 99 FF FF FF FF"))), Bytes{0xE5});
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x7B, 253))).result, 3);
    EXPECT_EQ(ClassifyFrame(Exchange(ShortFrame(0x5B, 253))).result, 3);  // the second block
    EXPECT_EQ(Exchange(LongFrame(0x53, 253, 0x50, Hex("00"))), Bytes{0xE5});
    const auto t = Decode(Exchange(ShortFrame(0x7B, 253)));
    ASSERT_NE(t, nullptr);
    ASSERT_GE(t->RecordCount(), 1);
    EXPECT_EQ(t->records[0].value, 1234);
}

TEST_F(SimBusTest, SlaveWithItsOwnRateIgnoresOtherRates) {
    bus.AddSlave(Slave("primary=8 baud=9600"));
    EXPECT_TRUE(Exchange(ShortFrame(0x40, 8), 2400).empty());
    EXPECT_EQ(Exchange(ShortFrame(0x40, 8), 9600), Bytes{0xE5});
    bus.SetDefaultBaud(9600);  // the others follow the bus's rate
    EXPECT_EQ(Exchange(ShortFrame(0x40, 1), 9600), Bytes{0xE5});
}

TEST_F(SimBusTest, FramesSplitOverSeveralCallsAreJoined) {
    const Bytes req = ShortFrame(0x7B, 3);
    EXPECT_TRUE(Exchange(Bytes(req.begin(), req.begin() + 1)).empty());
    EXPECT_TRUE(Exchange(Bytes(req.begin() + 1, req.begin() + 3)).empty());
    const Bytes answer = Exchange(Bytes(req.begin() + 3, req.end()));
    EXPECT_EQ(ClassifyFrame(answer).result, 3);

    // Noise before a frame is skipped; two frames in one call are both answered.
    Bytes stream = Hex("00 FF 16");
    const Bytes nke1 = ShortFrame(0x40, 1), nke2 = ShortFrame(0x40, 2);
    stream.insert(stream.end(), nke1.begin(), nke1.end());
    stream.insert(stream.end(), nke2.begin(), nke2.end());
    EXPECT_EQ(Exchange(stream), Hex("E5 E5"));
    EXPECT_EQ(bus.Counters().discarded, 3u);

    const Bytes sel = Selection(Hex("11 11 11 11 FF FF FF FF"));
    for (std::size_t i = 0; i + 1 < sel.size(); ++i) EXPECT_TRUE(Exchange({sel[i]}).empty()) << i;
    EXPECT_EQ(Exchange({sel.back()}), Bytes{0xE5});
}

TEST_F(SimBusTest, LongPauseDropsAnUnfinishedFrame) {
    const Bytes req = ShortFrame(0x7B, 3);
    EXPECT_TRUE(Send(Bytes(req.begin(), req.begin() + 2), 2400, kEnd).empty());
    EXPECT_TRUE(Send(Bytes(req.begin() + 2, req.end()), 2400, kEnd + 2s).empty());
    EXPECT_EQ(bus.Counters().discarded, 5u);
    EXPECT_EQ(ClassifyFrame(ValuesOf(Send(req, 2400, kEnd + 3s))).result, 3);
}

TEST_F(SimBusTest, FrameSentPartlyAtAnotherRateIsNotUnderstood) {
    const Bytes req = ShortFrame(0x40, 1);
    EXPECT_TRUE(Exchange(Bytes(req.begin(), req.begin() + 2), 2400).empty());
    EXPECT_TRUE(Exchange(Bytes(req.begin() + 2, req.end()), 9600).empty());
    EXPECT_EQ(bus.Counters().frames, 1u);
}

TEST_F(SimBusTest, PacedAnswerBytesFollowEachOtherAfterTheReplyDelay) {
    bus.SetPaced(true);
    const serial::SerialConfig line = Line(2400);
    const auto T = serial::CharacterTime(line);
    const auto delay = std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(double(sim::SimBus::kDefaultReplyDelayBits) / 2400));
    const auto back = bus.OnMasterBytes(ShortFrame(0x7B, 1), kEnd, line);
    ASSERT_GT(back.size(), 20u);
    for (std::size_t j = 0; j < back.size(); ++j)
        EXPECT_EQ(back[j].at, kEnd + delay + T * static_cast<int64_t>(j + 1)) << j;

    bus.SetReplyDelay(50ms);
    const auto fixed = bus.OnMasterBytes(ShortFrame(0x40, 1), kEnd, line);
    ASSERT_EQ(fixed.size(), 1u);
    EXPECT_EQ(fixed[0].at, kEnd + 50ms + T);

    // At 9600 baud with 8N1 a character is ten bit times.
    bus.SetReplyDelayBits(11);
    serial::SerialConfig fast = Line(9600);
    fast.parity = 0;
    bus.SetDefaultBaud(9600);
    const auto quick = bus.OnMasterBytes(ShortFrame(0x40, 1), kEnd, fast);
    ASSERT_EQ(quick.size(), 1u);
    const auto expected = kEnd + std::chrono::duration_cast<SimClock::duration>(std::chrono::duration<double>(11.0 / 9600)) +
                          serial::CharacterTime(fast);
    EXPECT_EQ(quick[0].at, expected);
}

TEST_F(SimBusTest, UnpacedTheEchoArrivesAtTheEndAndTheAnswerAtOnceAfterTheReplyDelay) {
    bus.SetEcho(EchoMode::kFull);
    const auto back = Send(ShortFrame(0x7B, 1));
    ASSERT_GT(back.size(), 5u);
    const auto delay = std::chrono::duration_cast<SimClock::duration>(
        std::chrono::duration<double>(double(SimBus::kDefaultReplyDelayBits) / 2400));
    for (std::size_t i = 0; i < back.size(); ++i) EXPECT_EQ(back[i].at, i < 5 ? kEnd : kEnd + delay) << i;
    EXPECT_FALSE(bus.Paced());
}

TEST_F(SimBusTest, LogDescribesFramesAndAnswers) {
    std::vector<std::string> lines;
    bus.SetLog([&](const std::string& l) { lines.push_back(l); });
    Exchange(ShortFrame(0x7B, 1));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find("REQ_UD2 to 1, FCB 1"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("slave 1 (primary 1): 68"), std::string::npos) << lines[1];
    EXPECT_EQ(DescribeRequest(Selection(Hex("FF FF FF FF FF FF FF FF"))), "selection to 253 (selected)");
    EXPECT_EQ(DescribeRequest(ControlFrame(0x53, 4, 0xBD)), "baud switch to 9600 to 4");
}

TEST_F(SimBusTest, SlavesAndFaultsMayChangeWhileTheMasterTalks) {
    std::thread master([&] {
        for (int i = 0; i < 200; ++i) {
            const uint8_t C = (i % 3 == 2) ? 0x40 : static_cast<uint8_t>(i % 2 ? 0x5B : 0x7B);
            bus.OnMasterBytes(ShortFrame(C, i % 5 == 4 ? 254 : 1), kEnd, Line());
        }
    });
    for (int i = 0; i < 200; ++i) {
        if (i % 10 == 0) bus.AddSlave(Slave("primary=9"));
        bus.QueueFault(Fault::Flip());
        bus.SetEcho(i % 2 ? EchoMode::kFull : EchoMode::kNone);
        bus.WithSlave(0, [](VirtualSlave& s) { s.values.status ^= 1; });
        (void)bus.Counters();
    }
    master.join();
    EXPECT_EQ(bus.SlaveCount(), 23u);
    EXPECT_EQ(bus.Counters().frames, 200u);
}

}  // namespace
}  // namespace mbus::sim::test
