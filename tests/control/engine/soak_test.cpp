// Two thousand REQ_UD2 read-outs on lines that harm 30 % of the answers:
// nothing harmed is ever accepted, every failure is reported as a fault
// after the last repetition, and the counts are what the fault rate gives.
// MBUS_SOAK_SEED chooses another seed (the seed is printed on failure).

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/soak.h"

namespace mbus::testsupport {
namespace {

TEST(Soak, HarmedAnswersAreNeverAccepted) {
    SoakSettings s;
    s.transactions = 2000;
    s.seed = 20240613;
    if (const char* seed = std::getenv("MBUS_SOAK_SEED")) s.seed = static_cast<uint32_t>(std::strtoul(seed, nullptr, 10));
    SCOPED_TRACE(testing::Message() << "seed " << s.seed);
    const SoakFigures f = RunSoak(s);

    ASSERT_EQ(f.unfinished, 0) << f.firstProblem;
    ASSERT_EQ(f.transactions, s.transactions) << f.firstProblem;
    EXPECT_EQ(f.wrongAccepted, 0) << f.firstProblem;
    EXPECT_EQ(f.wrongFailure, 0) << f.firstProblem;
    // The slaves' L fields include those that begin a slave list and an escape.
    EXPECT_EQ(f.lFields, (std::set<uint8_t>{0x19, 0x1B, 0x20}));
    EXPECT_EQ(f.firstAttempt + f.repeated + f.failed, f.transactions);
    // About 0.3 of the answers are harmed, each kind about a quarter of them.
    const int answers = f.firstAttempt + 2 * f.repeated + s.retries * f.failed;  // at least
    EXPECT_GT(f.harmedAnswers, answers / 5);
    EXPECT_LT(f.harmedAnswers, answers * 2 / 5);
    for (int kind = 1; kind <= 4; ++kind) EXPECT_GT(f.harms[kind], f.harmedAnswers / 8) << "harm " << kind;
    // 0.7 of the transactions succeed at once; 0.3^3 fail on harm alone.
    EXPECT_GT(f.firstAttempt, f.transactions / 2);
    EXPECT_GT(f.repeated, f.transactions / 6);
    EXPECT_GT(f.failedAllHarmed, 0);
    EXPECT_LT(f.failed, f.transactions / 10);
    std::printf("soak: %d transactions in %.1f s: %d at once, %d repeated, %d failed (%d harmed throughout), "
                "%d answers harmed\n",
                f.transactions, f.seconds, f.firstAttempt, f.repeated, f.failed, f.failedAllHarmed, f.harmedAnswers);
}

}  // namespace
}  // namespace mbus::testsupport
