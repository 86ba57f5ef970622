// Layer 1 of a channel: one serial port with the line timing of an M-Bus
// master. The object opens and configures the port, drives the modem
// control lines, and moves bytes between its buffers and the port on two
// threads of its own, so that callers never block on the port:
//
// - the send thread writes the send buffer, waits until the port has sent
//   it and (without the echo option) discards what comes back during the
//   dead time;
// - the receive thread waits for the first byte within the answer timeout,
//   collects bytes until a gap of the byte timeout, optionally keeps
//   listening for the rest of the answer window to detect collisions, and
//   records UART faults in the error word.
//
// A port whose device goes away while the line is open (an unplugged
// adapter) is closed by the thread that finds it out: after a write that
// failed, or a reception that got nothing. The line then reads as closed
// with status 2, which is how its owner learns of the loss.

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control/decode/export.h"
#include "platform/serial/serial_port.h"
#include "platform/thread/clock.h"
#include "platform/thread/suspendable_thread.h"

// The four line slots of the process: 0 free, 1 used.
extern MBUS_EXPORT std::atomic<int32_t> MBusChannel[4];

namespace mbus::line {

inline constexpr int kBufferSize = 6144;

// Line status codes: 0 open, 1 constructed and never opened, 2 while
// opening or when the port could not be opened, 3..10 configuration errors.
enum LineStatus : int32_t {
    kLineOpen = 0,
    kLineNeverOpened = 1,
    kLinePortOpenFailed = 2,
    kLineConfigUnreadable = 3,
    kLineBadBaud = 4,
    kLineBadDataBits = 5,
    kLineBadStopBits = 6,
    kLineBadParity = 7,
    kLineBadRTS = 8,
    kLineBadDTR = 9,
    kLineConfigFailed = 10,
};

enum WaitMode : int32_t { kNoWait = 0, kFullWait = 1, kPartWait = 2 };

// Platform kind that selects the FIFO delays: this system counts as the
// professional family (FIFO delays of 132 and 50 bit times).
inline constexpr int kPlatformKind = 11;

// Millisecond timings derived from the line parameters.
struct LineTimings {
    int32_t byteTimeout = 0;
    int32_t deadTime = 0;
    int32_t answerTimeout = 0;
    int32_t answerPart = 0;
    int32_t writeMsPerByte = 0;
};
LineTimings DeriveTimings(int baud, int TA, int TO, int TB, int DT, int fifo, int platformKind);

// The text of why a port could not be opened or configured (UTF-8, in a
// language 0..9): status 2 gives the port-open text, 3..10 their reasons.
std::string LineStatusText(int status, int language);
// The per-language texts of the line (rows 0 = port-open text, 1..8 =
// statuses 3..10); language 9 is writable.
bool WriteLineText(int row, int language, const std::string& utf8);

}  // namespace mbus::line

class MBUS_EXPORT MBLayer1 {
public:
    MBLayer1();
    virtual ~MBLayer1();
    MBLayer1(const MBLayer1&) = delete;
    MBLayer1& operator=(const MBLayer1&) = delete;

    // Opens and configures port `port` (1..999); 1 done, 0 failed (the
    // reason is in `status`).
    int CInit(int port, int baud, int dataBits, int stopBits, int parity, int rts, int dtr, int highSpeed,
              int adapterInit);
    void MInit(int TA, int TO, int TB, int DT, int waitMode, int fifo);
    void TInit();
    void CClose();

    void SetRTS();
    void ResetRTS();
    void SetDTR();
    void ResetDTR();
    void Break();
    void BreakOff();
    int GetCTSStatus();
    int GetDSRStatus();
    int GetRIStatus();
    int GetDCDStatus();
    void SetIRDAOn() {}
    void SetIRDAOff() {}

    // Starts sending the send buffer; 0 when the port is closed or a
    // transmission is still running.
    int SendBufferContent();
    // Starts a reception; 0 when one is running or the port is closed.
    int ReceiveBufferContent();
    // Takes the current time as the end of transmission (listening without sending).
    void MarkEndOfTransmission();

    bool IsOpen() const;
    // The port in use (tests and the engine's diagnostics); null when closed.
    std::string PortName() const;

    // Channel slot 0..3 (4 when all four were taken: no threads then).
    const int32_t slot;
    std::atomic<int32_t> status{mbus::line::kLineNeverOpened};
    // Text of the last failed CInit (UTF-8), for messages.
    std::string lastErrorText;

    uint8_t sendBuffer[mbus::line::kBufferSize] = {};
    int32_t sendCount = 0;
    std::atomic<uint32_t> writtenCount{0};
    std::atomic<int32_t> transmitActive{0};

    uint8_t receiveBuffer[mbus::line::kBufferSize] = {};
    std::atomic<int32_t> receiveCount{0};
    std::atomic<int32_t> receiveCountCopy{0};
    // Set by a send that expects no answer: the next reception poll reports
    // an empty reception without listening.
    std::atomic<int32_t> discardReception{0};
    std::atomic<int32_t> receiveActive{0};
    std::atomic<uint16_t> errorWord{0};

    int32_t TA = 330, TO = 50, TB = 1, DT = 11, waitMode = mbus::line::kPartWait, fifo = 1;
    int32_t nominalBaud = 2400;
    mbus::line::LineTimings timings;

    // Options of the send and receive sides.
    std::atomic<int32_t> escapeWrapper{0};
    std::atomic<int32_t> ymodemMode{0};
    std::atomic<int32_t> textProtocolMode{0};
    std::atomic<int32_t> echoOption{0};
    // 1: a reception ends as soon as its bytes form one whole short, control
    // or long frame (lengths, checksum and stop byte right) instead of after
    // the byte timeout; the wait mode's listening for a second answer still
    // follows. Only without the echo and outside the text and YMODEM modes,
    // where an answer's first bytes are the frame's.
    std::atomic<int32_t> endAtFrame{0};
    std::atomic<int32_t> zeroPreamble{0};

    // When the last send ended (steady clock, nanoseconds).
    std::atomic<int64_t> endOfTransmissionNs{0};

private:
    static int32_t ClaimSlot();
    void SendJob();
    void ReceiveJob();
    // Runs `fn` with the port under the port lock; false when closed.
    template <typename Fn>
    bool WithPort(Fn fn);
    // Throws away what the line returns until `until` (the request's echo).
    void DiscardEcho(mbus::platform::Clock::time_point until);
    // Input as the reception sees it: the bytes the send side held over,
    // then the port's. Called with the port lock held.
    int InputWaiting(mbus::serial::SerialPort& p) const;
    int ReadInput(mbus::serial::SerialPort& p, uint8_t* data, int max);
    void PurgeInput(mbus::serial::SerialPort& p);
    void ReadErrorState();
    int ModemBit(bool mbus::serial::ModemStatus::*bit);
    int Failure(int statusCode, int platformError);
    // Closes a port whose device has gone (SerialPort::Lost) so that the
    // device is let go at once: the line status becomes 2 (as a port that
    // could not be opened) and the error word UART. The next CInit opens the
    // port by its name again. True when it closed the port.
    bool CloseIfLost();

    mutable std::mutex portMutex_;
    std::unique_ptr<mbus::serial::SerialPort> port_;
    // Bytes the echo discard read after the dead time had passed: the
    // start of the answer, kept for the reception (under portMutex_).
    std::vector<uint8_t> heldOver_;
    std::unique_ptr<mbus::platform::SuspendableThread> sendThread_;
    std::unique_ptr<mbus::platform::SuspendableThread> receiveThread_;
};
