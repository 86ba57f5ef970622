// What the mbus-bridge program costs its host at an ordinary pace: it polls
// the demo bus (mbus-sim --file sim/demo/meters.txt on a pseudo-terminal,
// paced at 2400 baud) every 60 s and publishes to a mosquitto broker of the
// benchmark's own, for N minutes. Printed: the CPU seconds the program used
// (utime + stime of /proc/PID/stat) after its first round, extrapolated to
// an hour, and its memory (VmRSS and VmHWM of /proc/PID/status), with the
// host's load average at the start and the end, since other work on the
// host shows in the figures.
//
//   bridge_load_bench [--minutes N]   (default 5)

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/mqtt_bench.h"
#include "tests/tools/child_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using mbus::cli::test::ChildProcess;

constexpr int kMeters = 10;       // the demo bus's primary addresses 1..10
constexpr int kIntervalS = 60;

std::string Program(const char* variable, const char* built) {
    const char* v = std::getenv(variable);
    return v != nullptr && *v != '\0' ? std::string(v) : std::string(built);
}

// utime + stime of a process (or of one of its threads: "PID/task/TID")
// in seconds; negative when it cannot be read.
double CpuSeconds(const std::string& which) {
    std::ifstream in("/proc/" + which + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t paren = text.rfind(')');
    if (paren == std::string::npos) return -1;
    // After the name: state (field 3) ... utime is field 14, stime 15.
    std::istringstream fields(text.substr(paren + 2));
    std::string f;
    unsigned long long utime = 0, stime = 0;
    for (int field = 3; field <= 15 && fields >> f; ++field) {
        if (field == 14) utime = std::stoull(f);
        if (field == 15) stime = std::stoull(f);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A "Vm...:  1234 kB" line of /proc/PID/status in MiB; negative when absent.
double StatusMiB(pid_t pid, const std::string& key) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atof(line.c_str() + key.size() + 1) / 1024.0;
    return -1;
}

// CPU seconds of each thread of the process, by thread id.
std::map<std::string, double> ThreadCpu(pid_t pid) {
    std::map<std::string, double> cpu;
    std::error_code ec;
    const std::string task = std::to_string(pid) + "/task";
    for (const auto& entry : fs::directory_iterator("/proc/" + task, ec)) {
        const std::string tid = entry.path().filename().string();
        cpu[tid] = CpuSeconds(task + "/" + tid);
    }
    return cpu;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double one = 0, five = 0, fifteen = 0;
    in >> one >> five >> fifteen;
    char text[64];
    std::snprintf(text, sizeof text, "%.2f, %.2f, %.2f", one, five, fifteen);
    return text;
}

// State messages the subscriber has, while `process` keeps running; its
// standard error is read meanwhile so that its log never fills the pipe.
std::size_t WaitForStates(ChildProcess& process, mbus::bench::Subscriber& subscriber, std::size_t count,
                          Clock::time_point until) {
    std::size_t have = 0;
    while (Clock::now() < until) {
        have = subscriber.Messages().size();
        if (have >= count) break;
        process.WaitForErrors("\x01", 200ms);  // drains; the text never comes
    }
    return have;
}

}  // namespace

int main(int argc, char** argv) {
    int minutes = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--minutes" && i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
            minutes = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "bridge_load_bench: \"%s\" is not understood; the option is --minutes N (default 5)\n",
                         a.c_str());
            return 2;
        }
    }
    mbus::bench::Broker broker;
    if (broker.Port() == 0) {
        std::fprintf(stderr, "bridge_load_bench: %s\n", broker.Problem().c_str());
        return 1;
    }
    std::string pattern = (fs::temp_directory_path() / "bridge-load-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "bridge_load_bench: cannot create a temporary directory\n");
        return 1;
    }
    const fs::path scratch = pattern;

    const std::string demo = std::string(MBUS_SOURCE_DIR) + "/sim/demo/meters.txt";
    ChildProcess sim(Program("MBUS_SIM", MBUS_SIM_PATH), {"--file", demo, "--baud", "2400", "--paced"});
    std::string terminal;
    if (sim.WaitForOutput("\n", 10s)) terminal = sim.Output().substr(0, sim.Output().find('\n'));
    if (terminal.empty()) {
        std::fprintf(stderr, "bridge_load_bench: mbus-sim did not announce its terminal: %s\n", sim.Errors().c_str());
        return 1;
    }

    std::ofstream config(scratch / "bridge.toml");
    config << "[mqtt]\nhost = \"127.0.0.1\"\nport = " << broker.Port()
           << "\nclient_id = \"bridge-load-bench\"\nbase_topic = \"bench/load\"\n\n"
           << "[[bus]]\nname = \"demo\"\ndevice = \"" << terminal << "\"\nbaud = 2400\ninterval = " << kIntervalS
           << "\n";
    for (int m = 1; m <= kMeters; ++m) config << "\n[[bus.meter]]\naddress = \"" << m << "\"\n";
    config.close();

    mbus::bench::Subscriber subscriber(broker.Port(), "bench/load/+/state");
    if (!subscriber.Ready()) {
        std::fprintf(stderr, "bridge_load_bench: the subscriber could not subscribe at the broker\n");
        return 1;
    }
    const std::string loadBefore = LoadAverage();
    ChildProcess bridge(Program("MBUS_BRIDGE", MBUS_BRIDGE_PATH), {"--config", (scratch / "bridge.toml").string()},
                        {"MBUS_CONTROL_LIBRARY=" + Program("MBUS_CONTROL_LIBRARY", MBUS_CONTROL_LIBRARY_PATH)});
    if (!bridge.Started()) {
        std::fprintf(stderr, "bridge_load_bench: mbus-bridge could not be started\n");
        return 1;
    }
    const Clock::time_point started = Clock::now();
    const std::string pid = std::to_string(bridge.Pid());
    // The first round: start-up and the first readout of every meter.
    const std::size_t first = WaitForStates(bridge, subscriber, kMeters, started + 60s);
    if (first < static_cast<std::size_t>(kMeters)) {
        std::fprintf(stderr, "bridge_load_bench: %zu of %d meters published in the first minute; the log:\n%s",
                     first, kMeters, bridge.Errors().c_str());
        return 1;
    }
    const Clock::time_point from = Clock::now();
    const double cpuFrom = CpuSeconds(pid);
    const std::map<std::string, double> threadsFrom = ThreadCpu(bridge.Pid());
    const double firstRound = std::chrono::duration<double>(from - started).count();
    std::printf("bridge_load_bench: mbus-bridge polls %d meters of %s on %s every %d s for %d minute(s); "
                "load average before: %s\n",
                kMeters, demo.c_str(), terminal.c_str(), kIntervalS, minutes, loadBefore.c_str());
    std::printf("  start-up and the first round: %.1f s, %.3f CPU seconds\n", firstRound, cpuFrom);

    const Clock::time_point until = from + std::chrono::minutes(minutes);
    WaitForStates(bridge, subscriber, static_cast<std::size_t>(-1), until);
    const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
    const double cpu = CpuSeconds(pid) - cpuFrom;
    const std::map<std::string, double> threads = ThreadCpu(bridge.Pid());
    const double rss = StatusMiB(bridge.Pid(), "VmRSS");
    const double hwm = StatusMiB(bridge.Pid(), "VmHWM");
    const std::size_t states = subscriber.Messages().size();
    // A program that ended before the window closed leaves no figures.
    int status = 0;
    if (::waitpid(bridge.Pid(), &status, WNOHANG) == bridge.Pid() || rss < 0) {
        std::fprintf(stderr, "bridge_load_bench: mbus-bridge ended before the %d minute(s) were over; its log:\n%s",
                     minutes, bridge.Errors().c_str());
        return 1;
    }
    const std::string loadAfter = LoadAverage();
    bridge.Signal(SIGTERM);
    const int rc = bridge.Wait(30s);
    sim.Signal(SIGTERM);
    sim.Wait(10s);
    std::error_code ec;
    fs::remove_all(scratch, ec);

    const double perHour = seconds > 0 ? cpu * 3600.0 / seconds : 0;
    std::printf("  after the first round: %.0f s, %zu state messages in all (%d expected a minute), "
                "%.3f CPU seconds\n",
                seconds, states, kMeters * 60 / kIntervalS, cpu);
    std::printf("  CPU: %.2f seconds an hour (goal: under 36)\n", perHour);
    // Where it went, thread by thread (the main thread runs the engine's
    // loop; the others are the MQTT link's and the control's channel's).
    std::printf("  by thread (CPU seconds in the window):");
    for (const auto& [tid, total] : threads) {
        const auto before = threadsFrom.find(tid);
        std::printf(" %s%s %.2f", tid == pid ? "main " : "", tid.c_str(),
                    total - (before == threadsFrom.end() ? 0.0 : before->second));
    }
    std::printf("\n");
    std::printf("  memory: VmRSS %.1f MiB, VmHWM %.1f MiB (goal: under 15 MiB)\n", rss, hwm);
    std::printf("  load average after: %s; mbus-bridge exit code %d after SIGTERM\n", loadAfter.c_str(), rc);
    return rc == 0 ? 0 : 1;
}
