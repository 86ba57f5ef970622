// mbusctl read delivers a meter's whole, fresh readout or reports a failure:
// separate processes each start the meter's conversation afresh, a lost
// follow-up telegram fails the readout (in single reads and in polling),
// and a soak on a noisy simulated bus never turns into a false success.

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <sstream>

#include "tests/support/readout_soak.h"
#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::cli::test {
namespace {

// The three-telegram meter of the soak bus.
const char* const kThreeTelegrams =
    "primary=9 id=12349999 man=QXB medium=04 records=0C0611470000 records=0C1389670000 records=0A5A5505";

class ReadoutTruth : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch_.Ok()); }

    // mbus-sim with the three-telegram meter and these faults for its
    // next answers, in order; its device is port 1.
    std::unique_ptr<ChildProcess> Simulator(const std::vector<std::string>& faults) {
        std::vector<std::string> args = {"--unpaced", "--slave", kThreeTelegrams};
        for (const std::string& f : faults) {
            args.push_back("--fault");
            args.push_back(f);
        }
        auto sim = std::make_unique<ChildProcess>(MBUS_SIM_PATH, args);
        if (!sim->WaitForOutput("\n")) return nullptr;
        scratch_.WriteFile("ports", "1 = " + sim->Output().substr(0, sim->Output().find('\n')) + "\n");
        return sim;
    }
    std::unique_ptr<ChildProcess> Mbusctl(const std::vector<std::string>& args) {
        return std::make_unique<ChildProcess>(MBUSCTL_PATH, args,
                                              std::vector<std::string>{"MBUS_PORT_MAP=" + scratch_.File("ports"),
                                                                       "MBUS_REGISTRY=" + scratch_.File("registry"),
                                                                       "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH});
    }

    testsupport::ScratchDirectory scratch_;
};

// The answers of one read after the fix: the acknowledgement of SND_NKE,
// then the first telegram; the second is lost with its one repetition.
const std::vector<std::string> kSecondTelegramLost = {"none", "none", "silence", "silence"};

TEST(ReadoutTruthSoak, SeparateProcessesEachReadTheWholeFreshReadout) {
    testsupport::ReadoutSoakSettings s;
    s.processes = 20;
    s.probability = 0;
    s.addresses = {"3"};
    testsupport::ReadoutSoakFigures f = testsupport::RunReadoutSoak(s);
    ASSERT_TRUE(f.simulatorStarted);
    EXPECT_EQ(f.correct, 20) << f.firstProblem << f.firstFailure;
    EXPECT_EQ(f.falseSuccess, 0) << f.firstProblem;

    // By secondary address the selection starts the conversation over.
    s.processes = 5;
    s.addresses = {"12349999"};
    f = testsupport::RunReadoutSoak(s);
    EXPECT_EQ(f.correct, 5) << f.firstProblem << f.firstFailure;
    EXPECT_EQ(f.falseSuccess, 0) << f.firstProblem;
}

TEST(ReadoutTruthSoak, NoisyBusGivesNoFalseSuccess) {
    for (const double probability : {0.2, 0.4}) {
        testsupport::ReadoutSoakSettings s;
        s.processes = 5;
        s.probability = probability;
        s.seed = 7;
        const testsupport::ReadoutSoakFigures f = testsupport::RunReadoutSoak(s);
        ASSERT_TRUE(f.simulatorStarted);
        EXPECT_EQ(f.readouts, 15);
        EXPECT_EQ(f.falseSuccess, 0) << "at " << probability << ": " << f.firstProblem;
        EXPECT_EQ(f.correct + f.failedAsFailed, f.readouts) << f.firstProblem;
        EXPECT_GT(f.correct, 0) << "at " << probability;
    }
}

TEST_F(ReadoutTruth, LostFollowUpTelegramFailsTheReadWithNothingPrinted) {
    auto sim = Simulator(kSecondTelegramLost);
    ASSERT_NE(sim, nullptr);
    auto read = Mbusctl({"read", "--port", "1", "--retries", "1", "9"});
    EXPECT_EQ(read->Wait(std::chrono::seconds(60)), 1) << read->Output() << read->Errors();
    EXPECT_EQ(read->Output(), "");
    EXPECT_NE(read->Errors().find("9 (12349999): incomplete, 1 telegram read, more announced"), std::string::npos)
        << read->Errors();
}

TEST_F(ReadoutTruth, PartialOptionPrintsTheIncompleteReadoutMarkedAsSuch) {
    auto sim = Simulator(kSecondTelegramLost);
    ASSERT_NE(sim, nullptr);
    auto read = Mbusctl({"read", "--port", "1", "--retries", "1", "--partial", "--format", "json", "9"});
    EXPECT_EQ(read->Wait(std::chrono::seconds(60)), 1) << read->Errors();
    EXPECT_NE(read->Output().find("\"complete\":false"), std::string::npos) << read->Output();
    EXPECT_NE(read->Output().find("\"value\":\"00004711\""), std::string::npos) << read->Output();
    EXPECT_EQ(read->Output().find("00006789"), std::string::npos) << read->Output();
    EXPECT_NE(read->Errors().find("incomplete"), std::string::npos) << read->Errors();

    // --partial shows what was read as JSON only.
    auto table = Mbusctl({"read", "--port", "1", "--partial", "9"});
    EXPECT_EQ(table->Wait(), 2);
    EXPECT_NE(table->Errors().find("--partial goes with --format json"), std::string::npos) << table->Errors();
}

TEST_F(ReadoutTruth, PollingWritesNoRowForAnIncompleteReadoutAndReadsAfreshNextRound) {
    auto sim = Simulator(kSecondTelegramLost);
    ASSERT_NE(sim, nullptr);
    auto poll = Mbusctl({"read", "--port", "1", "--retries", "1", "--every", "1", "--format", "json", "9"});
    ASSERT_TRUE(poll->WaitForErrors("incomplete", std::chrono::seconds(60))) << poll->Errors() << poll->Output();
    ASSERT_TRUE(poll->WaitForOutput("\n", std::chrono::seconds(60))) << poll->Errors();
    poll->Signal(SIGINT);
    EXPECT_EQ(poll->Wait(std::chrono::seconds(60)), 0) << poll->Errors();
    std::istringstream lines(poll->Output());
    int rows = 0;
    for (std::string line; std::getline(lines, line); ++rows) {
        EXPECT_EQ(testsupport::soak_detail::RecordValues(line),
                  (std::vector<std::string>{"00004711", "00006789", "055500"}))
            << line;
        EXPECT_NE(line.find("\"complete\":true"), std::string::npos) << line;
    }
    EXPECT_GE(rows, 1);
}

}  // namespace
}  // namespace mbus::cli::test
