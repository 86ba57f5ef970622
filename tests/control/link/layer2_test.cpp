// Frames, FCB handling, test faults, reception classes and error texts.

#include <gtest/gtest.h>

#include <thread>

#include "control/decode/options.h"
#include "control/decode/telegram.h"
#include "control/link/layer2.h"
#include "tests/control/line/fake_device.h"
#include "tests/support/lost_start.h"
#include "platform/text/codepage.h"
#include "tools/mbusctl/hex_input.h"

namespace mbus::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

Bytes Hex(std::string_view text) { return text.empty() ? Bytes{} : cli::ParseHexBytes(text).bytes; }

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        MBusOption.Reset();
        MBusTestOption.Reset();
        MBusLanguage = 0;
    }
    void TearDown() override { SetUp(); }

    // Opens port 1 on the fake line and sends; returns the bytes that went out.
    Bytes Sent() {
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (l2->line.transmitActive.load() != 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        std::lock_guard lock(fake.device->mutex_);
        return fake.device->sent.empty() ? Bytes{} : fake.device->sent.back();
    }
    void Open() {
        l2 = std::make_unique<MBLayer2>();
        ASSERT_EQ(l2->line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
        l2->line.MInit(330, 50, 1, 0, line::kNoWait, 0);
    }
    // Polls ReceiveTelegram to its end.
    int Receive(int* C = nullptr, int* A = nullptr, int* CI = nullptr, Bytes* data = nullptr) {
        int c, a, ci, len, got;
        uint8_t* p;
        int r;
        const auto until = std::chrono::steady_clock::now() + 5s;
        while ((r = l2->ReceiveTelegram(&c, &a, &ci, &p, &len, &got)) == link::kRecBusy &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        if (C) *C = c;
        if (A) *A = a;
        if (CI) *CI = ci;
        if (data) *data = p ? Bytes(p, p + len) : Bytes{};
        return r;
    }

    FakeLine fake{"link"};
    std::unique_ptr<MBLayer2> l2;
};

TEST_F(LinkTest, FrameLayouts) {
    Open();
    ASSERT_EQ(l2->SendShortFrame(0x40, 0x05), 1);
    EXPECT_EQ(Sent(), Hex("10 40 05 45 16"));
    ASSERT_EQ(l2->SendControlFrame(0x53, 0x05, 0xBB, 0), 1);
    EXPECT_EQ(Sent(), Hex("68 03 03 68 73 05 BB 33 16"));  // first SND_UD to 5: FCB 1 (73h)
    ASSERT_EQ(l2->SendLongFrame(0x53, 0x05, 0x51, nullptr, 0, 0), 1);
    EXPECT_EQ(Sent(), Hex("68 03 03 68 53 05 51 A9 16"));
    const Bytes data = Hex("01 FD 1B 05");
    ASSERT_EQ(l2->SendLongFrame(0x53, 0x05, 0x51, data.data(), 4, 0), 1);
    EXPECT_EQ(Sent(), Hex("68 07 07 68 73 05 51 01 FD 1B 05 E7 16"));
    ASSERT_EQ(l2->SendE5(), 1);
    EXPECT_EQ(Sent(), Hex("E5"));
    ASSERT_EQ(l2->SendHex(data.data(), 4), 1);
    EXPECT_EQ(Sent(), data);
    EXPECT_EQ(l2->lastCField, 255);
}

TEST_F(LinkTest, LongFrameBecomesExtendedFrom253Bytes) {
    Open();
    Bytes data(252, 0x01);
    ASSERT_EQ(l2->SendLongFrame(0x08, 0x01, 0x72, data.data(), 252, 0), 1);
    Bytes f = Sent();
    ASSERT_EQ(f.size(), 252u + 9);
    EXPECT_EQ(f[1], 0xFF);
    data.push_back(0x01);
    ASSERT_EQ(l2->SendLongFrame(0x08, 0x01, 0x72, data.data(), 253, 0), 1);
    f = Sent();
    ASSERT_EQ(f.size(), 253u + 11);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 6), Hex("D8 00 01 00 01 D8"));
    EXPECT_EQ(f[f.size() - 2], static_cast<uint8_t>(0x08 + 0x01 + 0x72 + 253));
    EXPECT_EQ(f.back(), 0x16);
    Bytes tooBig(line::kBufferSize, 0);
    EXPECT_EQ(l2->SendLongFrame(0x08, 0x01, 0x72, tooBig.data(), line::kBufferSize, 0), 0);
    EXPECT_EQ(l2->SendLongFrame(0x08, 0x01, 0x72, data.data(), -1, 0), 0);
}

TEST_F(LinkTest, RefusedWhenThePortIsClosed) {
    MBLayer2 closed;
    EXPECT_EQ(closed.SendShortFrame(0x5B, 1), 0);
    EXPECT_EQ(closed.SendE5(), 0);
    EXPECT_EQ(closed.SendNothing(), 0);
}

// FCB sequences: the C fields that go out for a series of requests.
struct FcbCase {
    const char* name;
    int requdOption, sndudOption, fcvOff255;
    std::vector<std::pair<int, int>> requests;  // (C, A); C 52h stands for a selection SND_UD
    std::vector<int> expectedC;
};

TEST(FcbSequences, Table) {
    const FcbCase cases[] = {
        {"defaults: SND_NKE then alternating REQ_UD2", 1, 1, 1,
         {{0x40, 5}, {0x5B, 5}, {0x5B, 5}, {0x5B, 5}}, {0x40, 0x7B, 0x5B, 0x7B}},
        {"addresses keep their own toggles", 1, 1, 1,
         {{0x5B, 1}, {0x5B, 2}, {0x5B, 1}, {0x5B, 2}}, {0x7B, 0x7B, 0x5B, 0x5B}},
        {"REQ_UD option 2 starts with FCB 0", 2, 1, 1, {{0x40, 5}, {0x5B, 5}, {0x5B, 5}}, {0x40, 0x5B, 0x7B}},
        {"option 3: always FCB and FCV", 3, 1, 1, {{0x5B, 5}, {0x5B, 5}}, {0x7B, 0x7B}},
        {"option 4: FCV only", 4, 1, 1, {{0x5B, 5}, {0x5B, 5}}, {0x5B, 0x5B}},
        {"option 0: neither bit", 0, 1, 1, {{0x7B, 5}, {0x7B, 5}}, {0x4B, 0x4B}},
        {"REQ_UD1 toggles too", 1, 1, 1, {{0x40, 7}, {0x5A, 7}, {0x5A, 7}}, {0x40, 0x7A, 0x5A}},
        {"broadcast 255: no FCB/FCV", 1, 1, 1, {{0x5B, 255}, {0x5B, 255}}, {0x4B, 0x4B}},
        {"broadcast 255 with the bits allowed", 1, 1, 0, {{0x5B, 255}, {0x5B, 255}}, {0x7B, 0x5B}},
        {"SND_UD toggles its own table", 1, 1, 1, {{0x53, 5}, {0x5B, 5}, {0x53, 5}}, {0x73, 0x7B, 0x53}},
        {"selection sets the entries of 253", 1, 1, 1, {{0x52, 9}, {0x53, 253}, {0x5B, 253}}, {0x53, 0x73, 0x7B}},
        {"selection with SND_UD option 2", 1, 2, 1, {{0x52, 9}, {0x53, 253}}, {0x73, 0x53}},
        {"caller's FCB bits of SND_UD are discarded", 1, 1, 1, {{0x73, 5}, {0x73, 5}}, {0x73, 0x53}},
        {"other C fields pass unchanged", 1, 1, 1, {{0x08, 5}, {0x5B, 5}}, {0x08, 0x7B}},
    };
    for (const FcbCase& c : cases) {
        SCOPED_TRACE(c.name);
        MBusOption.OPTFCBREQUDOption = c.requdOption;
        MBusOption.OPTFCBSNDUDOption = c.sndudOption;
        MBusOption.OPTFCBFCVoffat255 = c.fcvOff255;
        FakeLine fake("fcb");
        MBLayer2 l2;
        ASSERT_EQ(l2.line.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
        std::vector<int> got;
        for (auto [C, A] : c.requests) {
            while (l2.line.transmitActive.load() != 0) std::this_thread::sleep_for(1ms);
            if (C == 0x52) l2.SendLongFrame(0x53, 253, 0x52, Hex("78 56 34 12").data(), 4, 0);
            else if (C == 0x53) l2.SendControlFrame(C, A, 0x51, 0);
            else if (C == 0x73) l2.SendControlFrame(C, A, 0x51, 0);
            else l2.SendShortFrame(C, A);
            got.push_back(l2.lastCField.load());
        }
        EXPECT_EQ(got, c.expectedC);
        while (l2.line.transmitActive.load() != 0) std::this_thread::sleep_for(1ms);
    }
    MBusOption.Reset();
}

TEST(FcbHandling, NkeToBroadcastResetsEveryEntry) {
    MBLayer2 l2;
    l2.fcb->requd[7] = 0;
    l2.fcb->sndud[100] = 0;
    EXPECT_EQ(l2.FCBitHandling(255, link::kFCBReset), 0);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(l2.fcb->requd[i], 1);
        EXPECT_EQ(l2.fcb->sndud[i], 1);
    }
}

TEST(FcbHandling, BroadcastStillTogglesItsEntry) {
    MBusOption.Reset();
    MBLayer2 l2;
    EXPECT_EQ(l2.FCBitHandling(255, link::kFCBReqUd), 0x00);
    EXPECT_EQ(l2.fcb->requd[255], 0);
}

TEST_F(LinkTest, AnE5BetweenTwoRequestsUndoesTheToggle) {
    Open();
    fake.device->answers.push_back({Hex("E5"), 30ms});
    l2->SendShortFrame(0x5B, 5);
    const int first = l2->lastCField;
    EXPECT_EQ(Receive(), link::kRecSingleChar);
    l2->SendE5();
    Sent();
    l2->SendShortFrame(0x5B, 5);
    EXPECT_EQ(l2->lastCField, first);
}

TEST_F(LinkTest, AFailedAnswerKeepsTheFcbForTheRepetition) {
    Open();
    l2->SendShortFrame(0x5B, 5);
    const int first = l2->lastCField;
    EXPECT_EQ(Receive(), link::kRecFault);  // no answer
    EXPECT_EQ(l2->line.errorWord.load(), 0x001);
    l2->SendShortFrame(0x5B, 5);
    EXPECT_EQ(l2->lastCField, first);
}

TEST_F(LinkTest, TestFaultsCorruptChosenBytes) {
    Open();
    MBusTestOption.OPXREQUDCFieldWrong = 1;
    l2->SendShortFrame(0x40, 0x05);
    Bytes f = Sent();
    ASSERT_EQ(f.size(), 5u);
    EXPECT_NE(f[1], 0x40);
    EXPECT_EQ(f[3], 0x45);  // the checksum of the correct C field
    MBusTestOption.Reset();
    MBusTestOption.OPXREQUDStopByteTwice = 1;
    MBusTestOption.OPXREQUDStartByteTwice = 1;
    l2->SendShortFrame(0x40, 0x05);
    EXPECT_EQ(Sent(), Hex("10 10 40 05 45 16 16"));
    MBusTestOption.OPXTestOptionsEnable = 0;  // master switch off: no fault acts
    l2->SendShortFrame(0x40, 0x05);
    EXPECT_EQ(Sent(), Hex("10 40 05 45 16"));
    MBusTestOption.Reset();
    MBusTestOption.OPXSNDUDChecksumWrong = 1;
    MBusTestOption.OPXSNDUDCIFieldTwice = 1;
    l2->SendControlFrame(0x40, 0x05, 0x51, 0);
    f = Sent();
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 7), Hex("68 03 03 68 40 05 51"));
    EXPECT_EQ(f[7], 0x51);
    EXPECT_NE(f[8], static_cast<uint8_t>(0x40 + 0x05 + 0x51));
    MBusTestOption.Reset();
    MBusTestOption.OPXSNDUDLengthByte1Twice = 1;
    Bytes data(253, 0);
    l2->SendLongFrame(0x08, 0x01, 0x72, data.data(), 253, 0);
    f = Sent();
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 8), Hex("D8 00 00 01 01 00 01 D8"));
}

// Classification of received bytes, without the line's threads.
struct ClassCase {
    const char* name;
    const char* bytes;
    int result;
    uint16_t errors;
    int C, A, CI;
    const char* payload;  // what the data output points at (null: the whole reception)
};

TEST(Reception, ClassificationTable) {
    const ClassCase cases[] = {
        {"acknowledge", "E5", 0, 0, 0, 0, 0, nullptr},
        {"E5 not alone", "E5 E5", 4, 0x010, 0, 0, 0, nullptr},
        {"A2", "A2", 5, 0, 0, 0, 0, nullptr},
        {"short frame", "10 5B 01 5C 16", 1, 0, 0x5B, 1, 0, nullptr},
        {"short frame too long", "10 5B 01 5C 16 00", 4, 0x010, 0, 0, 0, nullptr},
        {"short frame stop", "10 5B 01 5C 17", 4, 0x020, 0, 0, 0, nullptr},
        {"short frame checksum", "10 5B 01 5D 16", 4, 0x004, 0, 0, 0, nullptr},
        {"control frame", "68 03 03 68 53 FE 51 A2 16", 2, 0, 0x53, 0xFE, 0x51, nullptr},
        {"long frame", "68 04 04 68 08 01 72 00 7B 16", 3, 0, 0x08, 1, 0x72, nullptr},
        {"L fields differ: Lengthbyte only", "68 04 03 68 08 01 72 00 00 16", 4, 0x010, 0, 0, 0, nullptr},
        {"second start byte", "68 04 04 69 08 01 72 00 7B 16", 4, 0x008, 0, 0, 0, nullptr},
        {"long frame stop", "68 04 04 68 08 01 72 00 7B 15", 4, 0x020, 0, 0, 0, nullptr},
        {"long frame checksum", "68 04 04 68 08 01 72 00 7C 16", 4, 0x004, 0, 0, 0, nullptr},
        {"extended frame", "D8 04 00 04 00 D8 08 01 72 00 7B 16", 3, 0, 8, 1, 0x72, nullptr},
        {"extended L", "D8 04 00 05 00 D8 08 01 72 00 7B 16", 4, 0x010, 0, 0, 0, nullptr},
        {"unknown start", "42 01 02", 4, 0x008, 0, 0, 0, nullptr},
        {"length wrapper", "16 05 10 5B 01 5C 16", 1, 0, 0x5B, 1, 0, "10 5B 01 5C 16"},
        {"length wrapper longer than what arrived", "16 09 10 5B 01 5C 16", 4, 0x010, 0, 0, 0, nullptr},
        {"length wrapper too short", "16 01", 4, 0, 0, 0, 0, nullptr},
        {"header wrapper 14h", "14 AA BB E5 CC DD", 0, 0, 0, 0, 0, "E5"},
        {"header wrapper with zero tail", "14 AA BB E5 CC 00", 4, 0x010, 0, 0, 0, nullptr},
        {"header wrapper longer than data", "15 01 02", 4, 0, 0, 0, 0, nullptr},
        {"escape acknowledge", "1B 1B 31", 0, 0, 0, 0, 0, nullptr},
        {"escape 13h", "1B 13", 10, 0, 0, 0, 0, nullptr},
        {"escape length wrapper", "1B 1B 16 01 E5", 0, 0, 0, 0, 0, "E5"},
        {"escape length beyond the data", "1B 16 05 E5", 4, 0x010, 0, 0, 0, nullptr},
        {"escapes only", "1B 1B 1B", 4, 0x010, 0, 0, 0, nullptr},
        {"unknown escape", "1B 77", 4, 0x008, 0, 0, 0, nullptr},
        {"slave list", "20 41 42", 0, 0, 0, 0, 0, nullptr},
        {"YMODEM byte outside YMODEM mode", "06", 4, 0x008, 0, 0, 0, nullptr},
    };
    for (const ClassCase& c : cases) {
        SCOPED_TRACE(c.name);
        MBLayer2 l2;
        const Bytes in = Hex(c.bytes);
        std::copy(in.begin(), in.end(), l2.line.receiveBuffer);
        l2.line.receiveCount = static_cast<int32_t>(in.size());
        int C, A, CI, len, got;
        uint8_t* p;
        EXPECT_EQ(l2.ReceiveTelegram(&C, &A, &CI, &p, &len, &got), c.result);
        EXPECT_EQ(l2.line.errorWord.load(), c.errors);
        EXPECT_EQ(C, c.C);
        EXPECT_EQ(A, c.A);
        EXPECT_EQ(CI, c.CI);
        EXPECT_EQ(got, 1);
        EXPECT_EQ(l2.line.receiveCount.load(), 0);
        const Bytes expected = c.payload ? Hex(c.payload) : in;
        if (c.result != 4) {
            EXPECT_EQ(Bytes(p, p + len), expected);
        }
    }
}

TEST(Reception, UnknownEscapeIsAControlAnswerWhenAsked) {
    MBLayer2 l2;
    l2.escapeIsControl = 1;
    l2.line.receiveBuffer[0] = 0x1B;
    l2.line.receiveBuffer[1] = 0x77;
    l2.line.receiveCount = 2;
    int C, A, CI, len, got;
    uint8_t* p;
    EXPECT_EQ(l2.ReceiveTelegram(&C, &A, &CI, &p, &len, &got), 2);
}

TEST(Reception, TextProtocolLines) {
    const struct {
        std::string text;
        int result;
    } cases[] = {
        {"start\r", 21}, {"ABBRUCH\r", 22}, {"Ende\r", 23}, {std::string(47, 'x') + "\r", 24},
        {std::string(48, 'x') + "\r", 24}, {"whatever", 25}, {"START", 25},
    };
    for (const auto& c : cases) {
        MBLayer2 l2;
        l2.line.textProtocolMode = 1;
        std::copy(c.text.begin(), c.text.end(), l2.line.receiveBuffer);
        l2.line.receiveCount = static_cast<int32_t>(c.text.size());
        int C, A, CI, len, got;
        uint8_t* p;
        EXPECT_EQ(l2.ReceiveTelegram(&C, &A, &CI, &p, &len, &got), c.result) << c.text;
        if (c.result == 21) {
            EXPECT_EQ(len, 6);
        }
    }
}

TEST(Reception, NothingReceivedIsAFaultAndUndoesTheFcb) {
    MBLayer2 l2;
    l2.FCBitHandling(5, link::kFCBReqUd);
    EXPECT_EQ(l2.fcb->requd[5], 0);
    l2.line.receiveCount = 0;
    int C, A, CI, len, got;
    uint8_t* p;
    EXPECT_EQ(l2.ReceiveTelegram(&C, &A, &CI, &p, &len, &got), 4);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(l2.fcb->requd[5], 1);
}

TEST(Reception, EchoRemoval) {
    const struct {
        int option;
        const char* sent;
        const char* received;
        const char* left;
    } cases[] = {
        {1, "10 5B 01 5C 16", "10 5B 01 5C 16 E5", "E5"},
        {1, "10 5B 01 5C 16", "10 5B 01 5C 17 E5", "10 5B 01 5C 17 E5"},
        {2, "10 5B 01 5C 16", "01 5C 16 E5", "E5"},
        {2, "10 5B 01 5C 16", "16 E5", "E5"},
        {2, "10 5B 01 5C 16", "E5", "E5"},
        {1, "10 5B 01 5C 16", "10 5B", "10 5B"},  // fewer bytes than sent: nothing happens
    };
    for (const auto& c : cases) {
        MBLayer2 l2;
        l2.line.echoOption = c.option;
        const Bytes s = Hex(c.sent), r = Hex(c.received);
        std::copy(s.begin(), s.end(), l2.line.sendBuffer);
        l2.line.sendCount = static_cast<int32_t>(s.size());
        std::copy(r.begin(), r.end(), l2.line.receiveBuffer);
        l2.line.receiveCount = static_cast<int32_t>(r.size());
        l2.RemoveEcho();
        EXPECT_EQ(Bytes(l2.line.receiveBuffer, l2.line.receiveBuffer + l2.line.receiveCount.load()), Hex(c.left))
            << c.received;
    }
}

TEST_F(LinkTest, FullEchoIsRemovedBeforeClassification) {
    Open();
    fake.device->echo = true;
    l2->line.echoOption = 1;
    // The echo arrives while sending; the answer must follow within the byte timeout.
    l2->line.MInit(330, 50, 100, 0, line::kNoWait, 0);
    fake.device->answers.push_back({Hex("E5"), 5ms});
    l2->SendShortFrame(0x5B, 1);
    EXPECT_EQ(Receive(), link::kRecSingleChar);
}

TEST_F(LinkTest, ListeningWithoutSendingReceivesWhatComes) {
    Open();
    ASSERT_EQ(l2->SendNothing(), 1);
    EXPECT_EQ(Receive(), link::kRecFault);
    EXPECT_EQ(l2->line.errorWord.load(), 0x001);
}

using testsupport::FilledLongFrame;
using testsupport::kOtherFirstBytes;

TEST_F(LinkTest, AnswerToREQUD2WithoutItsStartByteIsAFault) {
    Open();
    for (const uint8_t L : kOtherFirstBytes) {
        SCOPED_TRACE(testing::Message() << "L field " << std::hex << int{L});
        const Bytes frame = FilledLongFrame(L);
        fake.device->answers.push_back({Bytes(frame.begin() + 1, frame.end()), 5ms});
        l2->SendShortFrame(0x5B, 1);
        const int first = l2->lastCField;
        EXPECT_EQ(Receive(), link::kRecFault);
        EXPECT_NE(l2->line.errorWord.load(), 0);
        EXPECT_EQ(l2->slaveListPending.load(), 0);
        // The repetition carries the FCB of the failed attempt.
        l2->SendShortFrame(0x5B, 1);
        EXPECT_EQ(l2->lastCField, first);
        Receive();
    }
}

TEST_F(LinkTest, HouseCentralAnswersEndOnlyItsOwnCommands) {
    Open();
    const char* answers[] = {"20 20 20 35 31 32 33 34 35 36 37 38", "1B 1B 1B 01", "1B 1B 31", "1B 33",
                             "1B 1B 03", "1B 13", "1B 77"};
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        // After an M-Bus request: a fault, repeated with the same FCB, even
        // while unknown escapes count as control answers.
        l2->escapeIsControl = 1;
        fake.device->answers.push_back({Hex(answer), 5ms});
        l2->SendShortFrame(0x5B, 1);
        const int first = l2->lastCField;
        EXPECT_EQ(Receive(), link::kRecFault);
        l2->SendShortFrame(0x5B, 1);
        EXPECT_EQ(l2->lastCField, first);
        Receive();
        // The same bytes handed over raw are an M-Bus request too.
        fake.device->answers.push_back({Hex(answer), 5ms});
        const Bytes raw = Hex("10 7B 01 7C 16");
        l2->SendHex(raw.data(), static_cast<int>(raw.size()));
        EXPECT_EQ(Receive(), link::kRecFault);
        // After a command of the house-central unit they are its answers.
        fake.device->answers.push_back({Hex(answer), 5ms});
        const Bytes command = Hex("1B 1B 1B 20");
        l2->SendHex(command.data(), static_cast<int>(command.size()));
        EXPECT_NE(Receive(), link::kRecFault);
    }
    l2->escapeIsControl = 0;
    // Escapes alone are a fault whatever was sent; after an M-Bus request
    // the repetition keeps its FCB too.
    fake.device->answers.push_back({Hex("1B 1B"), 5ms});
    l2->SendShortFrame(0x5B, 1);
    const int first = l2->lastCField;
    EXPECT_EQ(Receive(), link::kRecFault);
    EXPECT_EQ(l2->line.errorWord.load(), 0x010);
    l2->SendShortFrame(0x5B, 1);
    EXPECT_EQ(l2->lastCField, first);
    Receive();
    // A frame relayed in the escape wrapper is an M-Bus request.
    fake.device->answers.push_back({Hex("1B 1B 1B 01"), 5ms});
    const Bytes relayed = Hex("1B 1B 1B 16 05 10 7B 01 7C 16");
    l2->SendHex(relayed.data(), static_cast<int>(relayed.size()));
    EXPECT_EQ(Receive(), link::kRecFault);
    // A login of the house-central unit is acknowledged with an escape.
    fake.device->answers.push_back({Hex("1B 1B 1B 01"), 5ms});
    const Bytes login = Hex("1B 1B 1B 02 41 0D");
    l2->SendHex(login.data(), static_cast<int>(login.size()));
    EXPECT_EQ(Receive(), link::kRecSingleChar);
}

TEST(ErrorTexts, ErrorWordAsText) {
    MBusLanguage = 0;
    EXPECT_EQ(link::ErrorWordText(0x041), "Timeout, Collision ERROR");
    EXPECT_EQ(link::ErrorWordText(0x024), "Checksum, Stopsign ERROR");
    EXPECT_EQ(link::ErrorWordText(0), "No ERROR found");
    EXPECT_EQ(link::ErrorWordText(0x1FF).substr(0, 9), "Timeout, ");
    MBusLanguage = 1;
    EXPECT_EQ(link::ErrorWordText(0), "Kein Fehler");
    char text[256];
    MBL1ErrorCodeToASC(0x002, text);
    EXPECT_EQ(text::ToUtf8(text, text::CodePage::Windows1252), "Parität ERROR");
    MBL1ErrorCodeToASC(0, nullptr);  // nothing happens
    MBusLanguage = 4;
    EXPECT_NE(link::ErrorWordText(0x001), "Timeout ERROR");
    MBusLanguage = 0;
    EXPECT_TRUE(link::WriteErrorClassText(0, 9, "Zeitlimit ueberschritten, "));
    EXPECT_EQ(link::ErrorClassText(0, 9), "Zeitlimit ueberschr");  // cut to 19 bytes
    EXPECT_FALSE(link::WriteErrorClassText(0, 2, "x"));
    char hex[3];
    MBHexToAsciiB(0xAB, hex);
    EXPECT_STREQ(hex, "AB");
}

}  // namespace
}  // namespace mbus::test

// An encrypted radio telegram is decrypted by the reception before it is reported.
#include "control/link/des.h"
#include "control/link/radio.h"

namespace mbus::test {
namespace {

TEST(Reception, RadioTelegramIsDecryptedBeforeItIsReported) {
    const Bytes key = Hex("13 34 57 79 9B BC DF F1");
    // Plain data: one volume record, then fillers; the last filler is the marker.
    Bytes plain = Hex("04 13 D2 04 00 00");
    plain.resize(32, 0x2F);
    Bytes cipher = plain;
    const uint8_t iv[8] = {};
    ASSERT_TRUE(link::DESEncryptCBC(key.data(), iv, cipher.data(), cipher.size()));
    Bytes frame = Hex("68 30 30 68 08 01 72 78 56 34 12 01 47 41 07 2A 00 00 00 2F");  // version 41h
    frame.insert(frame.end(), cipher.begin(), cipher.end());
    uint8_t sum = 0;
    for (std::size_t i = 4; i < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame.push_back(sum);
    frame.push_back(0x16);
    ASSERT_EQ(frame.size(), 54u);

    const link::RadioKeys saved = link::GetRadioKeys();
    ASSERT_TRUE(link::SetDESKeyHex("133457799BBCDFF1"));
    MBLayer2 l2;
    std::copy(frame.begin(), frame.end(), l2.line.receiveBuffer);
    l2.line.receiveCount = static_cast<int32_t>(frame.size());
    int C, A, CI, len, got;
    uint8_t* p;
    EXPECT_EQ(l2.ReceiveTelegram(&C, &A, &CI, &p, &len, &got), link::kRecLong);
    link::SetRadioKeys(saved);
    ASSERT_EQ(len, 53);
    EXPECT_EQ(p[1], 0x2F);
    EXPECT_EQ(Bytes(p + 19, p + 25), Hex("04 13 D2 04 00 00"));
    MBTelegram t;
    t.InterpretAnswer(link::kRecLong, static_cast<uint8_t>(C), static_cast<uint8_t>(A), static_cast<uint8_t>(CI), p,
                      len);
    ASSERT_GE(t.RecordCount(), 1);
    EXPECT_EQ(t.records[0].value, 1234);
}

}  // namespace
}  // namespace mbus::test
