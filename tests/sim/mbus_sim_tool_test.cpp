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

#include "control/line/frame_shape.h"
#include "tests/sim/sim_process.h"
#include "tests/sim/sim_test_support.h"

extern char** environ;

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

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
    SimProcess sim(MBUS_SIM_PATH, {"--slave", "primary=5 id=12345678 man=QXA version=1 medium=07 records=0413D2040000",
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

// A master's request reaches the terminal at once, but a line at 300 baud
// takes 5 x 11 bit times (183 ms) to carry SND_NKE: the slave's reply delay
// counts from the request's last stop bit, so the acknowledgement (itself
// one character long) cannot arrive before that.
TEST(MbusSimToolTest, TheReplyDelayCountsFromTheEndOfTheRequestOnTheLine) {
    SimProcess sim(MBUS_SIM_PATH, {"--baud", "300", "--reply-delay", "0", "--slave", "primary=5"});
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    const int fd = OpenTerminal(path, B300);
    ASSERT_GE(fd, 0);
    const Bytes nke = ShortFrame(0x40, 5);
    const auto lineTime = std::chrono::duration<double>(6 * 11 / 300.0);  // request and the E5h
    for (int i = 0; i < 2; ++i) {
        const auto sent = Clock::now();
        ASSERT_TRUE(Send(fd, nke));
        EXPECT_EQ(ReadFor(fd, 1, 5000ms), Bytes{0xE5});
        EXPECT_GE(Clock::now() - sent, lineTime);
    }
    close(fd);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(MbusSimToolTest, EchoAndQueuedFaultsFromTheCommandLine) {
    const std::string file = TempPath("mbus-sim-bus");
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("# test bus\nprimary=1\nprimary=2 medium=07\n", f);
        std::fclose(f);
    }
    SimProcess sim(MBUS_SIM_PATH, {"--file", file, "--echo", "full", "--unpaced", "--fault", "silence", "--fault", "parity@0"});
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
    SimProcess sim(MBUS_SIM_PATH, {"--baud", "auto", "--slave", "primary=1 records=0413D2040000"});
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
        {{"--random-faults", "0.2:7:often"}, "--random-faults \"0.2:7:often\": give a probability 0..1, optionally a seed and \"garbled\""},
        // strtod reads these as numbers; none is a probability.
        {{"--random-faults", "nan"}, "--random-faults \"nan\": give a probability 0..1"},
        {{"--random-faults", "-nan:3"}, "--random-faults \"-nan:3\": give a probability 0..1"},
        {{"--random-faults", "inf"}, "--random-faults \"inf\": give a probability 0..1"},
        {{"--random-faults", "0.2x"}, "--random-faults \"0.2x\": give a probability 0..1"},
        {{"--reply-delay", "nan"}, "--reply-delay \"nan\": give milliseconds 0..60000"},
        {{"--file", "/nonexistent/bus.txt"}, "--file: /nonexistent/bus.txt: does not exist"},
        {{"--slave"}, "--slave needs a value"},
        {{"--frobnicate"}, "unknown argument \"--frobnicate\""},
        {{"--verbose=yes"}, "--verbose takes no value"},
    };
    for (const auto& r : rows) {
        SimProcess sim(MBUS_SIM_PATH, r.args);
        ASSERT_TRUE(sim.Started());
        const std::string errors = sim.ReadErrors();
        EXPECT_EQ(sim.Wait(), 2) << r.args[0];
        EXPECT_NE(errors.find(r.expected), std::string::npos) << errors;
        EXPECT_EQ(errors.rfind("mbus-sim: ", 0), 0u) << errors;
    }
}

TEST(MbusSimToolTest, HelpDescribesTheOptionsAndWhatTheTerminalCannotDo) {
    SimProcess sim(MBUS_SIM_PATH, {"--help"});
    const std::string first = sim.ReadLine();
    std::string text;
    for (int lines = 0; lines < 200; ++lines) {
        const std::string line = sim.ReadLine();
        text += line + "\n";
        if (line.rfind("Exit codes", 0) == 0) break;
    }
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(first, "usage: mbus-sim [options]");
    // A master that sets even parity twice, or checks it, fails on a
    // pseudo-terminal: the help says so and shows the way that works.
    const std::size_t limit = text.find("keeps no parity");
    ASSERT_NE(limit, std::string::npos) << text;
    const std::size_t fails = text.find("8E1", limit);
    ASSERT_NE(fails, std::string::npos) << text;
    EXPECT_NE(text.find("mbus-sim --tcp PORT", fails), std::string::npos) << text;
}

}  // namespace
}  // namespace mbus::sim::test
