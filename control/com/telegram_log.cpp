#include "control/com/telegram_log.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include "control/decode/conversions.h"
#include "control/decode/telegram.h"
#include "control/engine/locks.h"
#include "platform/text/hex.h"

namespace mbus::control {
namespace {

using engine::Locks;

void AppendByte(std::string& out, unsigned b, bool hex) {
    if (hex)
        text::AppendHexByte(out, static_cast<uint8_t>(b));
    else
        text::AppendDecByte(out, static_cast<uint8_t>(b));
}

// Commands whose entry ends with the status as a number.
bool StatusTail(int command) {
    switch (command) {
        case 0: case 16: case 30: case 31: case 32: case 100: case 121: case 123: case 127: case 128: return true;
        default: return false;
    }
}

// The tail shared by the raw and cooked forms for the commands of the
// interface device; false when the command has the per-answer tail.
bool DeviceTail(const LogEntry& e, bool hex, std::string& out) {
    const int command = CommandOf(e.text);
    if (StatusTail(command)) {
        out += std::to_string(e.status);
        return true;
    }
    if (command == 122) {
        const std::string text(e.telegram.begin(), e.telegram.end());
        out += hex ? HexSlaveList(text) : text;
        return true;
    }
    if (command == 124) {
        out += '0';
        return true;
    }
    return false;
}

void AppendHead(std::string& out, const LogEntry& e) {
    out += e.text;
    out += '|';
    out += e.stamp;
    out += '|';
}

std::unique_ptr<MBTelegram> Decode(const LogEntry& e) {
    auto t = std::make_unique<MBTelegram>();
    std::lock_guard lock(Locks().decoder);
    t->InterpretAnswer(e.status, e.C, e.A, e.CI, e.telegram.data(), static_cast<int>(e.telegram.size()));
    return t;
}

}  // namespace

std::string LogTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return stamp;
}

int CommandOf(const std::string& text) {
    int n = 0;
    bool any = false;
    for (char c : text) {
        if (c == '|') break;
        if (c >= '0' && c <= '9' && n < 100000) {
            n = n * 10 + (c - '0');
            any = true;
        }
    }
    return any ? n : -1;
}

std::string HexSlaveList(const std::string& decimal) {
    std::string out = decimal;
    for (std::size_t at = 0; at + 51 <= out.size(); at += 51) {
        auto number = [&](std::size_t from, std::size_t count) {
            int n = 0;
            for (std::size_t i = from; i < from + count; ++i) n = n * 10 + (out[at + i] >= '0' && out[at + i] <= '9' ? out[at + i] - '0' : 0);
            return n;
        };
        const int address = number(0, 3) & 0xFF;
        const int medium = number(17, 2);
        std::string digits = "0";
        text::AppendHexByte(digits, static_cast<uint8_t>(address));
        text::AppendHexByte(digits, static_cast<uint8_t>(medium));
        out.replace(at, 3, digits, 0, 3);
        out.replace(at + 17, 2, digits, 3, 2);
    }
    return out;
}

void TelegramLog::AppendCommand(const std::string& line, int status) {
    LogEntry e;
    e.status = status;
    e.text = line;
    AppendLocked(std::move(e));
}

void TelegramLog::AttachAnswer(const engine::LoggedAnswer& a) {
    if (capacity_ < 1 || entries_.empty()) return;
    LogEntry& e = entries_.back();
    e.stamp = LogTimeStamp();
    if (a.bytes != nullptr && a.length > 0) e.telegram.assign(a.bytes, a.bytes + a.length);
    e.status = a.code;
    e.engineByte = static_cast<uint8_t>(a.decoderResult);
    e.engineValue = a.receivedSomething;
    e.C = static_cast<uint8_t>(a.C);
    e.A = static_cast<uint8_t>(a.A);
    e.CI = static_cast<uint8_t>(a.CI);
}

void TelegramLog::AppendLocked(LogEntry entry) {
    if (capacity_ < 1) return;
    if (entry.stamp.empty()) entry.stamp = LogTimeStamp();
    entries_.push_back(std::move(entry));
    TrimLocked();
}

void TelegramLog::TrimLocked() {
    const std::size_t keep = capacity_ < 1 ? 0 : static_cast<std::size_t>(capacity_);
    while (entries_.size() > keep) entries_.pop_front();
}

int32_t TelegramLog::Capacity() const {
    std::lock_guard lock(Locks().log);
    return capacity_;
}

void TelegramLog::SetCapacity(int32_t capacity) {
    std::lock_guard lock(Locks().log);
    capacity_ = capacity;
    TrimLocked();
}

int32_t TelegramLog::UpperBound() const {
    std::lock_guard lock(Locks().log);
    return static_cast<int32_t>(entries_.size()) - 1;
}

void TelegramLog::Reset() {
    std::lock_guard lock(Locks().log);
    entries_.clear();
}

LogEntry TelegramLog::Entry(int32_t index) const {
    std::lock_guard lock(Locks().log);
    if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return {};
    return entries_[static_cast<std::size_t>(index)];
}

template <class Tail>
std::string TelegramLog::Retrieve(int32_t start, int32_t end, Tail tail) const {
    const int32_t upper = UpperBound();
    if (start < 0 || start > upper || !(end == 0 || end == -1 || end >= start)) return {};
    const int32_t last = end == 0 ? start : end == -1 ? upper : end;
    std::string out;
    for (int32_t i = start; i <= last; ++i) {
        LogEntry e;
        {
            // Entries are read one at a time: a script may go on logging.
            std::lock_guard lock(Locks().log);
            if (static_cast<std::size_t>(i) >= entries_.size()) break;
            e = entries_[static_cast<std::size_t>(i)];
        }
        if (i > start) out += "\r\n";
        AppendHead(out, e);
        tail(out, e);
    }
    return out;
}

std::string TelegramLog::RetrieveRaw(int32_t start, int32_t end, bool hex) const {
    return Retrieve(start, end, [hex](std::string& out, const LogEntry& e) {
        if (DeviceTail(e, hex, out)) return;
        for (unsigned b : {static_cast<unsigned>(e.status), unsigned{e.engineByte}, static_cast<unsigned>(e.engineValue),
                           unsigned{e.C}, unsigned{e.A}, unsigned{e.CI}})
            AppendByte(out, b, hex);
        for (uint8_t b : e.telegram) AppendByte(out, b, hex);
    });
}

std::string TelegramLog::RetrieveCooked(int32_t start, int32_t end, CookedVariant variant) const {
    const bool hex = variant == CookedVariant::Hex || variant == CookedVariant::Hex2 ||
                     variant == CookedVariant::Hex3 || variant == CookedVariant::Hex4;
    return Retrieve(start, end, [hex, variant](std::string& out, const LogEntry& e) {
        if (DeviceTail(e, hex, out)) return;
        if (e.telegram.empty()) return;
        const std::unique_ptr<MBTelegram> t = Decode(e);
        AnswerView view;
        view.frameType = e.status;
        view.structureKind = static_cast<int>(t->structureKind);
        view.received = e.engineValue;
        view.C = e.C;
        view.A = e.A;
        view.CI = e.CI;
        view.telegram = t.get();
        view.frame = e.telegram;
        AppendCooked(out, view, variant);
    });
}

// ---- Post-processing ------------------------------------------------------------
//
// Some meters split one readout over three telegrams of different lengths
// that follow each other in the log; InterpretSpecial joins them into the
// first entry. Others carry a history as pairs of a date record and a value
// record; InterpretSpecial2 turns each pair into an entry of its own with
// the pair's time as its time stamp.

namespace {

struct Qualified {
    bool ok = false;
    int32_t ident = 0;
};

Qualified QualifiesForPass(const LogEntry& e, int pass) {
    if (e.status != 3 || e.telegram.empty()) return {};
    const std::unique_ptr<MBTelegram> t = Decode(e);
    const int32_t man = t->manufacturer, version = t->version;
    bool ok;
    if (pass == 1)
        ok = man == 8866 && version < 16;
    else
        ok = (man == 0x59C4 || man == 18789) && (version < 16 || (version >= 0x80 && version <= 0x8F));
    return {ok, t->identNumber};
}

}  // namespace

void TelegramLog::InterpretSpecial() {
    std::lock_guard lock(Locks().log);
    for (int pass = 1; pass <= 2; ++pass) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Qualified first = QualifiesForPass(entries_[i], pass);
            if (!first.ok) continue;
            std::size_t j = i + 1;
            if (j < entries_.size() && entries_[j].status == 0) ++j;
            if (j >= entries_.size()) continue;
            std::size_t k = j + 1;
            if (k < entries_.size() && entries_[k].status == 0) ++k;
            if (k >= entries_.size()) continue;
            const Qualified second = QualifiesForPass(entries_[j], pass);
            const Qualified third = QualifiesForPass(entries_[k], pass);
            if (!second.ok || !third.ok || second.ident != first.ident || third.ident != first.ident) continue;
            const std::size_t n1 = entries_[i].telegram.size();
            if (n1 == entries_[j].telegram.size() || n1 == entries_[k].telegram.size()) continue;
            std::vector<const std::vector<uint8_t>*> parts = {&entries_[i].telegram, &entries_[j].telegram,
                                                              &entries_[k].telegram};
            std::sort(parts.begin(), parts.end(), [](auto* a, auto* b) { return a->size() < b->size(); });
            const std::vector<uint8_t>& shortest = *parts[0];
            if (shortest.size() < 2) continue;
            std::vector<uint8_t> joined(shortest.begin(), shortest.end() - 2);
            for (int p = 1; p <= 2; ++p) {
                const std::vector<uint8_t>& longer = *parts[static_cast<std::size_t>(p)];
                if (longer.size() > 21) joined.insert(joined.end(), longer.begin() + 19, longer.end() - 2);
            }
            joined.insert(joined.end(), shortest.end() - 2, shortest.end());
            entries_[i].telegram = std::move(joined);
            entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i + 1),
                           entries_.begin() + static_cast<std::ptrdiff_t>(k + 1));
        }
    }
}

void TelegramLog::InterpretSpecial2() {
    std::lock_guard lock(Locks().log);
    const std::size_t present = entries_.size();
    for (std::size_t i = 0; i < present; ++i) {
        const LogEntry& e = entries_[i];
        if (e.status != 3 || e.telegram.size() < 19) continue;
        const std::unique_ptr<MBTelegram> t = Decode(e);
        for (std::size_t r = 0; r + 1 < t->records.size(); ++r) {
            const MBDataRecord& when = t->records[r];
            const MBDataRecord& what = t->records[r + 1];
            if (when.vibLength < 1 || (when.VIB()[0] & 0x7F) != 0x6D || when.dataField != 4) continue;
            const auto raw = static_cast<uint32_t>(when.value);
            const unsigned minute = raw & 0x3F, hour = (raw >> 8) & 0x1F;
            const unsigned date = raw >> 16;
            const unsigned day = date & 0x1F, month = (date >> 8) & 0x0F;
            const unsigned year = ((date >> 12) & 0x0F) * 8 + ((date >> 5) & 0x07);
            LogEntry added = e;
            char stamp[32];
            const unsigned fullYear = static_cast<unsigned>(FullYear(static_cast<int>(year % 100)));
            std::snprintf(stamp, sizeof stamp, "%04u%02u%02u%02u%02u00", fullYear,
                          month % 100, day, hour, minute);
            added.stamp = stamp;
            added.telegram.assign(e.telegram.begin(), e.telegram.begin() + 19);
            added.telegram.insert(added.telegram.end(), {0xD5, 0x81, 0x03});
            added.telegram.insert(added.telegram.end(), what.VIB(), what.VIB() + std::max(0, what.vibLength));
            uint8_t real[4];
            std::memcpy(real, &what.realValue, 4);  // IEEE 754 single, least significant byte first
            added.telegram.insert(added.telegram.end(), real, real + 4);
            added.telegram.insert(added.telegram.end(), {0x11, 0x16});
            entries_.push_back(std::move(added));
        }
    }
}

}  // namespace mbus::control
