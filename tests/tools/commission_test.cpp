// mbusctl set-address and set-baud as programs, on mbus-sim's simulated bus:
// the change is confirmed by reading the meter where it went, and refused or
// reported when it cannot be.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::cli::test {
namespace {

const char* kMeter = "primary=5 id=12345678 man=QXA version=01 medium=07 records=0413D2040000";
const char* kOther = "primary=9 id=99999999 man=QXB version=02 medium=04 records=0413E8030000";

class Commissioning : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    // mbus-sim following the rate mbusctl sets, with these slaves and extra options.
    void StartBus(std::vector<std::string> args) {
        args.insert(args.begin(), {"--baud", "auto", "--unpaced"});
        sim_ = std::make_unique<ChildProcess>(MBUS_SIM_PATH, args);
        ASSERT_TRUE(sim_->WaitForOutput("\n"));
        scratch_.WriteFile("ports", "1 = " + sim_->Output().substr(0, sim_->Output().find('\n')) + "\n");
    }

    struct Result {
        int rc;
        std::string out, err;
    };
    Result Mbusctl(const std::vector<std::string>& args) {
        ChildProcess p(MBUSCTL_PATH, args,
                       {"MBUS_PORT_MAP=" + scratch_.File("ports"), "MBUS_REGISTRY=" + scratch_.File("registry"),
                        "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
        const int rc = p.Wait(60s);
        return {rc, p.Output(), p.Errors()};
    }
    // True when `mbusctl read` finds a meter with this identification at `address`.
    bool ReadsAt(const std::string& address, const std::string& id, const std::string& baud = "2400") {
        const Result r = Mbusctl({"read", "--baud", baud, "--retries", "0", address});
        return r.rc == 0 && r.out.find(id) != std::string::npos;
    }

    testsupport::ScratchDirectory scratch_;
    std::unique_ptr<ChildProcess> sim_;
};

TEST_F(Commissioning, SetAddressByPrimaryAndBySecondaryAddressIsConfirmed) {
    StartBus({"--slave", kMeter, "--slave", kOther});
    Result r = Mbusctl({"set-address", "5", "7"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "primary address of 12345678 (QXA, Water) set from 5 to 7, confirmed\n");
    EXPECT_TRUE(ReadsAt("7", "12345678"));
    EXPECT_FALSE(ReadsAt("5", "12345678"));

    // The whole secondary address, F for wildcards.
    r = Mbusctl({"set-address", "99999999FFFF02FF", "12"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "primary address of 99999999 (QXB, Heat (outlet)) set from 9 to 12, confirmed\n");
    EXPECT_TRUE(ReadsAt("12", "99999999"));
    EXPECT_FALSE(ReadsAt("9", "99999999"));
    EXPECT_TRUE(ReadsAt("7", "12345678"));
}

TEST_F(Commissioning, AnAddressInUseIsRefusedUnlessForced) {
    StartBus({"--slave", kMeter, "--slave", kOther});
    Result r = Mbusctl({"set-address", "12345678", "9"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("a slave answers at 9 already: 99999999 (QXB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Nothing was changed"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadsAt("5", "12345678"));

    // Forced, both answer at 9: their answers collide, and the confirmation says so.
    r = Mbusctl({"set-address", "--force", "12345678", "9"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("acknowledged the address 9, but"), std::string::npos) << r.err;
    EXPECT_FALSE(ReadsAt("5", "12345678"));
}

TEST_F(Commissioning, SetBaudIsConfirmedAtTheNewRate) {
    StartBus({"--slave", kMeter});
    Result r = Mbusctl({"set-baud", "5", "9600"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "baud rate of 12345678 (QXA, Water) switched from 2400 to 9600, confirmed\n");
    EXPECT_TRUE(ReadsAt("5", "12345678", "9600"));
    EXPECT_FALSE(ReadsAt("5", "12345678", "2400"));
    // And back, addressed by identification number at the rate it has now.
    r = Mbusctl({"set-baud", "--baud", "9600", "12345678", "2400"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_TRUE(ReadsAt("5", "12345678", "2400"));
}

TEST_F(Commissioning, MissingAcknowledgementOrAnswerGivesExitOneAndSaysWhich) {
    // The first answers (SND_NKE's acknowledgement, the identification)
    // come, the acknowledgement of the new address is lost.
    StartBus({"--slave", kMeter, "--fault", "none", "--fault", "none", "--fault", "silence"});
    Result r = Mbusctl({"set-address", "--retries", "0", "5", "7"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("12345678 (QXA, Water) did not acknowledge the new address 7 (no E5h)"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");

    r = Mbusctl({"set-baud", "--retries", "0", "44", "9600"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.err.find("44 did not answer at 2400 baud; nothing was changed"), std::string::npos) << r.err;
}

TEST_F(Commissioning, BadUsageGivesExitTwo) {
    const struct {
        std::vector<std::string> args;
        const char* message;
    } rows[] = {
        {{"set-address", "5"}, "give the meter's address and the new primary address"},
        {{"set-address", "5", "251"}, "new address \"251\": give 1..250"},
        {{"set-address", "5", "5"}, "at 5 already"},
        {{"set-address", "xyz", "5"}, "\"xyz\" is no address"},
        {{"set-baud", "5", "1000"}, "rate \"1000\": give 300, 600"},
        {{"set-baud", "--force", "5", "9600"}, "unknown option \"--force\""},
        {{"set-baud", "--baud", "1", "5", "9600"}, "1 baud is not a rate the line supports"},
    };
    for (const auto& row : rows) {
        const Result r = Mbusctl(row.args);
        EXPECT_EQ(r.rc, 2) << row.args[0];
        EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    }
    const Result help = Mbusctl({"set-address", "--help"});
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("--force"), std::string::npos);
}

}  // namespace
}  // namespace mbus::cli::test
