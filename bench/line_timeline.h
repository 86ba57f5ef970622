// The line timeline the benchmarks hold their measurements against: what
// the line rules allow for each transmission, from the frames that really
// went over a simulated line.
//
// A bus wrapper records every frame the master sends with what came back
// (its length, whether it was garbled, and when its last byte arrived), and
// TimeOf gives the time a transmission takes by the rules, with a character
// of 11 bit times at the line's rate:
//
//   with an answer:     frame out + max(reply delay + answer in, dead time)
//                       + byte timeout, then PartWait's rest of the answer
//                       part (answer part - answer in - 1) when positive;
//                       without the byte timeout when the line ends an
//                       answer at the end of a whole frame (COMEndAtFrame)
//                       and the answer is one (5 bytes or more, ungarbled)
//   without an answer:  frame out + dead time + answer timeout
//
// The reply delay is the simulated slaves' (100 bit times unless set); the
// byte timeout, dead time, answer timeout and answer part come from the
// channel's TA, TO, TB, DT and FIFO setting (mbus::line::DeriveTimings).

#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "control/line/layer1.h"
#include "platform/serial/simulated_port.h"
#include "sim/sim_bus.h"

namespace mbus::bench {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// What went over the line: each master frame, what came back, and the job
// (or phase) it belongs to.
struct Exchange {
    int job = 0;
    std::vector<uint8_t> frame;
    std::size_t answerBytes = 0;
    bool garbled = false;  // bytes with framing or parity marks
    Clock::time_point sent{};       // the frame's last byte left the master
    Clock::time_point answerEnd{};  // the answer's last byte reached the master (with an answer)
};

class TracingBus final : public mbus::serial::LineDevice {
public:
    explicit TracingBus(std::shared_ptr<mbus::sim::SimBus> bus) : bus_(std::move(bus)) {}
    bool Paced() const override { return bus_->Paced(); }
    std::vector<mbus::serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes,
                                                      mbus::serial::SimClock::time_point end,
                                                      const mbus::serial::SerialConfig& line) override {
        std::vector<mbus::serial::WireByte> answer = bus_->OnMasterBytes(bytes, end, line);
        Exchange e;
        e.job = job_.load();
        e.frame = bytes;
        e.answerBytes = answer.size();
        e.garbled = std::any_of(answer.begin(), answer.end(), [](const auto& b) { return b.framing || b.parity; });
        e.sent = end;
        // The simulated line hands back every byte with its arrival time:
        // the last one's is when the slave's answer was complete.
        if (!answer.empty()) e.answerEnd = answer.back().at;
        std::lock_guard lock(mutex_);
        exchanges_.push_back(std::move(e));
        return answer;
    }
    void SetJob(int job) { job_.store(job); }
    std::vector<Exchange> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(exchanges_, {});
    }

private:
    std::shared_ptr<mbus::sim::SimBus> bus_;
    std::atomic<int> job_{0};
    std::mutex mutex_;
    std::vector<Exchange> exchanges_;
};

// The control's script step looks at a running transaction this often
// (its hosts' default), so a transaction of a script takes a whole number
// of periods.
inline constexpr double kStepPollMs = 100;
inline double Stepped(double ms) { return std::ceil(ms / kStepPollMs) * kStepPollMs; }

// The line settings a channel works with.
struct LineRules {
    int baud = 0;
    double character = 0;  // ms
    double reply = 0;      // ms
    bool endAtFrame = false;
    mbus::line::LineTimings t;
};

inline LineRules RulesFor(int baud, int TA, int TO, int TB, int DT, int fifo,
                          int replyDelayBits = mbus::sim::SimBus::kDefaultReplyDelayBits) {
    LineRules r;
    r.baud = baud;
    r.character = 11 * 1000.0 / baud;
    r.reply = replyDelayBits * 1000.0 / baud;
    r.t = mbus::line::DeriveTimings(baud, TA, TO, TB, DT, fifo, mbus::line::kPlatformKind);
    return r;
}

// A field "KEY=N" of a connection line's parameter string.
inline int Field(const std::string& parameters, const std::string& key, int otherwise) {
    const std::size_t at = parameters.find("," + key + "=");
    return at == std::string::npos ? otherwise : std::atoi(parameters.c_str() + at + key.size() + 2);
}

// One transmission by the line rules, with its parts for the report.
struct Transmission {
    double ms = 0;
    std::string parts;
};

inline Transmission TimeOf(const Exchange& e, const LineRules& r) {
    char text[200];
    const double out = static_cast<double>(e.frame.size()) * r.character;
    Transmission t;
    if (e.answerBytes == 0) {
        t.ms = out + r.t.deadTime + r.t.answerTimeout;
        std::snprintf(text, sizeof text, "%2zu B out %5.1f + DT %d + no answer %d", e.frame.size(), out, r.t.deadTime,
                      r.t.answerTimeout);
    } else {
        const double in = static_cast<double>(e.answerBytes) * r.character;
        const double wait = std::max(r.reply + in, static_cast<double>(r.t.deadTime));
        const double rest = e.garbled ? 0.0 : std::max(0.0, r.t.answerPart - std::trunc(in) - 1);
        const int byteTimeout = r.endAtFrame && !e.garbled && e.answerBytes >= 5 ? 0 : r.t.byteTimeout;
        t.ms = out + wait + byteTimeout + rest;
        std::snprintf(text, sizeof text, "%2zu B out %5.1f + reply %4.1f + %3zu B in %5.1f%s + TB %d + PartWait %3.0f",
                      e.frame.size(), out, r.reply, e.answerBytes, in, e.garbled ? " (collision)" : "",
                      byteTimeout, rest);
    }
    t.parts = text;
    return t;
}

}  // namespace mbus::bench
