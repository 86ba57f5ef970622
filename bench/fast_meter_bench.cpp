// Fast meters on the paced simulated bus: how many of N reads hear a meter
// that answers soon after the request, by baud rate and reply delay, on a
// quiet host and with a spinning thread on every core.
//
// A meter may start its answer 11 bit times after the request; the master
// throws away what the line returns during its dead time (DT 11 + 50 FIFO
// bit times with the defaults of a connection line) counted from when the
// request's last bit left the line. A meter whose answer begins 1 ms after
// that dead time must be heard every time. The rows:
//
//   each rate 300, 2400, 9600, 38400 with the reply delay dead time + 1 ms;
//   2400 baud with 12, 16 and 20 ms, 9600 baud with 2.1 and 4 ms (answers
//   that begin inside the dead time of the default line settings: they are
//   discarded as echo by design; shown for comparison).
//
// Two paths, both counting reads that returned the meter's RSP_UD:
//   sim  the line layer in-process on a paced simulated port (SimBus);
//   pty  mbus-sim on a pseudo-terminal and one `mbusctl read --retries 0`
//        process per read.
// Each path runs quiet and busy (as many spinning threads as the host has
// cores, started by this program and running through the reads).
//
//   fast_meter_bench [READS] [--path sim|pty|both] [--load quiet|busy|both]
//                    [--baud N] (only the rows of that rate)
//
// The programs are the ones built beside the benchmark; the environment
// variables MBUSCTL, MBUS_SIM and MBUS_CONTROL_LIBRARY name others (copies
// of an older build, to compare).
//
// READS defaults to 100. Exit code 0 when every read of a "dead time + 1 ms"
// row was heard, 1 otherwise, 2 on bad usage.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control/line/layer1.h"
#include "control/link/layer2.h"
#include "sim/sim_bus.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The line settings of a connection line's defaults (and of mbusctl read).
constexpr int kTA = 330, kTO = 50, kTB = 4, kDT = 11, kFifo = 1;
constexpr const char* kSlave = "primary=1 id=12345678 man=QXA version=01 medium=07 records=0413D2040000";

struct Row {
    int baud;
    double delayMs;
    bool mustHear;  // the answer begins after the dead time
};

int DeadTimeMs(int baud) {
    return mbus::line::DeriveTimings(baud, kTA, kTO, kTB, kDT, kFifo, mbus::line::kPlatformKind).deadTime;
}

// Spinning threads on every core while alive.
class Load {
public:
    explicit Load(bool on) {
        if (!on) return;
        const unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i)
            threads_.emplace_back([this] {
                volatile uint64_t x = 0;
                while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
            });
    }
    ~Load() {
        stop_.store(true);
        for (auto& t : threads_) t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Reads through the line layer on a paced simulated port.
int HeardInProcess(const Row& row, int reads) {
    auto bus = std::make_shared<mbus::sim::SimBus>();
    bus->SetDefaultBaud(row.baud);
    bus->SetPaced(true);
    bus->SetReplyDelay(std::chrono::duration_cast<mbus::serial::SimClock::duration>(
        std::chrono::duration<double, std::milli>(row.delayMs)));
    mbus::sim::VirtualSlave slave;
    slave.values.primaryAddress = 1;
    const uint8_t records[] = {0x04, 0x13, 0xD2, 0x04, 0x00, 0x00};
    slave.values.SetUserData(records, sizeof records);
    bus->AddSlave(slave);
    mbus::serial::RegisterSimulatedBus("fastmeter", bus);
    int heard = 0;
    {
        MBLayer2 l2;
        if (l2.line.CInit(1, row.baud, 8, 1, 1, 0, 0, 0, 0) != 1) {
            std::fprintf(stderr, "fast_meter_bench: cannot open the simulated line: %s\n",
                         l2.line.lastErrorText.c_str());
            mbus::serial::UnregisterSimulatedBus("fastmeter");
            return -1;
        }
        l2.line.MInit(kTA, kTO, kTB, kDT, mbus::line::kPartWait, kFifo);
        for (int i = 0; i < reads; ++i) {
            l2.SendShortFrame(0x5B, 1);
            int c, a, ci, len, got, result;
            uint8_t* data;
            while ((result = l2.ReceiveTelegram(&c, &a, &ci, &data, &len, &got)) == mbus::link::kRecBusy)
                std::this_thread::sleep_for(1ms);
            if (result == mbus::link::kRecLong && c == 0x08) ++heard;
        }
    }
    mbus::serial::UnregisterSimulatedBus("fastmeter");
    return heard;
}

// A program's path: the environment's `variable`, else the built one.
std::string Program(const char* variable, const char* built) {
    const char* v = std::getenv(variable);
    return v != nullptr && *v != '\0' ? std::string(v) : std::string(built);
}

pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, int out) {
    std::vector<std::string> a = args;
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> e = env;
    for (char** p = environ; *p; ++p) e.emplace_back(*p);
    std::vector<char*> envp;
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The first line mbus-sim prints (its terminal's path), or "".
std::string FirstLine(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        char c;
        if (read(fd, &c, 1) != 1) break;
        if (c == '\n') return line;
        line += c;
    }
    return {};
}

// Reads through mbus-sim's pseudo-terminal, one mbusctl process a read.
int HeardOnTerminal(const Row& row, int reads, const fs::path& scratch) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    char delay[32];
    std::snprintf(delay, sizeof delay, "%g", row.delayMs);
    const std::string simProgram = Program("MBUS_SIM", MBUS_SIM_PATH);
    const pid_t sim = Spawn({simProgram, "--baud", std::to_string(row.baud), "--reply-delay", delay, "--slave",
                             kSlave},
                            {}, pipeFds[1]);
    close(pipeFds[1]);
    const std::string terminal = sim > 0 ? FirstLine(pipeFds[0]) : std::string();
    if (terminal.empty()) {
        std::fprintf(stderr, "fast_meter_bench: %s did not announce its terminal\n", simProgram.c_str());
        if (sim > 0) kill(sim, SIGKILL), WaitExit(sim);
        close(pipeFds[0]);
        return -1;
    }
    std::ofstream(scratch / "ports") << "1 = " << terminal << "\n";
    const std::vector<std::string> env{"MBUS_PORT_MAP=" + (scratch / "ports").string(),
                                       "MBUS_REGISTRY=" + (scratch / "registry").string(),
                                       "MBUS_CONTROL_LIBRARY=" +
                                           Program("MBUS_CONTROL_LIBRARY", MBUS_CONTROL_LIBRARY_PATH)};
    const std::string mbusctl = Program("MBUSCTL", MBUSCTL_PATH);
    int heard = 0;
    for (int i = 0; i < reads; ++i) {
        const pid_t p = Spawn({mbusctl, "read", "--port", "1", "--baud", std::to_string(row.baud), "--retries",
                               "0", "1"},
                              env, -1);
        if (p > 0 && WaitExit(p) == 0) ++heard;
    }
    kill(sim, SIGTERM);
    WaitExit(sim);
    close(pipeFds[0]);
    return heard;
}

}  // namespace

int main(int argc, char** argv) {
    int reads = 100;
    bool sim = true, pty = true, quiet = true, busy = true;
    int onlyBaud = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        // --path sim|pty|both and --load quiet|busy|both: one choice of two, or both.
        auto pair = [&](const char* first, const char* second, bool* a1, bool* a2) {
            const std::string v = argv[++i];
            *a1 = v == first || v == "both";
            *a2 = v == second || v == "both";
            if (*a1 || *a2) return true;
            std::fprintf(stderr, "fast_meter_bench: %s \"%s\": give %s, %s or both\n", a.c_str(), v.c_str(), first,
                         second);
            return false;
        };
        if (a == "--path" && hasValue) {
            if (!pair("sim", "pty", &sim, &pty)) return 2;
        } else if (a == "--load" && hasValue) {
            if (!pair("quiet", "busy", &quiet, &busy)) return 2;
        } else if (a == "--baud" && hasValue) {
            onlyBaud = std::atoi(argv[++i]);
        } else if (std::atoi(a.c_str()) > 0) {
            reads = std::atoi(a.c_str());
        } else {
            std::fprintf(stderr,
                         "fast_meter_bench: \"%s\" is not understood; usage: fast_meter_bench [READS] "
                         "[--path sim|pty|both] [--load quiet|busy|both] [--baud N]\n",
                         a.c_str());
            return 2;
        }
    }

    std::vector<Row> rows;
    for (int baud : {300, 2400, 9600, 38400}) {
        rows.push_back({baud, DeadTimeMs(baud) + 1.0, true});
        if (baud == 2400)
            for (double d : {12.0, 16.0, 20.0}) rows.push_back({baud, d, false});
        if (baud == 9600)
            for (double d : {2.1, 4.0}) rows.push_back({baud, d, false});
    }

    const fs::path scratch = fs::temp_directory_path() / ("mbus-fast-meter-" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    std::ofstream(scratch / "sim-ports") << "1 = sim:fastmeter\n";
    ::setenv("MBUS_PORT_MAP", (scratch / "sim-ports").c_str(), 1);

    std::printf("reads heard of %d; dead time from TA %d, TO %d, DT %d, FIFO %d; %u cores\n", reads, kTA, kTO, kDT,
                kFifo, std::max(1u, std::thread::hardware_concurrency()));
    std::printf("%-6s %-9s %-8s %-12s %9s %9s %9s %9s\n", "baud", "delay ms", "dt ms", "answer", "sim", "sim busy",
                "pty", "pty busy");
    int status = 0;
    for (const Row& row : rows) {
        if (onlyBaud != 0 && row.baud != onlyBaud) continue;
        int counts[4] = {-2, -2, -2, -2};  // -2: not measured
        for (int column = 0; column < 4; ++column) {
            const bool onTerminal = column >= 2, loaded = column % 2 == 1;
            if ((onTerminal ? !pty : !sim) || (loaded ? !busy : !quiet)) continue;
            Load load(loaded);
            counts[column] = onTerminal ? HeardOnTerminal(row, reads, scratch) : HeardInProcess(row, reads);
            if (row.mustHear && counts[column] != reads) status = 1;
        }
        std::printf("%-6d %-9g %-8d %-12s", row.baud, row.delayMs, DeadTimeMs(row.baud),
                    row.mustHear ? "after DT" : "inside DT");
        for (int c : counts) {
            if (c == -2) std::printf(" %9s", "-");
            else if (c < 0) std::printf(" %9s", "error");
            else std::printf(" %9d", c);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    fs::remove_all(scratch);
    return status;
}
