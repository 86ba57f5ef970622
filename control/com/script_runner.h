// Runs scripts and slave searches on one channel: the parsed items are
// executed one per step on a thread of the channel's own, each transaction
// handed to the channel's worker and awaited by polling, so that a script
// runs one request at a time while the host goes on. Progress is the step
// counter (SCRStatus); results go to the telegram log; a search leaves its
// slave list.
//
// Locking: a step runs under the library's script step lock, which also
// guards the item list and the search state; the waits between steps
// happen outside it.

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/com/script_parser.h"
#include "control/com/telegram_log.h"
#include "control/engine/channel.h"

namespace mbus::control {

// Internal items of the slave search.
enum SearchCommand : int32_t {
    kSearchRead = 9000,       // REQ_UD2 to the item's address
    kSearchDeselect = 9001,   // SND_NKE to 253; ends the search
    kSearchPrimary = 9005,    // SND_NKE probe of the item's address
    kSearchSecondary = 9006,  // selection with the mask
    kSearchCustomer = 9007,   // customer selection with the mask
    kSearchRange = 9008,      // selection with the mask, up to the end mask
};

// The secondary search masks: the first wildcard ("F") opens, the last
// fixed digit counts on, "first" and "last" in the order the positions
// open. Identification number, fabrication and customer digits are
// decimal (0..9) and open from the left. `fields` (standard variant):
// positions 8 to 15, manufacturer, version and medium, open after the
// identification number, digit by digit in an order of their own, as
// hexadecimal digits 0..E (F is the wildcard); a manufacturer digit only
// takes values that some code of three letters A..Z holds. A field byte
// marked in `wholeBytes` (bit 0 the manufacturer's first byte .. bit 3 the
// medium) opens as one byte instead, 00 to FE: for slaves that take only
// FFh as a wildcard there.
struct SearchMask {
    std::string text;
    std::size_t openEnd = 0;  // positions before this are searched; the rest stays
    bool fields = false;      // positions 8..15 are hexadecimal fields (standard variant)
    unsigned wholeBytes = 0;  // field bytes that open as whole bytes

    // Opens the first wildcard; false when there is none left.
    bool Descend();
    // Counts the last fixed position on; false when the mask has ended
    // (its first character is then "F").
    bool Advance();
    bool Ended() const { return text.empty() || text[0] == 'F'; }
    // True when the next Descend opens a decimal digit: going deeper then
    // costs at most ten probes. Past the identification number (or with
    // no wildcard left) it costs more.
    bool DescentIsCheap() const;
    // True while a searched position is a wildcard.
    bool Open() const;
    // The field byte (0..3) whose first digit the next Descend opens while
    // the whole byte is still FF; -1 otherwise.
    int FreshFieldByte() const;

private:
    std::vector<std::size_t> Order() const;
    std::size_t NextOpen() const;
    bool InFields(std::size_t at) const;
    bool Whole(std::size_t at) const;
    bool IsOpen(std::size_t at) const;
    int Value(std::size_t at) const;     // -1 for a wildcard
    void Set(std::size_t at, int value);  // -1: the wildcard
    // The value after `after` (-1: the first) that position `at` can take
    // with the rest of the mask as it is; -1 when there is none.
    int NextValue(std::size_t at, int after);
};

// The 51-character slave list entry of a decoded answer.
std::string SlaveListEntry(const MBTelegram& t);

class ScriptRunner {
public:
    explicit ScriptRunner(engine::Channel& channel);
    ~ScriptRunner();
    ScriptRunner(const ScriptRunner&) = delete;
    ScriptRunner& operator=(const ScriptRunner&) = delete;

    // SCRExecute: ignored while a script or search runs or for an empty text.
    void Execute(std::string_view text);
    void Break();
    int32_t Status() const { return step_.load(); }

    void SearchPrimary();
    // Low byte: kind (1 56h, 2 51h, 3 55h, else 52h); bits 16..19: 1
    // fabrication numbers, 2 customer numbers, 4 primary address extension.
    void SearchSecondary(int32_t mode);
    void SearchRange(int32_t mode, std::string_view start, std::string_view end, std::string_view manufacturer,
                     std::string_view generation, std::string_view medium);
    std::string CurrentSearchAddress();
    // The slave list of the last search (decimal form).
    std::string SlaveList() const;

    // Options (puts outside their range are ignored by the callers).
    std::atomic<int32_t> comOpenTrial{600};
    std::atomic<int32_t> makeCallTrial{600};
    std::atomic<int32_t> lineDelay{0};
    std::atomic<int32_t> autoBaudSwitch{0};
    std::atomic<int32_t> noBaudChangeWhileConnected{1};
    std::atomic<int32_t> autoREQUD2on1F{50000};
    std::atomic<int32_t> searchDelay{2000};
    std::atomic<int32_t> searchTimeoutRetries{1};
    std::atomic<int32_t> searchListWithErrors{0};
    // How often a step looks at a running transaction (ms). The hosts' 100;
    // tests of long searches shorten it.
    std::atomic<int32_t> pollPeriod{100};

private:
    bool Start(std::vector<ScriptItem> items);
    void Run();
    int Step();
    int ExecuteItem(ScriptItem& item);
    int Transaction(ScriptItem& item);
    int Connection(ScriptItem& item);
    int Modem(ScriptItem& item);
    // The decision after an internal search item; returns the wait before
    // the next item runs, or -1 to go on as a script does.
    int SearchDecision(const ScriptItem& finished);
    int NextPrimaryAddress();
    int AfterMask();
    // How often a selection or read without a valid answer is repeated at
    // the current mask before the search goes deeper.
    int GarbledRepeats(bool read) const;
    void AddEntry(std::string entry);
    void FinishList();
    void ClearItems();
    bool Sleep(int milliseconds);

    engine::Channel& channel_;

    // Under the script step lock.
    std::vector<ScriptItem> items_;
    int current_ = -1;
    std::atomic<int32_t> step_{0};
    std::atomic<int32_t> breakRequest_{0};
    int waitCounter_ = 0;
    int clockTarget_ = -1;
    int repeatCounter_ = 0;
    int openAttempts_ = 0;
    int modemAttempts_ = 0;
    bool modemCallChecked_ = false;  // the failed call of the current 31 was counted
    bool deferred_ = false;  // the current item runs at the next step without a completion check
    std::shared_ptr<const engine::AnswerSnapshot> consumed_;  // answer whose "more follows" was seen
    int probeCounter_ = 0;
    // Receptions without a valid answer at the current mask or address
    // (bytes that made no frame, or silence after such bytes), each
    // answered by probing or reading the same again.
    int garbledCounter_ = 0;
    // Field bytes being opened digit by digit below a collision: the mask
    // that collided, the byte, and whether any probe below it was heard.
    // One that nobody answered shows slaves that take only FFh as a
    // wildcard in that byte; it is then swept as a whole byte.
    struct DigitTrial {
        std::string parent;
        int byte = 0;
        bool heard = false;
    };
    std::vector<DigitTrial> trials_;
    SearchMask mask_;
    std::string endMask_;
    int extension_ = -1;  // primary-address extension of the search, -1 none
    std::vector<std::string> entries_;

    std::mutex threadMutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace mbus::control
