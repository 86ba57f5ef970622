// A soak of REQ_UD2 read-outs through the channel engine and the link
// layer on noisy lines: simulated slaves answer, and each answer is, with a
// seeded probability, harmed in one of four ways at a seeded position: a
// byte lost, the bits of a byte inverted, a byte inserted, or the answer
// cut short. Every transaction is checked against what the slave really
// sent, and the outcome is counted.
//
// Why "accepted with other content" can be counted as an error at all: a
// long frame carries both L fields and a checksum over C, A, CI and the
// data. One changed byte always changes that sum (or an L field, a start
// or the stop byte); one byte lost or inserted changes the count that the
// L fields promise; a cut answer is too short. Two harms could cancel, so
// each answer gets at most one. What remains is the first byte: a frame
// whose 68h is lost, changed or preceded by another byte is classified by
// whatever byte comes first, and wrappers (14h, 15h, 16h) take their
// payload from further inside the frame. The slaves below are chosen so
// that no byte a wrapper can reach (L, C/A, the identification number, the
// manufacturer's low byte) starts a complete answer, so such receptions
// must end as faults too; a slave list or an escape answer is no answer to
// a REQ_UD2. Under those conditions any accepted answer that differs from
// the slave's is a fault of the master.

#pragma once

#include <algorithm>
#include <atomic>
#include <iterator>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control/engine/channel.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/support/sim_ports.h"

namespace mbus::testsupport {

enum class Harm { kNone, kDrop, kFlip, kInsert, kCut };

// One answer as the slaves sent it, and whether the line harmed it.
struct HeardAnswer {
    std::vector<uint8_t> clean;
    Harm harm = Harm::kNone;
};

// First bytes that begin another kind of answer than a long frame.
inline constexpr uint8_t kOtherStarts[] = {0xE5, 0x10, 0x68, 0xD8, 0xA2, 0x16, 0x14, 0x15, 0x1B,
                                           0x20, 0x01, 0x02, 0x04, 0x06, 0x13, 0x18, 0x43};

// A line in front of a simulated bus that harms answers at random.
class NoisyLine final : public serial::LineDevice {
public:
    NoisyLine(std::shared_ptr<sim::SimBus> bus, double probability, uint32_t seed)
        : bus_(std::move(bus)), probability_(probability), random_(seed) {}

    bool Paced() const override { return bus_->Paced(); }
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override {
        std::vector<serial::WireByte> answer = bus_->OnMasterBytes(bytes, end, line);
        std::lock_guard lock(mutex_);
        HeardAnswer heard;
        for (const serial::WireByte& w : answer) heard.clean.push_back(w.value);
        const std::size_t n = answer.size();
        if (n >= 2 && Draw() < probability_) {
            heard.harm = static_cast<Harm>(1 + random_() % 4);
            // A quarter of the harms hit the first byte, which decides how
            // the reception is classified; half of the bytes put there are
            // first bytes of other kinds of answer.
            const bool first = random_() % 4 == 0;
            const bool meaningful = random_() % 2 == 0;
            const uint8_t other = kOtherStarts[random_() % std::size(kOtherStarts)];
            const std::size_t at = first ? 0 : random_() % n;
            switch (heard.harm) {
                case Harm::kDrop: answer.erase(answer.begin() + static_cast<std::ptrdiff_t>(at)); break;
                case Harm::kFlip: {
                    uint8_t mask = static_cast<uint8_t>(1 + random_() % 255);
                    if (first && meaningful && other != answer[0].value) mask = answer[0].value ^ other;
                    answer[at].value ^= mask;
                    break;
                }
                case Harm::kInsert: {
                    const std::size_t where = first ? 0 : random_() % (n + 1);
                    serial::WireByte extra = answer[std::min(where, n - 1)];
                    extra.value = meaningful ? other : static_cast<uint8_t>(random_());
                    answer.insert(answer.begin() + static_cast<std::ptrdiff_t>(where), extra);
                    break;
                }
                case Harm::kCut: answer.resize(1 + random_() % (n - 1)); break;  // 1 to n - 1 bytes stay
                case Harm::kNone: break;
            }
        }
        heard_.push_back(std::move(heard));
        return answer;
    }

    // The answers since the last call (one per master frame).
    std::vector<HeardAnswer> Take() {
        std::lock_guard lock(mutex_);
        std::vector<HeardAnswer> out;
        out.swap(heard_);
        return out;
    }

private:
    double Draw() { return static_cast<double>(random_()) / 4294967296.0; }

    std::shared_ptr<sim::SimBus> bus_;
    const double probability_;
    std::mutex mutex_;
    std::mt19937 random_;
    std::vector<HeardAnswer> heard_;
};

struct SoakSettings {
    int transactions = 2000;
    uint32_t seed = 1;
    double probability = 0.3;
    int channels = 4;  // parallel lines, one channel each (at most four)
    int retries = 3;
};

struct SoakFigures {
    int transactions = 0;
    int firstAttempt = 0;           // accepted at the first attempt
    int repeated = 0;               // accepted after one or more repetitions
    int failed = 0;                 // ended with a fault after every attempt
    int failedAllHarmed = 0;        // of those: every answer was harmed
    int harmedAnswers = 0;          // answers the line harmed
    int harms[5] = {};              // by kind
    int wrongAccepted = 0;          // accepted although harmed, or other than the slave's answer
    int wrongFailure = 0;           // a failure reported otherwise than as a fault, or too early
    int unfinished = 0;             // transactions that did not end in time
    std::set<uint8_t> lFields;      // of the slaves' answers
    double seconds = 0;
    std::string firstProblem;       // what went wrong first, for the report
};

// Slaves whose answers keep every byte that a wrapper can reach harmless
// (see the top of this file): A 1 to 3, identification bytes 11h, 22h,
// 33h, manufacturer low bytes 01h, 02h, 57h, and the L fields 20h (the
// start of a slave list) and 1Bh (an escape) that a frame which lost its
// 68h begins with, and 19h.
inline const char* const kSoakSlaves[] = {
    "primary=1 id=11111111 man=QXA version=01 medium=07 records=0413D20400000C067856341202FD170000",
    "primary=2 id=22222222 man=QXB version=14 medium=04 records=0413D20400000C0678563412",
    "primary=3 id=33333333 man=ZZW version=02 medium=02 records=0403E80300000259C409",
};

namespace soak_detail {

struct Line {
    std::shared_ptr<sim::SimBus> bus = std::make_shared<sim::SimBus>();
    std::shared_ptr<NoisyLine> noisy;
    std::unique_ptr<engine::Channel> channel;
    int address = 0;
    std::size_t started = 0;
};

}  // namespace soak_detail

// Runs the soak; the figures say what happened.
inline SoakFigures RunSoak(const SoakSettings& settings) {
    using namespace std::chrono;
    SoakFigures f;
    SimulatedPortMap ports("soak");
    std::vector<soak_detail::Line> lines(static_cast<std::size_t>(std::clamp(settings.channels, 1, 4)));
    auto problem = [&](const std::string& what) {
        if (f.firstProblem.empty()) f.firstProblem = what;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        soak_detail::Line& l = lines[i];
        l.bus->SetDefaultBaud(38400);
        l.bus->SetPaced(false);
        // Past the dead time however late the send thread looks at the line.
        l.bus->SetReplyDelay(milliseconds(3));
        std::vector<std::string> errors;
        for (const char* description : kSoakSlaves) {
            sim::VirtualSlave slave;
            if (!sim::ParseSlave(description, &slave, errors)) {
                problem("slave description: " + (errors.empty() ? std::string() : errors.front()));
                return f;
            }
            l.bus->AddSlave(std::move(slave));
        }
        l.noisy = std::make_shared<NoisyLine>(l.bus, settings.probability,
                                              settings.seed * 7919u + static_cast<uint32_t>(i));
        const int port = static_cast<int>(i) + 1;
        ports.Attach(port, l.noisy);
        l.channel = std::make_unique<engine::Channel>(static_cast<int>(i));
        l.channel->UpdateParameters([&](engine::ConnectionParameters& p) {
            p.port = port;
            p.baud = 38400;
            p.TA = 330;
            p.TO = 20;
            p.TB = 4;
            p.DT = 0;
            p.fifo = 0;
            p.waitMode = 0;
            p.retries = settings.retries;
        });
        if (l.channel->Open() != 0) {
            problem("port " + std::to_string(port) + " did not open");
            return f;
        }
    }
    const auto start = steady_clock::now();
    int posted = 0;
    // Checks a transaction that has ended on line `l`.
    auto check = [&](soak_detail::Line& l) {
        const int result = l.channel->TransactionResult();
        const std::vector<HeardAnswer> heard = l.noisy->Take();
        ++f.transactions;
        for (const HeardAnswer& h : heard) {
            if (h.clean.size() > 1) f.lFields.insert(h.clean[1]);
            if (h.harm != Harm::kNone) {
                ++f.harmedAnswers;
                ++f.harms[static_cast<int>(h.harm)];
            }
        }
        const std::string where = "transaction " + std::to_string(f.transactions) + " (address " +
                                  std::to_string(l.address) + ", " + std::to_string(heard.size()) + " attempt(s))";
        if (result == link::kRecFault) {
            ++f.failed;
            if (static_cast<int>(heard.size()) != settings.retries) {
                ++f.wrongFailure;
                problem(where + ": failed before the retries were used up");
            }
            bool allHarmed = !heard.empty();
            for (const HeardAnswer& h : heard) allHarmed = allHarmed && h.harm != Harm::kNone;
            if (allHarmed) ++f.failedAllHarmed;
            return;
        }
        const auto answer = l.channel->Answer();
        const bool clean = !heard.empty() && heard.back().harm == Harm::kNone;
        if (result != link::kRecLong || !clean || answer->bytes != heard.back().clean ||
            answer->A != l.address) {
            ++f.wrongAccepted;
            problem(where + ": result " + std::to_string(result) + " accepted" +
                    (clean ? "" : " from a harmed answer"));
            return;
        }
        if (heard.size() == 1)
            ++f.firstAttempt;
        else
            ++f.repeated;
    };
    // Every line runs one transaction at a time; the lines run side by side.
    while (f.transactions + f.unfinished < settings.transactions) {
        for (soak_detail::Line& l : lines) {
            if (posted >= settings.transactions) break;
            l.address = 1 + posted % 3;
            l.noisy->Take();
            l.channel->RequestShort(engine::kRequestREQUD2, l.address);
            l.started = 1;
            ++posted;
        }
        for (soak_detail::Line& l : lines) {
            if (!l.started) continue;
            l.started = 0;
            const auto until = steady_clock::now() + seconds(20);
            while (l.channel->TransactionResult() == engine::kTransactionRunning && steady_clock::now() < until)
                std::this_thread::sleep_for(microseconds(200));
            if (l.channel->TransactionResult() == engine::kTransactionRunning) {
                ++f.unfinished;
                problem("a transaction did not end within 20 s");
                l.channel->Break();
                continue;
            }
            check(l);
        }
        if (f.unfinished > 0) break;
    }
    f.seconds = duration<double>(steady_clock::now() - start).count();
    return f;
}

}  // namespace mbus::testsupport
