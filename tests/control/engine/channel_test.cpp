// A channel's worker on a simulated bus: repetitions, breaks, selections,
// telegrams handed in as text, the read with telegram selection and the
// lines the channel logs.

#include <gtest/gtest.h>

#include "control/engine/locks.h"
#include "sim/faults.h"
#include "tests/control/engine/engine_test_support.h"
#include "tests/support/lost_start.h"

namespace mbus::engine::test {
namespace {

const char* kWater = "primary=1 id=12345678 man=QXA version=01 medium=07 records=0413D2040000";

class ChannelTest : public ::testing::Test {
protected:
    SimulatedPorts ports_{1};
    Channel channel_{0};
    std::shared_ptr<RecordingLog> log_ = std::make_shared<RecordingLog>();

    void SetUp() override { channel_.SetLog(log_); }
    RecordingBus& Bus() { return ports_.Bus(1); }
};

TEST_F(ChannelTest, RequestWithoutSlaveIsSentRetriesTimesWithTheSameFCB) {
    OpenOnPort(channel_, 1, 3);
    channel_.RequestShort(kRequestREQUD2, 5);
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    const std::vector<Bytes> frames = Bus().Frames();
    ASSERT_EQ(frames.size(), 3u);
    for (const Bytes& f : frames) {
        ASSERT_EQ(f.size(), 5u);
        EXPECT_EQ(f[0], 0x10);
        EXPECT_EQ(f[1], frames[0][1]) << "every repetition carries the C field of the first attempt";
        EXPECT_EQ(f[1] & 0xCF, 0x4B);
        EXPECT_EQ(f[2], 5);
    }
    EXPECT_EQ(channel_.RetryCounter(), 1);
    EXPECT_EQ(channel_.LastReceptionKind(), 4);
    ASSERT_EQ(log_->Entries().size(), 1u);
    EXPECT_EQ(log_->Entries()[0].line, "5|5||");
    EXPECT_EQ(log_->Entries()[0].status, 4);
    EXPECT_FALSE(log_->Entries()[0].answered);
}

TEST_F(ChannelTest, ValidAnswerOnTheSecondAttempt) {
    Bus().AddSlave(kWater);
    Bus().bus->QueueFault(sim::Fault::Flip(3));  // the first answer arrives garbled
    OpenOnPort(channel_, 1, 3);
    channel_.RequestShort(kRequestREQUD2, 1);
    int highest = 0;
    while (channel_.TransactionResult() == kTransactionRunning) {
        highest = std::max(highest, channel_.RetryCounter());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(channel_.TransactionResult(), link::kRecLong);
    EXPECT_EQ(highest, 2) << "the retry counter reads 2 during the second attempt";
    EXPECT_EQ(channel_.RetryCounter(), 1);
    EXPECT_EQ(Bus().Frames().size(), 2u);
    EXPECT_EQ(Bus().Frames()[0], Bus().Frames()[1]);

    const auto answer = channel_.Answer();
    ASSERT_TRUE(answer->telegram);
    EXPECT_EQ(answer->telegram->identNumber, 0x12345678);
    EXPECT_EQ(answer->kind, link::kRecLong);
    EXPECT_EQ(channel_.C(), 0x08);
    EXPECT_EQ(channel_.A(), 1);
    EXPECT_EQ(channel_.CI(), 0x72);
    EXPECT_EQ(answer->bytes.front(), 0x68);
    EXPECT_EQ(answer->bytes.back(), 0x16);
    ASSERT_EQ(log_->Entries().size(), 1u);
    EXPECT_TRUE(log_->Entries()[0].answered);
    EXPECT_EQ(log_->Entries()[0].code, link::kRecLong);
    EXPECT_EQ(log_->Entries()[0].bytes, answer->bytes);
}

using testsupport::FilledLongFrame;

TEST_F(ChannelTest, AnswerThatLostItsStartByteIsRepeated) {
    OpenOnPort(channel_, 1, 3);
    const Bytes good = FilledLongFrame(0x09);
    // L fields that are also the first byte of another kind of answer.
    for (const uint8_t L : testsupport::kOtherFirstBytes) {
        SCOPED_TRACE(testing::Message() << "L field " << std::hex << int{L});
        const Bytes lost = FilledLongFrame(L);
        Bus().Script(Bytes(lost.begin() + 1, lost.end()));
        Bus().Script(good);
        const std::size_t before = Bus().Frames().size();
        channel_.RequestShort(kRequestREQUD2, 1);
        ASSERT_EQ(WaitForResult(channel_), link::kRecLong);
        const std::vector<Bytes> frames = Bus().Frames();
        ASSERT_EQ(frames.size(), before + 2) << "one repetition";
        EXPECT_EQ(frames[before], frames[before + 1]) << "the repetition carries the same FCB";
        EXPECT_EQ(channel_.Answer()->bytes, good);
        EXPECT_EQ(log_->Entries().back().bytes, good);
        EXPECT_EQ(channel_.SlaveList(), "");
    }
}

TEST_F(ChannelTest, SlaveListAnswersTheHouseCentralCommandOnly) {
    OpenOnPort(channel_, 1, 2);
    const Bytes list = {0x1B, 0x1B, 0x1B, 0x20, ' ', ' ', '5', '1', '2', '3', '4', '5', '6', '7', '8', ' ',
                        'Q',  'X',  'A',  ' ',  '0', '0', '1', ' ', '0', '7', ' ', ' ', '\r', '\n'};
    Bus().Script(list);
    Bus().Script(list);
    channel_.RequestShort(kRequestREQUD2, 5);
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_EQ(channel_.SlaveList(), "");
    Bus().Script(list);
    channel_.Request("122|||", kRequestNone, 0, {0x1B, 0x1B, 0x1B, 0x20});
    EXPECT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    EXPECT_EQ(channel_.SlaveList().substr(0, 11), "00512345678");
}

TEST_F(ChannelTest, BreakEndsTheRunningRequestOnly) {
    OpenOnPort(channel_, 1, 50);
    // No transaction runs: the break request is not kept.
    channel_.Break();
    channel_.RequestShort(kRequestREQUD1, 7);
    while (Bus().Frames().empty()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    channel_.Break();
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_LE(Bus().Frames().size(), 2u);
    EXPECT_EQ(Bus().Frames()[0][1] & 0xCF, 0x4A);
    // The next request is not broken off.
    OpenOnPort(channel_, 1, 2);
    const std::size_t before = Bus().Frames().size();
    channel_.RequestShort(kRequestREQUD1, 7);
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_EQ(Bus().Frames().size(), before + 2);
}

TEST_F(ChannelTest, SelectionBySecondaryAddress) {
    Bus().AddSlave(kWater);
    OpenOnPort(channel_, 1);
    channel_.Select(BuildSelect(0, {"12345678", "4701", "01", "07"}, false));  // QXA
    ASSERT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    const Bytes sent = Bus().Frames().at(0);
    // 68 0B 0B 68 53|73 FD 52 78 56 34 12 01 47 01 07 CS 16
    ASSERT_EQ(sent.size(), 17u);
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 4), (Bytes{0x68, 0x0B, 0x0B, 0x68}));
    EXPECT_EQ(sent[4] & 0xCF, 0x43);
    EXPECT_EQ(Bytes(sent.begin() + 5, sent.begin() + 15),
              (Bytes{0xFD, 0x52, 0x78, 0x56, 0x34, 0x12, 0x01, 0x47, 0x01, 0x07}));
    EXPECT_EQ(log_->Entries().at(0).line, "8||Standard: 12345678,4701,01,07|");

    // The selected slave answers at 253; deselection is SND_NKE to 253.
    channel_.RequestShort(kRequestREQUD2, 253);
    EXPECT_EQ(WaitForResult(channel_), link::kRecLong);
    EXPECT_EQ(channel_.Answer()->telegram->identNumber, 0x12345678);
    channel_.DeSelect();
    EXPECT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    ASSERT_FALSE(Bus().Frames().empty());
    EXPECT_EQ(Bus().Frames().back()[1], 0x40);
    EXPECT_EQ(Bus().Frames().back()[2], 253);
    EXPECT_EQ(log_->Entries().back().line, "20|||");
}

TEST_F(ChannelTest, SndUdRawAndListenRequests) {
    Bus().AddSlave(kWater);
    OpenOnPort(channel_, 1);
    const Bytes data = {0x51, 0x0F, 0x48};
    channel_.RequestSndUd(1, data, false);
    EXPECT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    const Bytes sent = Bus().Frames().back();
    EXPECT_EQ(sent[6], 0x51);
    EXPECT_EQ(log_->Entries().back().line, "7|1||510F48");

    channel_.RequestRaw(Bytes{0x10, 0x40, 0x01, 0x41, 0x16}, true, false);
    EXPECT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    EXPECT_EQ(log_->Entries().back().line, "13|||016064001065022");
    EXPECT_EQ(Bus().Frames().back(), (Bytes{0x10, 0x40, 0x01, 0x41, 0x16}));

    // Nothing is sent and nothing answers: one listening attempt per retry.
    const std::size_t frames = Bus().Frames().size();
    channel_.RequestListen();
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_EQ(Bus().Frames().size(), frames);
    EXPECT_EQ(log_->Entries().back().line, "6|||");
}

TEST_F(ChannelTest, BytesSentWithoutReceivingAreOneAttempt) {
    Bus().AddSlave(kWater);
    OpenOnPort(channel_, 1, 3);
    channel_.RequestRaw(Bytes{0x10, 0x5B, 0x01, 0x5C, 0x16}, false, true);
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_EQ(Bus().Frames().size(), 1u);
    EXPECT_EQ(channel_.ReceivedSomething(), 0);
}

TEST_F(ChannelTest, RefusedSendLeavesOnlyTheLogLine) {
    // The port was never opened.
    channel_.RequestShort(kRequestREQUD2, 1);
    EXPECT_EQ(channel_.TransactionResult(), 4);
    EXPECT_EQ(log_->Entries().size(), 1u);
    EXPECT_TRUE(Bus().Frames().empty());
}

TEST_F(ChannelTest, TelegramsHandedInAsText) {
    const Bytes frame = {0x68, 0x15, 0x15, 0x68, 0x08, 0x01, 0x72, 0x78, 0x56, 0x34, 0x12, 0x01, 0x47, 0x01,
                         0x07, 0x2A, 0x00, 0x00, 0x00, 0x04, 0x13, 0xD2, 0x04, 0x00, 0x00, 0xF6, 0x16};
    channel_.InterpretTelegram(frame);
    const auto answer = channel_.Answer();
    EXPECT_EQ(answer->kind, link::kRecLong);
    ASSERT_TRUE(answer->telegram);
    EXPECT_EQ(answer->telegram->RecordCount(), 1);
    EXPECT_EQ(answer->bytes, frame);
    EXPECT_EQ(channel_.CI(), 0x72);
    EXPECT_EQ(channel_.ReceivedSomething(), 1);
    EXPECT_TRUE(Bus().Frames().empty()) << "nothing goes on the line";

    // A broken checksum: the telegram is replaced and carries the error word.
    Bytes broken = frame;
    broken[25] ^= 1;
    channel_.InterpretTelegram(broken);
    EXPECT_EQ(channel_.Answer()->kind, link::kRecFault);
    EXPECT_EQ(channel_.Answer()->telegram->receiveErrorWord & 0x004, 0x004);
    EXPECT_EQ(channel_.LastReceptionKind(), link::kRecFault);

    channel_.InterpretTelegram(Bytes{0xE5});
    EXPECT_EQ(channel_.Answer()->kind, link::kRecSingleChar);
}

TEST_F(ChannelTest, ReadWithTelegramSelection) {
    // The slave tells its telegram state (FDh 2Fh) and number (FDh 21h).
    Bus().AddSlave("primary=4 id=44444444 man=QXA medium=07 records=01FD2F0502FD213412");
    OpenOnPort(channel_, 1);
    channel_.RequestSelectedRead(4);
    EXPECT_EQ(WaitForResult(channel_), link::kRecSingleChar);
    const std::vector<Bytes> frames = Bus().Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Bytes(frames[0].begin() + 6, frames[0].end() - 2),
              (Bytes{0x51, 0x04, 0xFD, 0x20, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(frames[1][1] & 0xCF, 0x4B);
    EXPECT_EQ(Bytes(frames[2].begin() + 6, frames[2].end() - 2), (Bytes{0x50, 0xB0, 0x12, 0x34}));
    EXPECT_EQ(channel_.Answer()->telegram, nullptr) << "the index answer is not the channel's telegram";
}

TEST_F(ChannelTest, ReadWithTelegramSelectionNeedsBothRecords) {
    Bus().AddSlave(kWater);
    OpenOnPort(channel_, 1);
    channel_.RequestSelectedRead(1);
    EXPECT_EQ(WaitForResult(channel_), link::kRecFault);
    EXPECT_EQ(Bus().Frames().size(), 2u);
}

TEST_F(ChannelTest, CloseAndReopen) {
    Bus().AddSlave(kWater);
    OpenOnPort(channel_, 1);
    EXPECT_TRUE(channel_.WithLayers([](MBLayer7& l) { return l.link.line.IsOpen(); }));
    channel_.CloseCom();
    EXPECT_FALSE(channel_.WithLayers([](MBLayer7& l) { return l.link.line.IsOpen(); }));
    EXPECT_EQ(log_->Entries().back().line, "16|||");
    EXPECT_EQ(log_->Entries().back().status, 0);
    // A dead time above 1000 opens with an echo option and the usual dead time.
    channel_.UpdateParameters([](ConnectionParameters& p) { p.DT = 1002; });
    EXPECT_EQ(channel_.Open(), 0);
    EXPECT_EQ(channel_.WithLayers([](MBLayer7& l) { return l.link.line.echoOption.load(); }), 2);
    EXPECT_EQ(channel_.WithLayers([](MBLayer7& l) { return l.link.line.DT; }), 11);
}

}  // namespace
}  // namespace mbus::engine::test
