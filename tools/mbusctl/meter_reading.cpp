#include "tools/mbusctl/meter_reading.h"

#include <cstdio>
#include <cstdlib>

namespace mbus::cli {
namespace {

// Why the telegrams of a read are not the meter's whole readout, or empty
// when they are.
std::string Problem(const std::string& address, const std::vector<std::unique_ptr<MBTelegram>>& telegrams,
                    bool started, bool garbled) {
    const bool secondary = address.size() > 3;
    if (telegrams.empty()) {
        // A garbled selection or read, or a selection that was
        // acknowledged followed by a read without a valid answer:
        // several slaves answered at once.
        if (secondary && (garbled || started))
            return "several slaves answer to " + address +
                   ": give more digits of the secondary address (mbusctl scan lists them)";
        return address + " did not answer";
    }
    const MBTelegram& last = *telegrams.back();
    char id[16];
    std::snprintf(id, sizeof id, "%08X", static_cast<uint32_t>(last.identNumber));
    const std::string meter = secondary ? address : address + " (" + id + ")";
    if (!started)
        return meter + (secondary ? ": the selection was not acknowledged" : ": SND_NKE was not acknowledged") +
               ", so the answer may be an old one; nothing is delivered";
    for (const auto& t : telegrams)
        if (t->identNumber != last.identNumber || t->manufacturer != last.manufacturer ||
            t->version != last.version || t->medium != last.medium)
            return meter + ": the telegrams come from different meters; nothing is delivered";
    if (last.moreRecordsFollow) {
        const std::size_t n = telegrams.size();
        return meter + ": incomplete, " + std::to_string(n) + (n == 1 ? " telegram" : " telegrams") +
               " read, more announced";
    }
    return {};
}

// The answer telegram of a log entry of `readLine` (the line, "|", a time
// stamp of 14 digits, "|", the status bytes: status, decoder, received, C,
// A, CI, then the telegram), or null when the entry is another line's or
// holds no long-frame answer.
std::unique_ptr<MBTelegram> LoggedAnswer(const std::string& entry, const std::string& readLine) {
    if (entry.compare(0, readLine.size(), readLine) != 0 || entry.size() < readLine.size() + 16 + 12) return nullptr;
    const std::string tail = entry.substr(readLine.size() + 16);
    std::vector<uint8_t> bytes;
    for (std::size_t k = 0; k + 1 < tail.size(); k += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(tail.substr(k, 2), nullptr, 16)));
    if (bytes[0] != 3) return nullptr;
    auto t = std::make_unique<MBTelegram>();
    t->InterpretAnswer(3, bytes[3], bytes[4], bytes[5], bytes.data() + 6, static_cast<int>(bytes.size()) - 6);
    return t;
}

}  // namespace

std::string Slave::SecondaryAddress(const ControlClient& c) const {
    char rest[16];
    std::snprintf(rest, sizeof rest, "%02X%02X", version & 0xFF, medium & 0xFF);
    const std::string man = c.Text("ML7CalculateManufacturerAsc", {manufacturer}).value_or("FFFF");
    return id + man + rest;
}

std::vector<Slave> ParseSlaveList(const std::string& text) {
    std::vector<Slave> slaves;
    for (std::size_t at = 0; at + 51 <= text.size(); at += 51) {
        const std::string e = text.substr(at, 51);
        if (e.compare(0, 1, "5") == 0) continue;  // an error entry
        Slave s;
        s.address = std::atoi(e.substr(0, 3).c_str());
        s.id = e.substr(3, 8);
        s.manufacturer = e.substr(11, 3);
        s.version = std::atoi(e.substr(14, 3).c_str());
        s.medium = std::atoi(e.substr(17, 2).c_str());
        slaves.push_back(s);
    }
    return slaves;
}

MeterRead::MeterRead(std::string address)
    : address_(std::move(address)), conversation_(ConversationWith(address_)),
      readLine_("5|" + std::to_string(conversation_.address) + "||") {}

void MeterRead::Start(const ControlClient& c) const {
    c.Put("LOGMaxEntries", 100000);
    c.Call("LOGReset");
    c.Call("SCRExecute", {conversation_.start + readLine_ + "\r\n" + conversation_.end});
}

Readout MeterRead::Collect(const ControlClient& c) const {
    Readout readout;
    bool started = false, garbled = false;
    const int upper = c.Long("LOGUpperBound").value_or(-1);
    for (int i = 0; i <= upper; ++i) {
        const std::string entry = c.Text("LOGRetrieveRawDataHex", {i, 0}).value_or("");
        int result = 0, received = 0;
        if (LogStatusBytes(entry, &result, &received)) {
            // Acknowledged (E5h; with several slaves selected at once,
            // their acknowledgements overlay into one).
            if (entry.compare(0, conversation_.startLine.size(), conversation_.startLine) == 0) started = result != 4;
            // Bytes that came without making a valid answer.
            if ((entry.compare(0, 2, "8|") == 0 || entry.compare(0, 2, "5|") == 0) && result == 4 && received)
                garbled = true;
        }
        if (auto t = LoggedAnswer(entry, readLine_)) readout.telegrams.push_back(std::move(t));
    }
    readout.problem = Problem(address_, readout.telegrams, started, garbled);
    return readout;
}

void MeterRead::Begin(const ControlClient& c) {
    c.Put("LOGMaxEntries", 100000);
    c.Call("LOGReset");
    const std::string& s = conversation_.secondary;
    if (s.empty())
        c.Call("APPSNDNKE", {conversation_.address});
    else
        c.Call("APPSelect", {0, s.substr(0, 8), s.substr(8, 4), s.substr(12, 2), s.substr(14, 2)});
    phase_ = Phase::Start;
    repeats_ = 0;
}

bool MeterRead::Advance(const ControlClient& c) {
    if (phase_ == Phase::Done) return true;
    const int result = c.Long("APPReceiveTest").value_or(4);
    if (result == kTransactionRunning) return false;
    if (phase_ == Phase::Read) {
        // Only a fresh long frame counts: after a fault the last answer is
        // an older one.
        bool more = false;
        if (result == 3 && repeats_ < c.Long("SCRAutoREQUD2on1F").value_or(0)) {
            const int upper = c.Long("LOGUpperBound").value_or(-1);
            const auto t = LoggedAnswer(c.Text("LOGRetrieveRawDataHex", {upper, 0}).value_or(""), readLine_);
            more = t && t->moreRecordsFollow;
        }
        if (!more) {
            phase_ = Phase::Done;
            return true;
        }
        ++repeats_;
    }
    // Whatever the start got, the read follows, as in the script: Collect
    // tells an unacknowledged start from a meter that did not answer.
    phase_ = Phase::Read;
    c.Call("APPREQUD2", {conversation_.address});
    return false;
}

void MeterRead::End(const ControlClient& c) const {
    if (!conversation_.secondary.empty()) c.Call("APPDeSelect");
}

void StartSearch(const ControlClient& c, bool primary) {
    // The log of the search's probes tells how many slaves answered so far.
    c.Put("LOGMaxEntries", 100000);
    c.Call("LOGReset");
    c.Call(primary ? "SCRSlaveSearchPrimary" : "SCRSlaveSearchSecondary",
           primary ? std::vector<ControlArg>{} : std::vector<ControlArg>{0});
}

std::vector<Slave> SearchResult(const ControlClient& c) {
    return ParseSlaveList(c.Text("SCRRetrieveSlaveListDec").value_or(""));
}

bool LogStatusBytes(const std::string& entry, int* result, int* received) {
    // The line itself holds bars; the tail after the last one does not.
    const std::size_t stamp = entry.rfind('|');
    if (stamp == std::string::npos || entry.size() < stamp + 1 + 12) return false;
    const std::string tail = entry.substr(stamp + 1);
    if (tail.find_first_not_of("0123456789ABCDEF") != std::string::npos) return false;
    *result = std::stoi(tail.substr(0, 2), nullptr, 16);
    *received = std::stoi(tail.substr(4, 2), nullptr, 16);
    return true;
}

}  // namespace mbus::cli
