// Wall time of the configuration program's device search on the paced
// simulated bus, from the button to the list shown, beside the timeline
// that the line rules, the search's retries and delays, the script step's
// polling and the window timer give.
//
// The search runs as the program runs it, without widgets: the search
// script is composed by DeviceSearchLines (serial cable, the baud index of
// the run), started by JobCycle::StartSearch with its 1000 ms timer; the
// tick that sees the script ended calls the host's StartSecondarySearch
// (SCRSlaveSearchTimeoutRetries 3, SCRSlaveSearchSecondarySpecial with
// DeviceSearchCall(0)) and restarts the timer; the tick that sees the
// search ended parses SCRRetrieveSlaveListHex into the device list
// (DeviceList::AppendSlaveList). "List shown" is that parse done. The bus
// holds the maker's six modules (three under each maker code), three other
// meters and the level converter; the list must hold the three VND modules.
//
// Timeline, with a character of 11 bit times at the line's rate:
//
//   transmission with an answer:  frame out + max(reply delay + answer in,
//                                 dead time) + byte timeout, then PartWait's
//                                 rest of the answer part (answer part -
//                                 answer in - 1) when the answer is clean
//   transmission without answer:  frame out + dead time + answer timeout
//   transaction:                  its transmissions (up to COMRetries while
//                                 none gets a valid answer; the search
//                                 script sets COMRetries 1)
//   script and search item:       the transaction rounded up to the 100 ms
//                                 period at which the script step polls it,
//                                 plus SCRSlaveSearchDelay after a collision;
//                                 an empty mask is probed
//                                 SCRSlaveSearchTimeoutRetries times
//   other script items:           1 ms each (connection, retries, close)
//
// The reply delay is the simulated slaves' (100 bit times); TB, DT, TA and
// TO come from the searching converter's port line.
//
// Timer assumption: the timer is started together with the search script
// (StartSearch starts it just before SCRExecute), and the tick that starts
// the search restarts it right after SCRSlaveSearchSecondarySpecial (as a
// restarted window timer counts its period from then). Both phases are
// therefore fixed: the script of length S0 is seen at ceil(S0 / 1000) x
// 1000, the search of length S1 at ceil(S1 / 1000) x 1000 after its start,
// and the list is parsed in that tick (its time is taken as nil).
//
//   meridex_search_bench [repetitions]   (default 1; one search takes about a minute)

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

#include "configurator/devices/device_list.h"
#include "configurator/devices/device_search.h"
#include "configurator/shell/connection_lines.h"
#include "bench/meridex_bench_trace.h"
#include "configurator/shell/control.h"
#include "configurator/shell/job_cycle.h"
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

constexpr const char* kBusName = "meridex-search-bench";
// The script step's wait after any item that is no transaction (the
// transactions' period is kStepPollMs).
constexpr double kAtOnceMs = 1;
// A search that has not shown its list by then has failed.
constexpr auto kGiveUp = 600s;

// The bus: the maker's three variants under each maker code (the Pulse
// module with its second input off), three meters of other makers whose
// numbers share leading digits with the modules, and the level converter.
const char* const kBus[] = {
    "module=pulse man=VND primary=1 firmware=13 id=11223344 medium2=1F",
    "module=analog man=VND primary=2 firmware=11 id=11229999",
    "module=control man=VND primary=3 firmware=12 id=33445566",
    "module=pulse man=KTR primary=4 firmware=13 id=11223345 medium2=1F",
    "module=analog man=KTR primary=5 firmware=11 id=55667788",
    "module=control man=KTR primary=6 firmware=12 id=33440000",
    "primary=7 id=11220000 man=QXA version=01 medium=07 records=0C1378563412",
    "primary=8 id=33445567 man=KMX version=03 medium=04 records=0C0611470000",
    "primary=9 id=99887766 man=ZZW version=02 medium=02 records=0403E8030000",
    "module=converter man=VND",
};
// What the list must show under maker code 0, in list order.
const std::vector<std::string> kExpected = {"A: 11229999, 19", "C: 33445566, 0E", "P: 11223344, 07"};

// The list holds exactly the three VND modules, in whatever order the search found them.
bool ShowsExpected(std::vector<std::string> shown) {
    std::sort(shown.begin(), shown.end());
    return shown == kExpected;
}

// A property of the control that the program does not use, read by name.
int32_t LongProperty(const mx::Control& control, const char16_t* name, int32_t otherwise) {
    mbus::com::DISPID id = -1;
    if (control.Dispatch()->GetIDsOfNames(mbus::com::IID_NULL, &name, 1, 0, &id) != 0) return otherwise;
    mbus::com::VARIANT result;
    mbus::com::VariantInit(&result);
    mbus::com::DISPPARAMS none{nullptr, nullptr, 0, 0};
    const mbus::com::HRESULT hr = control.Dispatch()->Invoke(id, mbus::com::IID_NULL, 0, mbus::com::DISPATCH_PROPERTYGET,
                                                             &none, &result, nullptr, nullptr);
    const int32_t value = hr == 0 && result.vt == mbus::com::VT_I4 ? result.lVal : otherwise;
    mbus::com::VariantClear(&result);
    return value;
}


// The job cycle's host on the real control: the window timer is a deadline
// that the bench loop sleeps to, the widgets are left out.
class BenchHost final : public mx::JobHost {
public:
    BenchHost(const mx::Control& control, TracingBus& trace, int baudIndex)
        : control_(control), trace_(trace), baudIndex_(baudIndex) {}

    // The button: the list emptied, the search script composed and started.
    void StartDeviceSearch(mx::JobCycle& cycle) {
        devices_.Clear();
        mx::ConnectionChoice connection;
        connection.communicationType = mx::kSerialCable;
        connection.baudIndex = baudIndex_;
        connection.port = 1;
        script_ = mx::DeviceSearchLines(connection, mx::SearchBaudIndex(connection, mx::kSearchBaud2400));
        trace_.SetJob(0);
        cycle.StartSearch(mx::JoinScript(script_), static_cast<int>(script_.size()));
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
    double Lateness() const { return lateness_; }
    // The last tick, from its start to the list parsed.
    double ParseTime() const { return listed_ ? Ms(*listed_ - lastTick_) : 0.0; }

    const std::vector<std::string>& Script() const { return script_; }
    const std::vector<Clock::time_point>& PhaseStarts() const { return phaseStarts_; }
    const std::vector<int>& Ticks() const { return ticks_; }
    std::optional<Clock::time_point> Listed() const { return listed_; }
    const std::vector<std::string>& Shown() const { return shown_; }

    // mx::JobHost
    int32_t ScriptStatus() override { return control_.SCRStatus(); }
    void ExecuteScript(const std::string& script) override {
        phaseStarts_.push_back(Clock::now());
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
    void StartSecondarySearch() override {
        trace_.SetJob(1);
        phaseStarts_.push_back(Clock::now());
        ticks_.push_back(0);
        const mx::SpecialSearchCall call = mx::DeviceSearchCall(0);
        control_.SetSCRSlaveSearchTimeoutRetries(mx::kSearchTimeoutRetries);
        control_.SCRSlaveSearchSecondarySpecial(call.mode, call.start, call.end, call.manufacturer, call.generation,
                                                call.medium);
    }
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
        *followUp = false;
        const std::size_t added = devices_.AppendSlaveList(control_.SCRRetrieveSlaveListHex(), 0, baudIndex_);
        shown_.clear();
        for (const mx::DeviceEntry& e : devices_.Entries(0)) shown_.push_back(e.text);
        listed_ = Clock::now();
        return added > 0;
    }
    void RefreshControlPage() override {}
    void RunFollowUpRead() override {}
    void ShowPhoneConnected(bool) override {}

private:
    const mx::Control& control_;
    TracingBus& trace_;
    const int baudIndex_;
    mx::DeviceList devices_;
    std::vector<std::string> script_;
    bool timerRunning_ = false;
    int timerPeriod_ = mx::kSearchTimerMs;
    Clock::time_point nextTick_{};
    Clock::time_point lastTick_{};
    double lateness_ = 0;
    std::vector<Clock::time_point> phaseStarts_;  // the script's start, the search's start
    std::vector<int> ticks_;                      // ticks seen per phase
    std::optional<Clock::time_point> listed_;
    std::vector<std::string> shown_;
};



LineRules RulesOf(const std::vector<std::string>& script, int baudIndex) {
    std::string p = mx::LevelConverterParameters(baudIndex);
    for (const std::string& line : script)
        if (line.rfind("0||", 0) == 0) p = line;
    return mbus::bench::RulesFor(mx::BaudOfIndex(baudIndex), Field(p, "TA", 330), Field(p, "TO", 50),
                                 Field(p, "TB", 1), Field(p, "DT", 11), p.find(",FF=0") == std::string::npos ? 1 : 0);
}


std::string FrameName(const std::vector<uint8_t>& frame) {
    std::string name = mbus::sim::DescribeRequest(frame);
    // A selection: its CI and mask, as the search wrote them.
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

// A selection of the search (a long frame to 253), the probe of a mask.
bool IsProbe(const std::vector<uint8_t>& frame) { return frame.size() > 8 && frame[0] == 0x68 && frame[5] == 253; }

struct Timeline {
    double script = 0;  // ms, the search script
    double search = 0;  // ms, the search
    int scriptTicks = 0;
    int searchTicks = 0;
    double ms = 0;  // to the list shown
    int probes = 0;
    int collisions = 0;
    int transmissions = 0;
    std::vector<double> transactions;  // ms, in order
    std::vector<std::string> report;
};

// The transactions of one phase, each rounded up to the step's polling,
// with the search delay after a collision.
double PhaseItems(const std::vector<Exchange>& ex, int job, int comRetries, int searchDelay, const LineRules& r,
                  Timeline& tl) {
    char text[320];
    double total = 0;
    std::size_t i = 0;
    while (i < ex.size() && ex[i].job != job) ++i;
    while (i < ex.size() && ex[i].job == job) {
        const std::vector<uint8_t>& frame = ex[i].frame;
        double item = 0;
        int sent = 0;
        bool valid = false, collided = false;
        while (i < ex.size() && ex[i].job == job && ex[i].frame == frame && sent < comRetries && !valid) {
            const Transmission t = TimeOf(ex[i], r);
            const std::string name = sent == 0 ? FrameName(frame) : "  (again)";
            std::snprintf(text, sizeof text, "    %-44s %s = %6.1f ms", name.c_str(), t.parts.c_str(), t.ms);
            tl.report.push_back(text);
            item += t.ms;
            valid = ex[i].answerBytes > 0 && !ex[i].garbled;
            collided = collided || ex[i].garbled;
            ++sent;
            ++i;
        }
        tl.transmissions += sent;
        tl.transactions.push_back(item);
        if (IsProbe(frame)) ++tl.probes;
        double step = mbus::bench::Stepped(item);
        if (job == 1 && collided && !valid) {
            ++tl.collisions;
            step += searchDelay;
        }
        std::snprintf(text, sizeof text, "    %-44s transaction %6.1f ms -> item %5.0f ms%s", "", item, step,
                      job == 1 && collided && !valid ? " (with SCRSlaveSearchDelay)" : "");
        tl.report.push_back(text);
        total += step;
    }
    return total;
}

Timeline TimelineOf(const std::vector<Exchange>& ex, const std::vector<std::string>& script, int comRetries,
                    int searchDelay, const LineRules& r) {
    Timeline tl;
    char text[300];
    tl.report.push_back("  search script:");
    tl.script = PhaseItems(ex, 0, comRetries, searchDelay, r, tl);
    int others = 0;
    for (const std::string& line : script) {
        const int c = std::atoi(line.c_str());
        if (c == 0 || c == 1 || c == 2 || c == 16) ++others;
    }
    tl.script += others * kAtOnceMs;
    tl.scriptTicks = std::max(1, static_cast<int>(std::ceil(tl.script / mx::kSearchTimerMs)));
    std::snprintf(text, sizeof text, "    %d other item(s) x 1 ms: script %.0f ms -> seen at tick %d = %d ms", others,
                  tl.script, tl.scriptTicks, tl.scriptTicks * mx::kSearchTimerMs);
    tl.report.push_back(text);

    tl.report.push_back("  search:");
    // The script sets COMRetries 1 ("1|1||"): each probe is one transmission.
    tl.search = PhaseItems(ex, 1, 1, searchDelay, r, tl);
    tl.searchTicks = std::max(1, static_cast<int>(std::ceil(tl.search / mx::kSearchTimerMs)));
    std::snprintf(text, sizeof text,
                  "    search: %d probe(s), %d collision(s) x %d ms, %d transmission(s): %.0f ms -> seen at tick %d"
                  " = %d ms",
                  tl.probes, tl.collisions, searchDelay, tl.transmissions, tl.search, tl.searchTicks,
                  tl.searchTicks * mx::kSearchTimerMs);
    tl.report.push_back(text);
    tl.ms = (tl.scriptTicks + tl.searchTicks) * mx::kSearchTimerMs;
    return tl;
}

struct Result {
    double wall = 0;
    double script = -1, search = -1;  // measured, from the watch (ms)
    std::vector<double> transactions;  // measured, in order
    std::vector<int> ticks;
    double lateness = 0;
    double parse = 0;
    std::vector<std::string> shown;
    Timeline timeline;
};

std::optional<Result> SearchOnce(const mx::Control& control, TracingBus& trace, ControlWatch& watch, int baudIndex,
                                 std::string* why) {
    trace.Take();
    watch.Clear();
    BenchHost host(control, trace, baudIndex);
    mx::JobCycle cycle(host);

    const Clock::time_point start = Clock::now();
    host.StartDeviceSearch(cycle);
    while (host.TimerRunning() && Clock::now() - start < kGiveUp) {
        std::this_thread::sleep_until(host.NextTick());
        host.Ticked();
        cycle.Tick();
    }
    if (!host.Listed()) {
        *why = "the search did not end";
        control.SCRBreak();
        while (control.SCRStatus() != 0) std::this_thread::sleep_for(100ms);
        control.APPCloseCom();
        return std::nullopt;
    }
    Result r;
    r.wall = Ms(*host.Listed() - start);
    const std::vector<Clock::time_point> ends = watch.ScriptEnds();
    const std::vector<Clock::time_point>& starts = host.PhaseStarts();
    // The script may end within the watch's millisecond; the search's end is the last.
    if (ends.size() == 2) r.script = Ms(ends[0] - starts[0]);
    if (!ends.empty() && starts.size() == 2) r.search = Ms(ends.back() - starts[1]);
    r.transactions = watch.Transactions();
    r.ticks = host.Ticks();
    r.lateness = host.Lateness();
    r.parse = host.ParseTime();
    r.shown = host.Shown();
    const int comRetries = LongProperty(control, u"COMRetries", 1);
    const int delay = LongProperty(control, u"SCRSlaveSearchDelay", 2000);
    r.timeline = TimelineOf(trace.Take(), host.Script(), comRetries, delay, RulesOf(host.Script(), baudIndex));
    return r;
}

struct Row {
    int baud = 0;
    int listed = 0;
    int probes = 0;
    double wall = 0;
    double timeline = 0;
    bool ok = false;
};

Row RunCase(const mx::Control& control, int baudIndex, int repetitions) {
    Row row;
    row.baud = mx::BaudOfIndex(baudIndex);

    auto bus = std::make_shared<mbus::sim::SimBus>();
    bus->SetDefaultBaud(row.baud);
    bus->SetPaced(true);
    for (const char* line : kBus) {
        mbus::sim::VirtualSlave slave;
        std::vector<std::string> errors;
        if (!mbus::sim::ParseSlave(line, &slave, errors)) {
            std::printf("bus description refused: %s: %s\n", line, errors.empty() ? "" : errors.front().c_str());
            return row;
        }
        bus->AddSlave(std::move(slave));
    }
    auto trace = std::make_shared<TracingBus>(bus);
    mbus::serial::RegisterSimulatedBus(kBusName, trace);

    std::vector<Result> results;
    bool listOk = true;
    {
        ControlWatch watch(control);
        for (int i = 0; i < repetitions; ++i) {
            std::string why;
            std::optional<Result> r = SearchOnce(control, *trace, watch, baudIndex, &why);
            if (!r) {
                std::printf("search at %d baud, repetition %d: FAILED: %s\n", row.baud, i + 1, why.c_str());
                listOk = false;
                break;
            }
            if (!ShowsExpected(r->shown)) listOk = false;
            results.push_back(std::move(*r));
        }
    }
    control.APPCloseCom();
    mbus::serial::UnregisterSimulatedBus(kBusName);
    if (results.empty()) return row;

    const Result& first = results.front();
    mx::ConnectionChoice connection;
    connection.communicationType = mx::kSerialCable;
    connection.baudIndex = baudIndex;
    const std::vector<std::string> script = mx::DeviceSearchLines(connection, baudIndex);
    const LineRules rules = RulesOf(script, baudIndex);
    std::printf("\nDevice search at %d baud (char %.2f ms, reply delay %.1f ms, DT %d ms, byte timeout %d ms, "
                "answer part %d ms, answer timeout %d ms)\n",
                row.baud, rules.character, rules.reply, rules.t.deadTime, rules.t.byteTimeout, rules.t.answerPart,
                rules.t.answerTimeout);
    std::printf("  search script:");
    for (const std::string& line : script) std::printf(" [%s]", line.c_str());
    const mx::SpecialSearchCall call = mx::DeviceSearchCall(0);
    std::printf("\n  search: SCRSlaveSearchTimeoutRetries %d, SCRSlaveSearchSecondarySpecial(%d, %s, %s, %s, %s, %s)\n",
                mx::kSearchTimeoutRetries, call.mode, call.start.c_str(), call.end.c_str(), call.manufacturer.c_str(),
                call.generation.c_str(), call.medium.c_str());
    for (const std::string& line : first.timeline.report) std::printf("%s\n", line.c_str());

    for (std::size_t i = 0; i < results.size(); ++i) {
        const Result& r = results[i];
        std::printf("  run %zu: list shown:", i + 1);
        for (const std::string& e : r.shown) std::printf(" [%s]", e.c_str());
        std::printf("%s\n", ShowsExpected(r.shown) ? "" : "  <- NOT the three VND modules");
        std::printf("         wall %.1f ms (ticks up to %.1f ms late, last tick to list %.1f ms); script %.1f ms"
                    " (timeline %.0f), seen at tick %d (timeline %d); search %.1f ms (timeline %.0f, %+.1f%%), seen at"
                    " tick %d (timeline %d)\n",
                    r.wall, r.lateness, r.parse, r.script, r.timeline.script, r.ticks.empty() ? 0 : r.ticks[0],
                    r.timeline.scriptTicks, r.search, r.timeline.search,
                    r.search > 0 ? 100.0 * (r.search - r.timeline.search) / r.timeline.search : 0.0,
                    r.ticks.size() > 1 ? r.ticks[1] : 0, r.timeline.searchTicks);
        // Transactions: measured against the timeline, and how many crossed
        // into another 100 ms poll than the timeline gives them.
        const std::size_t n = std::min(r.transactions.size(), r.timeline.transactions.size());
        double over = 0;
        int crossed = 0;
        std::string which;
        for (std::size_t k = 0; k < n; ++k) {
            over += r.transactions[k] - r.timeline.transactions[k];
            if (std::ceil(r.transactions[k] / kStepPollMs) != std::ceil(r.timeline.transactions[k] / kStepPollMs)) {
                ++crossed;
                char text[64];
                std::snprintf(text, sizeof text, " #%zu %.0f/%.1f", k + 1, r.transactions[k], r.timeline.transactions[k]);
                which += text;
            }
        }
        std::printf("         transactions: %zu measured, %zu in the timeline; measured - timeline %+.1f ms on"
                    " average; %d of %zu fall into another 100 ms poll\n",
                    r.transactions.size(), r.timeline.transactions.size(), n > 0 ? over / static_cast<double>(n) : 0.0,
                    crossed, n);
        if (!which.empty()) std::printf("         those (number measured/timeline ms):%s\n", which.c_str());
    }

    double sum = 0;
    for (const Result& r : results) sum += r.wall;
    row.wall = sum / static_cast<double>(results.size());
    row.timeline = first.timeline.ms;
    row.listed = static_cast<int>(first.shown.size());
    row.probes = first.timeline.probes;
    row.ok = listOk && static_cast<int>(results.size()) == repetitions;
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    const auto created = mbus::bench::ControlOnSimulatedBus("meridex_search_bench", kBusName);
    if (!created) return 1;
    const mx::Control& control = created->control;

    std::printf("meridex_search_bench: device search over the serial cable, %d repetition(s) per rate, timer %d ms, "
                "script step poll %.0f ms, SCRSlaveSearchDelay %d ms\n",
                repetitions, mx::kSearchTimerMs, kStepPollMs, LongProperty(control, u"SCRSlaveSearchDelay", 2000));
    std::vector<Row> rows;
    for (int baudIndex : {1, 2}) rows.push_back(RunCase(control, baudIndex, repetitions));

    std::printf("\n%6s %15s %7s %10s %10s %8s\n", "baud", "modules listed", "probes", "wall ms", "timeline", "diff");
    int status = 0;
    for (const Row& r : rows) {
        if (r.timeline <= 0) {
            std::printf("%6d %15s\n", r.baud, "FAILED");
            status = 1;
            continue;
        }
        std::printf("%6d %15d %7d %10.1f %10.0f %+7.1f%%%s\n", r.baud, r.listed, r.probes, r.wall, r.timeline,
                    100.0 * (r.wall - r.timeline) / r.timeline, r.ok ? "" : "  list wrong");
        if (!r.ok) status = 1;
    }
    return status;
}
