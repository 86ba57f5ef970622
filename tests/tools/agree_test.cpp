// mbusctl's commands agreeing with one another: scan's addresses are what
// read takes, and a collision is told as such.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

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

}  // namespace
}  // namespace mbus::cli::test
