// One master on a line: a terminal port opened by one process cannot be
// opened by another until it is closed or its holder ends, whatever the
// privileges of the second process. Two processes (the test and a forked
// child) on one pseudo-terminal.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/serial/termios_port.h"
#include "serial_test_support.h"

namespace mbus::serial {
namespace {

using testing::PseudoTerminal;

// A forked process that opens the port; it reports the open's error number
// (0 when it got the port) through a pipe, then holds the port while
// `hold` is set, until it is killed.
class OtherProcess {
public:
    OtherProcess(const std::string& path, bool hold) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            int error = 0;
            std::unique_ptr<SerialPort> port = OpenTermiosPort(path, &error);
            if (::write(fds[1], &error, sizeof error) != sizeof error) ::_exit(2);
            if (port && hold)
                for (;;) ::pause();
            ::_exit(0);
        }
        ::close(fds[1]);
        report_ = fds[0];
    }
    ~OtherProcess() {
        Kill();
        if (report_ >= 0) ::close(report_);
    }

    pid_t Pid() const { return pid_; }
    // The error number of the child's open; -1 when it did not report.
    int OpenError() {
        int error = -1;
        if (report_ < 0 || ::read(report_, &error, sizeof error) != sizeof error) return -1;
        return error;
    }
    // Ends the child the hard way, as a crash would, and waits for it.
    void Kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
};

class PortLock : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.Ok()) << "no pseudo-terminal: errno " << errno; }
    PseudoTerminal pty;
};

TEST_F(PortLock, SecondProcessIsRefusedWhileThePortIsOpenAndServedAfterTheClose) {
    int error = -1;
    std::unique_ptr<SerialPort> port = OpenTermiosPort(pty.SlavePath(), &error);
    ASSERT_NE(port, nullptr) << "errno " << error;
    {
        OtherProcess other(pty.SlavePath(), false);
        ASSERT_GT(other.Pid(), 0);
        EXPECT_EQ(other.OpenError(), EBUSY);
    }
    port.reset();
    OtherProcess other(pty.SlavePath(), false);
    ASSERT_GT(other.Pid(), 0);
    EXPECT_EQ(other.OpenError(), 0);
}

TEST_F(PortLock, PortOfAHolderThatDiesIsFreeAgain) {
    OtherProcess holder(pty.SlavePath(), true);
    ASSERT_GT(holder.Pid(), 0);
    ASSERT_EQ(holder.OpenError(), 0);
    int error = 0;
    EXPECT_EQ(OpenTermiosPort(pty.SlavePath(), &error), nullptr);
    EXPECT_EQ(error, EBUSY);
    EXPECT_EQ(PortInUseText(pty.SlavePath()), "port in use by process " + std::to_string(holder.Pid()));

    holder.Kill();
    EXPECT_EQ(PortLockHolder(pty.SlavePath()), -1);
    std::unique_ptr<SerialPort> port = OpenTermiosPort(pty.SlavePath(), &error);
    EXPECT_NE(port, nullptr) << "errno " << error;
}

TEST_F(PortLock, APortThatFailsToOpenLeavesNoLockBehind) {
    // /dev/null opens but is no terminal: the open fails after the lock.
    int error = 0;
    EXPECT_EQ(OpenTermiosPort("/dev/null", &error), nullptr);
    EXPECT_EQ(error, ENOTTY);
    OtherProcess other("/dev/null", false);
    ASSERT_GT(other.Pid(), 0);
    EXPECT_EQ(other.OpenError(), ENOTTY);
}

}  // namespace
}  // namespace mbus::serial
