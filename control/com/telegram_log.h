// The telegram log of a channel: every command a script or a host runs
// leaves an entry with its result line, and the worker attaches the answer
// that the command received. Hosts read ranges of entries as raw or
// decoded ("cooked") text.
//
// Locking: the entries are guarded by the library's log lock. The hook
// functions (AppendCommand, AttachAnswer) are called with that lock held;
// every other public function takes it itself.

#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "control/decode/answer_text.h"
#include "control/engine/log_hook.h"

namespace mbus::control {

struct LogEntry {
    int32_t status = 0;       // the command's status, then the reception result
    int32_t engineValue = 0;  // received-something flag of the answer
    uint8_t engineByte = 0;   // decoder result of the answer
    uint8_t C = 0, A = 0, CI = 0;
    std::string stamp;        // YYYYMMDDhhmmss, local time
    std::string text;         // the result line
    std::vector<uint8_t> telegram;
};

// The local time as 14 digits YYYYMMDDhhmmss.
std::string LogTimeStamp();

class TelegramLog final : public engine::TelegramLogHook {
public:
    // engine::TelegramLogHook (the log lock is held)
    void AppendCommand(const std::string& line, int status) override;
    void AttachAnswer(const engine::LoggedAnswer& answer) override;

    // Appends an entry (the log lock is held); trims the oldest beyond the
    // capacity, nothing at all below capacity 1.
    void AppendLocked(LogEntry entry);

    int32_t Capacity() const;
    void SetCapacity(int32_t capacity);
    int32_t UpperBound() const;
    void Reset();
    // A copy of entry `index` (empty text when there is none), for tests and hosts.
    LogEntry Entry(int32_t index) const;

    std::string RetrieveRaw(int32_t start, int32_t end, bool hex) const;
    std::string RetrieveCooked(int32_t start, int32_t end, CookedVariant variant) const;

    // Post-processing for two kinds of devices (see the .cpp).
    void InterpretSpecial();
    void InterpretSpecial2();

private:
    template <class Tail>
    std::string Retrieve(int32_t start, int32_t end, Tail tail) const;
    void TrimLocked();

    int32_t capacity_ = 0;
    std::deque<LogEntry> entries_;
};

// The command number at the start of a result line (the digits before the
// first "|"), -1 when there are none.
int CommandOf(const std::string& text);
// Slave-list text with the hexadecimal forms of address and medium in each
// 51-character entry (also the form of command 122's answers).
std::string HexSlaveList(const std::string& decimal);

}  // namespace mbus::control
