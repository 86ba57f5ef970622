#include "control/line/layer1.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "control/decode/options.h"
#include "control/line/frame_shape.h"
#include "control/line/line_texts.h"
#include "control/line/trace.h"
#include "platform/text/language_table.h"

std::atomic<int32_t> MBusChannel[4] = {0, 0, 0, 0};

using namespace mbus;
using namespace mbus::line;
using platform::Clock;

namespace mbus::line {
namespace {

// Rows: 0 the port-open text, 1..8 the reasons of statuses 3..10.
text::LanguageTable& Texts() {
    static text::LanguageTable table = [] {
        std::vector<std::size_t> widths(1 + kConfigTexts, kConfigTextWidth);
        widths[0] = kPortOpenWidth;
        text::LanguageTable t(widths);
        for (int lang = 0; lang < 9; ++lang) {
            t.Set(0, lang, kLineTextColumns[lang].portOpen);
            for (std::size_t i = 0; i < kConfigTexts; ++i)
                t.Set(static_cast<int>(1 + i), lang, kLineTextColumns[lang].configTexts[i]);
        }
        return t;
    }();
    return table;
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

Clock::time_point FromNs(int64_t ns) { return Clock::time_point(std::chrono::nanoseconds(ns)); }

}  // namespace

LineTimings DeriveTimings(int baud, int TA, int TO, int TB, int DT, int fifo, int platformKind) {
    const double t = 1000.0 / (baud > 0 ? baud : 1);  // milliseconds per bit
    int F = 11, G = 15;
    if (fifo) {
        const bool professional = platformKind >= 10 && platformKind <= 12;
        F = professional ? 132 : 88;
        G = professional ? 50 : 15;
    }
    // Any parameter may be any 32-bit value: the sums are made in double and
    // the results kept within what an int32 holds.
    auto ms = [](double v) {
        return static_cast<int32_t>(std::clamp(std::trunc(v), -2147483647.0, 2147483646.0));
    };
    LineTimings r;
    r.byteTimeout = ms((static_cast<double>(TB) + F) * t + 1);
    r.deadTime = DT == 0 ? 0 : ms((static_cast<double>(DT) + G) * t);
    r.answerTimeout = ms(std::trunc(static_cast<double>(TA) * t) + static_cast<double>(TO) + 1);
    r.answerPart = ms(static_cast<double>(TA) * t + 1);
    r.writeMsPerByte = 1 + ms(12 * t);
    return r;
}

std::string LineStatusText(int status, int language) {
    if (status == kLinePortOpenFailed) return Texts().Utf8(0, language);
    if (status >= 3 && status <= 10) return Texts().Utf8(status - 2, language);
    return {};
}

bool WriteLineText(int row, int language, const std::string& utf8) {
    return Texts().WriteUser(row, language, utf8, row == 0 ? 199 : 49);
}

}  // namespace mbus::line

int32_t MBLayer1::ClaimSlot() {
    for (int32_t i = 0; i < 4; ++i) {
        int32_t expected = 0;
        if (MBusChannel[i].compare_exchange_strong(expected, 1)) return i;
    }
    return 4;
}

MBLayer1::MBLayer1() : slot(ClaimSlot()) {
    if (slot < 4) {
        sendThread_ = std::make_unique<platform::SuspendableThread>([this] { SendJob(); });
        receiveThread_ = std::make_unique<platform::SuspendableThread>([this] { ReceiveJob(); });
    }
    MInit(330, 50, 1, 11, kPartWait, 1);
}

MBLayer1::~MBLayer1() {
    if (sendThread_) sendThread_->Stop();
    if (receiveThread_) receiveThread_->Stop();
    CClose();
    if (slot < 4) MBusChannel[slot].store(0);
}

template <typename Fn>
bool MBLayer1::WithPort(Fn fn) {
    std::lock_guard lock(portMutex_);
    if (!port_) return false;
    fn(*port_);
    return true;
}

bool MBLayer1::IsOpen() const {
    std::lock_guard lock(portMutex_);
    return port_ != nullptr;
}

std::string MBLayer1::PortName() const {
    std::lock_guard lock(portMutex_);
    return port_ ? port_->Name() : std::string();
}

int MBLayer1::Failure(int statusCode, int platformError) {
    {
        std::lock_guard lock(portMutex_);
        port_.reset();
    }
    status.store(statusCode);
    const int language = CurrentLanguage();
    lastErrorText = LineStatusText(kLinePortOpenFailed, language);
    if (statusCode == kLinePortOpenFailed) lastErrorText += std::to_string(platformError);
    else {
        lastErrorText += '\n';
        lastErrorText += LineStatusText(statusCode, language);
    }
    // A library has no window of its own: the message goes to the error stream.
    if (Option(MBusOption.OPTMessagesOn) != 0) std::fprintf(stderr, "MBus: %s\n", lastErrorText.c_str());
    return 0;
}

int MBLayer1::CInit(int port, int baud, int dataBits, int stopBits, int parity, int rts, int dtr, int highSpeed,
                    int adapterInit) {
    status.store(kLinePortOpenFailed);
    if (port < 1 || port > 999) return 0;
    if (IsOpen()) {
        CClose();
        return 0;
    }
    int error = 0;
    std::unique_ptr<serial::SerialPort> opened = serial::OpenPort(port, &error);
    if (!opened) return Failure(kLinePortOpenFailed, error);
    {
        std::lock_guard lock(portMutex_);
        port_ = std::move(opened);
    }

    static constexpr int kRates[] = {300,   600,   1200,   2400,   4800,   9600,   19200,
                                     38400, 57600, 115200, 230400, 256000, 460800, 921600};
    bool known = false;
    for (int r : kRates) known |= (r == baud);
    if (!known || (highSpeed && baud == 300)) return Failure(kLineBadBaud, 0);
    // High speed: the port runs one eighth of the nominal rate (256000 as 32000).
    const int programmed = highSpeed ? baud / 8 : baud;

    if (dataBits < 5 || dataBits > 8) return Failure(kLineBadDataBits, 0);
    if (stopBits != 1 && stopBits != 2 && stopBits != -1) return Failure(kLineBadStopBits, 0);
    if (parity < 0 || parity > 2) return Failure(kLineBadParity, 0);
    if (rts < 0 || rts > 3) return Failure(kLineBadRTS, 0);
    if (dtr < 0 || dtr > 2) return Failure(kLineBadDTR, 0);

    serial::SerialConfig config{programmed, dataBits, stopBits, parity, rts, dtr};
    if (adapterInit) {
        // The adapter learns its rate from one selector byte sent at 9600 baud.
        serial::SerialConfig init{9600, 8, 1, 0, 0, 0};
        bool ok = false;
        WithPort([&](serial::SerialPort& p) { ok = p.Configure(init); });
        if (!ok) return Failure(kLineConfigFailed, 0);
        platform::SleepMs(1);
        init.dtr = 1;
        WithPort([&](serial::SerialPort& p) { ok = p.Configure(init); });
        if (!ok) return Failure(kLineConfigFailed, 0);
        platform::SleepMs(1);
        uint8_t selector;
        switch (baud) {
            case 1200: selector = 0x0C; break;
            case 2400: selector = 0x0A; break;
            case 4800: selector = 0x08; break;
            case 19200: selector = 0x03; break;
            case 38400: selector = 0x02; break;
            case 57600: selector = 0x01; break;
            case 115200: selector = 0x00; break;
            default: selector = 0x06; break;
        }
        WithPort([&](serial::SerialPort& p) { p.Write(&selector, 1); });
        platform::SleepMs(20);
    }
    bool configured = false;
    WithPort([&](serial::SerialPort& p) { configured = p.Configure(config); });
    if (!configured) return Failure(kLineConfigFailed, 0);
    nominalBaud = baud;
    TInit();
    status.store(kLineOpen);
    return 1;
}

void MBLayer1::MInit(int TA_, int TO_, int TB_, int DT_, int waitMode_, int fifo_) {
    TA = TA_;
    TO = TO_;
    TB = TB_;
    DT = DT_;
    waitMode = waitMode_;
    fifo = fifo_;
    TInit();
}

void MBLayer1::TInit() { timings = DeriveTimings(nominalBaud, TA, TO, TB, DT, fifo, kPlatformKind); }

void MBLayer1::CClose() {
    std::lock_guard lock(portMutex_);
    port_.reset();
}

bool MBLayer1::CloseIfLost() {
    {
        std::lock_guard lock(portMutex_);
        if (!port_ || !port_->Lost()) return false;
        port_.reset();
    }
    // The transfer failed on the port (UART), it did not time out; the line
    // reads as a port that could not be opened until it is opened again.
    errorWord.store(0x100);
    status.store(kLinePortOpenFailed);
    return true;
}

void MBLayer1::SetRTS() { WithPort([](serial::SerialPort& p) { p.SetRTS(true); }); }
void MBLayer1::ResetRTS() { WithPort([](serial::SerialPort& p) { p.SetRTS(false); }); }
void MBLayer1::SetDTR() { WithPort([](serial::SerialPort& p) { p.SetDTR(true); }); }
void MBLayer1::ResetDTR() { WithPort([](serial::SerialPort& p) { p.SetDTR(false); }); }
void MBLayer1::Break() { WithPort([](serial::SerialPort& p) { p.SetBreak(true); }); }
void MBLayer1::BreakOff() { WithPort([](serial::SerialPort& p) { p.SetBreak(false); }); }

int MBLayer1::ModemBit(bool serial::ModemStatus::*bit) {
    int r = 0;
    WithPort([&](serial::SerialPort& p) { r = p.GetModemStatus().*bit ? 1 : 0; });
    return r;
}

int MBLayer1::GetCTSStatus() { return ModemBit(&serial::ModemStatus::cts); }
int MBLayer1::GetDSRStatus() { return ModemBit(&serial::ModemStatus::dsr); }
int MBLayer1::GetRIStatus() { return ModemBit(&serial::ModemStatus::ri); }
int MBLayer1::GetDCDStatus() { return ModemBit(&serial::ModemStatus::dcd); }

int MBLayer1::SendBufferContent() {
    if (!sendThread_ || !IsOpen() || transmitActive.load() != 0) return 0;
    int n = sendCount;
    if (escapeWrapper.load() != 0 && n + 5 <= kBufferSize) {
        // Escape wrapper for interface devices: 1Bh 1Bh 1Bh 16h and the length.
        std::memmove(sendBuffer + 5, sendBuffer, static_cast<std::size_t>(n));
        const uint8_t head[5] = {0x1B, 0x1B, 0x1B, 0x16, static_cast<uint8_t>(n & 0xFF)};
        std::memcpy(sendBuffer, head, 5);
        n += 5;
    }
    if (zeroPreamble.load() != 0 && n + 10 <= kBufferSize) {
        std::memmove(sendBuffer + 10, sendBuffer, static_cast<std::size_t>(n));
        std::memset(sendBuffer, 0, 10);
        n += 10;
    }
    sendCount = n;
    receiveCount.store(-1);
    receiveCountCopy.store(-1);
    writtenCount.store(0);
    transmitActive.store(1);
    sendThread_->Resume();
    return 1;
}

int MBLayer1::ReceiveBufferContent() {
    if (receiveActive.load() != 0) return 0;
    receiveCount.store(0);
    receiveCountCopy.store(0);
    if (!receiveThread_ || !IsOpen()) return 0;
    receiveActive.store(1);
    errorWord.store(0);
    receiveThread_->Resume();
    return 1;
}

void MBLayer1::MarkEndOfTransmission() { endOfTransmissionNs.store(NowNs()); }

void MBLayer1::SendJob() {
    if (IsOpen()) {
        AppendTraceLine(TraceKind::Send, slot, sendBuffer, sendCount);
        // When the request's last stop bit left the line. The line cannot
        // carry the bytes faster than its rate, whatever the output queue
        // says (a pseudo-terminal, a gateway or a USB adapter empties it at
        // once); and it was still sending whenever the port was seen busy.
        // Neither depends on how late this thread notices the queue empty.
        Clock::time_point lineEnd = Clock::now();
        if (sendCount != 0) {
            int done = 0;
            // What is still in the input belongs to an earlier answer (the
            // tail of a garbled one): it must not count for this request.
            WithPort([this](serial::SerialPort& p) {
                p.TakeErrors();
                PurgeInput(p);
            });
            const Clock::time_point writeStart = Clock::now();
            // The port may accept less than all at once; the rest follows as it drains.
            bool failed = false;
            while (done < sendCount) {
                int w = -1;
                if (!WithPort([&](serial::SerialPort& p) { w = p.Write(sendBuffer + done, sendCount - done); }) || w < 0) {
                    failed = true;
                    break;
                }
                done += w;
                writtenCount.store(static_cast<uint32_t>(done));
                if (done < sendCount) std::this_thread::yield();
            }
            WithPort([&](serial::SerialPort& p) {
                lineEnd = writeStart + std::chrono::duration_cast<Clock::duration>(p.LineTime(done));
            });
            if (failed) CloseIfLost();
        }
        // Until everything has left the port, looked at every 0.2 ms: a
        // frame takes milliseconds on the line, and spinning through them
        // would cost a core while every request goes out.
        for (;;) {
            const Clock::time_point looked = Clock::now();
            bool empty = true;
            if (!WithPort([&](serial::SerialPort& p) { empty = p.OutputEmpty(); }) || empty) break;
            lineEnd = std::max(lineEnd, looked);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        // The line's echo of our own frame is discarded during the dead time.
        if (echoOption.load() == 0) DiscardEcho(lineEnd + std::chrono::milliseconds(timings.deadTime));
        endOfTransmissionNs.store(NowNs());
        platform::SleepMs(1);
    }
    transmitActive.store(0);
}

void MBLayer1::DiscardEcho(Clock::time_point until) {
    // Everything there now is read; reads go on until the dead time has
    // passed, a millisecond apart and only yielding in its last millisecond,
    // so that the border between echo and answer stays as sharp as the host
    // allows without spinning through the whole frame. Bytes of a read that
    // ended after that may have arrived after it (this thread may run late
    // on a busy host): they are the start of the answer and kept for the
    // reception, less a leading piece that is the end of the request itself
    // (its echo, read late). No answer begins with the request's last byte
    // 16h.
    std::vector<uint8_t> kept;
    uint8_t scratch[256];
    for (bool first = true;; first = false) {
        if (!first && Clock::now() >= until) break;
        std::vector<uint8_t> got;
        WithPort([&](serial::SerialPort& p) {
            int n;
            while ((n = p.Read(scratch, sizeof scratch)) > 0) got.insert(got.end(), scratch, scratch + n);
        });
        if (!got.empty() && Clock::now() >= until) {
            kept = std::move(got);
            break;
        }
        const Clock::time_point next = Clock::now() + std::chrono::milliseconds(1);
        if (next < until) std::this_thread::sleep_until(next);
        else std::this_thread::yield();
    }
    std::size_t echo = std::min<std::size_t>(kept.size(), static_cast<std::size_t>(std::max(sendCount, 0)));
    for (; echo > 0; --echo)
        if (std::equal(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(echo), sendBuffer + sendCount - echo))
            break;
    kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(echo));
    WithPort([&](serial::SerialPort& p) {
        // UART faults of the discarded bytes are not the answer's.
        if (kept.empty()) p.TakeErrors();
        heldOver_ = std::move(kept);
    });
}

int MBLayer1::InputWaiting(serial::SerialPort& p) const {
    return static_cast<int>(heldOver_.size()) + p.BytesWaiting();
}

int MBLayer1::ReadInput(serial::SerialPort& p, uint8_t* data, int max) {
    const int held = std::min(max, static_cast<int>(heldOver_.size()));
    std::copy_n(heldOver_.begin(), held, data);
    heldOver_.erase(heldOver_.begin(), heldOver_.begin() + held);
    const int n = p.Read(data + held, max - held);
    if (n < 0) return held > 0 ? held : n;
    return held + n;
}

void MBLayer1::PurgeInput(serial::SerialPort& p) {
    heldOver_.clear();
    p.PurgeInput();
}

void MBLayer1::ReadErrorState() {
    serial::UartErrors e;
    WithPort([&](serial::SerialPort& p) { e = p.TakeErrors(); });
    if (!e.Any()) return;
    uint16_t bit;
    if (e.parity && !e.framing && !e.other) bit = 0x002;       // Parity
    else if (e.framing && !e.parity && !e.other) bit = 0x080;  // Frame
    else bit = 0x100;                                           // UART
    errorWord.fetch_or(bit);
}

namespace {

// One whole frame that can end a reception early: a short, control or long
// frame, whose lengths, checksum and stop byte leave no doubt where it ends.
// A lone E5h or A2h could be the first byte of something longer.
bool IsWholeFrame(const uint8_t* bytes, int count) {
    if (count < 5) return false;
    const int kind = ClassifyFrame({bytes, static_cast<std::size_t>(count)}).result;
    return kind == 1 || kind == 2 || kind == 3;
}

}  // namespace

void MBLayer1::ReceiveJob() {
    const bool testBreak = MBusTestOption.OPXTestOptionsEnable.load() != 0;
    const int breakOption = MBusTestOption.OPXBreakOption.load();
    if (testBreak && breakOption == 1) Break();
    const double msPerBit = 1000.0 / (nominalBaud > 0 ? nominalBaud : 1);
    const Clock::time_point eot = FromNs(endOfTransmissionNs.load());
    const Clock::time_point deadline = eot + std::chrono::milliseconds(timings.answerTimeout);
    int count = 0;
    bool gotFirst = false;
    for (;;) {
        ReadErrorState();
        int waiting = 0;
        WithPort([&](serial::SerialPort& p) { waiting = InputWaiting(p); });
        if (waiting > 0) {
            gotFirst = true;
            break;
        }
        if (Clock::now() >= deadline || errorWord.load() != 0) break;
        platform::SleepMs(1);
    }
    if (!gotFirst) {
        // No answer, or a UART fault before the first byte.
        WithPort([&](serial::SerialPort& p) {
            const int n = ReadInput(p, receiveBuffer, kBufferSize);
            count = n > 0 ? n : 0;
            PurgeInput(p);
        });
        if (errorWord.load() == 0) errorWord.fetch_or(0x001);  // Timeout
    } else {
        if (testBreak && breakOption == 2) Break();
        const bool frameEnds = endAtFrame.load() != 0 && echoOption.load() == 0 && textProtocolMode.load() == 0 &&
                               ymodemMode.load() == 0;
        bool readFailed = false;
        // Bytes are read as they come only when a whole frame may end the
        // reception; otherwise all at once after the byte timeout.
        auto readWaiting = [&](serial::SerialPort& p) {
            const int n = ReadInput(p, receiveBuffer + count, kBufferSize - count);
            if (n < 0) readFailed = true;
            else count += n;
        };
        int lastSeen = -1;
        Clock::time_point byteDeadline{};
        for (;;) {
            ReadErrorState();
            int waiting = 0;
            WithPort([&](serial::SerialPort& p) { waiting = InputWaiting(p); });
            if (count + waiting != lastSeen) {
                lastSeen = count + waiting;
                byteDeadline = Clock::now() + std::chrono::milliseconds(timings.byteTimeout);
            }
            if (Clock::now() >= byteDeadline || errorWord.load() != 0) break;
            if (frameEnds && waiting > 0 && count < kBufferSize) {
                WithPort(readWaiting);
                if (readFailed) break;
                if (IsWholeFrame(receiveBuffer, count)) break;
            }
            platform::SleepMs(1);
        }
        if (!readFailed && count < kBufferSize) WithPort(readWaiting);
        if (readFailed) errorWord.fetch_or(0x001);
        ReadErrorState();
        if (errorWord.load() == 0) {
            Clock::time_point until = Clock::now();
            if (waitMode == kFullWait) {
                until = deadline;
            } else if (waitMode == kPartWait) {
                const auto transmission = static_cast<int64_t>(std::trunc(count * 11 * msPerBit));
                until = Clock::now() + std::chrono::milliseconds(timings.answerPart - transmission - 1);
            }
            if (waitMode != kNoWait) {
                while (Clock::now() < until) platform::SleepMs(1);
                // Whatever arrives now came after the end of the telegram.
                uint8_t scratch[kBufferSize];
                int late = 0;
                WithPort([&](serial::SerialPort& p) { late = p.Read(scratch, sizeof scratch); });
                if (late > 0) errorWord.fetch_or(0x040);  // Collision
            }
        }
    }
    // Nothing came: the line may have lost its device rather than its slave.
    if (count == 0) CloseIfLost();
    receiveCount.store(count);
    receiveCountCopy.store(count);
    if (breakOption != 0) BreakOff();
    receiveActive.store(0);
}
