// The termios backend over a pseudo-terminal: the test holds the master side
// and plays the far end of the line; the port opens the slave.
//
// A pseudo-terminal has no UART: it never reports parity or framing errors,
// has no modem lines and no line status register, so those paths are covered
// here only as far as "the port copes with their absence"; the decoding of
// marked bytes is covered on MarkedByteDecoder directly.

#include "platform/serial/termios_port.h"

// Kernel terminal definitions, to read the programmed settings back (this
// file must not include <termios.h>, which clashes with them).
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <vector>

#include "serial_test_support.h"

namespace mbus::serial {
namespace {

using testing::PseudoTerminal;
using testing::WaitUntil;

std::vector<uint8_t> Decode(MarkedByteDecoder& decoder, const std::vector<uint8_t>& raw,
                            MarkedByteDecoder::Marks* marks = nullptr) {
    std::deque<uint8_t> out;
    const MarkedByteDecoder::Marks m = decoder.Feed(raw.data(), raw.size(), out);
    if (marks != nullptr) *marks = m;
    return {out.begin(), out.end()};
}

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------
// Decoding the marked byte stream

TEST(MarkedByteDecoder, PlainBytesPassUnchanged) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0x10, 0x5B, 0x00, 0xFE, 0x16}, &m), (Bytes{0x10, 0x5B, 0x00, 0xFE, 0x16}));
    EXPECT_EQ(m.Total(), 0);
    EXPECT_FALSE(d.InSequence());
}

TEST(MarkedByteDecoder, DoubledFFIsOneDataByteFF) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0x68, 0xFF, 0xFF, 0x16, 0xFF, 0xFF, 0xFF, 0xFF}, &m), (Bytes{0x68, 0xFF, 0x16, 0xFF, 0xFF}));
    EXPECT_EQ(m.Total(), 0);
}

TEST(MarkedByteDecoder, MarkedByteIsDeliveredAndCountedAsFaulty) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0x68, 0xFF, 0x00, 0x41, 0x16}, &m), (Bytes{0x68, 0x41, 0x16}));
    EXPECT_EQ(m.faulty, 1);
    EXPECT_EQ(m.nulls, 0);
}

TEST(MarkedByteDecoder, MarkedFFIsDeliveredAsFF) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0xFF, 0x00, 0xFF}, &m), (Bytes{0xFF}));
    EXPECT_EQ(m.faulty, 1);
}

TEST(MarkedByteDecoder, MarkedNullIsDeliveredAndCountedApart) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0xFF, 0x00, 0x00, 0xE5}, &m), (Bytes{0x00, 0xE5}));
    EXPECT_EQ(m.faulty, 0);
    EXPECT_EQ(m.nulls, 1);
}

TEST(MarkedByteDecoder, SequenceSplitAcrossReadsIsJoined) {
    {
        MarkedByteDecoder d;
        MarkedByteDecoder::Marks m1, m2;
        EXPECT_EQ(Decode(d, {0x10, 0xFF}, &m1), (Bytes{0x10}));
        EXPECT_TRUE(d.InSequence());
        EXPECT_EQ(Decode(d, {0x00, 0x41}, &m2), (Bytes{0x41}));
        EXPECT_EQ(m1.Total() + m2.faulty, 1);
        EXPECT_FALSE(d.InSequence());
    }
    {
        MarkedByteDecoder d;
        MarkedByteDecoder::Marks m1, m2;
        EXPECT_EQ(Decode(d, {0xFF, 0x00}, &m1), Bytes{});
        EXPECT_TRUE(d.InSequence());
        EXPECT_EQ(Decode(d, {0x42, 0x16}, &m2), (Bytes{0x42, 0x16}));
        EXPECT_EQ(m2.faulty, 1);
    }
    {
        MarkedByteDecoder d;
        EXPECT_EQ(Decode(d, {0xFF}), Bytes{});
        EXPECT_EQ(Decode(d, {0xFF}), (Bytes{0xFF}));
        EXPECT_FALSE(d.InSequence());
    }
}

TEST(MarkedByteDecoder, UndoubledFFBeforeOtherDataIsKept) {
    MarkedByteDecoder d;
    MarkedByteDecoder::Marks m;
    EXPECT_EQ(Decode(d, {0xFF, 0x41, 0x42}, &m), (Bytes{0xFF, 0x41, 0x42}));
    EXPECT_EQ(m.Total(), 0);
}

TEST(MarkedByteDecoder, ResetForgetsAHalfSequence) {
    MarkedByteDecoder d;
    Decode(d, {0xFF, 0x00});
    d.Reset();
    EXPECT_FALSE(d.InSequence());
    EXPECT_EQ(Decode(d, {0x41}), (Bytes{0x41}));
}

// ---------------------------------------------------------------------------
// The port over a pseudo-terminal

// Data bits and parity as programmed. Recent kernels keep neither on a
// pseudo-terminal (it reports 8 data bits without parity whatever was set),
// so that answer is accepted too; on a kernel that keeps them, they must be
// what was asked.
bool CharacterFormatIs(const termios2& t, tcflag_t size, tcflag_t parity) {
    const tcflag_t gotSize = t.c_cflag & CSIZE;
    const tcflag_t gotParity = t.c_cflag & (PARENB | PARODD);
    if (gotSize == size && gotParity == parity) return true;
    return gotSize == CS8 && (gotParity & PARENB) == 0;
}

class TermiosPortOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal: errno " << errno;
        // A second descriptor on the slave, opened before the port takes it
        // for exclusive use, to read back what the port programmed.
        probe = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(probe, 0);
        int error = -1;
        port = OpenTermiosPort(pty.SlavePath(), &error);
        ASSERT_NE(port, nullptr) << "errno " << error;
        EXPECT_EQ(error, 0);
    }
    void TearDown() override {
        port.reset();
        if (probe >= 0) ::close(probe);
    }

    termios2 Programmed() const {
        termios2 t{};
        EXPECT_EQ(::ioctl(probe, TCGETS2, &t), 0);
        return t;
    }

    // Drains the port until `count` bytes came or the patience is over.
    Bytes ReadFromPort(size_t count) {
        Bytes got;
        WaitUntil([&] {
            uint8_t buffer[512];
            const int n = port->Read(buffer, sizeof buffer);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
            return got.size() >= count;
        });
        return got;
    }

    PseudoTerminal pty;
    int probe = -1;
    std::unique_ptr<SerialPort> port;
};

TEST_F(TermiosPortOnPty, IsNamedByItsPathAndStartsRawWithFaultMarking) {
    EXPECT_EQ(port->Name(), pty.SlavePath());
    const termios2 t = Programmed();
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), INPCK | PARMRK);
    EXPECT_EQ(t.c_iflag & (IGNPAR | ISTRIP | IGNBRK | BRKINT | IXON | ICRNL), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
}

TEST_F(TermiosPortOnPty, Configure2400EvenParityOneStopBitProgramsTheTerminal) {
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    const termios2 t = Programmed();
    EXPECT_EQ(t.c_ospeed, 2400u);
    EXPECT_EQ(t.c_ispeed, 2400u);
    EXPECT_TRUE(CharacterFormatIs(t, CS8, PARENB)) << std::hex << t.c_cflag;
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), INPCK | PARMRK);
}

TEST_F(TermiosPortOnPty, NonStandardRateIsProgrammedAsACustomRate) {
    ASSERT_TRUE(port->Configure({32000, 8, 1, 1, 0, 0})) << "errno " << port->LastError();
    const termios2 t = Programmed();
    EXPECT_EQ(t.c_cflag & CBAUD, static_cast<tcflag_t>(BOTHER));
    EXPECT_EQ(t.c_ospeed, 32000u);
    EXPECT_EQ(t.c_ispeed, 32000u);
}

TEST_F(TermiosPortOnPty, SevenDataBitsOddParityTwoStopBitsAndHandshake) {
    ASSERT_TRUE(port->Configure({9600, 7, 2, 2, 2, 2}));
    const termios2 t = Programmed();
    EXPECT_EQ(t.c_ospeed, 9600u);
    EXPECT_TRUE(CharacterFormatIs(t, CS7, PARENB | PARODD)) << std::hex << t.c_cflag;
    EXPECT_EQ(t.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(t.c_cflag & CRTSCTS, static_cast<tcflag_t>(CRTSCTS));

    // Back to no handshake, no parity, 5 data bits with one and a half stop bits.
    ASSERT_TRUE(port->Configure({300, 5, -1, 0, 0, 0}));
    const termios2 u = Programmed();
    EXPECT_TRUE(CharacterFormatIs(u, CS5, 0)) << std::hex << u.c_cflag;
    EXPECT_EQ(u.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    EXPECT_EQ(u.c_cflag & CRTSCTS, 0u);
}

TEST_F(TermiosPortOnPty, ConfigureRefusesImpossibleSettingsWithEINVAL) {
    const SerialConfig bad[] = {
        {0, 8, 1, 1, 0, 0}, {2400, 4, 1, 1, 0, 0}, {2400, 9, 1, 1, 0, 0}, {2400, 8, 3, 1, 0, 0},
        {2400, 8, 0, 1, 0, 0}, {2400, 8, 1, 3, 0, 0}, {2400, 8, 1, 1, 4, 0}, {2400, 8, 1, 1, 0, 3},
    };
    for (const SerialConfig& c : bad) {
        EXPECT_FALSE(port->Configure(c)) << c.baud << " " << c.dataBits << " " << c.stopBits << " " << c.parity
                                         << " " << c.rts << " " << c.dtr;
        EXPECT_EQ(port->LastError(), EINVAL);
    }
}

TEST_F(TermiosPortOnPty, WrittenBytesArriveAtTheFarEndUnchanged) {
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    const Bytes frame = {0x10, 0x40, 0xFE, 0x3E, 0x16, 0xFF, 0x0A, 0x0D, 0x00};
    ASSERT_EQ(port->Write(frame.data(), static_cast<int>(frame.size())), static_cast<int>(frame.size()));
    EXPECT_EQ(pty.Receive(frame.size()), frame);
}

TEST_F(TermiosPortOnPty, ReceivedBytesIncludingFFAreReadBackExactlyWithoutErrors) {
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    Bytes sent;
    for (int i = 0; i < 256; ++i) sent.push_back(static_cast<uint8_t>(i));
    // Sequences that look like marks once the terminal layer has doubled FF.
    for (uint8_t b : {0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x00, 0x00, 0xFF}) sent.push_back(b);
    ASSERT_TRUE(pty.Send(sent));
    EXPECT_EQ(ReadFromPort(sent.size()), sent);
    EXPECT_FALSE(port->TakeErrors().Any());
}

TEST_F(TermiosPortOnPty, FFIsNotDoubledWithParityOffEither) {
    ASSERT_TRUE(port->Configure({9600, 8, 1, 0, 0, 0}));
    const Bytes sent = {0xFF, 0xFF, 0x00, 0xFF, 0x12};
    ASSERT_TRUE(pty.Send(sent));
    EXPECT_EQ(ReadFromPort(sent.size()), sent);
    EXPECT_FALSE(port->TakeErrors().Any());
}

TEST_F(TermiosPortOnPty, BytesWaitingCountsDecodedBytes) {
    EXPECT_EQ(port->BytesWaiting(), 0);
    const Bytes sent = {0x68, 0xFF, 0xFF, 0x68, 0xFF};
    ASSERT_TRUE(pty.Send(sent));
    ASSERT_TRUE(WaitUntil([&] { return port->BytesWaiting() == static_cast<int>(sent.size()); }))
        << port->BytesWaiting();
    uint8_t got[16];
    ASSERT_EQ(port->Read(got, 2), 2);
    EXPECT_EQ(port->BytesWaiting(), 3);
    ASSERT_EQ(port->Read(got, sizeof got), 3);
    EXPECT_EQ(Bytes(got, got + 3), (Bytes{0xFF, 0x68, 0xFF}));
    EXPECT_EQ(port->BytesWaiting(), 0);
}

TEST_F(TermiosPortOnPty, ReadWithNothingThereReturnsZeroAtOnce) {
    uint8_t got[8];
    EXPECT_EQ(port->Read(got, sizeof got), 0);
    EXPECT_EQ(port->Read(got, 0), 0);
}

TEST_F(TermiosPortOnPty, OutputIsEmptyOnceTheFarEndHasRead) {
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 0, 0}));
    const Bytes frame(200, 0x55);
    ASSERT_EQ(port->Write(frame.data(), static_cast<int>(frame.size())), static_cast<int>(frame.size()));
    EXPECT_EQ(pty.Receive(frame.size()).size(), frame.size());
    EXPECT_TRUE(WaitUntil([&] { return port->OutputEmpty(); }));
}

TEST_F(TermiosPortOnPty, PurgeInputDropsWhatWasReceived) {
    ASSERT_TRUE(pty.Send({1, 2, 3, 4, 5}));
    ASSERT_TRUE(WaitUntil([&] { return port->BytesWaiting() == 5; }));
    port->PurgeInput();
    EXPECT_EQ(port->BytesWaiting(), 0);
    uint8_t got[8];
    EXPECT_EQ(port->Read(got, sizeof got), 0);
    // The port still receives afterwards.
    ASSERT_TRUE(pty.Send({6}));
    EXPECT_EQ(ReadFromPort(1), Bytes{6});
}

TEST_F(TermiosPortOnPty, PurgeOutputKeepsThePortUsable) {
    const Bytes frame = {0x10, 0x40, 0x01, 0x41, 0x16};
    ASSERT_EQ(port->Write(frame.data(), 5), 5);
    port->PurgeOutput();
    EXPECT_TRUE(WaitUntil([&] { return port->OutputEmpty(); }));
}

TEST_F(TermiosPortOnPty, ModemControlWithoutModemLinesDoesNotFailTheCaller) {
    port->SetRTS(true);
    port->SetRTS(false);
    port->SetDTR(true);
    port->SetDTR(false);
    port->SetBreak(true);
    port->SetBreak(false);
    const ModemStatus s = port->GetModemStatus();
    EXPECT_FALSE(s.cts);
    EXPECT_FALSE(s.dsr);
    EXPECT_FALSE(s.ri);
    EXPECT_FALSE(s.dcd);
    // Every RTS and DTR mode configures, RTS toggling included.
    for (int rts = 0; rts <= 3; ++rts)
        for (int dtr = 0; dtr <= 2; ++dtr) EXPECT_TRUE(port->Configure({2400, 8, 1, 1, rts, dtr})) << rts << dtr;
}

TEST_F(TermiosPortOnPty, RtsToggleModeSendsAndReportsTheOutputEmpty) {
    ASSERT_TRUE(port->Configure({2400, 8, 1, 1, 3, 1}));
    const Bytes frame = {0x10, 0x5B, 0xFE, 0x59, 0x16};
    ASSERT_EQ(port->Write(frame.data(), 5), 5);
    EXPECT_EQ(pty.Receive(frame.size()), frame);
    EXPECT_TRUE(WaitUntil([&] { return port->OutputEmpty(); }));
}

TEST_F(TermiosPortOnPty, SecondOpenIsRefusedWhileThePortIsOpen) {
    // The port lock binds a privileged process too.
    int error = 0;
    EXPECT_EQ(OpenTermiosPort(pty.SlavePath(), &error), nullptr);
    EXPECT_EQ(error, EBUSY);
}

// A pipe stands in for a driver that marks faulty bytes: the port reads the
// marked stream from it. A pipe has no terminal settings (the port keeps its
// initial 8E1) and no fault counters, so a marked byte counts as a parity error.
class TermiosPortOnMarkedStream : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        port = std::make_unique<TermiosPort>(fds[0], "pipe");
        writer = fds[1];
    }
    void TearDown() override {
        port.reset();
        if (writer >= 0) ::close(writer);
    }
    void Put(const Bytes& raw) { ASSERT_EQ(::write(writer, raw.data(), raw.size()), static_cast<ssize_t>(raw.size())); }

    std::unique_ptr<TermiosPort> port;
    int writer = -1;
};

TEST_F(TermiosPortOnMarkedStream, MarkedByteIsDeliveredAndReportedAsParityErrorWithoutCounters) {
    Put({0x68, 0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x16});
    EXPECT_EQ(port->BytesWaiting(), 4);
    uint8_t got[8];
    ASSERT_EQ(port->Read(got, sizeof got), 4);
    EXPECT_EQ(Bytes(got, got + 4), (Bytes{0x68, 0x41, 0xFF, 0x16}));
    const UartErrors e = port->TakeErrors();
    EXPECT_TRUE(e.parity);
    EXPECT_FALSE(e.framing);
    EXPECT_FALSE(e.other);
    // Taken errors are gone.
    EXPECT_FALSE(port->TakeErrors().Any());
}

TEST_F(TermiosPortOnMarkedStream, MarkSplitAcrossReadsIsJoined) {
    Put({0x10, 0xFF});
    uint8_t got[8];
    ASSERT_EQ(port->Read(got, sizeof got), 1);
    EXPECT_EQ(got[0], 0x10);
    EXPECT_EQ(port->BytesWaiting(), 0);  // half a sequence is no byte yet
    EXPECT_FALSE(port->TakeErrors().Any());
    Put({0x00});
    EXPECT_EQ(port->BytesWaiting(), 0);
    Put({0x5B, 0xFF});
    EXPECT_EQ(port->BytesWaiting(), 1);
    Put({0xFF});
    ASSERT_EQ(port->Read(got, sizeof got), 2);
    EXPECT_EQ(Bytes(got, got + 2), (Bytes{0x5B, 0xFF}));
    EXPECT_TRUE(port->TakeErrors().parity);
}

TEST_F(TermiosPortOnMarkedStream, PurgeInputForgetsAHalfSequence) {
    Put({0xFF, 0x00});
    EXPECT_EQ(port->BytesWaiting(), 0);
    port->PurgeInput();
    Put({0x41});
    uint8_t got[4];
    ASSERT_EQ(port->Read(got, sizeof got), 1);
    EXPECT_EQ(got[0], 0x41);
    EXPECT_FALSE(port->TakeErrors().Any());
}

// ---------------------------------------------------------------------------
// A device that goes away: an unplugged adapter hangs its terminal up and
// its device node disappears; a new adapter (or a restarted simulator
// behind a link) is another device under the same name.

TEST_F(TermiosPortOnPty, HungUpTerminalIsLostWhileALiveOneIsNot) {
    ASSERT_TRUE(pty.Send({0x10, 0x20}));
    EXPECT_EQ(ReadFromPort(2), (Bytes{0x10, 0x20}));
    EXPECT_FALSE(port->Lost());
    pty.CloseMaster();
    EXPECT_TRUE(port->Lost());
    // Lost stays lost: nothing the port does brings the device back.
    uint8_t buffer[8];
    port->Read(buffer, sizeof buffer);
    EXPECT_TRUE(port->Lost());
}

class TermiosPortBehindALink : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(first.Ok() && second.Ok() && scratch.Ok());
        link = scratch.File("bus");
        ASSERT_EQ(::symlink(first.SlavePath().c_str(), link.c_str()), 0);
        int error = -1;
        port = OpenTermiosPort(link, &error);
        ASSERT_NE(port, nullptr) << "errno " << error;
    }

    PseudoTerminal first, second;
    testing::ScratchDirectory scratch;
    std::string link;
    std::unique_ptr<SerialPort> port;
};

TEST_F(TermiosPortBehindALink, LinkThatNamesAnotherTerminalNowIsALostDevice) {
    // A link made anew for the same terminal changes nothing.
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(first.SlavePath().c_str(), link.c_str()), 0);
    EXPECT_FALSE(port->Lost());
    // Replaced as a restarted simulator replaces it; the first terminal
    // itself is still there and has not hung up.
    ASSERT_EQ(::unlink(link.c_str()), 0);
    ASSERT_EQ(::symlink(second.SlavePath().c_str(), link.c_str()), 0);
    EXPECT_TRUE(port->Lost());
}

TEST_F(TermiosPortBehindALink, RemovedLinkIsALostDevice) {
    EXPECT_FALSE(port->Lost());
    ASSERT_EQ(::unlink(link.c_str()), 0);
    EXPECT_TRUE(port->Lost());
}

TEST(TermiosPortOpen, MissingDeviceGivesENOENT) {
    int error = 0;
    EXPECT_EQ(OpenTermiosPort("/dev/mbus-no-such-device", &error), nullptr);
    EXPECT_EQ(error, ENOENT);
}

TEST(TermiosPortOpen, DeviceThatIsNoTerminalIsRefused) {
    int error = 0;
    EXPECT_EQ(OpenTermiosPort("/dev/null", &error), nullptr);
    EXPECT_EQ(error, ENOTTY);
}

TEST(TermiosPortOpen, NullErrorPointerIsAllowed) {
    EXPECT_EQ(OpenTermiosPort("/dev/mbus-no-such-device", nullptr), nullptr);
}

}  // namespace
}  // namespace mbus::serial
