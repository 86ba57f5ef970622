// mbus-sim's terminal as a serial client sees it that knows only POSIX
// termios: open, tcgetattr, cfsetispeed/cfsetospeed, tcsetattr, write,
// poll and read. A pseudo-terminal keeps neither parity nor 7 data bits, and
// the C library reports EINVAL when a tcsetattr asking for them changes
// nothing else; the terminal must therefore reach each new client in a state
// that its usual settings change.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "control/line/frame_shape.h"
#include "tests/sim/sim_process.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

using namespace std::chrono_literals;

struct Setting {
    speed_t speed = B2400;
    int dataBits = 8;
    char parity = 'E';  // N, E, O
    int stopBits = 1;
    int action = TCSANOW;
};

// What a common client does after opening the port; returns tcsetattr's
// result, with errno in *error.
int Configure(int fd, const Setting& s, int* error) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        *error = errno;
        return -1;
    }
    cfsetispeed(&t, s.speed);
    cfsetospeed(&t, s.speed);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    t.c_cflag |= (s.dataBits == 7 ? CS7 : CS8) | CREAD | CLOCAL;
    if (s.parity != 'N') t.c_cflag |= PARENB;
    if (s.parity == 'O') t.c_cflag |= PARODD;
    if (s.stopBits == 2) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const int r = tcsetattr(fd, s.action, &t);
    *error = r == 0 ? 0 : errno;
    return r;
}

// Opens the terminal once mbus-sim has taken it back from the client before:
// a new program starts well after the previous one closed the port, which
// this waiting stands in for. The terminal is handed back without CLOCAL,
// which every usual client sets; after a few seconds the client goes ahead
// anyway (and its tcsetattr shows what it meets).
int OpenAsNextClient(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    for (;;) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) return -1;
        termios t{};
        if (std::chrono::steady_clock::now() > deadline || (tcgetattr(fd, &t) == 0 && !(t.c_cflag & CLOCAL)))
            return fd;
        close(fd);
        std::this_thread::sleep_for(20ms);
    }
}

// SND_NKE and REQ_UD2 to `primary`: E5h, then the slave's long frame.
void ExpectSlaveAnswers(int fd, uint8_t primary, int32_t id) {
    ASSERT_EQ(write(fd, ShortFrame(0x40, primary).data(), 5), 5);
    EXPECT_EQ(ReadFor(fd, 1, 5000ms), Bytes{0xE5});
    ASSERT_EQ(write(fd, ShortFrame(0x7B, primary).data(), 5), 5);
    const Bytes answer = ReadFor(fd, 27, 5000ms);
    ASSERT_EQ(ClassifyFrame(answer).result, 3) << answer.size() << " byte(s)";
    const auto t = Decode(answer);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->identNumber, id);
}

std::string LinkPath() {
    return (std::filesystem::temp_directory_path() / ("mbus-sim-termios-" + std::to_string(getpid()))).string();
}

TEST(TermiosClientTest, EveryClientSets2400EvenParityWithEachActionAndReadsTheSlave) {
    const std::string link = LinkPath();
    SimProcess sim(MBUS_SIM_PATH, {"--slave", "primary=5 id=12345678 man=QXA medium=07 records=0413D2040000",
                                   "--link", link});
    ASSERT_FALSE(sim.ReadLine().empty());
    for (const int action : {TCSANOW, TCSADRAIN, TCSAFLUSH, TCSANOW}) {
        SCOPED_TRACE("action " + std::to_string(action));
        const int fd = OpenAsNextClient(link);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        int error = 0;
        Setting s;
        s.action = action;
        EXPECT_EQ(Configure(fd, s, &error), 0) << std::strerror(error);
        ExpectSlaveAnswers(fd, 5, 0x12345678);
        close(fd);
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST(TermiosClientTest, UsualSettingsAtEveryStandardRateAreAccepted) {
    SimProcess sim(MBUS_SIM_PATH, {"--baud", "auto", "--slave", "primary=1 id=11111111 baud=9600"});
    const std::string path = sim.ReadLine();
    ASSERT_FALSE(path.empty());
    const speed_t rates[] = {B300,  B600,  B1200,  B2400,   B4800,   B9600,
                             B19200, B38400, B57600, B115200, B230400};
    const char parities[] = {'N', 'E', 'O'};
    const int actions[] = {TCSANOW, TCSADRAIN, TCSAFLUSH};
    for (int i = 0; i < static_cast<int>(std::size(rates)); ++i) {
        const Setting s{rates[i], 7 + i % 2, parities[i % 3], 1 + (i / 2) % 2, actions[(i + 1) % 3]};
        SCOPED_TRACE("setting " + std::to_string(i) + ": " + std::to_string(s.dataBits) + s.parity +
                     std::to_string(s.stopBits) + " action " + std::to_string(s.action));
        const int fd = OpenAsNextClient(path);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        int error = 0;
        EXPECT_EQ(Configure(fd, s, &error), 0) << std::strerror(error);
        // The slave listens at 9600 only: it answers at that rate, and is silent at the others.
        ASSERT_EQ(write(fd, ShortFrame(0x40, 1).data(), 5), 5);
        const Bytes answer = ReadFor(fd, 1, rates[i] == B9600 ? 5000ms : 300ms);
        EXPECT_EQ(answer, rates[i] == B9600 ? Bytes{0xE5} : Bytes{});
        close(fd);
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

}  // namespace
}  // namespace mbus::sim::test
