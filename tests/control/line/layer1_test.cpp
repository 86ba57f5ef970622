// The serial line: opening and configuring, timing derivation, sending and
// receiving with the answer, byte and wait rules, UART faults, trace lines.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "control/decode/options.h"
#include "control/line/layer1.h"
#include "control/line/trace.h"
#include "tests/control/line/fake_device.h"
#include "tests/platform/serial/serial_test_support.h"
#include "tests/support/scratch.h"

namespace mbus::test {
namespace {

using namespace std::chrono_literals;

// Waits (generously) until the line's flag drops.
bool WaitIdle(const std::atomic<int32_t>& flag) {
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (flag.load() != 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Sends bytes and runs one reception; returns what arrived.
std::vector<uint8_t> Exchange(MBLayer1& l, std::vector<uint8_t> frame) {
    std::copy(frame.begin(), frame.end(), l.sendBuffer);
    l.sendCount = static_cast<int32_t>(frame.size());
    EXPECT_EQ(l.SendBufferContent(), 1);
    EXPECT_TRUE(WaitIdle(l.transmitActive));
    EXPECT_EQ(l.receiveCount.load(), -1);
    EXPECT_EQ(l.ReceiveBufferContent(), 1);
    EXPECT_TRUE(WaitIdle(l.receiveActive));
    return {l.receiveBuffer, l.receiveBuffer + l.receiveCount.load()};
}

const std::vector<uint8_t> kReqUd2{0x10, 0x5B, 0x01, 0x5C, 0x16};

TEST(LineTimings, DerivedFromBitTimesAndOffsets) {
    // 2400 baud, TA 330, TO 50, TB 1, DT 11, FIFO off.
    const line::LineTimings t = line::DeriveTimings(2400, 330, 50, 1, 11, 0, line::kPlatformKind);
    EXPECT_EQ(t.answerTimeout, 188);
    EXPECT_EQ(t.answerPart, 138);
    EXPECT_EQ(t.byteTimeout, 6);
    EXPECT_EQ(t.deadTime, 10);
    EXPECT_EQ(t.writeMsPerByte, 1 + 5);

    const line::LineTimings zero = line::DeriveTimings(2400, 0, 0, 1, 0, 0, line::kPlatformKind);
    EXPECT_EQ(zero.answerTimeout, 1);
    EXPECT_EQ(zero.deadTime, 0);

    // A FIFO holds back up to 132 bit times (professional family) or 88 (consumer).
    EXPECT_EQ(line::DeriveTimings(2400, 330, 50, 1, 11, 1, 11).byteTimeout, 56);
    EXPECT_EQ(line::DeriveTimings(2400, 330, 50, 1, 11, 1, 11).deadTime, 25);
    EXPECT_EQ(line::DeriveTimings(2400, 330, 50, 1, 11, 1, 1).byteTimeout, 38);
    EXPECT_EQ(line::DeriveTimings(9600, 330, 50, 1, 11, 0, 11).answerTimeout, 34 + 50 + 1);
}

TEST(LineOpen, ConfigurationErrorsGiveTheirStatus) {
    FakeLine fake("open-errors");
    MBLayer1 l;
    EXPECT_EQ(l.status.load(), line::kLineNeverOpened);
    const struct {
        int port, baud, data, stop, parity, rts, dtr, hs;
        int status;
    } cases[] = {
        {0, 2400, 8, 1, 1, 0, 0, 0, line::kLinePortOpenFailed},
        {1000, 2400, 8, 1, 1, 0, 0, 0, line::kLinePortOpenFailed},
        {1, 2500, 8, 1, 1, 0, 0, 0, line::kLineBadBaud},
        {1, 300, 8, 1, 1, 0, 0, 1, line::kLineBadBaud},
        {1, 2400, 9, 1, 1, 0, 0, 0, line::kLineBadDataBits},
        {1, 2400, 8, 0, 1, 0, 0, 0, line::kLineBadStopBits},
        {1, 2400, 8, 1, 3, 0, 0, 0, line::kLineBadParity},
        {1, 2400, 8, 1, 1, 4, 0, 0, line::kLineBadRTS},
        {1, 2400, 8, 1, 1, 0, 3, 0, line::kLineBadDTR},
        {1, 2400, 8, 1, 1, 0, 0, 0, line::kLineOpen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        l.CClose();
        const int ok = l.CInit(c.port, c.baud, c.data, c.stop, c.parity, c.rts, c.dtr, c.hs, 0);
        EXPECT_EQ(ok, c.status == line::kLineOpen ? 1 : 0);
        EXPECT_EQ(l.status.load(), c.status);
        EXPECT_EQ(l.IsOpen(), c.status == line::kLineOpen);
    }
}

TEST(LineOpen, SecondInitClosesAndTheThirdOpensAgain) {
    FakeLine fake("reopen");
    MBLayer1 l;
    EXPECT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    EXPECT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 0);
    EXPECT_FALSE(l.IsOpen());
    EXPECT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    EXPECT_TRUE(l.IsOpen());
}

TEST(LineOpen, MissingPortReportsThePlatformErrorInTheText) {
    const std::string map = std::string(::testing::TempDir()) + "/mbus-missing-map";
    std::ofstream(map) << "1 = /dev/no-such-mbus-adapter\n";
    ::setenv("MBUS_PORT_MAP", map.c_str(), 1);
    MBLayer1 l;
    EXPECT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(l.status.load(), line::kLinePortOpenFailed);
    EXPECT_NE(l.lastErrorText.find("Unable to open COM-Port."), std::string::npos);
    EXPECT_NE(l.lastErrorText.find("Error-Code: 2"), std::string::npos) << l.lastErrorText;  // ENOENT
    ::unsetenv("MBUS_PORT_MAP");
}

TEST(LineOpen, HighSpeedProgramsAnEighthButTimesTheNominalRate) {
    FakeLine fake("highspeed");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 256000, 8, 1, 1, 0, 0, 1, 0), 1);
    EXPECT_EQ(l.nominalBaud, 256000);
    Exchange(l, kReqUd2);
    EXPECT_EQ(fake.device->lastConfig.baud, 32000);
    EXPECT_EQ(l.timings.answerTimeout, line::DeriveTimings(256000, 330, 50, 1, 11, 1, line::kPlatformKind).answerTimeout);
}

TEST(LineOpen, AdapterInitSendsTheRateSelectorAt9600) {
    FakeLine fake("adapter");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 1, 1, 0, 1), 1);
    ASSERT_FALSE(fake.device->sent.empty());
    EXPECT_EQ(fake.device->sent[0], std::vector<uint8_t>{0x0A});
    EXPECT_EQ(fake.device->lastConfig.baud, 9600);
}

TEST(LineTexts, StatusTextsInEveryLanguage) {
    EXPECT_EQ(line::LineStatusText(4, 0), "Unknown Baudrate");
    EXPECT_EQ(line::LineStatusText(4, 1), "Baudrate nicht verfügbar");
    EXPECT_EQ(line::LineStatusText(10, 3), "Incapaz de ajustar o parâmetro de uma comunicação");
    for (int lang = 4; lang < 9; ++lang) {
        EXPECT_FALSE(line::LineStatusText(2, lang).empty());
        EXPECT_NE(line::LineStatusText(5, lang), line::LineStatusText(5, 0)) << lang;  // translated
    }
    EXPECT_EQ(line::LineStatusText(6, 9), "Wrong Stopbit Parameter");
    EXPECT_TRUE(line::WriteLineText(4, 9, "Stop bits?"));
    EXPECT_EQ(line::LineStatusText(6, 9), "Stop bits?");
    EXPECT_FALSE(line::WriteLineText(4, 1, "x"));
}

TEST(LineTransfer, AnAnswerWithinTheDeadTimeIsDiscardedAsEcho) {
    FakeLine fake("early");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    fake.device->answers.push_back({{0xE5}, 2ms});
    EXPECT_TRUE(Exchange(l, kReqUd2).empty());
    EXPECT_EQ(l.errorWord.load(), 0x001);
}

// A send thread that comes to the echo discard long after the request has
// left the line (a busy host) still hears an answer that began after the
// dead time, counted from the request's last stop bit; the line's echo of
// the request, read just as late, is still thrown away.
TEST(LineTransfer, ALateSendThreadKeepsTheAnswerThatFollowsTheDeadTime) {
    for (const bool echo : {false, true}) {
        SCOPED_TRACE(echo ? "with echo" : "without echo");
        FakeLine fake(echo ? "late-echo" : "late");
        fake.device->paced = true;
        fake.device->echo = echo;
        MBLayer1 l;
        ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
        ASSERT_EQ(l.timings.deadTime, 25);
        // The request takes 23 ms on the line; the answer begins 1 ms after
        // the dead time and has arrived long before the thread looks.
        fake.device->stall = 200ms;
        fake.device->answers.push_back({{0xE5}, 26ms});
        EXPECT_EQ(Exchange(l, kReqUd2), std::vector<uint8_t>{0xE5});
        EXPECT_EQ(l.errorWord.load(), 0);
        // The next request starts afresh: nothing is left over.
        fake.device->stall = 0ms;
        EXPECT_TRUE(Exchange(l, kReqUd2).empty());
        EXPECT_EQ(l.errorWord.load(), 0x001);
    }
}

TEST(LineTransfer, AnswerArrivesAndTheCountsFollowTheRules) {
    FakeLine fake("answer");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    fake.device->answers.push_back({{0xE5}, 40ms});  // after the dead time
    EXPECT_EQ(Exchange(l, kReqUd2), std::vector<uint8_t>{0xE5});
    EXPECT_EQ(l.errorWord.load(), 0);
    EXPECT_EQ(fake.device->sent.back(), kReqUd2);
    // A second reception without a send finds nothing: Timeout.
    EXPECT_EQ(l.ReceiveBufferContent(), 1);
    EXPECT_TRUE(WaitIdle(l.receiveActive));
    EXPECT_EQ(l.receiveCount.load(), 0);
    EXPECT_EQ(l.errorWord.load(), 0x001);
}

TEST(LineTransfer, NoAnswerIsATimeout) {
    FakeLine fake("silence");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    EXPECT_TRUE(Exchange(l, kReqUd2).empty());
    EXPECT_EQ(l.errorWord.load(), 0x001);
}

TEST(LineTransfer, ParityErrorIsReportedWithoutTimeout) {
    FakeLine fake("parity");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    FakeDevice::Answer a{{0xE5}, 30ms};
    a.parityErrorAt = 0;
    fake.device->answers.push_back(a);
    Exchange(l, kReqUd2);
    EXPECT_EQ(l.errorWord.load(), 0x002);
}

TEST(LineTransfer, BytesAfterTheTelegramAreACollisionInPartAndFullWait) {
    for (int mode : {line::kPartWait, line::kFullWait, line::kNoWait}) {
        SCOPED_TRACE(mode);
        FakeLine fake("collision");
        MBLayer1 l;
        ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
        l.MInit(330, 50, 1, 11, mode, 0);
        FakeDevice::Answer a{{0xE5}, 30ms};  // after the dead time of 10 ms
        a.late = {0xE5};
        a.lateDelay = 90ms;  // well after the byte timeout, inside the answer window
        fake.device->answers.push_back(a);
        EXPECT_EQ(Exchange(l, kReqUd2), std::vector<uint8_t>{0xE5});
        EXPECT_EQ(l.errorWord.load(), mode == line::kNoWait ? 0 : 0x040);
    }
}

TEST(LineTransfer, AWholeFrameEndsTheReceptionWhenEndAtFrameIsOn) {
    // A small RSP_UD, then one byte 30 ms later: inside the byte timeout of
    // 56 ms (FIFO on at 2400 baud), after the frame's stop byte.
    const std::vector<uint8_t> frame{0x68, 0x03, 0x03, 0x68, 0x08, 0x05, 0x72, 0x7F, 0x16};
    std::vector<uint8_t> badSum = frame;
    badSum[7] = 0x7E;
    struct Case {
        const char* what;
        std::vector<uint8_t> answer;
        int endAtFrame, waitMode, echoOption;
        std::size_t received;
        uint16_t errors;
    } cases[] = {
        {"off: the byte timeout takes the late byte in", frame, 0, line::kNoWait, 0, 10, 0},
        {"on: the frame alone", frame, 1, line::kNoWait, 0, 9, 0},
        {"on, PartWait: the late byte is still a collision", frame, 1, line::kPartWait, 0, 9, 0x040},
        {"on, echo kept: the echo comes first, byte timeout", frame, 1, line::kNoWait, 1, 15, 0},
        {"on: a wrong checksum ends nothing", badSum, 1, line::kNoWait, 0, 10, 0},
        {"on: a lone E5h ends nothing", {0xE5}, 1, line::kNoWait, 0, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeLine fake("endatframe");
        fake.device->echo = c.echoOption != 0;
        MBLayer1 l;
        ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
        l.MInit(330, 50, 1, 11, c.waitMode, 1);
        l.endAtFrame = c.endAtFrame;
        l.echoOption = c.echoOption;
        FakeDevice::Answer a{c.answer, 30ms};
        a.late = {0x16};
        a.lateDelay = 60ms;
        fake.device->answers.push_back(a);
        EXPECT_EQ(Exchange(l, kReqUd2).size(), c.received);
        EXPECT_EQ(l.errorWord.load(), c.errors);
    }
}

TEST(LineTransfer, EchoIsDiscardedOrKeptByTheEchoOption) {
    FakeLine fake("echo");
    fake.device->echo = true;
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    fake.device->answers.push_back({{0xE5}, 30ms});
    EXPECT_EQ(Exchange(l, kReqUd2), std::vector<uint8_t>{0xE5});
    l.echoOption = 1;
    fake.device->answers.push_back({{0xE5}, 30ms});
    std::vector<uint8_t> expected = kReqUd2;
    expected.push_back(0xE5);
    EXPECT_EQ(Exchange(l, kReqUd2), expected);
}

TEST(LineTransfer, EscapeWrapperAndZeroPreambleWrapTheFrame) {
    FakeLine fake("wrappers");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 2400, 8, 1, 1, 0, 0, 0, 0), 1);
    l.escapeWrapper = 1;
    l.zeroPreamble = 1;
    Exchange(l, kReqUd2);
    const std::vector<uint8_t> expected{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x1B, 0x1B, 0x1B, 0x16, 0x05,
                                        0x10, 0x5B, 0x01, 0x5C, 0x16};
    EXPECT_EQ(fake.device->sent.back(), expected);
}

TEST(LineTransfer, RefusedWhileClosedOrBusy) {
    MBLayer1 l;
    l.sendCount = 1;
    EXPECT_EQ(l.SendBufferContent(), 0);
    EXPECT_EQ(l.ReceiveBufferContent(), 0);
    EXPECT_EQ(l.receiveCount.load(), 0);
    EXPECT_EQ(l.GetCTSStatus(), 0);
    l.SetRTS();  // no effect, no crash
}

TEST(LineTransfer, BreakOptionSetsAndClearsTheBreakCondition) {
    FakeLine fake("break");
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    MBusTestOption.OPXBreakOption = 1;
    fake.device->answers.push_back({{0xE5}, 30ms});
    Exchange(l, kReqUd2);
    MBusTestOption.OPXBreakOption = 0;
    std::lock_guard lock(fake.device->mutex_);
    EXPECT_EQ(fake.device->breaks, (std::vector<bool>{true, false}));
}

// ---------------------------------------------------------------------------
// A device that goes away while the line is open (an unplugged adapter; here
// a pseudo-terminal whose master closes, behind a link as mbus-sim makes it).

class LineLost : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Ok() && first.Ok() && second.Ok());
        link = dir.File("bus");
        ASSERT_EQ(::symlink(first.SlavePath().c_str(), link.c_str()), 0);
        dir.WriteFile("ports", "1 = " + link + "\n");
        ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    }
    void PointLinkAt(const serial::testing::PseudoTerminal& pty) {
        ASSERT_EQ(::unlink(link.c_str()), 0);
        ASSERT_EQ(::symlink(pty.SlavePath().c_str(), link.c_str()), 0);
    }
    // Sends a request and runs the reception the link layer would ask for
    // (refused once the line has closed).
    void Transfer() {
        std::copy(kReqUd2.begin(), kReqUd2.end(), l.sendBuffer);
        l.sendCount = static_cast<int32_t>(kReqUd2.size());
        ASSERT_EQ(l.SendBufferContent(), 1);
        ASSERT_TRUE(WaitIdle(l.transmitActive));
        l.ReceiveBufferContent();
        ASSERT_TRUE(WaitIdle(l.receiveActive));
    }
    void ExpectClosedAsLost() {
        EXPECT_FALSE(l.IsOpen());
        EXPECT_EQ(l.status.load(), line::kLinePortOpenFailed);
        EXPECT_EQ(l.errorWord.load(), 0x100);  // UART: the transfer failed, it did not time out
        EXPECT_EQ(l.receiveCount.load(), 0);
        l.sendCount = 1;
        EXPECT_EQ(l.SendBufferContent(), 0);
    }

    testsupport::ScratchDirectory dir;
    serial::testing::PseudoTerminal first, second;
    std::string link;
    testsupport::ScopedEnv map{"MBUS_PORT_MAP", dir.File("ports")};
    MBLayer1 l;
};

TEST_F(LineLost, HungUpTerminalClosesTheLineAtTheSendAndItOpensAgainWhenBack) {
    // Silence alone is no loss.
    Transfer();
    EXPECT_EQ(l.errorWord.load(), 0x001);
    EXPECT_TRUE(l.IsOpen());

    first.CloseMaster();
    Transfer();
    ExpectClosedAsLost();

    // The device is back under its name: the line opens and carries bytes.
    PointLinkAt(second);
    ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    EXPECT_EQ(l.status.load(), line::kLineOpen);
    Transfer();
    EXPECT_EQ(second.Receive(kReqUd2.size()), kReqUd2);
}

TEST_F(LineLost, NameThatLeadsToAnotherDeviceClosesTheLineAfterTheReception) {
    // The first terminal stays up and takes the request; only its name
    // now leads elsewhere.
    PointLinkAt(second);
    Transfer();
    EXPECT_EQ(first.Receive(kReqUd2.size()), kReqUd2);
    ExpectClosedAsLost();
}

TEST(LineSlots, FourLinesTakeTheFourSlots) {
    auto a = std::make_unique<MBLayer1>(), b = std::make_unique<MBLayer1>(), c = std::make_unique<MBLayer1>(),
         d = std::make_unique<MBLayer1>();
    MBLayer1 fifth;
    EXPECT_EQ(fifth.slot, 4);
    EXPECT_EQ(fifth.SendBufferContent(), 0);
    const int freed = b->slot;
    b.reset();
    MBLayer1 again;
    EXPECT_EQ(again.slot, freed);
}

TEST(LineTrace, LineFormat) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const uint8_t bytes[] = {0x10, 0x5B, 0x01, 0x5C, 0x16};
    // 2026-12-07 21:30:05.007 UTC
    const int64_t ms = 1796679005007LL;
    EXPECT_EQ(line::FormatTraceLine(ms, line::TraceKind::Send, 0, bytes, 5),
              "2026-12-07 21:30:05:7\tSND\tChannel: 0\t10 5B 01 5C 16 \r\n");
    EXPECT_EQ(line::FormatTraceLine(ms + 120, line::TraceKind::Receive, 3, bytes, 0),
              "2026-12-07 21:30:05:127\tREC\tChannel: 3\t\r\n");
}

TEST(LineTrace, SendWritesALineToTheTraceFile) {
    FakeLine fake("trace");
    const std::string path = std::string(::testing::TempDir()) + "/mbus-trace-test.txt";
    std::remove(path.c_str());
    line::SetTraceFileName(path);
    MBLayer1 l;
    ASSERT_EQ(l.CInit(1, 9600, 8, 1, 1, 0, 0, 0, 0), 1);
    Exchange(l, kReqUd2);
    line::SetTraceFileName("");
    std::ifstream in(path);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\tSND\tChannel: " + std::to_string(l.slot) + "\t10 5B 01 5C 16 \r\n"), std::string::npos)
        << text;
}

}  // namespace
}  // namespace mbus::test
