#include "control/engine/channel.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <thread>

#include "control/engine/locks.h"
#include "platform/text/hex.h"

namespace mbus::engine {
namespace {

constexpr int kLongFrameC = 0x53;

int ShortFrameC(int requestCode) {
    switch (requestCode) {
        case kRequestREQUD1: return 0x5A;
        case kRequestREQUD2:
        case kRequestSelectedReadData: return 0x5B;
        default: return 0x40;
    }
}

bool InSelectedRead(int code) { return code >= kRequestSelectedRead && code <= kRequestSelectedReadChoice; }

// The value byte of the record with VIF FDh and VIFE `vife`, or -1.
const MBDataRecord* FindFDRecord(const MBTelegram& t, uint8_t vife) {
    for (const MBDataRecord& r : t.records)
        if (r.vibLength >= 2 && r.VIB()[0] == 0xFD && (r.VIB()[1] & 0x7F) == vife) return &r;
    return nullptr;
}

}  // namespace

std::string RequestLogLine(int command, const std::string& rest, bool tunnel) {
    return std::to_string(tunnel ? command + 100 : command) + "|" + rest;
}

std::string DataEcho(std::span<const uint8_t> bytes, bool decimal) {
    std::string out;
    const std::size_t n = std::min<std::size_t>(bytes.size(), decimal ? 301 : 401);
    for (std::size_t i = 0; i < n; ++i) {
        if (decimal)
            text::AppendDecByte(out, bytes[i]);
        else
            text::AppendHexByte(out, bytes[i]);
    }
    return out;
}

Channel::Channel(int channelIndex) : index(channelIndex) {
    answer_ = std::make_shared<const AnswerSnapshot>();
    {
        std::lock_guard lock(Locks().layers);
        layers_ = NewLayers();
    }
    worker_ = std::make_unique<platform::SuspendableThread>([this] { Work(); });
}

Channel::~Channel() {
    worker_->Stop();
    {
        std::lock_guard lock(Locks().log);
        log_.reset();
    }
    {
        std::lock_guard lock(Locks().layers);
        std::unique_lock exclusive(layersMutex_);
        layers_.reset();
    }
    std::lock_guard lock(Locks().decoder);
    answer_.reset();
}

std::unique_ptr<MBLayer7> Channel::NewLayers() {
    auto layers = std::make_unique<MBLayer7>();
    layers->link.fcb = &fcb_;
    return layers;
}

ConnectionParameters Channel::Parameters() const {
    std::lock_guard lock(parametersMutex_);
    return parameters_;
}

void Channel::SetParameters(const ConnectionParameters& p) {
    std::lock_guard lock(parametersMutex_);
    parameters_ = p;
}

void Channel::ReplaceLayers() {
    std::lock_guard lock(Locks().layers);
    std::unique_lock exclusive(layersMutex_);
    // The old object goes first: it gives its line slot back.
    layers_.reset();
    layers_ = NewLayers();
}

int Channel::Open(int adapterInit) {
    const ConnectionParameters p = Parameters();
    std::lock_guard lock(Locks().layers);
    std::unique_lock exclusive(layersMutex_);
    layers_.reset();
    layers_ = NewLayers();
    MBLayer1& line = layers_->link.line;
    // A dead time above 1000 asks for the echo handling of a level
    // converter that echoes (1001: full echo, more: partial) with the
    // usual dead time.
    int deadTime = p.DT;
    if (p.DT > 1000) {
        line.echoOption.store(p.DT == 1001 ? 1 : 2);
        deadTime = 11;
    }
    line.zeroPreamble.store(p.zeroPreamble != 0 ? 1 : 0);
    const int parity = p.zeroPreamble != 0 ? 0 : p.parity;
    if (line.CInit(p.port, p.baud, p.dataBits, p.stopBits, parity, p.rts, p.dtr, p.highSpeed, adapterInit) == 1)
        line.MInit(p.TA, p.TO, p.TB, deadTime, p.waitMode, p.fifo);
    return line.status.load();
}

void Channel::CloseCom() {
    ReplaceLayers();
    LogCommand("16|||", 0);
}

bool Channel::TunnelMode() const {
    return WithLayers([](const MBLayer7& l) { return l.link.line.escapeWrapper.load() != 0; });
}

void Channel::SetLog(std::shared_ptr<TelegramLogHook> log) {
    std::lock_guard lock(Locks().log);
    log_ = std::move(log);
}

void Channel::LogCommand(const std::string& line, int status) {
    std::lock_guard lock(Locks().log);
    if (log_) log_->AppendCommand(line, status);
}

// ---- Posting ------------------------------------------------------------------

bool Channel::Post(const std::string& logLine, int code, int address, std::vector<uint8_t> buffer, bool noReceive,
                   FirstSend first) {
    if (!logLine.empty()) LogCommand(logLine, 4);
    std::shared_lock lock(layersMutex_);
    if (noReceive) layers_->link.line.discardReception.store(1);
    const int firstCode = first == FirstSend::Raw ? kRequestRaw : first == FirstSend::Listen ? kRequestListen : code;
    if (!Start(code, address, std::move(buffer), firstCode)) {
        layers_->link.line.discardReception.store(0);
        return false;
    }
    return true;
}

bool Channel::Start(int code, int address, std::optional<std::vector<uint8_t>> buffer, int firstSend) {
    lastKind_.store(4);
    receivedSomething_.store(0);
    requestCode_.store(code);
    targetAddress_.store(address);
    if (buffer) {
        std::lock_guard guard(requestMutex_);
        requestBuffer_ = std::move(*buffer);
    }
    if (Send(*layers_, firstSend) != 1) {
        requestCode_.store(kRequestNone);
        return false;
    }
    transactionResult_.store(kTransactionRunning);
    worker_->Resume();
    return true;
}

bool Channel::Request(const std::string& logLine, int code, int address, std::vector<uint8_t> buffer,
                      FirstSend first) {
    return Post(logLine, code, address, std::move(buffer), false, first);
}

void Channel::RequestShort(RequestCode code, int address) {
    const int command = code == kRequestREQUD1 ? 4 : code == kRequestREQUD2 ? 5 : 3;
    Post(RequestLogLine(command, std::to_string(address) + "||", TunnelMode()), code, address, {});
}

void Channel::RequestSndUd(int address, std::span<const uint8_t> ciAndData, bool decimal) {
    if (ciAndData.empty()) return;
    Post(RequestLogLine(7, std::to_string(address) + "||" + DataEcho(ciAndData, decimal), TunnelMode()),
         kRequestSNDUD, address, std::vector<uint8_t>(ciAndData.begin(), ciAndData.end()));
}

void Channel::RequestRaw(std::span<const uint8_t> bytes, bool decimal, bool noReceive) {
    if (bytes.empty()) return;
    // Bytes sent without listening are one attempt: repeating them would
    // send them again although nothing was expected.
    Post(RequestLogLine(13, "||" + DataEcho(bytes, decimal), TunnelMode()), noReceive ? kRequestNone : kRequestRaw,
         0, std::vector<uint8_t>(bytes.begin(), bytes.end()), noReceive);
}

void Channel::RequestListen() { Post(RequestLogLine(6, "||", false), kRequestListen, 0, {}); }

void Channel::Select(const Selection& selection) {
    std::vector<uint8_t> buffer;
    buffer.reserve(selection.data.size() + 1);
    buffer.push_back(selection.ci);
    buffer.insert(buffer.end(), selection.data.begin(), selection.data.end());
    Post(selection.logLine, kRequestSNDUD, 253, std::move(buffer));
}

void Channel::DeSelect() { Post(RequestLogLine(20, "||", TunnelMode()), kRequestSNDNKE, 253, {}); }

void Channel::RequestSelectedRead(int address) {
    // Ask the slave for its index of telegrams: CI 51h, record 04 FD 20 with 0.
    std::vector<uint8_t> buffer = {0x51, 0x04, 0xFD, 0x20, 0x00, 0x00, 0x00, 0x00};
    std::shared_lock lock(layersMutex_);
    Start(kRequestSelectedRead, address, std::move(buffer), kRequestSelectedRead);
}

int Channel::Send(MBLayer7& layers, int requestCode) {
    MBLayer2& link = layers.link;
    const int address = targetAddress_.load();
    auto& locks = Locks();
    switch (requestCode) {
        case kRequestREQUD1:
        case kRequestREQUD2:
        case kRequestSNDNKE:
        case kRequestSelectedReadData: {
            std::lock_guard lock(locks.sendShort);
            return link.SendShortFrame(ShortFrameC(requestCode), address);
        }
        case kRequestSNDUD:
        case kRequestSelectedRead:
        case kRequestSelectedReadChoice: {
            std::vector<uint8_t> buffer;
            if (requestCode == kRequestSelectedReadChoice) {
                buffer = selectedReadChoice_;
            } else {
                std::lock_guard guard(requestMutex_);
                buffer = requestBuffer_;
            }
            if (buffer.empty()) return 0;
            std::lock_guard lock(locks.sendLong);
            const bool selection = address == 253 && requestCode == kRequestSNDUD;
            return link.SendLongFrame(kLongFrameC, address, buffer[0], buffer.data() + 1,
                                      static_cast<int>(buffer.size()) - 1, selection ? 1 : 0);
        }
        case kRequestRaw:
        case kRequestNone: {
            std::vector<uint8_t> buffer;
            {
                std::lock_guard guard(requestMutex_);
                buffer = requestBuffer_;
            }
            std::lock_guard lock(locks.sendRaw);
            return link.SendHex(buffer.data(), static_cast<int>(buffer.size()));
        }
        case kRequestListen: {
            std::lock_guard lock(locks.listen);
            return link.SendNothing();
        }
        default: return 0;
    }
}

void Channel::Break() {
    if (transactionResult_.load() == kTransactionRunning) breakRequest_.store(1);
}

// ---- The worker ---------------------------------------------------------------

void Channel::Work() {
    while (!worker_->StopRequested()) {
        std::shared_lock lock(layersMutex_);
        const int requestCode = requestCode_.load();
        const int code = Poll(*layers_, requestCode);
        if (code == link::kRecBusy) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (InSelectedRead(requestCode)) {
            if (!SelectedReadStep(*layers_, code)) return;
            continue;
        }
        if (requestCode == 200 || requestCode == 300) {
            const bool more = requestCode == 200 ? YmodemStep(*layers_, code) : TextStep(*layers_, code);
            if (more) continue;
            return;
        }
        if (requestCode >= 100 && requestCode <= 104) {
            const ModemNext next = ModemStep(*layers_, requestCode);
            if (next == ModemNext::Poll) continue;
            lock.unlock();
            if (next == ModemNext::Reopen) RestoreDirectLine(true);
            Finish(0);
            return;
        }
        const int retries = Parameters().retries;
        const bool singleAttempt = requestCode == kRequestNone;
        if (singleAttempt || code != link::kRecFault || breakRequest_.load() != 0 ||
            retryCounter_.load() >= retries) {
            Finish(code);
            return;
        }
        retryCounter_.fetch_add(1);
        receivedSomething_.store(0);
        Send(*layers_, requestCode);
    }
}

int Channel::Poll(MBLayer7& layers, int requestCode) {
    int C = 0, A = 0, CI = 0, length = 0, received = 0, code;
    uint8_t* data = nullptr;
    std::vector<uint8_t> answer;
    MBLayer2& link = layers.link;
    {
        // The answer is copied out under the poll lock and decoded after it.
        std::lock_guard lock(Locks().receivePoll);
        code = link.ReceiveTelegram(&C, &A, &CI, &data, &length, &received);
        if (code == link::kRecBusy) return code;
        if (data != nullptr) answer.assign(data, data + std::clamp(length, 0, kAnswerCapacity));
    }
    if (requestCode == 200 || requestCode == 300) received_ = answer;
    if (received == 0 && link.line.errorWord.load() > 1) received = 1;
    receivedSomething_.store(received);
    if (InSelectedRead(requestCode)) {
        // The worker looks at the index answer itself.
        if (code == link::kRecLong) {
            std::lock_guard guard(requestMutex_);
            requestBuffer_ = std::move(answer);
        }
    } else if (code != link::kRecFault && link.line.ymodemMode.load() == 0 &&
               link.line.textProtocolMode.load() == 0 && requestCode != 104 &&
               (layers.modemState.load() == kModemIdle || layers.modemState.load() == kModemConnected)) {
        StoreAnswer(layers, code, C, A, CI, answer.data(), static_cast<int>(answer.size()));
    }
    return code;
}

std::shared_ptr<AnswerSnapshot> Channel::Publish(MBLayer7& layers, int code, int C, int A, int CI,
                                                 const uint8_t* data, int length) {
    length = std::clamp(length, 0, kAnswerCapacity);
    lastKind_.store(code);
    c_.store(C);
    a_.store(A);
    ci_.store(CI);
    auto snapshot = std::make_shared<AnswerSnapshot>();
    if (data != nullptr) snapshot->bytes.assign(data, data + length);
    snapshot->kind = code;
    snapshot->C = C;
    snapshot->A = A;
    snapshot->CI = CI;
    snapshot->receivedSomething = receivedSomething_.load();
    auto telegram = std::make_shared<MBTelegram>();
    telegram->receiveErrorWord = static_cast<int16_t>(layers.link.line.errorWord.load());
    std::lock_guard lock(Locks().decoder);
    snapshot->decoderResult =
        telegram->InterpretAnswer(code, static_cast<uint8_t>(C), static_cast<uint8_t>(A), static_cast<uint8_t>(CI),
                                  snapshot->bytes.data(), static_cast<int>(snapshot->bytes.size()));
    following_.store(telegram->moreRecordsFollow != 0 ? 1 : 0);
    snapshot->telegram = std::move(telegram);
    answer_ = snapshot;
    return snapshot;
}

void Channel::StoreAnswer(MBLayer7& layers, int code, int C, int A, int CI, const uint8_t* data, int length) {
    const std::shared_ptr<AnswerSnapshot> snapshot = Publish(layers, code, C, A, CI, data, length);
    LoggedAnswer logged;
    logged.code = code;
    logged.bytes = snapshot->bytes.data();
    logged.length = static_cast<int>(snapshot->bytes.size());
    logged.C = C;
    logged.A = A;
    logged.CI = CI;
    logged.decoderResult = snapshot->decoderResult;
    logged.receivedSomething = receivedSomething_.load();
    std::string list;
    if (layers.link.slaveListPending.exchange(0) != 0) {
        // A house-central unit's slave list: the converted text is what counts.
        list = layers.link.slaveList;
        SetSlaveList(list);
        logged.bytes = reinterpret_cast<const uint8_t*>(list.data());
        logged.length = static_cast<int>(list.size());
    }
    std::lock_guard lock(Locks().log);
    if (log_) log_->AttachAnswer(logged);
}

bool Channel::SelectedReadStep(MBLayer7& layers, int code) {
    const int requestCode = requestCode_.load();
    const bool failed = code == link::kRecFault;
    if (breakRequest_.load() != 0 || (failed && retryCounter_.load() >= Parameters().retries)) {
        Finish(link::kRecFault);
        return false;
    }
    if (failed) {
        retryCounter_.fetch_add(1);
        receivedSomething_.store(0);
        Send(layers, requestCode);
        return true;
    }
    int next = kRequestNone;
    if (requestCode == kRequestSelectedRead) {
        next = kRequestSelectedReadData;
    } else if (requestCode == kRequestSelectedReadData) {
        std::vector<uint8_t> answer;
        {
            std::lock_guard guard(requestMutex_);
            answer.swap(requestBuffer_);
        }
        if (code != link::kRecLong || answer.size() < 10) {
            Finish(link::kRecFault);
            return false;
        }
        MBTelegram index;
        {
            std::lock_guard lock(Locks().decoder);
            index.InterpretAnswer(link::kRecLong, 0x08, 0xFD, 0x72, answer.data(), static_cast<int>(answer.size()));
        }
        const MBDataRecord* state = FindFDRecord(index, 0x2F);
        const MBDataRecord* number = FindFDRecord(index, 0x21);
        if (state == nullptr || number == nullptr || state->value > 254) {
            Finish(link::kRecFault);
            return false;
        }
        const auto chosen = static_cast<uint16_t>(number->value);
        selectedReadChoice_ = {0x50, 0xB0, static_cast<uint8_t>(chosen >> 8), static_cast<uint8_t>(chosen & 0xFF)};
        next = kRequestSelectedReadChoice;
    } else {
        // The slave acknowledged the choice of its telegram.
        Finish(code);
        return false;
    }
    retryCounter_.store(1);
    receivedSomething_.store(0);
    requestCode_.store(next);
    if (Send(layers, next) != 1) {
        Finish(link::kRecFault);
        return false;
    }
    return true;
}

void Channel::Finish(int code) {
    retryCounter_.store(1);
    requestCode_.store(kRequestNone);
    breakRequest_.store(0);
    {
        std::lock_guard guard(requestMutex_);
        requestBuffer_.clear();
    }
    transactionResult_.store(code);
}

// ---- Modem ----------------------------------------------------------------------

ModemParameters Channel::Modem() const {
    std::lock_guard lock(parametersMutex_);
    return modem_;
}

int Channel::ModemState() const {
    return WithLayers([](const MBLayer7& l) { return static_cast<int>(l.modemState.load()); });
}

ConnectionParameters Channel::ModemLine(ConnectionParameters p, int port, int baud, bool dialling) const {
    const ModemParameters m = Modem();
    if (port >= 1 && port <= 999) p.port = port;
    if (baud >= 300 && baud <= 921600) p.baud = baud;
    p.rts = 1;
    p.dtr = 1;
    if (m.mode == 1) p.parity = 0;
    if (dialling) {
        p.TO = SaturatingAdd(p.TO, m.additionalTelegramTimeout);
        p.TB = SaturatingAdd(p.TB, m.additionalTimeoutByte);
        p.fifo = 1;
    }
    return p;
}

bool Channel::ModemRequest(const ConnectionParameters* line, const std::string& logLine, int logStatus, int code,
                           const std::string& text, int32_t state) {
    const int current = ModemState();
    const bool allowed = code == 101 ? (current == kModemIdle || current == kModemConnected) : current == kModemIdle;
    if (!worker_ || !allowed) return false;
    if (line != nullptr) {
        {
            std::lock_guard lock(parametersMutex_);
            if (pending_.port == -1) pending_ = parameters_;
            parameters_ = *line;
        }
        if (Open() != 0) {
            RestoreDirectLine(false);
            return false;
        }
    }
    if (!logLine.empty()) LogCommand(logLine, logStatus);
    std::shared_lock lock(layersMutex_);
    // The state is set before the worker can see the request's first result.
    const int32_t before = layers_->modemState.exchange(state);
    if (!Start(code, 0, std::vector<uint8_t>(text.begin(), text.end()), kRequestRaw)) {
        layers_->modemState.store(before);
        return false;
    }
    return true;
}

bool Channel::TelInit(int port, int baud, const std::string& init) {
    const ConnectionParameters line = ModemLine(Parameters(), port, baud, false);
    return ModemRequest(&line, "30|COM" + std::to_string(line.port) + "|" + std::to_string(line.baud) + "|" + init, 0,
                        104, init + ModemLineEnd(Modem().newLine), kModemInitialising);
}

bool Channel::TelMakeCall(int port, int baud, const std::string& number) {
    const ModemParameters m = Modem();
    char letter = m.toneDial == 1 ? 'T' : 'P';
    std::string digits = number;
    const char first = digits.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(digits[0])));
    if (first == 'P' || first == 'Q') letter = 'P';
    if (first == 'T' || first == 'U') letter = 'T';
    if (first == 'P' || first == 'Q' || first == 'T' || first == 'U' || first == 'V') digits.erase(0, 1);
    // A number beginning with Q, U or V dials over the port as it is.
    const bool keepPort = first == 'Q' || first == 'U' || first == 'V';
    const ConnectionParameters line = ModemLine(Parameters(), port, baud, true);
    return ModemRequest(keepPort ? nullptr : &line,
                        "31|" + std::to_string(port) + "|" + std::to_string(baud) + "|" + number, 4, 100,
                        std::string("ATD") + letter + digits + ModemLineEnd(m.newLine), kModemDialling);
}

bool Channel::TelHangUp() { return ModemRequest(nullptr, "32|||", 0, 101, "\r\n", kModemHangingUp); }

bool Channel::RestoreDirectLine(bool reopen) {
    {
        std::lock_guard lock(parametersMutex_);
        if (pending_.port == -1) return false;
        parameters_ = pending_;
        pending_.port = -1;
    }
    if (reopen) Open();
    return true;
}

int Channel::TelStatus() {
    bool lost = false;
    int state;
    {
        std::lock_guard lock(Locks().layers);
        std::shared_lock layers(layersMutex_);
        state = layers_->modemState.load();
        const int code = requestCode_.load();
        if (state == kModemConnected && !(code >= 101 && code <= 103) && layers_->link.line.GetDCDStatus() == 0) {
            layers_->modemState.store(kModemIdle);
            state = kModemIdle;
            lost = true;
        }
    }
    // The call has dropped: back to the settings of before the modem.
    if (lost) RestoreDirectLine(true);
    return state;
}

bool Channel::SleepUnlessStopped(int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until) {
        if (worker_->StopRequested()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

Channel::ModemNext Channel::ModemStep(MBLayer7& layers, int requestCode) {
    MBLayer1& line = layers.link.line;
    auto sendRaw = [&](const std::string& text) {
        std::lock_guard lock(Locks().sendRaw);
        layers.link.SendHex(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    };
    switch (requestCode) {
        case 100: {
            // Dialling: wait for the carrier.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Modem().connectTimeout);
            bool carrier = false;
            if (SleepUnlessStopped(1000)) {
                carrier = line.GetDCDStatus() != 0;
                if (!carrier && SleepUnlessStopped(3000)) {
                    while (!(carrier = line.GetDCDStatus() != 0) && std::chrono::steady_clock::now() < deadline &&
                           breakRequest_.load() == 0 && !worker_->StopRequested())
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            }
            if (carrier) {
                LogCommand("", 0);
                layers.modemState.store(kModemConnected);
                return ModemNext::Done;
            }
            line.ResetDTR();
            SleepUnlessStopped(200);
            line.SetDTR();
            if (breakRequest_.load() == 0) SleepUnlessStopped(1000);
            layers.modemState.store(kModemIdle);
            return ModemNext::Done;
        }
        case 101:
            SleepUnlessStopped(1200);
            requestCode_.store(102);
            sendRaw("+++");
            return ModemNext::Poll;
        case 102:
            SleepUnlessStopped(1200);
            requestCode_.store(103);
            sendRaw(std::string("ATH0") + ModemLineEnd(Modem().newLine));
            return ModemNext::Poll;
        case 103:
            line.ResetDTR();
            SleepUnlessStopped(100);
            line.SetDTR();
            [[fallthrough]];
        default:
            layers.modemState.store(kModemIdle);
            return ModemNext::Reopen;
    }
}

// ---- Slave list and data loggers ----------------------------------------------

std::string Channel::SlaveList() const {
    std::lock_guard lock(listMutex_);
    return slaveList_;
}

void Channel::SetSlaveList(std::string text) {
    std::lock_guard lock(listMutex_);
    slaveList_ = std::move(text);
}

std::vector<uint8_t> Channel::MemoryDownload() const {
    std::lock_guard lock(listMutex_);
    return memoryDownload_;
}

int Channel::YmodemProgress() const {
    return WithLayers([](const MBLayer7& l) {
        const link::YmodemTransfer& t = l.link.ymodem;
        if (t.fileSize <= 0) return 0;
        return static_cast<int>(std::clamp<int64_t>(t.transferred * 100 / t.fileSize, 0, 100));
    });
}

int Channel::YmodemBlock() const {
    return WithLayers([](const MBLayer7& l) { return static_cast<int>(l.link.ymodem.blockCounter); });
}

bool Channel::YmodemDownload(const std::string& folder, const std::vector<uint8_t>& start) {
    std::shared_lock lock(layersMutex_);
    if (!worker_ || transactionResult_.load() == kTransactionRunning) return false;
    MBLayer2& link = layers_->link;
    link.ymodem.Reset();
    link.ymodem.folder = folder;
    link.ymodem.state = start.empty() ? 10 : 0;
    if (folder.empty()) link.ymodem.buffer.reserve(link::kYmodemMemoryStore);
    link.line.ymodemMode.store(1);
    if (!Start(200, 0, start, start.empty() ? kRequestListen : kRequestRaw)) {
        link.line.ymodemMode.store(0);
        link.ymodem.Reset();
        return false;
    }
    return true;
}

bool Channel::YmodemUpload(const std::string& path) {
    std::shared_lock lock(layersMutex_);
    if (!worker_ || transactionResult_.load() == kTransactionRunning) return false;
    // The header names the file by the last part of the path; a name that
    // could lead the receiver outside its folder ("..", ".") is refused.
    const std::size_t slash = path.find_last_of("/\\");
    if (!link::SafeYmodemFileName(slash == std::string::npos ? path : path.substr(slash + 1))) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    MBLayer2& link = layers_->link;
    link::YmodemTransfer& t = link.ymodem;
    t.Reset();
    t.file = file;
    t.filePath = path;
    std::fseek(file, 0, SEEK_END);
    t.fileSize = std::max<long>(0, std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    // The header block: SOH, 00, FF, name, 0, size and a blank, zeros, CRC.
    std::string name = path.substr(path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\") + 1);
    if (name.size() > 106) name.resize(106);
    std::vector<uint8_t> header(133, 0);
    header[0] = 0x01;
    header[1] = 0x00;
    header[2] = 0xFF;
    std::string body = name;
    body += '\0';
    body += std::to_string(t.fileSize) + " ";
    std::copy_n(body.begin(), std::min<std::size_t>(body.size(), 128), header.begin() + 3);
    const uint16_t crc = link::Crc16Xmodem(header.data() + 3, 128);
    header[131] = static_cast<uint8_t>(crc >> 8);
    header[132] = static_cast<uint8_t>(crc & 0xFF);
    t.buffer = header;
    t.upload = true;
    t.storePosition = 1;
    t.state = 10;
    link.line.ymodemMode.store(1);
    transactionResult_.store(4);
    if (!Start(200, 0, std::nullopt, kRequestListen)) {
        link.line.ymodemMode.store(0);
        t.Reset();
        return false;
    }
    return true;
}

bool Channel::TextDownload() {
    std::shared_lock lock(layersMutex_);
    if (!worker_ || transactionResult_.load() == kTransactionRunning) return false;
    layers_->link.line.textProtocolMode.store(1);
    textLines_ = 0;
    previousLine_.clear();
    if (!Start(300, 0, std::nullopt, kRequestListen)) {
        layers_->link.line.textProtocolMode.store(0);
        return false;
    }
    return true;
}

void Channel::EndYmodem(MBLayer7& layers, bool ok) {
    link::YmodemTransfer& t = layers.link.ymodem;
    bool success = ok && (t.state == 13 || t.state == 14) && !t.refused;
    if (t.file != nullptr) {
        std::fclose(t.file);
        t.file = nullptr;
        if (!t.upload) {
            std::error_code ec;
            if (success && t.fileSize > 0 && t.transferred > t.fileSize)
                std::filesystem::resize_file(t.filePath, static_cast<uintmax_t>(t.fileSize), ec);
            if (!success) std::filesystem::remove(t.filePath, ec);  // an aborted download leaves no file
        }
    }
    if (t.folder.empty() && !t.upload) {
        std::vector<uint8_t> stored(t.buffer.begin(),
                                    t.buffer.begin() + std::min<std::ptrdiff_t>(t.storePosition, static_cast<std::ptrdiff_t>(t.buffer.size())));
        {
            std::lock_guard lock(listMutex_);
            memoryDownload_ = stored;
        }
        // The memory goes to the log as one entry.
        LoggedAnswer a;
        a.code = success ? 0 : 4;
        a.bytes = stored.data();
        a.length = static_cast<int>(stored.size());
        LogCommand("129|0||", success ? 0 : 4);
        std::lock_guard lock(Locks().log);
        if (log_) log_->AttachAnswer(a);
    }
    if (t.refused) success = false;
    t.Reset();
    layers.link.line.ymodemMode.store(0);
    Finish(success ? 0 : 4);
}

bool Channel::YmodemStep(MBLayer7& layers, int R) {
    MBLayer2& link = layers.link;
    link::YmodemTransfer& t = link.ymodem;
    auto send = [&](std::vector<uint8_t> bytes) {
        lastBlock_ = bytes;
        std::lock_guard lock(Locks().sendRaw);
        link.SendHex(bytes.data(), static_cast<int>(bytes.size()));
    };
    auto listen = [&] {
        std::lock_guard lock(Locks().listen);
        link.SendNothing();
    };
    const bool fault = R == link::kRecFault;
    if (R != link::kYmodemCancel) {
        switch (t.state) {
            case 10:
                if (R == link::kYmodemBlock128 || R == link::kYmodemC) t.errors = 0;
                else ++t.errors, R = link::kYmodemOther;
                break;
            case 11:
            case 12:
                if (fault || R == link::kYmodemBad) ++t.errors, R = link::kYmodemBad;
                break;
            case 13: R = link::kYmodemCancel; break;
            case 14: R = (fault || R == link::kYmodemBad) ? link::kYmodemNak : link::kYmodemCancel; break;
            case 16:
                if (R != link::kYmodemAck) ++t.errors, R = link::kYmodemNak;
                break;
            case 18:
                if (R != link::kYmodemC) ++t.errors, R = link::kYmodemC;
                break;
            case 19:
                if (R == link::kYmodemAck || R == link::kYmodemC || R == link::kYmodemAckC) R = link::kYmodemAck;
                else ++t.errors, R = link::kYmodemC;
                break;
            default: break;
        }
    }
    if (t.errors > 19 || breakRequest_.load() != 0 || t.refused) R = link::kYmodemCancel;
    switch (R) {
        case link::kYmodemOther:
            if (t.upload || t.storePosition != 0) {
                listen();
            } else {
                if (!SleepUnlessStopped(1000)) return false;
                send({0x43});
            }
            return true;
        case link::kYmodemBlock128:
            send({0x06, 0x43});
            t.state = 12;
            return true;
        case link::kYmodemBlock1024: send({0x06}); return true;
        case link::kYmodemEnd:
            send({0x06});
            t.state = 13;
            return true;
        case link::kYmodemBad:
            if (!SleepUnlessStopped(1000)) return false;
            send({0x15});
            return true;
        case link::kYmodemAck:
        case link::kYmodemAckC: {
            t.state = 16;
            ++t.blockCounter;
            std::vector<uint8_t> block(1029, 0x1A);
            const std::size_t got = t.file != nullptr ? std::fread(block.data() + 3, 1, 1024, t.file) : 0;
            t.transferred += static_cast<int64_t>(got);
            if (got == 0) {
                t.state = 14;
                send({0x04});
                return true;
            }
            block[0] = 0x02;
            block[1] = static_cast<uint8_t>(t.blockCounter);
            block[2] = static_cast<uint8_t>(block[1] ^ 0xFF);
            const uint16_t crc = link::Crc16Xmodem(block.data() + 3, 1024);
            block[1027] = static_cast<uint8_t>(crc >> 8);
            block[1028] = static_cast<uint8_t>(crc & 0xFF);
            send(block);
            return true;
        }
        case link::kYmodemNak:
            if (!SleepUnlessStopped(500)) return false;
            send(lastBlock_);
            return true;
        case link::kYmodemC:
            send(t.buffer);
            t.state = 19;
            return true;
        default:
            EndYmodem(layers, true);
            return false;
    }
}

bool Channel::TextStep(MBLayer7& layers, int R) {
    MBLayer2& link = layers.link;
    auto sendBack = [&](const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> echo = bytes;
        echo.push_back(0x0A);
        std::lock_guard lock(Locks().sendRaw);
        link.SendHex(echo.data(), static_cast<int>(echo.size()));
    };
    if (breakRequest_.load() != 0) textLines_ = 1000000;
    if (textLines_ > 175) R = link::kRecFault;
    ++textLines_;
    switch (R) {
        case link::kRecTextAbort:
        case link::kRecTextEnd:
            textLines_ = 1000000;
            sendBack(received_);
            return true;
        case link::kRecTextStart: sendBack(received_); return true;
        case link::kRecTextLine: {
            const bool fresh = received_.size() == 48 &&
                               (previousLine_.size() < 48 || !std::equal(received_.begin() + 3, received_.begin() + 47,
                                                                         previousLine_.begin() + 3));
            if (fresh) {
                // A new line of data: into the log.
                LogCommand(std::string(received_.begin(), received_.end() - 1), link::kRecTextLine);
                textLines_ = 0;
            }
            previousLine_ = received_;
            sendBack(received_);
            return true;
        }
        default:
            if (textLines_ < 176) {
                std::lock_guard lock(Locks().listen);
                link.SendNothing();
                return true;
            }
            textLines_ = 0;
            link.line.textProtocolMode.store(0);
            Finish(0);
            return false;
    }
}

// ---- Answers handed in as text ------------------------------------------------

void Channel::InterpretTelegram(std::span<const uint8_t> bytes) {
    std::shared_lock lock(layersMutex_);
    MBLayer2& link = layers_->link;
    MBLayer1& line = link.line;
    // Never while the line is busy with a transaction of its own.
    if (line.transmitActive.load() != 0 || line.receiveActive.load() != 0) return;
    const int n = static_cast<int>(std::min<std::size_t>(bytes.size(), sizeof line.receiveBuffer));
    int C = 0, A = 0, CI = 0, length = 0, received = 0, code;
    uint8_t* data = nullptr;
    std::vector<uint8_t> answer;
    {
        std::lock_guard poll(Locks().receivePoll);
        line.discardReception.store(0);
        std::copy_n(bytes.begin(), n, line.receiveBuffer);
        line.receiveCount.store(n);
        line.receiveCountCopy.store(n);
        line.errorWord.store(0);
        // A telegram handed in answers no request: every kind of answer counts.
        const int32_t mbusRequest = link.mbusRequest.exchange(0);
        code = link.ReceiveTelegram(&C, &A, &CI, &data, &length, &received);
        link.mbusRequest.store(mbusRequest);
        if (code == link::kRecBusy) return;
        if (data != nullptr) answer.assign(data, data + std::clamp(length, 0, kAnswerCapacity));
        receivedSomething_.store(received);
    }
    // A fault is decoded too: the telegram then carries the error word.
    Publish(*layers_, code, C, A, CI, answer.data(), static_cast<int>(answer.size()));
}

std::shared_ptr<const AnswerSnapshot> Channel::Answer() const {
    std::lock_guard lock(Locks().decoder);
    return answer_;
}

std::shared_ptr<const AnswerSnapshot> Channel::CheckAnswer(bool* announced) {
    std::lock_guard lock(Locks().decoder);
    *announced = following_.exchange(0) != 0;
    return answer_;
}

AnswerView AnswerSnapshot::View() const {
    AnswerView v;
    v.frameType = kind;
    v.structureKind = telegram ? static_cast<int>(telegram->structureKind) : static_cast<int>(kNothing);
    v.received = receivedSomething;
    v.C = C;
    v.A = A;
    v.CI = CI;
    v.telegram = telegram.get();
    v.frame = bytes;
    return v;
}

}  // namespace mbus::engine
