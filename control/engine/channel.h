// A channel record: the layer objects of one serial line, the FCB state,
// the line parameters, the request under way and the last answer with its
// decoded form, and the worker thread that carries each request to its end.
//
// Requests are posted by the caller's thread and return at once; the
// worker polls the link layer every millisecond, stores and decodes valid
// answers, repeats a failed request with the same FCB until the retries are
// used up or the caller breaks off, and then stores the transaction result
// and suspends itself.
//
// Threads: one host thread at a time posts requests to a channel (the
// contract of the dispatch interface); any thread may read the outcome.
// The decoded answer is handed out as an immutable snapshot, so readers
// never see a telegram that the worker is replacing.

#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <vector>

#include "control/decode/answer_text.h"
#include "control/decode/layer7.h"
#include "control/decode/telegram.h"
#include "control/engine/connection.h"
#include "control/engine/log_hook.h"
#include "control/engine/selection.h"
#include "platform/thread/suspendable_thread.h"

namespace mbus::engine {

// Request codes of the worker.
enum RequestCode : int32_t {
    kRequestNone = 0,
    kRequestREQUD1 = 1,
    kRequestREQUD2 = 2,
    kRequestSNDUD = 3,
    kRequestSNDNKE = 4,
    kRequestRaw = 5,
    kRequestListen = 6,
    kRequestSelectedRead = 400,       // SND_UD asking for the telegram index
    kRequestSelectedReadData = 401,   // REQ_UD2 for the index answer
    kRequestSelectedReadChoice = 402  // SND_UD CI 50h choosing the telegram
};

inline constexpr int kAnswerCapacity = 65551;  // bytes of an answer the channel keeps
inline constexpr int kTransactionRunning = 255;

// The last valid answer of a channel, never changed once published.
struct AnswerSnapshot {
    std::vector<uint8_t> bytes;  // after echo removal and unwrapping
    std::shared_ptr<const MBTelegram> telegram;
    int decoderResult = 255;
    int kind = 255;  // reception result; 255 before the first answer
    int C = 0, A = 0, CI = 0;
    int receivedSomething = 0;

    // What the text forms need; the snapshot keeps the telegram alive.
    AnswerView View() const;
};

class Channel {
public:
    explicit Channel(int index);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    const int index;

    // ---- Line parameters and the port -------------------------------------
    ConnectionParameters Parameters() const;
    void SetParameters(const ConnectionParameters& p);
    template <class F>
    void UpdateParameters(F change) {
        std::lock_guard lock(parametersMutex_);
        change(parameters_);
    }
    // Replaces the layer object by a fresh one (closing the port), then opens
    // the port with the stored parameters; the line status code (0 open).
    int Open(int adapterInit = 0);
    // Replaces the layer object by a fresh one, which closes the port.
    void ReplaceLayers();
    // APPCloseCom: as ReplaceLayers, and the log records "16|||".
    void CloseCom();

    // Runs `f(MBLayer7&)` with the layer object, which is not replaced meanwhile.
    template <class F>
    auto WithLayers(F f) const {
        std::shared_lock lock(layersMutex_);
        return f(*layers_);
    }
    bool TunnelMode() const;

    // ---- Requests (return at once) ----------------------------------------
    void RequestShort(RequestCode code, int address);  // REQ_UD1, REQ_UD2, SND_NKE
    // SND_UD: `ciAndData` holds the CI followed by the user data; `decimal`
    // selects the form of the data echo in the log line.
    void RequestSndUd(int address, std::span<const uint8_t> ciAndData, bool decimal);
    void RequestRaw(std::span<const uint8_t> bytes, bool decimal, bool noReceive);
    void RequestListen();
    void Select(const Selection& selection);
    void DeSelect();
    // The read with telegram selection of an address.
    void RequestSelectedRead(int address);

    // A request as a script step hands it over: the log line (none when
    // empty), the request code with its address and buffer, and how the
    // first transmission goes (the code's own frame, the buffer's bytes as
    // they are, or listening without sending). False when the send was
    // refused: the log line stays with status 4 and nothing runs.
    enum class FirstSend { ByCode, Raw, Listen };
    bool Request(const std::string& logLine, int code, int address, std::vector<uint8_t> buffer,
                 FirstSend first = FirstSend::ByCode);

    // ---- Modem ---------------------------------------------------------------
    ModemParameters Modem() const;
    template <class F>
    void UpdateModem(F change) {
        std::lock_guard lock(parametersMutex_);
        change(modem_);
    }
    int ModemState() const;
    // The line settings a modem request opens the port with: `base` with the
    // port and rate when valid, RTS and DTR set, no parity in modem mode 1;
    // `dialling` adds the modem's timeouts and the FIFO.
    ConnectionParameters ModemLine(ConnectionParameters base, int port, int baud, bool dialling) const;
    // A modem request: the current settings are kept to come back to, the
    // port is reopened with `line` (unless null), `logLine` is logged with
    // `logStatus`, `text` is sent and the worker supervises the request
    // `code` (100 dial, 101 hang up, 104 command) in the modem state
    // `state`. False (nothing changed) when the modem is busy or the send
    // was refused.
    bool ModemRequest(const ConnectionParameters* line, const std::string& logLine, int logStatus, int code,
                      const std::string& text, int32_t state);
    bool TelInit(int port, int baud, const std::string& init);
    bool TelMakeCall(int port, int baud, const std::string& number);
    bool TelHangUp();
    // The modem state; a lost carrier ends the call and brings back the
    // settings of before the modem.
    int TelStatus();
    // The settings of before the modem, put back (true) when there were any.
    bool RestoreDirectLine(bool reopen);

    // Direct link-layer sends (one attempt, no repetition): `send` gets the
    // link layer and returns the send operation's result.
    template <class F>
    void DirectSend(std::mutex& sendLock, F send) {
        std::shared_lock lock(layersMutex_);
        if (!worker_) return;
        lastKind_.store(4);
        receivedSomething_.store(0);
        int sent;
        {
            std::lock_guard guard(sendLock);
            sent = send(layers_->link);
        }
        if (sent != 1) return;
        requestCode_.store(kRequestNone);
        transactionResult_.store(kTransactionRunning);
        worker_->Resume();
    }

    // Telegrams handed in as text: classified and decoded as if received.
    void InterpretTelegram(std::span<const uint8_t> bytes);

    // ---- Outcome -------------------------------------------------------------
    int TransactionResult() const { return transactionResult_.load(); }
    int RetryCounter() const { return retryCounter_.load(); }
    void Break();
    int ReceivedSomething() const { return receivedSomething_.load(); }
    int LastReceptionKind() const { return lastKind_.load(); }
    int C() const { return c_.load(); }
    int A() const { return a_.load(); }
    int CI() const { return ci_.load(); }
    // The last valid answer (never null).
    std::shared_ptr<const AnswerSnapshot> Answer() const;
    // 1 while the last decoded telegram's announcement that more data
    // follow has not been checked by a script step (APPFollowingTelegram).
    int Following() const { return following_.load(); }
    // The last answer for a script step's check, with its announcement in
    // `announced`; the announcement is cleared, so that it is seen once.
    std::shared_ptr<const AnswerSnapshot> CheckAnswer(bool* announced);

    // ---- Slave list and data loggers ---------------------------------------------
    // The slave list of the last search or house-central unit (51 characters an entry).
    std::string SlaveList() const;
    void SetSlaveList(std::string text);
    // Data-logger transfers: a YMODEM download into `folder` (empty: into
    // memory) or an upload of `file`, and a text download. False when refused.
    bool YmodemDownload(const std::string& folder, const std::vector<uint8_t>& start);
    bool YmodemUpload(const std::string& file);
    bool TextDownload();
    // The running YMODEM transfer's progress 0..100, and its block counter.
    int YmodemProgress() const;
    int YmodemBlock() const;
    // The bytes of the last download into memory.
    std::vector<uint8_t> MemoryDownload() const;

    // ---- Log -------------------------------------------------------------------
    void SetLog(std::shared_ptr<TelegramLogHook> log);
    void LogCommand(const std::string& line, int status);

private:
    void Work();
    // Polls once under the receive lock; stores a valid answer.
    int Poll(MBLayer7& layers, int requestCode);
    void StoreAnswer(MBLayer7& layers, int code, int C, int A, int CI, const uint8_t* data, int length);
    // Decodes an answer and publishes it as the channel's last answer.
    std::shared_ptr<AnswerSnapshot> Publish(MBLayer7& layers, int code, int C, int A, int CI, const uint8_t* data,
                                            int length);
    // Sends the request again (or the first time): 1 sent, 0 refused.
    int Send(MBLayer7& layers, int requestCode);
    // The next step of a read with telegram selection after result `code`;
    // false when the request has ended.
    bool SelectedReadStep(MBLayer7& layers, int code);
    void Finish(int code);
    // The steps of the modem requests after a result; what the worker does next.
    enum class ModemNext { Poll, Done, Reopen };
    ModemNext ModemStep(MBLayer7& layers, int requestCode);
    // The steps of a YMODEM transfer and of a text download after result `code`.
    bool YmodemStep(MBLayer7& layers, int code);
    bool TextStep(MBLayer7& layers, int code);
    void EndYmodem(MBLayer7& layers, bool ok);
    bool SleepUnlessStopped(int milliseconds);
    // The start of every request (the caller holds the layer lock): the
    // reception state reset, the request code, target address and buffer
    // (unless none is given) set, the first transmission `firstSend` (a
    // request code) made; then the request runs and the worker is resumed.
    // False, with no request code, when the send was refused.
    bool Start(int code, int address, std::optional<std::vector<uint8_t>> buffer, int firstSend);
    // Common start of a posted request: log line, state, first send.
    bool Post(const std::string& logLine, int code, int address, std::vector<uint8_t> buffer, bool noReceive = false,
              FirstSend first = FirstSend::ByCode);
    std::unique_ptr<MBLayer7> NewLayers();

    mutable std::mutex parametersMutex_;
    ConnectionParameters parameters_;
    ConnectionParameters pending_ = [] {
        ConnectionParameters p;
        p.port = -1;  // nothing pending
        return p;
    }();
    ModemParameters modem_;

    mutable std::shared_mutex layersMutex_;
    std::unique_ptr<MBLayer7> layers_;
    link::FCBState fcb_;

    std::atomic<int32_t> lastKind_{4};
    std::atomic<int32_t> transactionResult_{4};
    std::atomic<int32_t> c_{0}, a_{0}, ci_{0};
    std::atomic<int32_t> receivedSomething_{0};
    std::atomic<int32_t> retryCounter_{1};
    std::atomic<int32_t> breakRequest_{0};
    std::atomic<int32_t> requestCode_{0};
    std::atomic<int32_t> targetAddress_{0};
    std::mutex requestMutex_;  // the request buffer
    std::vector<uint8_t> requestBuffer_;
    std::vector<uint8_t> selectedReadChoice_;  // worker only

    std::shared_ptr<const AnswerSnapshot> answer_;  // under the decoder lock
    std::atomic<int32_t> following_{0};             // written under the decoder lock
    mutable std::mutex listMutex_;
    std::string slaveList_;
    std::vector<uint8_t> memoryDownload_;  // under listMutex_
    std::vector<uint8_t> received_;        // worker only: the bytes of the last result
    std::vector<uint8_t> lastBlock_;       // worker only: the last YMODEM block sent
    std::vector<uint8_t> previousLine_;    // worker only: text download
    int textLines_ = 0;                    // worker only: polls without a new line
    std::shared_ptr<TelegramLogHook> log_;          // under the log lock

    std::unique_ptr<platform::SuspendableThread> worker_;
};

// "4|7||", "104|7||": the script line of a request, with the command number
// 100 higher in tunnel mode.
std::string RequestLogLine(int command, const std::string& rest, bool tunnel);
// The data echo of a log line: hex pairs (at most 401 bytes) or decimal
// triples (at most 301 bytes).
std::string DataEcho(std::span<const uint8_t> bytes, bool decimal);

}  // namespace mbus::engine
