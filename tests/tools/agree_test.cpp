// mbusctl's commands agreeing with one another: scan's addresses are what
// read takes, the line options are the same everywhere, collisions and
// ports that do not open are told as such, and messages, JSON keys and
// --version look alike in every command and program.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "mbus_version.h"
#include "tests/support/scratch.h"
#include "tests/support/unprivileged.h"
#include "tests/tools/child_process.h"
#include "tools/mbusctl/decode_command.h"
#include "tools/mbusctl/line_options.h"

namespace mbus::cli::test {
namespace {

// Two water meters whose identification numbers differ in the first digit
// only, so that "F1111111" selects both (and a search finds them quickly).
const std::vector<std::string> kTwoSlaves = {"--baud", "9600", "--slave", "primary=1 id=11111111 man=QXA medium=07",
                                             "--slave", "primary=2 id=21111111 man=QXA medium=07"};

class AgreeProgram : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    // mbus-sim serving `args`; the device it prints goes to port 1 of the map.
    std::unique_ptr<ChildProcess> Simulator(std::vector<std::string> args) {
        auto sim = std::make_unique<ChildProcess>(MBUS_SIM_PATH, args);
        if (!sim->WaitForOutput("\n")) return nullptr;
        scratch_.WriteFile("ports", "1 = " + sim->Output().substr(0, sim->Output().find('\n')) + "\n");
        return sim;
    }
    // mbusctl run to its end with the port map and a registry of its own.
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args) {
        auto p = std::make_unique<ChildProcess>(
            MBUSCTL_PATH, args,
            std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                     "MBUS_REGISTRY=" + scratch_.File("registry"),
                                     "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
        rc_ = p->Wait(std::chrono::seconds(60));
        return p;
    }

    testsupport::ScratchDirectory scratch_;
    int rc_ = -1;
};

TEST_F(AgreeProgram, ScannedSecondaryAddressIsWhatReadTakes) {
    auto sim = Simulator(kTwoSlaves);
    ASSERT_NE(sim, nullptr);
    auto scan = Mbusctl({"scan", "--baud=9600", "--search-delay=50"});
    ASSERT_EQ(rc_, 0) << scan->Errors();
    // Table: a column of 16 digits per slave, identification, maker (QXA is
    // 4701h), version 01, medium 07.
    EXPECT_NE(scan->Output().find("secondary address"), std::string::npos) << scan->Output();
    const std::size_t at = scan->Output().find("2111111147010107");
    ASSERT_NE(at, std::string::npos) << scan->Output();
    EXPECT_NE(scan->Output().find("1111111147010107"), std::string::npos) << scan->Output();
    // Progress on standard error: the mask under test and the slaves found.
    EXPECT_NE(scan->Errors().find("searching, mask "), std::string::npos) << scan->Errors();
    EXPECT_NE(scan->Errors().find(" found\n"), std::string::npos) << scan->Errors();

    auto read = Mbusctl({"read", "--baud", "9600", "--format=json", scan->Output().substr(at, 16)});
    EXPECT_EQ(rc_, 0) << read->Errors();
    EXPECT_NE(read->Output().find("\"identNumber\":\"21111111\""), std::string::npos) << read->Output();
    EXPECT_EQ(read->Output().find("11111111"), std::string::npos) << read->Output();

    // The list as JSON carries the readout's keys and the secondary address.
    auto json = Mbusctl({"scan", "--baud", "9600", "--search-delay", "50", "--format", "json"});
    ASSERT_EQ(rc_, 0) << json->Errors();
    EXPECT_NE(json->Output().find("{\"a\":1,\"secondaryAddress\":\"1111111147010107\",\"identNumber\":\"11111111\","
                                  "\"manufacturer\":\"QXA\",\"version\":1,\"medium\":7,"),
              std::string::npos)
        << json->Output();
    EXPECT_EQ(json->Output().find("\"id\":"), std::string::npos) << json->Output();
}

TEST_F(AgreeProgram, ScanEndsWithTheProbesThatGotNoValidAnswer) {
    // 11111111 and 12222222 both answer 1FFFFFFF: their acknowledgements
    // overlay into one E5h, their readings collide. One reading without a
    // valid answer, then each meter one digit deeper.
    auto sim = Simulator({"--baud", "9600", "--slave", "primary=1 id=11111111 man=QXA medium=07", "--slave",
                          "primary=2 id=12222222 man=QXA medium=07"});
    ASSERT_NE(sim, nullptr);
    auto scan = Mbusctl({"scan", "--baud=9600", "--search-delay=50"});
    ASSERT_EQ(rc_, 0) << scan->Errors();
    EXPECT_NE(scan->Errors().find("mbusctl scan: 2 slaves found; 1 probe got no valid answer (garbled, or several "
                                  "slaves at once)\n"),
              std::string::npos)
        << scan->Errors();
}

TEST_F(AgreeProgram, ReadOfAMaskSeveralSlavesAnswerIsACollision) {
    auto sim = Simulator(kTwoSlaves);
    ASSERT_NE(sim, nullptr);
    for (const char* mask : {"F1111111", "FFFFFFFF47010107"}) {
        auto both = Mbusctl({"read", "--baud", "9600", "--retries", "0", mask});
        EXPECT_EQ(rc_, 1) << both->Errors();
        EXPECT_NE(both->Errors().find(std::string("mbusctl read: several slaves answer to ") + mask +
                                      ": give more digits of the secondary address"),
                  std::string::npos)
            << both->Errors();
        EXPECT_EQ(both->Errors().find("did not answer"), std::string::npos) << both->Errors();
    }
    // A mask that nobody matches is still silence, not a collision.
    auto none = Mbusctl({"read", "--baud", "9600", "--retries", "0", "3FFFFFFF"});
    EXPECT_EQ(rc_, 1);
    EXPECT_NE(none->Errors().find("3FFFFFFF did not answer"), std::string::npos) << none->Errors();
}

TEST_F(AgreeProgram, LineOptionsReachTheLine) {
    // A level converter that echoes every request. With --echo 1 the line
    // waits for the echo and takes it off the answer (the trace shows it
    // received); without, it throws away what comes while it sends, which
    // under load may or may not be the whole echo.
    auto sim = Simulator({"--baud", "9600", "--echo", "full", "--slave", "primary=5 id=12345678 man=QXA medium=07"});
    ASSERT_NE(sim, nullptr);
    const std::string trace = scratch_.File("trace");
    auto p = Mbusctl({"read", "--baud=9600", "--echo=1", "--parity=E", "--trace=" + trace, "5"});
    EXPECT_EQ(rc_, 0) << p->Errors();
    EXPECT_NE(p->Output().find("12345678"), std::string::npos) << p->Output();
    std::stringstream text;
    text << std::ifstream(trace).rdbuf();
    EXPECT_NE(text.str().find("SND\tChannel: 0\t10 7B 05 80 16"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("REC\tChannel: 0\t10 7B 05 80 16 68"), std::string::npos) << text.str();
}

// Ports 1 (a device that is not there) and 2 (one the user may not open).
class AgreePorts : public AgreeProgram {
protected:
    void SetUp() override {
        AgreeProgram::SetUp();
        scratch_.WriteFile("ports", "1 = " + scratch_.File("missing") + "\n2 = " + scratch_.File("locked") + "\n");
    }
    // scan takes no address.
    static std::vector<std::string> Args(const char* command, const char* port) {
        std::vector<std::string> a = {command, "--port", port};
        if (command != std::string("scan")) a.push_back("5");
        return a;
    }
};

TEST_F(AgreePorts, MissingDeviceIsNamedByEveryCommand) {
    for (const char* command : {"scan", "read", "exchange"}) {
        SCOPED_TRACE(command);
        auto p = Mbusctl(Args(command, "1"));
        EXPECT_EQ(rc_, 1);
        EXPECT_NE(p->Errors().find(std::string("mbusctl ") + command + ": port 1 could not be opened: " +
                                   scratch_.File("missing") + ": No such file or directory"),
                  std::string::npos)
            << p->Errors();
    }
}

TEST_F(AgreePorts, DeviceWithoutPermissionGetsTheReasonAndTheGroupToJoin) {
    testsupport::Unprivileged user({scratch_.Path()});
    ASSERT_TRUE(user.Ok()) << user.Problem();
    scratch_.WriteFile("locked", "");
    ASSERT_EQ(::chmod(scratch_.File("locked").c_str(), 0), 0);
    ASSERT_NE(::access(scratch_.File("locked").c_str(), R_OK | W_OK), 0) << "the test runs with every permission";
    for (const char* command : {"scan", "read", "exchange"}) {
        SCOPED_TRACE(command);
        auto p = Mbusctl(Args(command, "2"));
        EXPECT_EQ(rc_, 1);
        EXPECT_NE(p->Errors().find(scratch_.File("locked") + ": Permission denied"), std::string::npos) << p->Errors();
        EXPECT_NE(p->Errors().find("dialout"), std::string::npos) << p->Errors();
    }
}

TEST_F(AgreeProgram, EveryProgramAndCommandTellsItsVersion) {
    const std::string line = std::string(" ") + MBUS_VERSION + "\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--version"}, {"scan", "--version"}, {"read", "--port", "3", "--version"}, {"decode", "--version"},
             {"exchange", "--version"}, {"samples", "--version"}, {"session", "--version"}, {"call", "--version"}}) {
        auto p = Mbusctl(args);
        EXPECT_EQ(rc_, 0) << args[0];
        EXPECT_EQ(p->Output(), "mbusctl" + line) << args[0];
    }
    for (const char* program : {MBUS_SIM_PATH, REGSVR_PATH}) {
        ChildProcess p(program, {"--version"});
        EXPECT_EQ(p.Wait(), 0) << program;
        EXPECT_EQ(p.Output(), std::filesystem::path(program).filename().string() + line);
    }
}

TEST_F(AgreeProgram, UnknownCommandListsEveryCommand) {
    auto p = Mbusctl({"frobnicate"});
    EXPECT_EQ(rc_, 2);
    for (const char* command : {"scan", "read", "decode", "exchange", "samples", "session", "call"}) {
        const std::string listed = std::string(" ") + command;
        EXPECT_TRUE(p->Errors().find(listed + ",") != std::string::npos ||
                    p->Errors().find(listed + " ") != std::string::npos)
            << command << ": " << p->Errors();
    }
}

// The shared line options, in process.
TEST(LineOptions, ValuesRangesAndTheOneMeaningOfRetries) {
    auto parse = [](std::vector<std::string> args, LineOptions& o, std::string& err) {
        std::ostringstream e;
        args = SplitOptionValues(args);
        int rc = 1;
        for (std::size_t i = 0; i < args.size() && rc == 1; ++i) rc = ParseLineOption(args, i, o, e, "read");
        err = e.str();
        return rc;
    };
    LineOptions o;
    std::string err;
    EXPECT_EQ(o.retries, 2);  // repetitions after the first transmission
    ASSERT_EQ(parse({"--port=7", "--baud", "9600", "--parity=O", "--echo", "2", "--retries=0", "--trace=t.log"}, o, err),
              1)
        << err;
    EXPECT_EQ(o.port, 7);
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.parity, 2);
    EXPECT_EQ(o.echo, 2);
    EXPECT_EQ(o.retries, 0);
    EXPECT_EQ(o.trace, "t.log");

    const struct {
        std::vector<std::string> args;
        const char* message;
    } bad[] = {
        {{"--baud", "1234"}, "mbusctl read: 1234 baud is not a rate the line supports; use 300, 600, 1200,"},
        {{"--baud=921601"}, "921601 baud is not a rate the line supports"},
        {{"--echo", "3"}, "mbusctl read: --echo needs a number 0..2"},
        {{"--retries", "100"}, "--retries needs a number 0..99"},
        {{"--parity", "X"}, "parity \"X\": use E, O or N"},
        {{"--port"}, "--port needs a value"},
    };
    for (const auto& c : bad) {
        LineOptions x;
        EXPECT_EQ(parse(c.args, x, err), -1) << c.message;
        EXPECT_NE(err.find(c.message), std::string::npos) << err;
    }
    // Only options that take a value are split; a flag with "=" stays whole.
    EXPECT_EQ(SplitOptionValues({"--primary=1", "--search-delay=5", "5"}, {"--search-delay"}),
              (std::vector<std::string>{"--primary=1", "--search-delay", "5", "5"}));
    // One table gives the help of every command.
    const std::string usage = LineOptionsUsage(21);
    for (const char* name : {"--port N", "--baud N", "--parity E|O|N", "--echo 0|1|2", "--retries N", "--trace FILE"})
        EXPECT_NE(usage.find(name), std::string::npos) << name;
    EXPECT_NE(usage.find("sent again"), std::string::npos) << usage;
}

TEST(CommandMessages, SamplesHasItsOwnHelpAndEveryPrefixIsTheCommand) {
    std::ostringstream out, err;
    EXPECT_EQ(RunSamples({"--help"}, out, err), 0);
    EXPECT_EQ(out.str().rfind("usage: mbusctl samples", 0), 0u) << out.str();
    EXPECT_EQ(out.str().find("TELEGRAM"), std::string::npos) << out.str();

    std::ostringstream sOut, sErr;
    EXPECT_EQ(RunSamples({"--format", "xml"}, sOut, sErr), 2);
    EXPECT_EQ(sErr.str().rfind("mbusctl samples: ", 0), 0u) << sErr.str();

    std::istringstream in;
    std::ostringstream dOut, dErr;
    EXPECT_EQ(RunDecode({"--format=hex2", "68 1G"}, in, dOut, dErr), 1);
    EXPECT_EQ(dErr.str().rfind("mbusctl decode: ", 0), 0u) << dErr.str();
}

}  // namespace
}  // namespace mbus::cli::test
