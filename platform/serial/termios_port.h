// The termios backend of the serial port: a terminal device (a UART, a USB
// serial adapter, a pseudo-terminal) driven through the Linux terminal
// interface.
//
// How the port is set up:
//   - raw mode, receiver on, modem control lines ignored for open/read
//     (CREAD|CLOCAL); the device is opened non-blocking, so neither Read nor
//     Write ever waits;
//   - any baud rate, programmed as a custom rate (BOTHER) and read back: a
//     driver that cannot come within 3 % of the asked rate refuses the
//     configuration (EINVAL);
//   - data bits 5..8; stop bits 1, 2, or -1 for one and a half. One and a
//     half is programmed as "two stop bits" (CSTOPB): UARTs send 1.5 stop
//     bits for that setting when the character has 5 data bits and 2 for
//     longer characters;
//   - parity none, even or odd;
//   - received bytes with a parity or framing error stay in the byte stream,
//     marked by the terminal layer (INPCK|PARMRK); the port removes the marks
//     (MarkedByteDecoder), keeps the decoded bytes and records the fault.
//     Whether a marked byte had a parity or a framing error is told by the
//     driver's fault counters (TIOCGICOUNT) where it keeps them; without
//     them, a marked byte counts as a parity error when parity is on and as a
//     framing error when it is off. Overruns and breaks are seen through the
//     counters only and are reported as `other`. A byte that arrived as part
//     of a break is delivered as 00 like any other marked byte;
//   - RTS: 0 low, 1 high, 2 hardware handshake (CRTSCTS), 3 high while
//     sending. For 3 the driver's half-duplex mode is used where it offers
//     it; otherwise Write raises RTS and OutputEmpty lowers it once the
//     output has drained (so the line drops RTS when the caller sees the
//     output empty, which the line layer polls for after every send);
//   - DTR: 0 low, 1 high, 2 handshake. Linux has no DTR/DSR flow control,
//     so 2 holds DTR high;
//   - one master on a line: the port takes an advisory lock of the device
//     (flock) and asks for exclusive use (TIOCEXCL). An open while another
//     process (or another port object) holds the lock fails with EBUSY, for
//     privileged programs too; exclusive use also keeps out non-privileged
//     programs that do not lock. The lock goes with the port object, and
//     with the process when that ends in any way.
//   - a device that goes away (an unplugged USB adapter, a pseudo-terminal
//     whose master closed) is told by Lost: a read or write that failed with
//     EIO, ENXIO or ENODEV, a hang-up reported by poll, or the path the port
//     was opened by that no longer leads to the open device (removed, or a
//     link that now names another terminal). Lost stays true; the port must
//     be closed and opened again by its path.
// Modem line control and status fail on a pseudo-terminal; those failures
// are recorded in LastError and otherwise ignored (the status reads all off).

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/serial/serial_port.h"

namespace mbus::serial {

// Removes the marks the terminal layer puts into the received byte stream:
//   FF FF     a data byte FF
//   FF 00 X   a byte X received with a parity or framing error
//   FF 00 00  a 00 with an error, or a break
// A sequence may be split across reads; the decoder carries its state over.
class MarkedByteDecoder {
public:
    struct Marks {
        int faulty = 0;  // FF 00 X with X != 00
        int nulls = 0;   // FF 00 00
        int Total() const { return faulty + nulls; }
    };

    // Decodes `n` raw bytes, appending the data bytes to `out`.
    Marks Feed(const uint8_t* raw, std::size_t n, std::deque<uint8_t>& out);
    // Forgets a sequence begun but not finished (after the input is purged).
    void Reset() { state_ = State::Plain; }
    // True while the start of a sequence waits for its rest.
    bool InSequence() const { return state_ != State::Plain; }

private:
    enum class State : uint8_t { Plain, AfterFF, AfterFF00 };
    State state_ = State::Plain;
};

class TermiosPort final : public SerialPort {
public:
    // Takes ownership of `fd`, an open terminal device; `path` is its name.
    TermiosPort(int fd, std::string path);
    ~TermiosPort() override;
    TermiosPort(const TermiosPort&) = delete;
    TermiosPort& operator=(const TermiosPort&) = delete;

    bool Configure(const SerialConfig& config) override;
    int Write(const uint8_t* data, int n) override;
    bool OutputEmpty() override;
    std::chrono::nanoseconds LineTime(int count) const override;
    int BytesWaiting() override;
    int Read(uint8_t* data, int max) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    UartErrors TakeErrors() override;
    void SetRTS(bool on) override;
    void SetDTR(bool on) override;
    void SetBreak(bool on) override;
    ModemStatus GetModemStatus() override;
    bool Lost() override;
    int LastError() const override;
    std::string Name() const override { return path_; }

    // The configuration last applied.
    SerialConfig Config() const;

private:
    friend std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, int* error);

    // The driver's fault counters, reduced to what the port reports.
    struct FaultCounts {
        int parity = 0, frame = 0, brk = 0, overrun = 0, bufferOverrun = 0;
    };

    // Everything below runs with mutex_ held.
    bool ApplyLineSettings(const SerialConfig& config);
    void ApplyRtsMode(int mode);
    bool EnableHalfDuplex();
    void RestoreHalfDuplex();
    bool SetModemLine(int line, bool on);
    bool ReadFaultCounts(FaultCounts* counts);
    // Moves what the driver holds into held_; false on a read failure.
    bool Fill();
    void Account(const MarkedByteDecoder::Marks& marks);
    void LowerToggledRts();

    const int fd_;
    const std::string path_;
    mutable std::mutex mutex_;
    SerialConfig config_;
    int lastError_ = 0;

    std::deque<uint8_t> held_;  // decoded bytes not yet read
    MarkedByteDecoder decoder_;
    UartErrors errors_;
    MarkedByteDecoder::Marks unexplained_;  // marks seen since TakeErrors, with counters in use

    bool lost_ = false;  // the device has gone (see Lost); stays set

    bool countersWork_ = false;
    FaultCounts counts_;
    bool lineStatusWorks_ = true;

    bool halfDuplexOn_ = false;        // the driver's half-duplex mode was switched on by us
    uint32_t savedHalfDuplexFlags_ = 0;
    bool rtsToggleEmulated_ = false;   // RTS mode 3 done by Write/OutputEmpty
    bool rtsRaisedForSend_ = false;
};

// Opens the terminal device at `path` and puts it in raw mode (2400 baud,
// 8 data bits, even parity, 1 stop bit until configured). On failure returns
// null and sets *error to the errno value.
std::unique_ptr<SerialPort> OpenTermiosPort(const std::string& path, int* error);

// The process that holds the port lock of the device at `path`, from the
// kernel's lock table: its process id, 0 when a process this one cannot see
// holds it, -1 when nobody does (or the device or the table cannot be read).
int PortLockHolder(const std::string& path);
// "port in use by process N", or "port in use by another process" when the
// holder cannot be told.
std::string PortInUseText(const std::string& path);

}  // namespace mbus::serial
