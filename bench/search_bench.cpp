// Wall time of slave searches on the paced simulated bus, beside the
// timeline that the line rules, the retry counts and the interpreter's
// polling period give for the probes the search made:
//
//   transmission without answer:  frame + dead time + answer timeout
//   transmission with an answer:  frame + reply delay + answer + byte timeout,
//                                 and PartWait's rest of the answer part
//   transaction:                  its transmissions (up to COMRetries while
//                                 none gets a valid answer)
//   item of the search:           the transaction rounded up to the 100 ms
//                                 polling period of the script step, plus
//                                 SCRSlaveSearchDelay after a collision
//
// where a character takes 11 bit times. Line settings: the control's
// defaults (TA 330, TO 50, TB 4, DT 11, PartWait, FIFO on, COMRetries 3),
// slaves answer after 100 bit times.
//
// The "mbusctl" cases search the demo bus (sim/demo/meters.txt) at 2400
// baud with the line settings mbusctl scan puts into the control
// (tools/mbusctl/scan_defaults.*), plain, with a converter that echoes and
// with seeded random faults on 5 % of the answers; each prints the wall
// time beside the target (80 % of the usual open-source master's time) and
// how many meters were found, each of which must be found exactly once.
// The "before" cases do the same with mbusctl's former settings (COMRetries
// 3, a pause of 2000 ms, TO 50 ms).
//
//   search_bench [--quick | --mbusctl [TEXT] | --before [TEXT] | --garbled [RUNS [BAUD]] | --lookalike]
//     --quick: 9600 baud and the COMRetries 1 case only
//     --garbled: the demo bus with mbusctl's settings, one answer in five
//     garbled (never silenced), seeds 1..RUNS (20) at BAUD (2400): in how
//     many runs every meter was found once
//     --lookalike: sim/demo/lookalike.txt (14 meters, one identification
//     number) at 2400 baud, target 150 s
//     --mbusctl: only the mbusctl cases; --before: only the before cases;
//     a second argument runs only the cases whose name contains it

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include <unistd.h>

#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "bench/line_timeline.h"
#include "control/line/layer1.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/scan_defaults.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using mbus::bench::Exchange;
using mbus::bench::TracingBus;

// A control object of this process (the library is linked in), or nothing.
std::optional<mbus::cli::ControlClient> NewControl() {
    void* raw = nullptr;
    if (mbus::control::GetClassObject(mbus::control::CLSID_MBusOrlX4, mbus::com::IID_IClassFactory, &raw) != 0)
        return std::nullopt;
    auto factory = mbus::com::ComPtr<mbus::com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, mbus::com::IID_IDispatch, &raw) != 0) return std::nullopt;
    return mbus::cli::ControlClient(mbus::com::ComPtr<mbus::com::IDispatch>::Adopt(raw));
}

struct Case {
    const char* name;
    int baud;
    bool primary;
    int slaves;
    int retries;
};

struct Timeline {
    double ms = 0;
    int probes = 0;  // search items that probe (selections, SND_NKE probes)
    int transmissions = 0;
};

// The timeline of the exchanges, grouped into transactions.
Timeline TimelineOf(const std::vector<Exchange>& ex, int baud, int retries, int searchDelay, int timeoutOffset = 50) {
    const mbus::bench::LineRules rules = mbus::bench::RulesFor(baud, 330, timeoutOffset, 4, 11, 1);
    Timeline tl;
    std::size_t i = 0;
    while (i < ex.size()) {
        double transaction = 0;
        int sent = 0;
        bool collided = false, valid = false;
        const std::vector<uint8_t>& frame = ex[i].frame;
        const bool probe = frame.size() == 5 ? frame[1] == 0x40 && frame[2] != 253 : frame.size() > 5;
        while (i < ex.size() && ex[i].frame == frame && sent < retries && !valid) {
            const Exchange& e = ex[i];
            transaction += mbus::bench::TimeOf(e, rules).ms;
            collided = collided || e.garbled;
            valid = e.answerBytes > 0 && !e.garbled;
            ++sent;
            ++i;
        }
        tl.transmissions += sent;
        tl.probes += probe ? 1 : 0;
        tl.ms += mbus::bench::Stepped(transaction);
        if (collided && !valid) tl.ms += searchDelay;
    }
    return tl;
}

int Run(const Case& c, uint32_t seed) {
    auto bus = std::make_shared<mbus::sim::SimBus>();
    bus->SetDefaultBaud(c.baud);
    bus->SetPaced(true);
    std::mt19937 random(seed);
    std::set<std::string> ids;
    while (static_cast<int>(ids.size()) < c.slaves) {
        char id[9];
        std::snprintf(id, sizeof id, "%08u", static_cast<unsigned>(random() % 100000000));
        if (!ids.insert(id).second) continue;
        mbus::sim::VirtualSlave slave;
        std::vector<std::string> errors;
        mbus::sim::ParseSlave("primary=" + std::to_string(ids.size()) + " id=" + id +
                                  " man=QXA version=01 medium=07 records=0413D2040000",
                              &slave, errors);
        bus->AddSlave(std::move(slave));
    }
    auto tracing = std::make_shared<TracingBus>(bus);
    mbus::serial::RegisterSimulatedBus("search-bench", tracing);

    const std::optional<mbus::cli::ControlClient> created = NewControl();
    if (!created) return 1;
    const mbus::cli::ControlClient& control = *created;
    control.Put("COMPort", 1);
    control.Put("COMBaudrate", c.baud);
    control.Put("COMRetries", c.retries);
    control.Call("COMOpen");
    if (control.Long("COMIsOpen").value_or(-1) != 0) {
        std::fprintf(stderr, "search_bench: the simulated line does not open\n");
        return 1;
    }
    const int delay = control.Long("SCRSlaveSearchDelay").value_or(2000);
    const auto start = Clock::now();
    control.Call(c.primary ? "SCRSlaveSearchPrimary" : "SCRSlaveSearchSecondary",
                 c.primary ? std::vector<mbus::cli::ControlArg>{} : std::vector<mbus::cli::ControlArg>{0});
    while (control.Long("SCRStatus").value_or(0) != 0) std::this_thread::sleep_for(5ms);
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::string list = control.Text("SCRRetrieveSlaveListDec").value_or("");
    const int found = static_cast<int>(list.size() / 51);
    const Timeline tl = TimelineOf(tracing->Take(), c.baud, c.retries, delay);
    control.Call("APPCloseCom");
    mbus::serial::UnregisterSimulatedBus("search-bench");

    const double diff = 100.0 * (wall - tl.ms) / tl.ms;
    std::printf("%-34s %6d %7d %7d %9.2f %10.1f %10.1f %+7.1f%%\n", c.name, c.baud, found, tl.probes,
                found > 0 ? static_cast<double>(tl.probes) / found : 0.0, wall / 1000, tl.ms / 1000, diff);
    std::fflush(stdout);
    return found == c.slaves && std::fabs(diff) <= 10 ? 0 : 1;
}

// A search of the demo bus with mbusctl's settings (or the former ones).
struct DemoCase {
    const char* name;
    bool primary;
    mbus::sim::EchoMode echo;
    double faults;  // probability of a random fault per answer
    bool before;    // mbusctl's former settings
    double targetSeconds;
    bool garbled = false;             // faults that garble only, never silence
    const char* bus = "meters.txt";   // under sim/demo/
    int baud = 2400;
};

int RunDemo(const DemoCase& c, uint32_t seed) {
    const int kBaud = c.baud;
    std::ifstream file(std::string(MBUS_SOURCE_DIR "/sim/demo/") + c.bus);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> errors;
    std::vector<mbus::sim::VirtualSlave> slaves = mbus::sim::ParseBusDescription(text, errors);
    if (slaves.empty() || !errors.empty()) {
        std::fprintf(stderr, "search_bench: sim/demo/%s does not load\n", c.bus);
        return 1;
    }
    const int meters = static_cast<int>(slaves.size());
    auto bus = std::make_shared<mbus::sim::SimBus>();
    bus->SetDefaultBaud(kBaud);
    bus->SetPaced(true);
    bus->SetEcho(c.echo);
    if (c.faults > 0)
        bus->SetRandomFaults(c.faults, seed,
                             c.garbled ? mbus::sim::SimBus::RandomFaults::kGarbled : mbus::sim::SimBus::RandomFaults::kAny);
    // Faults the bus put on answers.
    auto faults = std::make_shared<std::atomic<int>>(0);
    bus->SetLog([faults](const std::string& line) { *faults += line.compare(0, 6, "fault ") == 0 ? 1 : 0; });
    for (auto& s : slaves) bus->AddSlave(std::move(s));
    auto tracing = std::make_shared<TracingBus>(bus);
    mbus::serial::RegisterSimulatedBus("search-bench", tracing);

    const std::optional<mbus::cli::ControlClient> created = NewControl();
    if (!created) return 1;
    const mbus::cli::ControlClient& control = *created;
    control.Put("COMPort", 1);
    control.Put("COMBaudrate", kBaud);
    if (c.before) {
        control.Put("COMRetries", 3);
        control.Put("SCRSlaveSearchDelay", 2000);
    } else {
        mbus::cli::ApplyScanDefaults(control, true, kBaud, -1, -1);
    }
    control.Call("COMOpen");
    if (control.Long("COMIsOpen").value_or(-1) != 0) {
        std::fprintf(stderr, "search_bench: the simulated line does not open\n");
        return 1;
    }
    const int retries = control.Long("COMRetries").value_or(3);
    const int delay = control.Long("SCRSlaveSearchDelay").value_or(2000);
    const int offset = control.Long("COMTimeoutOffset").value_or(50);
    const auto start = Clock::now();
    control.Call(c.primary ? "SCRSlaveSearchPrimary" : "SCRSlaveSearchSecondary",
                 c.primary ? std::vector<mbus::cli::ControlArg>{} : std::vector<mbus::cli::ControlArg>{0});
    while (control.Long("SCRStatus").value_or(0) != 0) std::this_thread::sleep_for(5ms);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const std::string list = control.Text("SCRRetrieveSlaveListDec").value_or("");
    control.Call("APPCloseCom");
    mbus::serial::UnregisterSimulatedBus("search-bench");
    std::vector<Exchange> exchanges = tracing->Take();
    // The echo of the master's frame is no answer.
    if (c.echo == mbus::sim::EchoMode::kFull)
        for (Exchange& e : exchanges) e.answerBytes -= std::min(e.answerBytes, e.frame.size());
    const Timeline tl = TimelineOf(exchanges, kBaud, retries, delay, offset);

    std::multiset<std::string> ids;
    for (std::size_t at = 0; at + 51 <= list.size(); at += 51) ids.insert(list.substr(at + 3, 16));
    const int found = static_cast<int>(ids.size());
    const int distinct = static_cast<int>(std::set<std::string>(ids.begin(), ids.end()).size());
    std::printf("%-40s %3d %6d %6d %7d %6d %8.1f %8.1f %8.1f %5d/%d%s\n", c.name, retries, delay, offset,
                static_cast<int>(exchanges.size()), faults->load(), wall, tl.ms / 1000, c.targetSeconds, found, meters,
                distinct != found ? " (duplicates)" : "");
    std::fflush(stdout);
    const bool ok = found == meters && distinct == found;
    return ok && (c.before || c.targetSeconds <= 0 || wall <= c.targetSeconds) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    const bool quick = std::strcmp(mode, "--quick") == 0;
    const bool mbusctl = std::strcmp(mode, "--mbusctl") == 0, before = std::strcmp(mode, "--before") == 0;
    const bool garbled = std::strcmp(mode, "--garbled") == 0, lookalike = std::strcmp(mode, "--lookalike") == 0;
    const auto map = std::filesystem::temp_directory_path() / ("mbus-search-bench-" + std::to_string(::getpid()));
    std::ofstream(map) << "1 = sim:search-bench\n";
    ::setenv("MBUS_PORT_MAP", map.c_str(), 1);

    int status = 0;
    if (garbled || lookalike) {
        using mbus::sim::EchoMode;
        // --garbled [RUNS [BAUD]]: the demo bus, one answer in five garbled,
        // seeds 1..RUNS (20); --lookalike: sim/demo/lookalike.txt, clean.
        const int runs = garbled && argc > 2 ? std::atoi(argv[2]) : 20;
        const int baud = garbled && argc > 3 ? std::atoi(argv[3]) : 2400;
        std::printf("%-40s %3s %6s %6s %7s %6s %8s %8s %8s %s\n", "search", "try", "pause", "TO", "frames", "faults",
                    "wall s", "timeline", "target", "found");
        int complete = 0;
        for (int seed = 1; garbled && seed <= runs; ++seed) {
            DemoCase c{"mbusctl secondary, 20 % garbled", false, EchoMode::kNone, 0.2, false, 0, true,
                       "meters.txt", baud};
            complete += RunDemo(c, static_cast<uint32_t>(seed)) == 0 ? 1 : 0;
        }
        if (garbled) std::printf("every meter found in %d of %d runs at %d baud\n", complete, runs, baud);
        if (lookalike)
            status |= RunDemo({"mbusctl secondary, look-alike bus", false, EchoMode::kNone, 0, false, 150, false,
                               "lookalike.txt"},
                              1);
        std::filesystem::remove(map);
        return garbled ? (complete * 20 >= runs * 19 ? 0 : 1) : status;
    }
    if (mbusctl || before || mode[0] == 0) {
        using mbus::sim::EchoMode;
        const DemoCase demo[] = {
            {"mbusctl secondary", false, EchoMode::kNone, 0, false, 108},
            {"mbusctl secondary, echo", false, EchoMode::kFull, 0, false, 108},
            {"mbusctl secondary, 5 % faults", false, EchoMode::kNone, 0.05, false, 108},
            {"mbusctl primary", true, EchoMode::kNone, 0, false, 64.8},
            {"mbusctl primary, echo", true, EchoMode::kFull, 0, false, 64.8},
            {"mbusctl primary, 5 % faults", true, EchoMode::kNone, 0.05, false, 64.8},
            {"before: secondary", false, EchoMode::kNone, 0, true, 108},
            {"before: primary", true, EchoMode::kNone, 0, true, 64.8},
        };
        std::printf("%-40s %3s %6s %6s %7s %6s %8s %8s %8s %s\n", "demo bus, 2400 baud", "try", "pause", "TO", "frames",
                    "faults", "wall s", "timeline", "target", "found");
        for (const DemoCase& c : demo)
            if ((c.before ? before || mode[0] == 0 : mbusctl || mode[0] == 0) && (argc < 3 || std::strstr(c.name, argv[2])))
                status |= RunDemo(c, 20261208);
        if (mbusctl || before) {
            std::filesystem::remove(map);
            return status;
        }
        std::printf("\n");
    }
    std::printf("%-34s %6s %7s %7s %9s %10s %10s %8s\n", "search", "baud", "found", "probes", "per slave", "wall s",
                "timeline", "diff");
    std::vector<Case> cases = {
        {"secondary, 25 random slaves", 9600, false, 25, 3},
        {"primary, empty bus, COMRetries 1", 2400, true, 0, 1},
    };
    if (!quick) {
        cases.insert(cases.begin(), {"secondary, 25 random slaves", 2400, false, 25, 3});
        cases.push_back({"primary, empty bus, COMRetries 3", 2400, true, 0, 3});
    }
    for (const Case& c : cases) status |= Run(c, 20261207);
    std::filesystem::remove(map);
    return status;
}
