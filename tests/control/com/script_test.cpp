// Scripts run by the control on a simulated bus: items, waits, breaks, the
// automatic repetition of REQ_UD2, and the read of one module from the
// connection line to the close, checked through the telegram log.

#include <gtest/gtest.h>

#include <regex>

#include "control/com/library.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/control/engine/engine_test_support.h"

namespace mbus::control::test {
namespace {

using namespace std::chrono_literals;

// Waits until the current channel's script has ended; false on timeout.
bool WaitForScript(const DispatchClient& c, std::chrono::seconds limit = 60s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (c.Long("SCRStatus") != 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// The entry without its time stamp: "line|tail".
std::string WithoutStamp(const std::string& entry) {
    static const std::regex stamp("\\|[0-9]{14}\\|");
    return std::regex_replace(entry, stamp, "|", std::regex_constants::format_first_only);
}

class Script : public ::testing::Test {
protected:
    void SetUp() override {
        ports_.Bus(1).bus->SetDefaultBaud(38400);
        // Answers come 10 ms after a request: well past the dead time even
        // when a sanitizer slows the line's threads down.
        ports_.Bus(1).bus->SetReplyDelay(std::chrono::milliseconds(10));
        c_.Put("LOGMaxEntries", 1000);
        c_.Put("COMPort", 1);
        c_.Put("COMBaudrate", 38400);
        c_.Put("COMTimeoutOffset", 5);
        c_.Put("COMRetries", 2);
        c_.Call("COMOpen");
        ASSERT_EQ(c_.Long("COMIsOpen"), 0);
        Rec()->script.pollPeriod.store(5);
    }
    std::shared_ptr<ChannelRecord> Rec() { return Library::Instance().CurrentRecord(); }
    engine::test::RecordingBus& Bus() { return ports_.Bus(1); }

    engine::test::SimulatedPorts ports_{1, "script-test-"};
    DispatchClient c_ = NewInProcessControl();
};

TEST_F(Script, CloseAsTheWholeScript) {
    c_.Call("SCRExecute", {std::string("16|||")});
    ASSERT_TRUE(WaitForScript(c_));
    ASSERT_EQ(c_.Long("LOGUpperBound"), 0);
    EXPECT_EQ(WithoutStamp(c_.Text("LOGRetrieveRawDataHex", {0, 0})), "16||||0");
    EXPECT_NE(c_.Long("COMIsOpen"), 0);
}

TEST_F(Script, UnlistedCommandsStartNothing) {
    c_.Call("SCRExecute", {std::string("50|||\r\n5|999||")});
    EXPECT_EQ(c_.Long("SCRStatus"), 0);
    EXPECT_EQ(c_.Long("LOGUpperBound"), -1);
    EXPECT_TRUE(Bus().Frames().empty());
}

TEST_F(Script, ReadAndSendUserData) {
    Bus().AddSlave("primary=1 id=12345678 man=QXA version=01 medium=07 records=0413D2040000");
    c_.Call("SCRExecute", {std::string("5|1||\r\n7|1||51 0F 48 08\r\n4|9||\r\n")});
    ASSERT_TRUE(WaitForScript(c_));
    ASSERT_EQ(c_.Long("LOGUpperBound"), 2);
    EXPECT_EQ(WithoutStamp(c_.Text("LOGRetrieveCookedDataHex2", {0, 0})),
              "5|1|||03010108017212345678QXA010000000007Water|00000000000000000000000000000000040013|1234|");
    // An E5h: status 0, decoder result 1, something received.
    EXPECT_EQ(WithoutStamp(c_.Text("LOGRetrieveRawDataHex", {1, 0})), "7|1||510F4808|000101000000E5");
    // Nobody at 9: the entry keeps no telegram and the fault status.
    EXPECT_EQ(WithoutStamp(c_.Text("LOGRetrieveRawDataHex", {2, 0})), "4|9|||040000000000");
    const auto frames = Bus().Frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0][1] & 0xCF, 0x4B);
    EXPECT_EQ(frames[1][6], 0x51);
}

TEST_F(Script, TheReadOfOneModule) {
    Bus().AddSlave("primary=5 id=11111111 man=QXA version=01 medium=07 records=0C1378563412");
    Bus().AddSlave("primary=6 id=22222222 man=QXB version=14 medium=04 records=0C0611470000");
    c_.Call("COMClose");
    const std::string script =
        "0||COM1,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=50,TB=20,PartWait,Retries=3,DT=11,HS=0|\r\n"
        "8||Standard: 22222222,FFFF,FF,FF|\r\n"
        "7|253||51 0F 48 08\r\n"
        "5|253||\r\n"
        "20|||\r\n"
        "16|||\r\n";
    c_.Call("SCRExecute", {script});
    ASSERT_TRUE(WaitForScript(c_));
    std::vector<std::string> entries;
    for (int i = 0; i <= c_.Long("LOGUpperBound"); ++i)
        entries.push_back(WithoutStamp(c_.Text("LOGRetrieveCookedDataHex2", {i, 0})));
    const std::string e5 = "00FE0100000000000000UNK000000000000Unknown|";
    const std::vector<std::string> expected = {
        "0||COM1,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=50,TB=20,PartWait,Retries=3,DT=11,HS=0||0",
        "8||Standard: 22222222,FFFF,FF,FF||" + e5,
        "7|253||510F4808|" + e5,
        "5|253|||03010108067222222222QXB140000000004Heat_(outlet)|000000000000000000000000000000000C0006|00004711|",
        "20||||" + e5,
        "16||||0",
    };
    EXPECT_EQ(entries, expected);
}

TEST_F(Script, AutomaticBaudSwitchCountsAsAnItem) {
    c_.Put("SCRAutoBaudSNDUD", 1);
    const std::string script =
        "0||COM1,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|\r\n"
        "0||COM1,9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|\r\n";
    c_.Call("SCRExecute", {script});
    int highest = 0;
    while (int s = c_.Long("SCRStatus")) {
        highest = std::max(highest, s);
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(highest, 3);
    ASSERT_EQ(c_.Long("LOGUpperBound"), 2);
    EXPECT_EQ(c_.Text("LOGRetrieveRawDataHex", {1, 0}).substr(0, 10), "7|255||BD|");
    EXPECT_EQ(c_.Long("COMBaudrate"), 9600);
}

TEST_F(Script, MoreDataFollowRepeatsTheRead) {
    // Two telegrams: the first announces more (DIF 1Fh).
    Bus().AddSlave("primary=1 id=12345678 man=QXA medium=07 records=0413D2040000 records=0413D3040000");
    c_.Call("SCRExecute", {std::string("5|1||")});
    ASSERT_TRUE(WaitForScript(c_));
    EXPECT_EQ(c_.Long("LOGUpperBound"), 1) << "read again once";
    c_.Call("LOGReset");
    c_.Put("SCRAutoREQUD2on1F", 0);
    c_.Call("SCRExecute", {std::string("5|1||")});
    ASSERT_TRUE(WaitForScript(c_));
    EXPECT_EQ(c_.Long("LOGUpperBound"), 0);
    c_.Put("SCRAutoREQUD2on1F", 100001);
    EXPECT_EQ(c_.Long("SCRAutoREQUD2on1F"), 0);
}

// The step that checks a read's "more data follow" clears it, whether or
// not it repeats the read; a host's own read keeps it.
TEST_F(Script, TheCheckedAnnouncementReadsZeroAfterwards) {
    Bus().AddSlave("primary=1 id=12345678 man=QXA medium=07 records=0413D2040000 records=0413D3040000");
    c_.Put("SCRAutoREQUD2on1F", 0);
    c_.Call("SCRExecute", {std::string("5|1||")});
    ASSERT_TRUE(WaitForScript(c_));
    ASSERT_EQ(c_.Long("LOGUpperBound"), 0);
    EXPECT_EQ(c_.Long("APPFollowingTelegram"), 0) << "cleared by the step after the read";
    // The slave's telegrams alternate; the first of them announces more.
    for (int expected : {0, 1}) {
        c_.Call("APPREQUD2", {1});
        const auto until = std::chrono::steady_clock::now() + 30s;
        while (c_.Long("APPReceiveTest") == 255 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(2ms);
        ASSERT_NE(c_.Long("APPReceiveTest"), 255);
        EXPECT_EQ(c_.Long("APPFollowingTelegram"), expected);
    }
}

TEST_F(Script, RunningScriptKeepsItsSettingsAndStopsOnBreak) {
    c_.Call("SCRExecute", {std::string("14||29999|\r\n16|||")});
    EXPECT_EQ(c_.Long("SCRStatus"), 1);
    c_.Call("SCRExecute", {std::string("16|||")});  // ignored
    c_.Put("SCRLineDelay", 500);                    // ignored while running
    EXPECT_EQ(c_.Long("SCRLineDelay"), 0);
    const auto before = std::chrono::steady_clock::now();
    c_.Call("SCRBreak");
    ASSERT_TRUE(WaitForScript(c_, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_EQ(c_.Long("LOGUpperBound"), -1) << "neither close ran";
    c_.Put("SCRLineDelay", 500);
    EXPECT_EQ(c_.Long("SCRLineDelay"), 500);
    c_.Put("SCRComOpenTrial", 0);
    EXPECT_EQ(c_.Long("SCRComOpenTrial"), 600);
}

TEST_F(Script, WaitPeriods) {
    const auto before = std::chrono::steady_clock::now();
    c_.Call("SCRExecute", {std::string("14||5|\r\n16|||")});
    ASSERT_TRUE(WaitForScript(c_));
    // Six periods of 95 ms.
    EXPECT_GE(std::chrono::steady_clock::now() - before, 570ms);
}

TEST_F(Script, PortThatDoesNotOpenIsRetried) {
    c_.Put("SCRComOpenTrial", 2);
    c_.Call("SCRExecute",
            {std::string("0||COM77,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|")});
    ASSERT_TRUE(WaitForScript(c_));
    ASSERT_EQ(c_.Long("LOGUpperBound"), 0);
    const std::string entry = c_.Text("LOGRetrieveRawDataHex", {0, 0});
    EXPECT_NE(entry.substr(entry.rfind('|') + 1), "0") << entry;
}

}  // namespace
}  // namespace mbus::control::test
