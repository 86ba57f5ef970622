#include "control/com/script_runner.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <ctime>

#include "control/decode/layer7.h"
#include "control/engine/locks.h"
#include "control/engine/selection.h"
#include "platform/text/hex.h"

namespace mbus::control {
namespace {

using engine::Channel;
using engine::Locks;
using FirstSend = engine::Channel::FirstSend;

// What the step returns: the wait before the next step.
constexpr int kEnd = 0;
constexpr int kAtOnce = 1;
constexpr int kWaitPeriod = 95;
constexpr int kPoll = 100;
constexpr int kRetryOpen = 500;


std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

int MinuteOfDay() {
    const std::tm t = LocalNow();
    return t.tm_hour * 60 + t.tm_min;
}

bool NoTransaction(int command) {
    return command == 0 || command == 2 || command == 14 || command == 15 || command == 16;
}

bool IsTunnel(int command) {
    switch (command) {
        case 103: case 104: case 105: case 107: case 108: case 109: case 113: case 120: return true;
        default: return false;
    }
}

std::string Three(int n) {
    char s[8];
    std::snprintf(s, sizeof s, "%03d", n % 1000);
    return s;
}

using text::HexDigitValue;

// The SND_UD of command 28: the local time in two records.
std::vector<uint8_t> ClockData() {
    const std::tm t = LocalNow();
    const int year = t.tm_year % 100;
    const auto minute = static_cast<uint8_t>(t.tm_min), hour = static_cast<uint8_t>(t.tm_hour);
    const auto day = static_cast<uint8_t>(t.tm_mday | (year & 0x07) << 5);
    const auto month = static_cast<uint8_t>((t.tm_mon + 1) | ((year >> 3) & 0x0F) << 4);
    const auto second = static_cast<uint8_t>((t.tm_sec / 10) << 4 | t.tm_sec % 10);
    return {0x51, 0x04, 0x6D, minute, hour, day, month, 0x06, 0x6D, minute, hour, day, month, second, 0x00};
}

// The selection of a search mask.
engine::Selection MaskSelection(int command, int mode, const std::string& mask) {
    const std::string_view m(mask);
    if (command == kSearchCustomer) return engine::BuildSelectCustom(mode, m.substr(0, 12), m.substr(12, 12), false);
    const engine::SecondaryAddress a{m.substr(0, 8), m.substr(8, 4), m.substr(12, 2), m.substr(14, 2)};
    if (mask.size() == 18) return engine::BuildSelectPrim(mode, a, std::stoi(mask.substr(16, 2), nullptr, 16), false);
    if (mask.size() == 24) return engine::BuildSelectFab(mode, a, m.substr(16, 8), false);
    return engine::BuildSelect(mode, a, false);
}

}  // namespace

// ---- Masks ----------------------------------------------------------------------

namespace {

// A manufacturer code: three letters A..Z of five bits each (01h..1Ah),
// the highest bit 0: 0421h (AAA) to 6B5Ah (ZZZ).
bool IsManufacturerCode(int code) {
    for (int shift : {0, 5, 10}) {
        const int letter = (code >> shift) & 0x1F;
        if (letter < 1 || letter > 26) return false;
    }
    return code < 0x8000;
}

// True when some manufacturer code has the fixed hexadecimal digits of
// `digits` (four characters, "F" for any).
bool ManufacturerCanHold(std::string_view digits) {
    int mask = 0, value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const int v = HexDigitValue(digits[i]);
        if (v < 0 || v == 0xF) continue;
        mask |= 0xF << (12 - 4 * i);
        value |= v << (12 - 4 * i);
    }
    // The open digits, counted through as a number of their own.
    const int open = ~mask & 0xFFFF;
    for (int rest = open;; rest = (rest - 1) & open) {
        if (IsManufacturerCode(value | rest)) return true;
        if (rest == 0) return false;
    }
}

constexpr std::size_t kFieldBegin = 8, kFieldEnd = 16;

// The order in which manufacturer (8..11), version (12, 13) and medium (14,
// 15) open once the identification number is fixed: the digits that differ
// most between real addresses first, so that meters sharing an
// identification number part early. Versions count up from 1 and media are
// small codes, so their low digits come first; then the manufacturer's low
// byte (the third letter and part of the second); then the high digits of
// medium and version; the manufacturer's high byte (the first letter) last.
constexpr std::size_t kFieldOrder[] = {15, 13, 11, 10, 14, 12, 9, 8};

}  // namespace

// The positions of the mask in the order they open: the identification
// number, then the fields in their order, then the extension digits.
std::vector<std::size_t> SearchMask::Order() const {
    const std::size_t end = std::min(openEnd, text.size());
    std::vector<std::size_t> order;
    unsigned placed = 0;  // whole bytes already in the order
    for (std::size_t i = 0; i < end; ++i) {
        if (fields && i == kFieldBegin)
            for (std::size_t f : kFieldOrder) {
                if (f >= end) continue;
                const std::size_t byte = (f - kFieldBegin) / 2;
                if (!(wholeBytes >> byte & 1u)) {
                    order.push_back(f);
                } else if (!(placed >> byte & 1u)) {
                    placed |= 1u << byte;
                    order.push_back(kFieldBegin + 2 * byte);
                }
            }
        if (!InFields(i)) order.push_back(i);
    }
    return order;
}

bool SearchMask::InFields(std::size_t at) const { return fields && at >= kFieldBegin && at < kFieldEnd; }

bool SearchMask::Whole(std::size_t at) const {
    return InFields(at) && (wholeBytes >> ((at - kFieldBegin) / 2) & 1u) != 0;
}

bool SearchMask::IsOpen(std::size_t at) const {
    return Whole(at) ? text.compare(at, 2, "FF") == 0 : text[at] == 'F';
}

int SearchMask::Value(std::size_t at) const {
    if (!Whole(at)) return HexDigitValue(text[at]);
    const int high = HexDigitValue(text[at]), low = HexDigitValue(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void SearchMask::Set(std::size_t at, int value) {
    constexpr const char* kDigits = "0123456789ABCDEF";
    if (!Whole(at)) {
        text[at] = value < 0 ? 'F' : kDigits[value];
    } else if (value < 0) {
        text.replace(at, 2, "FF");
    } else {
        text[at] = kDigits[value >> 4];
        text[at + 1] = kDigits[value & 0x0F];
    }
}

int SearchMask::NextValue(std::size_t at, int after) {
    const bool whole = Whole(at);
    // A whole byte takes every value but the wildcard FFh; a digit of a
    // field 0 to E; a decimal digit 0 to 9.
    const int last = whole ? 0xFE : InFields(at) ? 0xE : 9;
    const std::string kept = text;
    int found = -1;
    for (int v = after + 1; v <= last && found < 0; ++v) {
        if (InFields(at) && at < kFieldBegin + 4) {
            Set(at, v);
            if (!ManufacturerCanHold(std::string_view(text).substr(kFieldBegin, 4))) continue;
        }
        found = v;
    }
    text = kept;
    return found;
}

std::size_t SearchMask::NextOpen() const {
    for (std::size_t i : Order())
        if (IsOpen(i)) return i;
    return std::string::npos;
}

int SearchMask::FreshFieldByte() const {
    const std::size_t at = NextOpen();
    if (at == std::string::npos || !InFields(at) || Whole(at)) return -1;
    const std::size_t byte = (at - kFieldBegin) / 2;
    return text.compare(kFieldBegin + 2 * byte, 2, "FF") == 0 ? static_cast<int>(byte) : -1;
}

bool SearchMask::Descend() {
    const std::size_t at = NextOpen();
    if (at == std::string::npos) return false;
    // A collision that no real address explains (a code outside A..Z)
    // still goes deeper, from 0.
    Set(at, std::max(NextValue(at, -1), 0));
    return true;
}

bool SearchMask::DescentIsCheap() const {
    const std::size_t at = NextOpen();
    return at != std::string::npos && !InFields(at);
}

bool SearchMask::Open() const { return NextOpen() != std::string::npos; }

bool SearchMask::Advance() {
    const std::vector<std::size_t> order = Order();
    for (auto at = order.rbegin(); at != order.rend(); ++at) {
        const std::size_t i = *at;
        if (IsOpen(i)) continue;  // a wildcard is passed over
        const int current = Value(i);
        const int next = NextValue(i, current < 0 ? (Whole(i) ? 0xFF : 0xF) : current);
        if (next >= 0) {
            Set(i, next);
            return true;
        }
        // Past the last value: open again and carry. A whole byte's sweep
        // is over; the byte opens digit by digit again next time.
        Set(i, -1);
        if (Whole(i)) wholeBytes &= ~(1u << ((i - kFieldBegin) / 2));
    }
    if (!text.empty()) text[0] = 'F';
    return false;
}

std::string SlaveListEntry(const MBTelegram& t) {
    char head[32];
    std::snprintf(head, sizeof head, "%03u%08X", t.aField % 1000, static_cast<unsigned>(t.identNumber));
    std::string e = head;
    char man[4] = {};
    mbus::ExtractManufacturer(static_cast<uint16_t>(t.manufacturer), man);
    e += std::string(man, 3);
    char rest[16];
    std::snprintf(rest, sizeof rest, "%03d%02d", t.version % 1000, t.medium % 100);
    e += rest;
    auto fixed = [&](const char* text, std::size_t width) {
        std::string s(text);
        s.resize(width, 'F');
        e += s;
    };
    fixed(t.customerLocation, 12);
    fixed(t.customer, 12);
    fixed(t.fabricationNumber, 8);
    return e;
}

// ---- Life cycle ------------------------------------------------------------------

ScriptRunner::ScriptRunner(Channel& channel) : channel_(channel) {}

ScriptRunner::~ScriptRunner() {
    {
        std::lock_guard lock(threadMutex_);
        stopping_ = true;
    }
    breakRequest_.store(1);
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool ScriptRunner::Sleep(int milliseconds) {
    std::unique_lock lock(threadMutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

bool ScriptRunner::Start(std::vector<ScriptItem> items) {
    if (items.empty() || step_.load() != 0) return false;
    if (thread_.joinable()) thread_.join();  // the last script's thread has ended
    {
        std::lock_guard lock(Locks().scriptStep);
        items_ = std::move(items);
        current_ = -1;
        waitCounter_ = 0;
        clockTarget_ = -1;
        repeatCounter_ = 0;
        openAttempts_ = 0;
        modemAttempts_ = 0;
        deferred_ = false;
        consumed_ = channel_.Answer();
        breakRequest_.store(0);
    }
    {
        std::lock_guard lock(Locks().scriptStart);
        entries_.clear();
    }
    step_.store(1);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void ScriptRunner::Run() {
    for (;;) {
        int wait;
        {
            std::lock_guard lock(Locks().scriptStep);
            wait = Step();
        }
        if (wait == kEnd) break;
        if (wait > 0 && !Sleep(wait)) {
            // Destruction: the next steps end the script.
            continue;
        }
        const int delay = lineDelay.load();
        if (delay >= 1 && delay <= 1000) Sleep(delay);
    }
    breakRequest_.store(0);
    step_.store(0);
}

void ScriptRunner::ClearItems() {
    items_.clear();
    current_ = -1;
}

void ScriptRunner::Execute(std::string_view text) {
    if (text.empty() || step_.load() != 0) return;
    ParseSettings settings;
    settings.autoBaudSwitch = autoBaudSwitch.load();
    const engine::ConnectionParameters p = channel_.Parameters();
    settings.fifo = p.fifo;
    settings.baud = p.baud;
    Start(ParseScript(text, settings));
}

void ScriptRunner::Break() {
    std::lock_guard lock(Locks().scriptStep);
    breakRequest_.store(1);
}

// ---- The step ----------------------------------------------------------------------

int ScriptRunner::Step() {
    const bool breakNow = breakRequest_.load() != 0;
    if (waitCounter_ > 0) {
        if (breakNow) {
            waitCounter_ = 0;
            ClearItems();
            return kEnd;
        }
        --waitCounter_;
        return kWaitPeriod;
    }
    if (clockTarget_ >= 0) {
        if (breakNow) {
            clockTarget_ = -1;
            ClearItems();
            return kEnd;
        }
        if (MinuteOfDay() != clockTarget_) return kPoll;
        clockTarget_ = -1;
    }
    if (deferred_ && current_ >= 0 && !breakNow) {
        deferred_ = false;
        return ExecuteItem(items_[static_cast<std::size_t>(current_)]);
    }
    deferred_ = false;
    if (current_ >= 0) {
        const ScriptItem& finished = items_[static_cast<std::size_t>(current_)];
        const int command = finished.command;
        if (NoTransaction(command)) {
            if (breakNow) {
                ClearItems();
                return kEnd;
            }
        } else if (command == 30 || command == 31 || command == 32) {
            // A dropped call brings the direct line back.
            const int state = channel_.TelStatus();
            if (command == 31 && state == engine::kModemIdle && channel_.TransactionResult() != engine::kTransactionRunning &&
                !modemCallChecked_) {
                // The call did not connect: another try, up to SCRMakeCallTrial / 200.
                modemCallChecked_ = true;
                channel_.RestoreDirectLine(false);
                modemAttempts_ += 200;
                if (modemAttempts_ >= makeCallTrial.load()) modemAttempts_ = 0;
            }
            if ((state != engine::kModemIdle && state != engine::kModemConnected) ||
                channel_.TransactionResult() == engine::kTransactionRunning) {
                if (breakNow) channel_.Break();
                return pollPeriod.load();
            }
            if (breakNow) {
                modemAttempts_ = 0;
                ClearItems();
                return kEnd;
            }
        } else {
            if (channel_.TransactionResult() == engine::kTransactionRunning) {
                if (breakNow) channel_.Break();
                return pollPeriod.load();
            }
            channel_.WithLayers([](MBLayer7& l) { l.link.line.escapeWrapper.store(0); });
            if (breakNow) {
                {
                    std::lock_guard lock(Locks().scriptStart);
                    FinishList();
                }
                ClearItems();
                return kEnd;
            }
        }
        if (openAttempts_ != 0 || modemAttempts_ != 0) {
            modemCallChecked_ = false;
            return ExecuteItem(items_[static_cast<std::size_t>(current_)]);
        }
        modemCallChecked_ = false;
        const int remembered = step_.load();
        step_.fetch_add(1);
        if (command >= kSearchRead) {
            const int wait = SearchDecision(finished);
            if (wait >= 0) {
                if (step_.load() == 0 || step_.load() > static_cast<int>(items_.size())) {
                    ClearItems();
                    return kEnd;
                }
                current_ = step_.load() - 1;
                if (wait > kAtOnce) {
                    deferred_ = true;
                    return wait;
                }
                return ExecuteItem(items_[static_cast<std::size_t>(current_)]);
            }
        }
        // A REQ_UD2 whose answer announces more data runs again. The check
        // clears the announcement whatever it decides: it is seen once.
        bool announced = false;
        const std::shared_ptr<const engine::AnswerSnapshot> answer = channel_.CheckAnswer(&announced);
        if (answer->telegram) {
            const bool fresh = answer != consumed_;
            if (fresh && announced && command % 100 == 5 && repeatCounter_ < autoREQUD2on1F.load()) {
                ++repeatCounter_;
                step_.store(remembered);
            } else {
                repeatCounter_ = 0;
            }
            consumed_ = answer;
        } else {
            repeatCounter_ = 0;
        }
    } else {
        if (channel_.TransactionResult() == engine::kTransactionRunning) {
            if (breakNow) channel_.Break();
            return pollPeriod.load();
        }
        if (breakNow) {
            ClearItems();
            return kEnd;
        }
    }
    const int step = step_.load();
    if (step <= 0 || step > static_cast<int>(items_.size())) {
        ClearItems();
        return kEnd;
    }
    current_ = step - 1;
    return ExecuteItem(items_[static_cast<std::size_t>(current_)]);
}

int ScriptRunner::ExecuteItem(ScriptItem& item) {
    switch (item.command) {
        case 0:
        case 2: return Connection(item);
        case 1:
            if (item.argument >= 1 && item.argument <= 999)
                channel_.UpdateParameters([&](engine::ConnectionParameters& p) { p.retries = item.argument; });
            return kAtOnce;
        case 14:
            if (item.argument >= 1 && item.argument <= 29999) waitCounter_ = item.argument;
            return kWaitPeriod;
        case 15: {
            // The next multiple of n minutes of the day (past midnight it wraps).
            const int n = item.argument > 0 ? item.argument : 1;
            clockTarget_ = (n * (MinuteOfDay() / n + 1)) % 1440;
            return kPoll;
        }
        case 16:
            channel_.CloseCom();
            return kAtOnce;
        case 30:
        case 31:
        case 32: return Modem(item);
        default: return Transaction(item);
    }
}

int ScriptRunner::Transaction(ScriptItem& item) {
    const int command = item.command;
    if (IsTunnel(command)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        channel_.WithLayers([](MBLayer7& l) { l.link.line.escapeWrapper.store(1); });
    }
    const int address = item.argument;
    bool sent = false;
    switch (command) {
        case 3: case 103: sent = channel_.Request(item.line, engine::kRequestSNDNKE, address, {}); break;
        case 4: case 104: sent = channel_.Request(item.line, engine::kRequestREQUD1, address, {}); break;
        case 5: case 105: sent = channel_.Request(item.line, engine::kRequestREQUD2, address, {}); break;
        case 6: sent = channel_.Request(item.line, engine::kRequestListen, 0, {}); break;
        case 7: case 107: case 323: case 324:
            sent = channel_.Request(item.line, engine::kRequestSNDUD, address, item.data);
            break;
        case 8: case 9: case 108: case 109:
            sent = channel_.Request(item.line, engine::kRequestSNDUD, 253, item.data);
            break;
        case 13: case 113: case 121: sent = channel_.Request(item.line, engine::kRequestRaw, 0, item.data); break;
        case 20: case 120: sent = channel_.Request(item.line, engine::kRequestSNDNKE, 253, {}); break;
        case 28: sent = channel_.Request(item.line, engine::kRequestSNDUD, address, ClockData()); break;
        case 100: case 123: case 125: case 126: case 127:
            sent = channel_.Request(item.line, engine::kRequestListen, 0, item.data, FirstSend::Raw);
            break;
        case 128:
            sent = channel_.Request(item.line, engine::kRequestListen, 0, InterfaceClockBytes(), FirstSend::Raw);
            break;
        case 122: case 124: sent = channel_.Request(item.line, engine::kRequestNone, 0, item.data); break;
        case 129: sent = channel_.YmodemDownload({}, item.data); break;
        case 229: sent = channel_.TextDownload(); break;
        case 329:
            channel_.RequestSelectedRead(address);
            sent = true;
            break;
        case kSearchPrimary:
            sent = channel_.Request("3|" + std::to_string(address) + "||", engine::kRequestSNDNKE, address, {});
            break;
        case kSearchRead:
            sent = channel_.Request("5|" + std::to_string(address) + "||", engine::kRequestREQUD2, address, {});
            break;
        case kSearchDeselect: sent = channel_.Request("20|||", engine::kRequestSNDNKE, 253, {}); break;
        case kSearchSecondary:
        case kSearchCustomer:
        case kSearchRange: {
            const engine::Selection s = MaskSelection(command, item.argument, mask_.text);
            std::vector<uint8_t> data = {s.ci};
            data.insert(data.end(), s.data.begin(), s.data.end());
            sent = channel_.Request(s.logLine, engine::kRequestSNDUD, 253, std::move(data));
            break;
        }
        default: return kPoll;
    }
    // A refused send leaves its entry with status 4; the next step goes on.
    return sent ? pollPeriod.load() : kPoll;
}

int ScriptRunner::Connection(ScriptItem& item) {
    if (!item.parameters) return kAtOnce;
    // Over a standing modem call the port belongs to the call: reopening it
    // with the line's settings would hang up. The line is passed over
    // without a log entry, so that a host's usual read script, connection
    // line included, reads through the call. A call whose carrier has gone
    // is no longer standing (the status check brings the direct line back).
    if (noBaudChangeWhileConnected.load() != 0 && channel_.TelStatus() == engine::kModemConnected) return kAtOnce;
    channel_.SetParameters(*item.parameters);
    const int status = channel_.Open(item.command == 2 ? 1 : 0);
    if (status != 0) {
        ++openAttempts_;
        if (openAttempts_ < comOpenTrial.load()) return kRetryOpen;
        openAttempts_ = 0;
        channel_.LogCommand(item.line, status);
        return kAtOnce;
    }
    openAttempts_ = 0;
    channel_.LogCommand(item.line, 0);
    return kAtOnce;
}

int ScriptRunner::Modem(ScriptItem& item) {
    const engine::ModemParameters m = channel_.Modem();
    const std::string lineEnd = engine::ModemLineEnd(m.newLine);
    if (item.command == 32) {
        // While another modem operation runs, the hang-up waits for it and is passed over.
        if (channel_.ModemState() != engine::kModemIdle && channel_.ModemState() != engine::kModemConnected)
            return pollPeriod.load();
        channel_.ModemRequest(nullptr, item.line, 0, 101, lineEnd, engine::kModemHangingUp);
        return pollPeriod.load();
    }
    // The port with the modem's settings: port, rate and the line-format code.
    engine::ConnectionParameters p = channel_.Parameters();
    const int baud = item.mode % 1000000;
    static const int kFormats[12][3] = {{1, 1, -1}, {1, 1, 1}, {1, 1, 2}, {0, 1, 0}, {0, 1, 1}, {0, 1, 2},
                                        {1, 0, 0},  {1, 0, 1}, {1, 0, 2}, {0, 0, 0}, {0, 0, 1}, {0, 0, 2}};
    const int code = item.mode / 1000000;
    const int* f = kFormats[code >= 1 && code <= 11 ? code : 0];
    if (item.argument >= 1 && item.argument <= 999) p.port = item.argument;
    if (baud >= 300 && baud <= 921600) p.baud = baud;
    p.rts = f[0];
    p.dtr = f[1];
    if (f[2] >= 0)
        p.parity = f[2];
    else if (m.mode == 1)
        p.parity = 0;
    p.TO = engine::SaturatingAdd(p.TO, m.additionalTelegramTimeout);
    p.TB = engine::SaturatingAdd(p.TB, m.additionalTimeoutByte);
    p.fifo = 1;
    std::string text(item.data.begin(), item.data.end());
    if (item.command == 31) {
        // "AT", an optional prefix in <...>, "D", the dial letter, the number.
        std::string at = "AT";
        if (text.size() > 2 && text[0] == '<' && (text[1] == 'A' || text[1] == 'a') && (text[2] == 'T' || text[2] == 't')) {
            const std::size_t close = text.find('>');
            if (close != std::string::npos) {
                at = text.substr(1, close - 1);
                text = text.substr(close + 1);
            }
        }
        char letter = m.toneDial != 0 ? 'T' : 'P';
        if (!text.empty() && (text[0] == 'P' || text[0] == 'p' || text[0] == 'T' || text[0] == 't')) {
            letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
            text.erase(0, 1);
        }
        text = at + "D" + letter + text;
    }
    text += lineEnd;
    const bool sent = channel_.ModemRequest(&p, item.line, item.command == 30 ? 0 : 4, item.command == 30 ? 104 : 100,
                                            text, item.command == 30 ? engine::kModemInitialising : engine::kModemDialling);
    if (!sent && channel_.WithLayers([](MBLayer7& l) { return l.link.line.status.load(); }) != 0) {
        // The port did not open: tried again like a connection line.
        ++modemAttempts_;
        if (modemAttempts_ < makeCallTrial.load()) return kRetryOpen;
        modemAttempts_ = 0;
        channel_.LogCommand(item.line, item.command == 30 ? 0 : 4);
        return kAtOnce;
    }
    return pollPeriod.load();
}

// ---- The slave search ------------------------------------------------------------

void ScriptRunner::SearchPrimary() {
    if (step_.load() != 0) return;
    std::vector<ScriptItem> items(2);
    items[0].command = kSearchPrimary;
    items[0].argument = 0;
    items[1].command = kSearchRead;
    {
        std::lock_guard lock(Locks().scriptStep);
        probeCounter_ = 0;
        garbledCounter_ = 0;
        mask_ = {};
        extension_ = -1;
    }
    Start(std::move(items));
}

void ScriptRunner::SearchSecondary(int32_t mode) {
    if (step_.load() != 0) return;
    const int kind = mode & 0xFF;
    const int selectionMode = kind == 1 || kind == 2 || kind == 3 ? kind : 0;
    const int variant = (mode >> 16) & 0x0F;
    std::vector<ScriptItem> items(3);
    SearchMask mask;
    items[0].command = kSearchSecondary;
    int extension = -1;
    if (variant == 1) {
        mask = {"0FFFFFFFFFFFFFFFFFFFFFFF", 24, true};
    } else if (variant == 2) {
        items[0].command = kSearchCustomer;
        mask = {"0FFFFFFFFFFFFFFFFFFFFFFF", 24, false};
    } else if (variant == 4) {
        mask = {"0FFFFFFFFFFFFFFF00", 16, true};
        extension = 0;
    } else {
        mask = {"0FFFFFFFFFFFFFFF", 16, true};
    }
    items[0].argument = selectionMode;
    items[1].command = kSearchRead;
    items[1].argument = 253;
    items[2].command = kSearchDeselect;
    {
        std::lock_guard lock(Locks().scriptStep);
        probeCounter_ = 0;
        garbledCounter_ = 0;
        mask_ = mask;
        trials_.clear();
        extension_ = extension;
    }
    Start(std::move(items));
}

void ScriptRunner::SearchRange(int32_t mode, std::string_view start, std::string_view end,
                               std::string_view manufacturer, std::string_view generation, std::string_view medium) {
    if (step_.load() != 0) return;
    // Pairs of characters: a pair with a character outside '0'..'f' is
    // skipped, other non-digits count as F.
    auto digits = [](std::string_view text, std::size_t length) {
        std::string out;
        text = text.substr(0, std::min<std::size_t>(50, text.size()));
        for (std::size_t i = 0; i + 1 < text.size() + 1 && i < text.size(); i += 2) {
            const char pair[2] = {text[i], i + 1 < text.size() ? text[i + 1] : 'F'};
            if (pair[0] < '0' || pair[0] > 'f' || pair[1] < '0' || pair[1] > 'f') continue;
            for (char c : pair) {
                const int v = HexDigitValue(c);
                out += v < 0 ? 'F' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
        }
        out.resize(length, 'F');
        return out;
    };
    const std::string tail = digits(manufacturer, 4) + digits(generation, 2) + digits(medium, 2);
    std::vector<ScriptItem> items(3);
    const int kind = mode & 0xFF;
    items[0].command = kSearchRange;
    items[0].argument = kind == 1 || kind == 2 || kind == 3 ? kind : 0;
    items[1].command = kSearchRead;
    items[1].argument = 253;
    items[2].command = kSearchDeselect;
    {
        std::lock_guard lock(Locks().scriptStep);
        probeCounter_ = 0;
        garbledCounter_ = 0;
        mask_ = {digits(start, 8) + tail, 8, false};
        trials_.clear();
        endMask_ = digits(end, 8) + tail;
        extension_ = -1;
    }
    Start(std::move(items));
}

std::string ScriptRunner::CurrentSearchAddress() {
    std::lock_guard lock(Locks().scriptStep);
    if (step_.load() == 0 || items_.empty()) return {};
    const int first = items_.front().command;
    if (first == kSearchPrimary) return Three(items_.front().argument);
    if (first == kSearchSecondary || first == kSearchCustomer || first == kSearchRange) {
        if (!mask_.text.empty() && mask_.text.size() <= 31) return mask_.text;
    }
    return {};
}

std::string ScriptRunner::SlaveList() const { return channel_.SlaveList(); }

void ScriptRunner::AddEntry(std::string entry) {
    entry.resize(51, 'F');
    std::lock_guard lock(Locks().scriptStart);
    // A slave that a whole-byte value with an F digit selected as well as
    // its own value is listed once.
    if (std::find(entries_.begin(), entries_.end(), entry) == entries_.end()) entries_.push_back(std::move(entry));
}

void ScriptRunner::FinishList() {
    std::string text;
    for (const std::string& e : entries_) text += e;
    entries_.clear();
    channel_.SetSlaveList(std::move(text));
}

int ScriptRunner::NextPrimaryAddress() {
    probeCounter_ = 0;
    garbledCounter_ = 0;
    ScriptItem& probe = items_[0];
    if (probe.argument >= 250) {
        {
            std::lock_guard lock(Locks().scriptStart);
            FinishList();
        }
        step_.store(0);
        return kAtOnce;
    }
    ++probe.argument;
    step_.store(1);
    return kAtOnce;
}

// After the mask moved on: the next probe, or the end of the search.
int ScriptRunner::AfterMask() {
    // A field byte opened digit by digit whose probes nobody answered,
    // although the mask above it collided: the slaves there take FFh as
    // their only wildcard in that byte, so it is swept as a whole byte.
    auto under = [](const std::string& parent, const std::string& m) {
        if (m.size() != parent.size() || m.empty() || m[0] == 'F') return false;
        for (std::size_t i = 0; i < m.size(); ++i)
            if (parent[i] != 'F' && m[i] != parent[i]) return false;
        return true;
    };
    while (!trials_.empty() && !under(trials_.back().parent, mask_.text)) {
        const DigitTrial trial = std::move(trials_.back());
        trials_.pop_back();
        if (trial.heard) continue;
        mask_.text = trial.parent;
        mask_.wholeBytes |= 1u << trial.byte;
        mask_.Descend();
        break;
    }
    // A range search ends once the lowest number the mask covers lies above
    // the highest the end mask covers.
    auto bound = [](const std::string& m, char wildcard) {
        std::string b = m.substr(0, 8);
        for (char& c : b)
            if (c == 'F') c = wildcard;
        return b;
    };
    const bool rangeDone = items_[0].command == kSearchRange && !mask_.Ended() &&
                           bound(mask_.text, '0') > bound(endMask_, '9');
    if (mask_.Ended() || rangeDone) {
        if (extension_ >= 0 && extension_ < 250) {
            ++extension_;
            char ext[3];
            std::snprintf(ext, sizeof ext, "%02X", extension_);
            mask_.text = std::string("0FFFFFFFFFFFFFFF") + ext;
            step_.store(1);
            return kAtOnce;
        }
        step_.store(3);  // the deselection, then the end
        return kAtOnce;
    }
    step_.store(1);
    return kAtOnce;
}

// How often a primary address that answered is read again after a reading
// without a valid telegram, and a fully fixed mask probed or read again.
constexpr int kGarbledRepeats = 3;

int ScriptRunner::GarbledRepeats(bool read) const {
    // Where the next digit to open is a decimal one, going deeper costs ten
    // probes at most and finds a single slave as well. A collision of
    // several shows there as an acknowledgement (their E5h overlay into
    // one) and a garbled reading, so the reading is not repeated, and a
    // garbled acknowledgement, rare in a collision, once. Past the
    // identification number going deeper sweeps a field digit, so both
    // are repeated once: a second garbled reception is a collision but for
    // one time in twenty-five at one garbled answer in five. With no
    // wildcard left there is no deeper: a slave is lost unless it is heard.
    if (mask_.DescentIsCheap()) return read ? 0 : 1;
    return mask_.Open() ? 1 : kGarbledRepeats;
}

int ScriptRunner::SearchDecision(const ScriptItem& finished) {
    const int result = channel_.TransactionResult();
    const bool received = channel_.ReceivedSomething() != 0;
    const int retries = std::max(1, searchTimeoutRetries.load());
    const int delay = std::clamp(searchDelay.load(), 0, 10000);
    const bool withErrors = searchListWithErrors.load() != 0;
    const bool primary = items_[0].command == kSearchPrimary;

    if (finished.command == kSearchDeselect) {
        {
            std::lock_guard lock(Locks().scriptStart);
            FinishList();
        }
        step_.store(0);
        return kAtOnce;
    }
    if (primary) {
        const int address = items_[0].argument;
        if (finished.command == kSearchPrimary) {
            if (received) {
                probeCounter_ = 0;
                garbledCounter_ = 0;
                items_[1].argument = address;
                step_.store(2);
                return kAtOnce;
            }
            if (++probeCounter_ >= retries) return NextPrimaryAddress();
            step_.store(1);
            return kAtOnce;
        }
        // The read of a primary address that answered.
        const auto answer = channel_.Answer();
        if (result == 3 && answer->telegram) {
            AddEntry(SlaveListEntry(*answer->telegram));
            return NextPrimaryAddress();
        }
        // Something is there: garbled or lost, the reading goes out again.
        if (garbledCounter_ < kGarbledRepeats) {
            ++garbledCounter_;
            step_.store(2);
            return std::max(kAtOnce, delay);
        }
        if (received) {
            if (withErrors) AddEntry(Three(500 + address) + "FFFFFFFFUNK00000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
            const int next = NextPrimaryAddress();
            return std::max(next, delay);
        }
        garbledCounter_ = 0;
        if (++probeCounter_ >= retries) return NextPrimaryAddress();
        step_.store(1);
        return kAtOnce;
    }

    // Secondary and range searches.
    if (received)
        for (DigitTrial& trial : trials_) trial.heard = true;
    auto descend = [&]() {
        garbledCounter_ = 0;
        probeCounter_ = 0;
        const int fresh = mask_.FreshFieldByte();
        std::string parent = mask_.text;
        if (mask_.Descend()) {
            if (fresh >= 0) trials_.push_back({std::move(parent), fresh, false});
            return;
        }
        // Fully fixed and still several answer.
        if (withErrors) {
            const std::string& m = mask_.text;
            if (items_[0].command == kSearchCustomer) {
                AddEntry("500FFFFFFFFUNK00000" + m + "FFFFFFFF");
            } else {
                char man[4] = {};
                mbus::ExtractManufacturer(static_cast<uint16_t>(std::stoi(m.substr(8, 4), nullptr, 16)), man);
                std::string e = "500" + m.substr(0, 8) + std::string(man, 3) + "0" + m.substr(12, 2) +
                                Three(std::stoi(m.substr(14, 2), nullptr, 16)).substr(1);
                e.resize(51, 'F');
                if (m.size() == 24) e.replace(43, 8, m.substr(16, 8));
                AddEntry(e);
            }
        }
        mask_.Advance();
    };
    if (finished.command != kSearchRead) {
        if (result != 4) {
            probeCounter_ = retries;  // one slave acknowledged: read it
            garbledCounter_ = 0;
            step_.store(2);
            return kAtOnce;
        }
        // Bytes without a valid answer: one garbled acknowledgement, or
        // several slaves at once. Silence after such bytes at the same
        // mask is no empty mask either.
        if (received || garbledCounter_ > 0) {
            if (garbledCounter_ < GarbledRepeats(false)) {
                ++garbledCounter_;
                step_.store(1);
                return std::max(kAtOnce, delay);
            }
            descend();
            const int next = AfterMask();
            return std::max(next, delay);
        }
        if (++probeCounter_ >= retries) {
            probeCounter_ = 0;
            mask_.Advance();
        }
        return AfterMask();
    }
    // The read of the selected slave.
    const auto answer = channel_.Answer();
    if (result == 3 && answer->telegram) {
        AddEntry(SlaveListEntry(*answer->telegram));
        garbledCounter_ = 0;
        mask_.Advance();
        return AfterMask();
    }
    if (garbledCounter_ < GarbledRepeats(true)) {
        ++garbledCounter_;
        step_.store(2);
        return std::max(kAtOnce, delay);
    }
    descend();
    const int next = AfterMask();
    return std::max(next, delay);
}

}  // namespace mbus::control
