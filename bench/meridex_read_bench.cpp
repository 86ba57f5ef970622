// Wall time of the configuration program's read job on the paced simulated
// bus, from the job's start to the page filled, beside the timeline that
// the line rules, the script step's polling and the window timer give.
//
// The job runs as the program runs it, without widgets: the read script is
// composed by ReadScriptLines (level-converter connection line, address
// type 3), the JobCycle is ticked every 250 ms by a loop that sleeps like
// the window timer, the host calls the real control in-process, and the
// result parser reads the telegram log. "Page filled" is the parse that
// identifies the module and its page; for the Analog module it is the parse
// of its parameter telegram, read by the follow-up job the cycle starts.
// Every repetition starts as a freshly started program does (module kind
// not identified), so the Analog read is always a read and a follow-up.
//
// Timeline, with a character of 11 bit times at the line's rate:
//
//   transmission with an answer:  frame out + max(reply delay + answer in,
//                                 dead time) + byte timeout, then PartWait's
//                                 rest of the answer part (answer part -
//                                 answer in - 1) when that is positive
//   transmission without answer:  frame out + dead time + answer timeout
//   transaction item:             its transmissions, rounded up to the 100 ms
//                                 period at which the script step polls it
//   other script items:           1 ms each (connection, retries, close)
//   job:                          the script, rounded up to the 250 ms tick
//                                 that sees SCRStatus 0
//
// The reply delay is the simulated slaves' (100 bit times); TB, DT, TA and
// TO come from the connection line (byte timeout (TB + 132) bit times + 1
// ms, dead time (DT + 50) bit times, answer timeout TA bit times + TO + 1
// ms, answer part TA bit times + 1 ms, with the FIFO on).
//
// Timer assumption: the window timer is started together with the script
// (StartJob starts it just before SCRExecute), so its phase is not random:
// the end of a script of length S is seen at the first tick at or after S,
// ceil(S / 250) x 250. The column "S+T/2" shows the other model, a timer of
// random phase that adds half a period on average.
//
//   meridex_read_bench [repetitions]   (default 5)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "configurator/devices/result_parser.h"
#include "configurator/shell/connection_lines.h"
#include "bench/meridex_bench_trace.h"
#include "configurator/shell/control.h"
#include "configurator/shell/job_cycle.h"
#include "configurator/shell/read_script.h"
#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "control/line/layer1.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"

namespace {

namespace mx = mbus::meridex;
using mbus::bench::ControlWatch;
using mbus::bench::Exchange;
using mbus::bench::Ms;
using mbus::bench::TracingBus;
using mbus::bench::Field;
using mbus::bench::kStepPollMs;
using mbus::bench::LineRules;
using mbus::bench::Transmission;
using mbus::bench::TimeOf;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kBusName = "read-bench";
// The script step's wait after any item that is no transaction (the
// transactions' period is kStepPollMs).
constexpr double kAtOnceMs = 1;
// A job that has not filled its page by then has failed.
constexpr auto kGiveUp = 30s;


struct Case {
    const char* name;
    const char* bus;  // the bus description line of the module
    const char* primary;
    mx::ModuleKind kind;
    mx::PageType page;
};

// The job cycle's host on the real control: the window timer is a deadline
// that the bench loop sleeps to, the widgets are left out.
class BenchHost final : public mx::JobHost {
public:
    BenchHost(const mx::Control& control, TracingBus& trace, const Case& c, int baudIndex)
        : control_(control), trace_(trace), case_(c), baudIndex_(baudIndex) {}

    void SetCycle(mx::JobCycle* cycle) { cycle_ = cycle; }

    // Composes the read script of the current state and starts it.
    void StartRead(bool followUp) {
        mx::ReadJob job;
        job.connection.communicationType = mx::kSerialCable;
        job.connection.addressType = mx::kPrimaryAddress;
        job.connection.baudIndex = baudIndex_;
        job.connection.port = 1;
        job.primaryAddress = case_.primary;
        job.moduleKind = moduleKind_;
        job.followUp = followUp;
        followUp_ = followUp;
        const std::vector<std::string> lines = mx::ReadScriptLines(job);
        scripts_.push_back(lines);
        trace_.SetJob(static_cast<int>(scripts_.size()) - 1);
        cycle_->StartJob(mx::JoinScript(lines), static_cast<int>(lines.size()));
    }

    bool TimerRunning() const { return timerRunning_; }
    Clock::time_point NextTick() const { return nextTick_; }
    // The tick is due: the timer moves on by one period before it is handled.
    void Ticked() {
        const Clock::time_point now = Clock::now();
        lastTick_ = now;
        lateness_ = std::max(lateness_, Ms(now - nextTick_));
        nextTick_ += std::chrono::milliseconds(timerPeriod_);
        ++ticks_.back();
    }
    // The most a tick came after its due time, and how long the last tick
    // took from its start to the page filled (the parse).
    double Lateness() const { return lateness_; }
    double ParseTime() const { return filled_ ? Ms(*filled_ - lastTick_) : 0.0; }

    const std::vector<std::vector<std::string>>& Scripts() const { return scripts_; }
    const std::vector<Clock::time_point>& JobStarts() const { return jobStarts_; }
    const std::vector<int>& Ticks() const { return ticks_; }
    std::optional<Clock::time_point> Filled() const { return filled_; }
    const std::string& Failure() const { return failure_; }

    // mx::JobHost
    int32_t ScriptStatus() override { return control_.SCRStatus(); }
    void ExecuteScript(const std::string& script) override {
        jobStarts_.push_back(Clock::now());
        ticks_.push_back(0);
        control_.LOGReset();
        control_.SetLOGMaxEntries(100000);
        control_.SCRExecute(script);
    }
    void BreakScript() override {
        control_.SCRBreak();
        while (control_.SCRStatus() != 0) std::this_thread::sleep_for(100ms);
    }
    void BreakScriptNow() override { control_.SCRBreak(); }
    void CloseCom() override { control_.APPCloseCom(); }
    void StartSecondarySearch() override {}
    std::string SearchAddress() override { return control_.SCRSlaveSearchCurAddress(); }
    int32_t ModemStatus() override { return control_.TELStatus(); }
    void StartTimer(int periodMs) override {
        timerPeriod_ = periodMs;
        timerRunning_ = true;
        nextTick_ = Clock::now() + std::chrono::milliseconds(periodMs);
    }
    void StopTimer() override { timerRunning_ = false; }
    void SetProgressRange(int) override {}
    void SetProgress(int) override {}
    void StepProgress() override {}
    void ResetProgress() override {}
    void EnableControls(bool) override {}
    void ShowStatus(int, const std::string&) override {}
    bool ParseResults(bool* followUp, std::string*) override {
        const std::optional<std::string> line =
            mx::FindAnswerLine([this](int i) { return control_.LOGRetrieveCookedDataHex2(i, i); });
        if (!line) {
            failure_ = "no answer to the read request in the log";
            return false;
        }
        const std::optional<mx::Readout> r = mx::ParseAnswerLine(*line, followUp_);
        if (!r) {
            failure_ = "answer not identified: " + *line;
            return false;
        }
        moduleKind_ = r->kind;
        *followUp = r->followUp;
        if (r->kind != case_.kind || r->page != case_.page) {
            failure_ = "wrong module kind or page: " + *line;
            return false;
        }
        const bool parameterTelegram =
            !r->records.empty() && r->records.front().descriptor == mx::kParameterSetDescriptor;
        if (case_.kind != mx::kModuleAnalog || (followUp_ && parameterTelegram)) filled_ = Clock::now();
        return true;
    }
    void RefreshControlPage() override {}
    void RunFollowUpRead() override { StartRead(true); }
    void ShowPhoneConnected(bool) override {}

private:
    const mx::Control& control_;
    TracingBus& trace_;
    const Case& case_;
    const int baudIndex_;
    mx::JobCycle* cycle_ = nullptr;
    int moduleKind_ = mx::kModuleUnknown;
    bool followUp_ = false;
    bool timerRunning_ = false;
    int timerPeriod_ = mx::kReadTimerMs;
    Clock::time_point nextTick_{};
    Clock::time_point lastTick_{};
    double lateness_ = 0;
    std::vector<std::vector<std::string>> scripts_;
    std::vector<Clock::time_point> jobStarts_;
    std::vector<int> ticks_;  // ticks seen per job
    std::optional<Clock::time_point> filled_;
    std::string failure_;
};



LineRules RulesOf(int baudIndex) {
    const std::string p = mx::LevelConverterParameters(baudIndex);
    return mbus::bench::RulesFor(mx::BaudOfIndex(baudIndex), Field(p, "TA", 330), Field(p, "TO", 50),
                                 Field(p, "TB", 1), Field(p, "DT", 11), Field(p, "FF", 1));
}


std::string FrameName(const std::vector<uint8_t>& frame) {
    std::string name = mbus::sim::DescribeRequest(frame);
    // A long frame: its CI and user data, as the script line wrote them.
    if (frame.size() > 8 && frame[0] == 0x68) {
        name += ",";
        for (std::size_t i = 6; i + 2 < frame.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, " %02X", frame[i]);
            name += byte;
        }
    }
    return name;
}

int Command(const std::string& line) { return std::atoi(line.c_str()); }

struct JobTimeline {
    double script = 0;  // ms
    int ticks = 0;
};

struct Timeline {
    std::vector<JobTimeline> jobs;
    double ms = 0;      // with the ticks at fixed phase
    double meanMs = 0;  // with half a period per job
    std::vector<double> transactions;  // ms, in order
    std::vector<std::string> report;
};

Timeline TimelineOf(const std::vector<Exchange>& ex, const std::vector<std::vector<std::string>>& scripts,
                    const LineRules& r) {
    Timeline tl;
    char text[300];
    for (std::size_t job = 0; job < scripts.size(); ++job) {
        JobTimeline jt;
        int transactions = 0;
        std::size_t i = 0;
        while (i < ex.size() && ex[i].job != static_cast<int>(job)) ++i;
        while (i < ex.size() && ex[i].job == static_cast<int>(job)) {
            // A transaction: the transmission and its repetitions while no valid answer came.
            const std::vector<uint8_t>& frame = ex[i].frame;
            double item = 0;
            bool valid = false;
            bool first = true;
            while (i < ex.size() && ex[i].job == static_cast<int>(job) && ex[i].frame == frame && !valid) {
                const Transmission t = TimeOf(ex[i], r);
                const std::string name = first ? FrameName(frame) : "  (again)";
                std::snprintf(text, sizeof text, "    %-38s %s = %6.1f ms", name.c_str(), t.parts.c_str(), t.ms);
                tl.report.push_back(text);
                item += t.ms;
                valid = ex[i].answerBytes > 0 && !ex[i].garbled;
                first = false;
                ++i;
            }
            tl.transactions.push_back(item);
            const double step = mbus::bench::Stepped(item);
            std::snprintf(text, sizeof text, "    %-38s transaction %6.1f ms -> script step %4.0f ms", "", item, step);
            tl.report.push_back(text);
            jt.script += step;
            ++transactions;
        }
        // The script's other items: each is done at once (1 ms wait).
        int others = 0;
        for (const std::string& line : scripts[job]) {
            const int c = Command(line);
            if (c == 0 || c == 1 || c == 2 || c == 16) ++others;
        }
        jt.script += others * kAtOnceMs;
        jt.ticks = static_cast<int>(std::ceil(jt.script / mx::kReadTimerMs));
        std::snprintf(text, sizeof text,
                      "    job %zu: %d transaction(s), %d other item(s) x 1 ms: script %.0f ms"
                      " -> seen at tick %d = %d ms",
                      job + 1, transactions, others, jt.script, jt.ticks, jt.ticks * mx::kReadTimerMs);
        tl.report.push_back(text);
        tl.ms += jt.ticks * mx::kReadTimerMs;
        tl.meanMs += jt.script + mx::kReadTimerMs / 2.0;
        tl.jobs.push_back(jt);
    }
    return tl;
}

struct Result {
    double wall = 0;
    std::vector<double> scripts;  // measured script times per job
    std::vector<double> transactions;  // measured transaction times, in order
    std::vector<int> ticks;
    double lateness = 0;   // the most a tick came after its due time (ms)
    double parse = 0;      // the last tick, from its start to the page filled (ms)
    Timeline timeline;
    std::vector<std::vector<std::string>> scriptLines;
};

std::optional<Result> ReadOnce(const mx::Control& control, TracingBus& trace, ControlWatch& watch, const Case& c,
                               int baudIndex, std::string* why) {
    trace.Take();
    watch.Clear();
    BenchHost host(control, trace, c, baudIndex);
    mx::JobCycle cycle(host);
    host.SetCycle(&cycle);

    const Clock::time_point start = Clock::now();
    host.StartRead(false);
    while (host.TimerRunning() && Clock::now() - start < kGiveUp) {
        std::this_thread::sleep_until(host.NextTick());
        host.Ticked();
        cycle.Tick();
    }
    if (!host.Filled()) {
        *why = host.Failure().empty() ? "the page was not filled" : host.Failure();
        if (cycle.ScriptRunning()) {
            control.SCRBreak();
            while (control.SCRStatus() != 0) std::this_thread::sleep_for(100ms);
            control.APPCloseCom();
        }
        return std::nullopt;
    }
    Result r;
    r.wall = Ms(*host.Filled() - start);
    const std::vector<Clock::time_point> ends = watch.ScriptEnds();
    r.transactions = watch.Transactions();
    const std::vector<Clock::time_point>& starts = host.JobStarts();
    for (std::size_t j = 0; j < starts.size(); ++j)
        r.scripts.push_back(j < ends.size() ? Ms(ends[j] - starts[j]) : -1.0);
    r.ticks = host.Ticks();
    r.lateness = host.Lateness();
    r.parse = host.ParseTime();
    r.scriptLines = host.Scripts();
    r.timeline = TimelineOf(trace.Take(), r.scriptLines, RulesOf(baudIndex));
    return r;
}

struct Row {
    std::string name;
    int baud = 0;
    double mean = 0, min = 0, max = 0;
    double timeline = 0, meanModel = 0;
    bool ok = false;
};

Row RunCase(const mx::Control& control, const Case& c, int baudIndex, int repetitions) {
    Row row;
    row.name = c.name;
    row.baud = mx::BaudOfIndex(baudIndex);

    auto bus = std::make_shared<mbus::sim::SimBus>();
    bus->SetDefaultBaud(row.baud);
    bus->SetPaced(true);
    mbus::sim::VirtualSlave slave;
    std::vector<std::string> errors;
    if (!mbus::sim::ParseSlave(c.bus, &slave, errors)) {
        std::printf("%s: bus description refused: %s\n", c.name, errors.empty() ? "" : errors.front().c_str());
        return row;
    }
    bus->AddSlave(std::move(slave));
    auto trace = std::make_shared<TracingBus>(bus);
    mbus::serial::RegisterSimulatedBus(kBusName, trace);

    std::vector<Result> results;
    {
        ControlWatch watch(control);
        for (int i = 0; i < repetitions; ++i) {
            std::string why;
            std::optional<Result> r = ReadOnce(control, *trace, watch, c, baudIndex, &why);
            if (!r) {
                std::printf("%s at %d baud, repetition %d: FAILED: %s\n", c.name, row.baud, i + 1, why.c_str());
                break;
            }
            results.push_back(std::move(*r));
        }
    }
    mbus::serial::UnregisterSimulatedBus(kBusName);
    if (results.empty()) return row;

    const LineRules rules = RulesOf(baudIndex);
    std::printf("\n%s at %d baud (char %.2f ms, reply delay %.1f ms, DT %d ms, byte timeout %d ms, answer part %d ms, "
                "answer timeout %d ms)\n",
                c.name, row.baud, rules.character, rules.reply, rules.t.deadTime, rules.t.byteTimeout,
                rules.t.answerPart, rules.t.answerTimeout);
    const Result& first = results.front();
    for (std::size_t j = 0; j < first.scriptLines.size(); ++j) {
        std::printf("  job %zu script:", j + 1);
        for (const std::string& line : first.scriptLines[j]) std::printf(" [%s]", line.c_str());
        std::printf("\n");
    }
    for (const std::string& line : first.timeline.report) std::printf("%s\n", line.c_str());
    // Measured per repetition: each job's script time and the tick that saw its end.
    for (std::size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        std::printf("  run %zu: wall %.1f ms (ticks up to %.1f ms late, last tick to page %.1f ms);", i + 1, r.wall,
                    r.lateness, r.parse);
        for (std::size_t j = 0; j < r.scripts.size(); ++j)
            std::printf(" job %zu script %.1f ms (timeline %.0f), seen at tick %d (timeline %d);", j + 1, r.scripts[j],
                        j < r.timeline.jobs.size() ? r.timeline.jobs[j].script : 0.0, r.ticks[j],
                        j < r.timeline.jobs.size() ? r.timeline.jobs[j].ticks : 0);
        if (r.timeline.ms != first.timeline.ms) std::printf(" timeline %.0f ms differs from run 1", r.timeline.ms);
        std::printf("\n         transactions (measured / timeline ms):");
        for (std::size_t k = 0; k < std::max(r.transactions.size(), r.timeline.transactions.size()); ++k) {
            if (k < r.transactions.size()) std::printf(" %.0f", r.transactions[k]);
            else std::printf(" -");
            if (k < r.timeline.transactions.size()) std::printf(" / %.1f;", r.timeline.transactions[k]);
            else std::printf(" / -;");
        }
        std::printf("\n");
    }

    row.min = row.max = first.wall;
    double sum = 0;
    for (const Result& r : results) {
        sum += r.wall;
        row.min = std::min(row.min, r.wall);
        row.max = std::max(row.max, r.wall);
    }
    row.mean = sum / static_cast<double>(results.size());
    row.timeline = first.timeline.ms;
    row.meanModel = first.timeline.meanMs;
    row.ok = static_cast<int>(results.size()) == repetitions;
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto created = mbus::bench::ControlOnSimulatedBus("meridex_read_bench", kBusName);
    if (!created) return 1;
    const mx::Control& control = created->control;

    const Case cases[] = {
        {"Pulse (one input)",
         "module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1 "
         "medium2=1F",
         "1", mx::kModulePulse, mx::kPagePulseInput1},
        {"Control", "module=control man=VND primary=2 firmware=12 id=22334455 p1=1 p2=0 r1logic=2 r1fail=2 r2=1", "2",
         mx::kModuleControl, mx::kPageControl},
        {"Analog (+ follow-up)",
         "module=analog man=VND primary=3 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B "
         "a2=1/1/0 temp=21.5 sensor=pt1000 minmax=a1 current=12000",
         "3", mx::kModuleAnalog, mx::kPageAnalog},
    };
    std::printf("meridex_read_bench: read jobs at primary address via the level converter, %d repetition(s) each, "
                "timer %d ms, script step poll %.0f ms\n",
                repetitions, mx::kReadTimerMs, kStepPollMs);
    std::vector<Row> rows;
    for (const Case& c : cases)
        for (int baudIndex : {1, 2}) rows.push_back(RunCase(control, c, baudIndex, repetitions));

    std::printf("\n%-22s %6s %28s %10s %8s %10s\n", "case", "baud", "wall ms mean (min..max)", "timeline",
                "diff", "S+T/2");
    int status = 0;
    for (const Row& r : rows) {
        if (!r.ok) {
            std::printf("%-22s %6d %28s\n", r.name.c_str(), r.baud, "FAILED");
            status = 1;
            continue;
        }
        char wall[64];
        std::snprintf(wall, sizeof wall, "%.1f (%.1f..%.1f)", r.mean, r.min, r.max);
        std::printf("%-22s %6d %28s %10.0f %+7.1f%% %10.0f\n", r.name.c_str(), r.baud, wall, r.timeline,
                    100.0 * (r.mean - r.timeline) / r.timeline, r.meanModel);
    }
    return status;
}
