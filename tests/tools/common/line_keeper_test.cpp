// The keeper of a polled line: what it says and when it tries to open a
// line whose device was lost, on a clock the tests move by hand.

#include "tools/common/line_keeper.h"

#include <gtest/gtest.h>

#include <vector>

namespace mbus::tools {
namespace {

using namespace std::chrono_literals;

class FakeClock : public KeeperClock {
public:
    time_point Now() const override { return now; }
    time_point now{std::chrono::hours(1)};
};

// A line whose loss and reopening the test decides, recording what the
// keeper did to it.
class KeeperOfAFakeLine : public ::testing::Test {
protected:
    KeeperOfAFakeLine()
        : keeper({"port 1 (/dev/ttyUSB0)", [this] { return deviceGone; }, [this] { ++closes; },
                  [this] {
                      reopenedAt.push_back(clock.now);
                      if (!deviceBack) return false;
                      deviceGone = false;
                      return true;
                  },
                  [this](const std::string& m) { said.push_back(m); }},
                 clock) {}

    // Asks Ready every 100 ms of clock time for `span`.
    void PollFor(std::chrono::milliseconds span) {
        for (auto end = clock.now + span; clock.now < end; clock.now += 100ms) keeper.Ready();
    }

    FakeClock clock;
    bool deviceGone = false, deviceBack = false;
    int closes = 0;
    std::vector<KeeperClock::time_point> reopenedAt;
    std::vector<std::string> said;
    LineKeeper keeper;
};

TEST_F(KeeperOfAFakeLine, OnlyALostDeviceIsSaidAndClosedOnceForTheLoss) {
    // A meter that does not answer on a line that is fine: nothing to do.
    EXPECT_TRUE(keeper.Ready());
    EXPECT_FALSE(keeper.CheckLost());
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(said.empty());

    deviceGone = true;
    EXPECT_TRUE(keeper.CheckLost());
    EXPECT_TRUE(keeper.Lost());
    EXPECT_EQ(closes, 1);
    ASSERT_EQ(said, std::vector<std::string>{"port 1 (/dev/ttyUSB0): device lost, retrying"});

    // Later requests of the same round and later rounds: no request, no
    // second message, no attempt before its time.
    EXPECT_FALSE(keeper.Ready());
    EXPECT_TRUE(keeper.CheckLost());
    clock.now += 900ms;
    EXPECT_FALSE(keeper.Ready());
    EXPECT_TRUE(reopenedAt.empty());
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(said.size(), 1u);
}

TEST_F(KeeperOfAFakeLine, AttemptsComeAfter1Then2_4_8_16And30SecondsThenEvery30) {
    deviceGone = true;
    const auto lostAt = clock.now;
    ASSERT_TRUE(keeper.CheckLost());
    PollFor(200s);
    std::vector<double> waits;
    auto before = lostAt;
    for (const auto at : reopenedAt) {
        waits.push_back(std::chrono::duration<double>(at - before).count());
        before = at;
    }
    ASSERT_GE(waits.size(), 7u);
    waits.resize(7);
    EXPECT_EQ(waits, (std::vector<double>{1, 2, 4, 8, 16, 30, 30}));
    // Failed attempts are not said: the loss was, once.
    EXPECT_EQ(said.size(), 1u);
    EXPECT_TRUE(keeper.Lost());
}

TEST_F(KeeperOfAFakeLine, LineThatOpensAgainIsSaidBackAndANewLossStartsAtOneSecond) {
    deviceGone = true;
    const auto lostAt = clock.now;
    ASSERT_TRUE(keeper.CheckLost());
    PollFor(5s);  // attempts at 1 and 3 s fail
    deviceBack = true;
    PollFor(3s);  // the attempt at 7 s opens the line
    ASSERT_EQ(reopenedAt.size(), 3u);
    EXPECT_EQ(reopenedAt.back() - lostAt, 7s);
    EXPECT_FALSE(keeper.Lost());
    EXPECT_TRUE(keeper.Ready());
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[1], "port 1 (/dev/ttyUSB0): back after 7 s");

    // Unplugged again: said again, and the waits start over.
    deviceGone = true;
    deviceBack = false;
    const auto lostAgainAt = clock.now;
    EXPECT_TRUE(keeper.CheckLost());
    EXPECT_EQ(closes, 2);
    EXPECT_EQ(said.back(), "port 1 (/dev/ttyUSB0): device lost, retrying");
    PollFor(1500ms);
    ASSERT_EQ(reopenedAt.size(), 4u);
    EXPECT_EQ(reopenedAt.back() - lostAgainAt, 1s);
}

}  // namespace
}  // namespace mbus::tools
