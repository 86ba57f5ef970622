// mbusctl as a program: a port another process holds, interruptions of a
// search and of a simulated session. The bus is mbus-sim on a
// pseudo-terminal, or the session's own simulated devices.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "platform/serial/termios_port.h"
#include "tests/platform/serial/serial_test_support.h"
#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::cli::test {
namespace {

class MbusctlProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    // mbusctl with port 1 mapped to `device` and a registry of its own.
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args, const std::string& device = "") {
        if (!device.empty()) scratch_.WriteFile("ports", "1 = " + device + "\n");
        return std::make_unique<ChildProcess>(
            MBUSCTL_PATH, args,
            std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                     "MBUS_REGISTRY=" + scratch_.File("registry"),
                                     "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH,
                                     "TMPDIR=" + temp_.Path()});
    }
    // What is left in the temporary directory the programs were given.
    std::vector<std::string> TemporaryFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(temp_.Path()))
            names.push_back(e.path().filename().string());
        return names;
    }

    testsupport::ScratchDirectory scratch_;
    testsupport::ScratchDirectory temp_;
};

TEST_F(MbusctlProgram, PortHeldByAnotherProcessIsRefusedNamingTheHolder) {
    serial::testing::PseudoTerminal pty;
    ASSERT_TRUE(pty.Ok());
    int error = 0;
    const std::unique_ptr<serial::SerialPort> held = serial::OpenTermiosPort(pty.SlavePath(), &error);
    ASSERT_NE(held, nullptr) << "errno " << error;

    auto mbusctl = Mbusctl({"read", "--retries", "1", "5"}, pty.SlavePath());
    ASSERT_TRUE(mbusctl->Started());
    EXPECT_EQ(mbusctl->Wait(), 1) << mbusctl->Errors();
    EXPECT_NE(mbusctl->Errors().find(pty.SlavePath() + ": port in use by process " + std::to_string(::getpid())),
              std::string::npos)
        << mbusctl->Errors();
    EXPECT_EQ(mbusctl->Output(), "");
}

// A trace file that cannot be written is bad usage, told before anything
// is sent, naming the file and the reason.
TEST_F(MbusctlProgram, TraceFileThatCannotBeWrittenIsBadUsageNamingTheReason) {
    const struct {
        std::string trace;
        const char* reason;
    } cases[] = {
        {"/nonexistent/dir/x", "No such file or directory"},
        {scratch_.Path(), "is a directory"},
        {scratch_.File("plain/x"), "Not a directory"},
    };
    scratch_.WriteFile("plain", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.trace);
        for (const char* command : {"read", "scan", "exchange"}) {
            std::vector<std::string> args{command, "--trace", c.trace};
            if (std::string(command) != "scan") args.push_back("5");
            auto mbusctl = Mbusctl(args, scratch_.File("no-such-device"));
            EXPECT_EQ(mbusctl->Wait(), 2) << mbusctl->Errors();
            EXPECT_NE(mbusctl->Errors().find("mbusctl " + std::string(command) + ": --trace " + c.trace + ": "),
                      std::string::npos)
                << mbusctl->Errors();
            EXPECT_NE(mbusctl->Errors().find(c.reason), std::string::npos) << mbusctl->Errors();
            EXPECT_EQ(mbusctl->Errors().find("could not be opened"), std::string::npos) << mbusctl->Errors();
        }
    }
}

TEST_F(MbusctlProgram, InterruptedSearchOfReadAllPrintsTheSlavesFoundSoFar) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        ChildProcess sim(MBUS_SIM_PATH, {"--verbose", "--slave", "primary=1 id=11111111 man=QXA medium=07",
                                         "--slave", "primary=2 id=22222222 man=QXA medium=07"});
        ASSERT_TRUE(sim.WaitForOutput("\n"));
        const std::string device = sim.Output().substr(0, sim.Output().find('\n'));

        // One transmission each: both slaves are found at the first ask.
        auto mbusctl = Mbusctl({"read", "--all", "--primary", "--retries", "0"}, device);
        // Both slaves answered once the search asks for address 3; the rest
        // of the addresses would take more than a minute.
        ASSERT_TRUE(sim.WaitForErrors("SND_NKE to 3)")) << sim.Errors() << mbusctl->Errors();
        mbusctl->Signal(signal);
        EXPECT_EQ(mbusctl->Wait(), 130) << mbusctl->Errors();
        EXPECT_NE(mbusctl->Output().find("11111111"), std::string::npos) << mbusctl->Output();
        EXPECT_NE(mbusctl->Output().find("22222222"), std::string::npos) << mbusctl->Output();
        EXPECT_NE(mbusctl->Errors().find("2 slaves found"), std::string::npos) << mbusctl->Errors();
    }
}

// An unplugged converter that comes back: mbus-sim killed (its link left
// behind, pointing at a terminal that is gone) and started again on the
// same link while mbusctl polls.
TEST_F(MbusctlProgram, PollingGoesOnAcrossASimulatorKilledAndStartedAgainOnItsLink) {
    const std::string link = scratch_.File("bus");
    const std::vector<std::string> simArgs{"--link", link, "--slave", "primary=1 id=11111111 man=QXA medium=07"};
    auto sim = std::make_unique<ChildProcess>(MBUS_SIM_PATH, simArgs);
    ASSERT_TRUE(sim->WaitForOutput("\n")) << sim->Errors();
    auto mbusctl = Mbusctl({"read", "--every", "1", "--format", "json", "1"}, link);
    ASSERT_TRUE(mbusctl->WaitForOutput("11111111")) << mbusctl->Errors();

    sim->Signal(SIGKILL);
    EXPECT_EQ(sim->Wait(), 128 + SIGKILL);
    const std::string lost = "port 1 (" + link + "): device lost, retrying";
    ASSERT_TRUE(mbusctl->WaitForErrors(lost, 60s)) << mbusctl->Errors();
    // Away for a while: rounds pass, and attempts to open the line fail.
    std::this_thread::sleep_for(3s);

    sim = std::make_unique<ChildProcess>(MBUS_SIM_PATH, simArgs);
    ASSERT_TRUE(sim->WaitForOutput("\n")) << sim->Errors();
    // The waits between attempts are at most 30 s.
    ASSERT_TRUE(mbusctl->WaitForErrors("port 1 (" + link + "): back after ", 90s)) << mbusctl->Errors();
    // A reading after it.
    const std::size_t before = mbusctl->Output().size();
    ASSERT_TRUE(mbusctl->WaitForOutputPast(before)) << mbusctl->Errors();
    mbusctl->Signal(SIGTERM);
    EXPECT_EQ(mbusctl->Wait(), 0) << mbusctl->Errors();

    const std::string& errors = mbusctl->Errors();
    EXPECT_EQ(errors.find(lost), errors.rfind(lost)) << "said once per loss:\n" << errors;
    // While the device is away nothing is asked, so no meter fails to
    // answer. (Before the loss is found, a request may have gone unanswered
    // while the killed simulator was still ending.)
    const std::size_t lostAt = errors.find(lost), backAt = errors.find(": back after ");
    ASSERT_LT(lostAt, backAt) << errors;
    EXPECT_EQ(errors.substr(lostAt, backAt - lostAt).find("did not answer"), std::string::npos) << errors;
    // Every reading is a whole line, before the loss and after it.
    std::istringstream lines(mbusctl->Output());
    int readings = 0;
    for (std::string line; std::getline(lines, line); ++readings) {
        ASSERT_FALSE(line.empty());
        EXPECT_EQ(line.front(), '{') << line;
        EXPECT_EQ(line.back(), '}') << line;
        EXPECT_NE(line.find("\"11111111\""), std::string::npos) << line;
    }
    EXPECT_GE(readings, 2);
    EXPECT_NE(mbusctl->Output().find("11111111", before), std::string::npos) << "no reading after the line came back";
    EXPECT_EQ(mbusctl->Output().back(), '\n');
}

TEST_F(MbusctlProgram, SimulatedSessionRemovesItsTemporaryFilesWhenInterrupted) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        auto session = Mbusctl({"session", "--simulate=bus"});
        session->Write("COMPort = 7\nCOMPort\n");
        ASSERT_TRUE(session->WaitForOutput("7\n")) << session->Errors();
        // The session is under way with its files in place.
        EXPECT_FALSE(TemporaryFiles().empty());
        session->Signal(signal);
        EXPECT_EQ(session->Wait(), 128 + signal) << session->Errors();
        EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace mbus::cli::test
