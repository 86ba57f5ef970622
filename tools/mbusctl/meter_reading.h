// One meter's read and the slave search as scripts of the control, split
// into starting them and collecting what they gave, so that a program that
// serves several channels from one thread (the bridge) can run them side by
// side, and mbusctl can wait for each in turn. Everything acts on the
// control's current channel at the moment of the call.

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "control/decode/telegram.h"
#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/line_options.h"

namespace mbus::cli {

// What one read of a meter gave: its telegrams in the order read, and
// why they are not the meter's whole, fresh readout ("9 did not answer",
// "9 (12349999): incomplete, 1 telegram read, more announced"); an empty
// problem means they are. Only a readout without a problem is delivered.
struct Readout {
    std::vector<std::unique_ptr<MBTelegram>> telegrams;
    std::string problem;
};

// A slave of the search's list.
struct Slave {
    int address = 0;
    std::string id, manufacturer;
    int version = 0, medium = 0;
    // The 16 hexadecimal digits that a read takes.
    std::string SecondaryAddress(const ControlClient& c) const;
};

// The list text of SCRRetrieveSlaveListDec (51 characters an entry; error
// entries are left out).
std::vector<Slave> ParseSlaveList(const std::string& text);

// A read of the meter at `address` (checked by CheckMeterAddress): SND_NKE
// or the selection starts its conversation afresh (see ConversationWith),
// then REQ_UD2 runs as long as the answers announce more data.
class MeterRead {
public:
    explicit MeterRead(std::string address);
    const std::string& Address() const { return address_; }

    // Clears the channel's log and starts the script; the control runs it
    // on the channel's own threads (SCRStatus is nonzero until it ends).
    void Start(const ControlClient& c) const;
    // After the script ended: the telegrams from the channel's log. The
    // readout is whole only when the start was acknowledged and the last
    // telegram announces no more, all of them from the same meter; else
    // `problem` says why not.
    Readout Collect(const ControlClient& c) const;

    // The same conversation as single transactions that the caller drives,
    // so that one who looks often follows the line at its own pace rather
    // than at the script step's. Begin clears the log and posts SND_NKE or
    // the selection; Advance, called until it gives true, posts each next
    // request once the running one has ended: REQ_UD2, again as long as the
    // answer announces more data (up to SCRAutoREQUD2on1F times, as a
    // script does). The log then holds what Collect reads, in the same
    // shape as after Start. End posts the deselection where there is one;
    // the channel is free again when APPReceiveTest is no longer 255.
    void Begin(const ControlClient& c);
    bool Advance(const ControlClient& c);
    void End(const ControlClient& c) const;

private:
    enum class Phase { Start, Read, Done };
    std::string address_;
    MeterConversation conversation_;
    std::string readLine_;
    Phase phase_ = Phase::Done;
    int repeats_ = 0;
};

// APPReceiveTest while a transaction runs.
constexpr int kTransactionRunning = 255;

// Starts the slave search on the channel (its log cleared, so that the
// probes can be counted); SCRStatus is nonzero until it ends.
void StartSearch(const ControlClient& c, bool primary);
// After the search: the slaves found.
std::vector<Slave> SearchResult(const ControlClient& c);

// The status bytes of a raw log entry (after its line and time stamp):
// the reception result and the received-something flag.
bool LogStatusBytes(const std::string& entry, int* result, int* received);

// Calls `each(entry, result, received)` for the log entries from `first`
// up to `end` (not included) that carry the status bytes.
template <typename Each>
void WalkLog(const ControlClient& c, int first, int end, Each each) {
    for (int i = first; i < end; ++i) {
        const std::string entry = c.Text("LOGRetrieveRawDataHex", {i, 0}).value_or("");
        int result = 0, received = 0;
        if (LogStatusBytes(entry, &result, &received)) each(entry, result, received);
    }
}

}  // namespace mbus::cli
