// mbus-sim end to end: the program is started, its terminal opened like a
// serial port, and frames exchanged with its slaves.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "control/link/frame_shape.h"
#include "tests/sim/sim_test_support.h"

extern char** environ;

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Reads what arrives on `fd` until `count` bytes came or `patience` passed.
Bytes ReadFor(int fd, std::size_t count, std::chrono::milliseconds patience) {
    Bytes out;
    const auto deadline = Clock::now() + patience;
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        uint8_t buffer[512];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

// The running program with pipes on its standard output and error.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all{MBUS_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, MBUS_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // The first line of standard output (the terminal's path).
    std::string ReadLine(std::chrono::milliseconds patience = 10s) {
        const auto deadline = Clock::now() + patience;
        for (;;) {
            const std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                const std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return {};
            const Bytes b = ReadFor(out_, 1, left);
            if (b.empty()) return {};
            pending_.append(b.begin(), b.end());
        }
    }

    // Everything on standard error until the program closes it.
    std::string ReadErrors(std::chrono::milliseconds patience = 10s) {
        const Bytes b = ReadFor(err_, 1 << 20, patience);
        return std::string(b.begin(), b.end());
    }

    // Waits for the exit; returns the exit code, or -1 (killed, or too slow).
    int Wait(std::chrono::seconds patience = 20s) {
        const auto deadline = Clock::now() + patience;
        while (Clock::now() < deadline) {
            int status = 0;
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    int Terminate(int signal = SIGTERM) {
        kill(pid_, signal);
        return Wait();
    }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string pending_;  // read from standard output, not yet taken
};

// Opens the terminal as a master program opens a serial port: raw, 8E1.
int OpenTerminal(const std::string& path, speed_t speed = B2400, bool checkParity = false) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, speed);
    t.c_cflag |= PARENB | CREAD | CLOCAL;
    if (checkParity) t.c_iflag |= INPCK;
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

void SetSpeed(int fd, speed_t speed) {
    termios t{};
    tcgetattr(fd, &t);
    cfsetspeed(&t, speed);
    tcsetattr(fd, TCSANOW, &t);
}

bool Send(int fd, const Bytes& frame) {
    return write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()))).string();
}

TEST(MbusSimToolTest, ServesSndNkeAndReqUd2OnItsTerminal) {
    const std::string link = TempPath("mbus-sim-link");
    SimProcess sim({"--slave", "primary=5 id=12345678 man=QXA version=1 medium=07 records=0413D2040000",
                    "--link", link});
    ASSERT_TRUE(sim.Started());
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), path);

    const int fd = OpenTerminal(link);
    ASSERT_GE(fd, 0) << path;
    ASSERT_TRUE(Send(fd, ShortFrame(0x40, 5)));
    EXPECT_EQ(ReadFor(fd, 1, 5000ms), Bytes{0xE5});
    ASSERT_TRUE(Send(fd, ShortFrame(0x7B, 5)));
    const Bytes answer = ReadFor(fd, 27, 5000ms);
    ASSERT_EQ(ClassifyFrame(answer).result, 3) << answer.size();
    const auto t = Decode(answer);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, 0x12345678);
    EXPECT_STREQ(t->manufacturerText, "QXA");
    ASSERT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(t->records[0].value, 1234);
    // Nothing for an absent slave.
    ASSERT_TRUE(Send(fd, ShortFrame(0x7B, 6)));
    EXPECT_TRUE(ReadFor(fd, 1, 500ms).empty());
    close(fd);

    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST(MbusSimToolTest, EchoAndQueuedFaultsFromTheCommandLine) {
    const std::string file = TempPath("mbus-sim-bus");
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("# test bus\nprimary=1\nprimary=2 medium=07\n", f);
        std::fclose(f);
    }
    SimProcess sim({"--file", file, "--echo", "full", "--unpaced", "--fault", "silence", "--fault", "parity@0"});
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    const int fd = OpenTerminal(path, B2400, /*checkParity=*/true);
    ASSERT_GE(fd, 0);
    const Bytes nke = ShortFrame(0x40, 2);
    ASSERT_TRUE(Send(fd, nke));
    EXPECT_EQ(ReadFor(fd, 6, 1000ms), nke);  // the echo only: the answer was silenced
    ASSERT_TRUE(Send(fd, nke));
    Bytes withParityFault = nke;
    withParityFault.push_back(0x00);  // a UART checking parity delivers a faulty byte as 00h
    EXPECT_EQ(ReadFor(fd, 6, 5000ms), withParityFault);
    ASSERT_TRUE(Send(fd, nke));
    Bytes clean = nke;
    clean.push_back(0xE5);
    EXPECT_EQ(ReadFor(fd, 6, 5000ms), clean);
    close(fd);
    EXPECT_EQ(sim.Terminate(SIGINT), 0);
    std::remove(file.c_str());
}

TEST(MbusSimToolTest, BaudSwitchFollowsTheTerminalsRate) {
    SimProcess sim({"--baud", "auto", "--slave", "primary=1 records=0413D2040000"});
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    const int fd = OpenTerminal(path, B2400);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(Send(fd, ControlFrame(0x53, 1, 0xBD)));  // to 9600 baud
    EXPECT_EQ(ReadFor(fd, 1, 5000ms), Bytes{0xE5});
    ASSERT_TRUE(Send(fd, ShortFrame(0x7B, 1)));
    EXPECT_TRUE(ReadFor(fd, 1, 700ms).empty());  // still at 2400: not understood
    SetSpeed(fd, B9600);
    ASSERT_TRUE(Send(fd, ShortFrame(0x7B, 1)));
    EXPECT_EQ(ClassifyFrame(ReadFor(fd, 27, 5000ms)).result, 3);
    close(fd);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(MbusSimToolTest, BadArgumentsExitWithTwoAndSayWhatIsWrong) {
    const struct {
        std::vector<std::string> args;
        const char* expected;
    } rows[] = {
        {{"--echo", "sideways"}, "--echo \"sideways\": give none, full or partial[:K]"},
        {{"--slave", "primary=999"}, "--slave \"primary=999\": \"primary=999\": primary address must be"},
        {{"--fault", "lose"}, "--fault: fault \"lose\": unknown kind"},
        {{"--baud", "fast"}, "--baud \"fast\""},
        {{"--reply-delay", "-3"}, "--reply-delay \"-3\""},
        {{"--random-faults", "2"}, "--random-faults \"2\""},
        {{"--file", "/nonexistent/bus.txt"}, "--file \"/nonexistent/bus.txt\": cannot read it"},
        {{"--slave"}, "--slave needs a value"},
        {{"--frobnicate"}, "unknown argument \"--frobnicate\""},
        {{"--verbose=yes"}, "--verbose takes no value"},
    };
    for (const auto& r : rows) {
        SimProcess sim(r.args);
        ASSERT_TRUE(sim.Started());
        const std::string errors = sim.ReadErrors();
        EXPECT_EQ(sim.Wait(), 2) << r.args[0];
        EXPECT_NE(errors.find(r.expected), std::string::npos) << errors;
        EXPECT_EQ(errors.rfind("mbus-sim: ", 0), 0u) << errors;
    }
}

TEST(MbusSimToolTest, HelpDescribesTheOptions) {
    SimProcess sim({"--help"});
    const std::string first = sim.ReadLine();
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(first, "usage: mbus-sim [options]");
}

}  // namespace
}  // namespace mbus::sim::test
