// The script cycle of the main dialog driven tick by tick against a fake
// dialog and control: read jobs, breaks, the follow-up read, the device
// search, dialling and hanging up.

#include "configurator/shell/job_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace mbus::meridex {
namespace {

using Calls = std::vector<std::string>;

// Records every call as a short text and answers SCRStatus with whatever
// the test set; the parser's results are queued by the test.
class FakeHost : public JobHost {
public:
    struct ParseResult {
        bool ok;
        bool followUp;
        std::string why = {};
    };

    int32_t status = 0;           // what SCRStatus answers
    int32_t modemStatus = 4;      // what TELStatus answers: connected unless a test says otherwise
    bool stopsOnBreak = true;     // the interpreter stops within BreakScript's wait
    std::string searchAddress = "0FFFFFFF";
    std::deque<ParseResult> results;
    JobCycle* cycle = nullptr;    // the follow-up read starts a job on it, as the dialog does
    Calls calls;

    int32_t ScriptStatus() override { return status; }
    void ExecuteScript(const std::string& script) override { calls.push_back("Execute " + script); }
    void BreakScript() override {
        calls.push_back("BreakScript");
        if (stopsOnBreak) status = 0;  // returns once the interpreter has stopped
    }
    int32_t ModemStatus() override { return modemStatus; }
    void BreakScriptNow() override { calls.push_back("BreakScriptNow"); }
    void CloseCom() override { calls.push_back("CloseCom"); }
    void StartSecondarySearch() override { calls.push_back("StartSecondarySearch"); }
    std::string SearchAddress() override { return searchAddress; }
    void StartTimer(int periodMs) override { calls.push_back("StartTimer " + std::to_string(periodMs)); }
    void StopTimer() override { calls.push_back("StopTimer"); }
    void SetProgressRange(int maximum) override { calls.push_back("Range " + std::to_string(maximum)); }
    void SetProgress(int position) override { calls.push_back("Progress " + std::to_string(position)); }
    void StepProgress() override { calls.push_back("Step"); }
    void ResetProgress() override { calls.push_back("ResetProgress"); }
    void EnableControls(bool enabled) override { calls.push_back(enabled ? "Enable" : "Disable"); }
    void ShowStatus(int textNumber, const std::string& suffix) override {
        calls.push_back("Status " + std::to_string(textNumber) + suffix);
    }
    bool ParseResults(bool* followUp, std::string* why) override {
        calls.push_back("Parse");
        const ParseResult r = results.empty() ? ParseResult{true, false, {}} : results.front();
        if (!results.empty()) results.pop_front();
        *followUp = r.followUp;
        *why = r.why;
        return r.ok;
    }
    void RefreshControlPage() override { calls.push_back("RefreshControlPage"); }
    void RunFollowUpRead() override {
        calls.push_back("RunFollowUpRead");
        cycle->StartJob("follow-up", 6);
    }
    void ShowPhoneConnected(bool connected) override { calls.push_back(connected ? "Connected" : "Disconnected"); }

    // The calls since the last Take.
    Calls Take() { return std::exchange(calls, {}); }
    int Count(const std::string& call) const { return static_cast<int>(std::count(calls.begin(), calls.end(), call)); }
    bool Called(const std::string& call) const { return Count(call) > 0; }
};

class JobCycleTest : public ::testing::Test {
protected:
    JobCycleTest() { host.cycle = &cycle; }

    // A dial that ends connected.
    void Connect() {
        cycle.StartDial("dial", 60);
        host.status = 0;
        cycle.Tick();
        ASSERT_EQ(cycle.PhoneStateValue(), kPhoneConnected);
        host.Take();
    }

    FakeHost host;
    JobCycle cycle{host};
};

TEST_F(JobCycleTest, ReadJobStartsWithControlsDisabledAndShowsTheScriptsProgress) {
    host.status = 1;
    cycle.StartJob("read", 5);
    EXPECT_EQ(host.Take(), (Calls{"Disable", "Range 6", "StartTimer 250", "Execute read"}));
    EXPECT_TRUE(cycle.ScriptRunning());
    EXPECT_EQ(cycle.Kind(), kReadOrWriteJob);
    host.status = 3;
    cycle.Tick();
    EXPECT_EQ(host.Take(), Calls{"Progress 3"});
    EXPECT_TRUE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, ReadJobEndsWithTheParsersVerdict) {
    // A failure's reason stands behind "FAILED!"; a success shows none.
    const struct {
        bool ok;
        const char* why;
        const char* status;
    } rows[] = {{true, "", "Status 4"},
                {false, "", "Status 5"},
                {false, "No valid answer from primary address 9.", "Status 5 No valid answer from primary address 9."},
                {true, "ignored", "Status 4"}};
    for (const auto& r : rows) {
        host.status = 2;
        cycle.StartJob("read", 5);
        cycle.Tick();
        host.Take();
        host.results = {{r.ok, false, r.why}};
        host.status = 0;
        cycle.Tick();
        EXPECT_EQ(host.Take(), (Calls{"StopTimer", "Parse", r.status, "ResetProgress", "Enable", "RefreshControlPage"}));
        EXPECT_FALSE(cycle.ScriptRunning());
        EXPECT_TRUE(cycle.MayClose());
    }
}

TEST_F(JobCycleTest, CloseIsRefusedWhileAScriptRuns) {
    EXPECT_TRUE(cycle.MayClose());
    host.status = 1;
    cycle.StartJob("read", 3);
    EXPECT_FALSE(cycle.MayClose());
    cycle.Tick();
    EXPECT_FALSE(cycle.MayClose());
    cycle.StartSearch("search", 4);
    EXPECT_FALSE(cycle.MayClose());
    host.status = 0;
    cycle.Tick();  // the search itself starts
    host.status = 1;
    cycle.Tick();
    EXPECT_FALSE(cycle.MayClose());
    host.status = 0;
    cycle.Tick();
    EXPECT_TRUE(cycle.MayClose());
}

TEST_F(JobCycleTest, BreakDuringAReadStopsTheScriptClosesThePortAndShowsBreak) {
    host.status = 4;
    cycle.StartJob("read", 5);
    host.Take();
    cycle.RequestBreak();
    EXPECT_TRUE(host.Take().empty()) << "a read is broken by the next tick, not at once";
    EXPECT_TRUE(cycle.BreakRequested());
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"BreakScript", "CloseCom", "StopTimer", "Status 3", "ResetProgress", "Enable",
                                  "RefreshControlPage"}));
    EXPECT_FALSE(cycle.ScriptRunning());
    EXPECT_FALSE(cycle.BreakRequested());
}

TEST_F(JobCycleTest, BreakDuringAReadOverTheModemKeepsTheLineOpen) {
    Connect();
    host.status = 2;
    cycle.StartJob("read", 5);
    cycle.RequestBreak();
    cycle.Tick();
    EXPECT_TRUE(host.Called("BreakScript"));
    EXPECT_FALSE(host.Called("CloseCom"));
    EXPECT_TRUE(host.Called("Status 3"));
    EXPECT_FALSE(host.Called("Parse"));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneConnected);
    EXPECT_TRUE(cycle.PhoneConnected());
}

TEST_F(JobCycleTest, FollowUpReadAskedForByTheParserRunsOnce) {
    host.status = 1;
    cycle.StartJob("read", 5);
    host.Take();
    host.results = {{true, true}, {true, false}};
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"StopTimer", "Parse", "Status 4", "ResetProgress", "Enable", "RefreshControlPage",
                                  "RunFollowUpRead", "Disable", "Range 7", "StartTimer 250", "Execute follow-up"}));
    EXPECT_TRUE(cycle.ScriptRunning());
    host.status = 2;
    cycle.Tick();
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Count("Parse"), 1);
    EXPECT_FALSE(host.Called("RunFollowUpRead"));
    EXPECT_FALSE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, FailedReadMayStillAskForTheFollowUp) {
    host.status = 1;
    cycle.StartJob("read", 5);
    host.results = {{false, true}};
    host.status = 0;
    cycle.Tick();
    EXPECT_TRUE(host.Called("Status 5"));
    EXPECT_TRUE(host.Called("RunFollowUpRead"));
}

TEST_F(JobCycleTest, NoFollowUpReadAfterABreak) {
    // Only a broken search is parsed; even when its parser asks for a
    // follow-up, none runs.
    host.status = 1;
    cycle.StartSearch("search", 4);
    host.status = 0;
    cycle.Tick();
    host.status = 1;
    cycle.RequestBreak();
    host.results = {{true, true}};
    cycle.Tick();
    EXPECT_TRUE(host.Called("Parse"));
    EXPECT_FALSE(host.Called("RunFollowUpRead"));
    EXPECT_FALSE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, SearchRunsItsScriptThenTheSecondarySearchShowingTheAddressReached) {
    host.status = 1;
    cycle.StartSearch("search", 4);
    EXPECT_EQ(host.Take(), (Calls{"Status 82", "Disable", "Range 5", "StartTimer 1000", "Execute search"}));
    EXPECT_EQ(cycle.Kind(), kSearchRequested);
    cycle.Tick();
    EXPECT_EQ(host.Take(), Calls{"Progress 1"});
    EXPECT_EQ(cycle.Kind(), kSearchRequested);

    // The script has ended: one tick turns the request into the running search.
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"StartSecondarySearch", "Range 2", "StartTimer 1000", "Status 82 0FFFFFFF"}));
    EXPECT_EQ(cycle.Kind(), kSearchRunning);
    EXPECT_TRUE(cycle.ScriptRunning());

    host.status = 1;
    host.searchAddress = "1FFFFFFF";
    cycle.Tick();
    EXPECT_EQ(host.Take(), Calls{"Status 82 1FFFFFFF"});

    host.status = 0;
    host.results = {{true, false}};
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"StopTimer", "Parse", "Status 4", "ResetProgress", "Enable", "RefreshControlPage"}));
    EXPECT_FALSE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, BreakDuringTheSecondarySearchStillListsWhatWasFound) {
    host.status = 1;
    cycle.StartSearch("search", 4);
    host.status = 0;
    cycle.Tick();
    host.status = 1;
    cycle.Tick();
    host.Take();
    cycle.RequestBreak();
    host.results = {{true, false}};
    cycle.Tick();
    // Parsed for what it found, and still reported as broken.
    EXPECT_EQ(host.Take(), (Calls{"BreakScript", "CloseCom", "StopTimer", "Parse", "Status 3", "ResetProgress",
                                  "Enable", "RefreshControlPage"}));
    EXPECT_FALSE(cycle.BreakRequested());
}

TEST_F(JobCycleTest, AControlThatDoesNotStopAtOnceLeavesTheWindowWaitingAndSaysSo) {
    host.status = 4;
    cycle.StartJob("read", 5);
    host.Take();
    host.stopsOnBreak = false;
    cycle.RequestBreak();
    cycle.Tick();
    Calls calls = host.Take();
    ASSERT_EQ(calls.size(), 2u) << ::testing::PrintToString(calls);
    EXPECT_EQ(calls[0], "BreakScript");
    EXPECT_EQ(calls[1].substr(0, 9), "Status 3 ") << "Break!, and that the control is still stopping";
    EXPECT_TRUE(cycle.ScriptRunning());
    EXPECT_FALSE(cycle.MayClose());
    // Later ticks only look again; the break was asked for once.
    cycle.Tick();
    EXPECT_EQ(host.Count("BreakScript"), 0);
    EXPECT_FALSE(host.Called("CloseCom"));
    host.Take();
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"CloseCom", "StopTimer", "Status 3", "ResetProgress", "Enable",
                                  "RefreshControlPage"}));
    EXPECT_FALSE(cycle.ScriptRunning());
    EXPECT_FALSE(cycle.BreakRequested());

    // The next job breaks afresh.
    host.status = 2;
    host.stopsOnBreak = true;
    cycle.StartJob("read", 5);
    cycle.RequestBreak();
    cycle.Tick();
    EXPECT_EQ(host.Count("BreakScript"), 1);
    EXPECT_FALSE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, DialProgressesOverTheConnectTimeoutAndEndsConnected) {
    host.status = 1;
    cycle.StartDial("dial", 30);
    EXPECT_EQ(host.Take(), (Calls{"Status 73", "Disable", "Range 38", "StartTimer 1000", "Execute dial"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneBusy);
    EXPECT_FALSE(cycle.BreakRequested());
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    for (int i = 0; i < 3; ++i) {
        cycle.Tick();
        EXPECT_EQ(host.Take(), Calls{"Step"});
    }
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(),
              (Calls{"Step", "StopTimer", "Status 71", "Connected", "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneConnected);
    EXPECT_TRUE(cycle.PhoneConnected());
    EXPECT_FALSE(cycle.ScriptRunning());
    EXPECT_TRUE(cycle.MayClose());
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
}

TEST_F(JobCycleTest, BrokenDialBreaksAtOnceAndEndsIdle) {
    host.status = 1;
    cycle.StartDial("dial", 30);
    cycle.Tick();
    host.Take();
    cycle.RequestBreak();
    EXPECT_EQ(host.Take(), Calls{"BreakScriptNow"});
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "StopTimer", "Disconnected", "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(cycle.PhoneConnected());
    EXPECT_FALSE(cycle.BreakRequested());
    EXPECT_TRUE(cycle.MayChangeCommunicationType());
}

TEST_F(JobCycleTest, ADialThatEndsWithoutACarrierFailsAndEndsIdle) {
    host.status = 1;
    cycle.StartDial("dial", 30);
    cycle.Tick();
    host.Take();
    host.modemStatus = 0;
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "StopTimer", "Status 5 No connection within 30 s.", "Disconnected",
                                  "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(cycle.PhoneConnected());
    EXPECT_TRUE(cycle.MayChangeCommunicationType());
}

TEST_F(JobCycleTest, ADialThatOutlastsItsTimeoutIsBrokenAndEndsFailed) {
    // Connect timeout 5 s; the modem commands before the call get 20 s more.
    host.status = 1;
    cycle.StartDial("dial", 5);
    host.Take();
    for (int tick = 1; tick < 25; ++tick) cycle.Tick();
    EXPECT_EQ(host.Count("Step"), 24);
    EXPECT_FALSE(host.Called("BreakScriptNow"));
    host.Take();
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "BreakScriptNow"}));
    EXPECT_TRUE(cycle.ScriptRunning());
    // The control gets three more ticks to stop; then the call is given up
    // whatever it says, and the modem's status is not taken as connected.
    cycle.Tick();
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "Step"}));
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "StopTimer", "Status 5 No connection within 5 s.", "Disconnected",
                                  "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(cycle.PhoneConnected());
    EXPECT_FALSE(cycle.ScriptRunning());
}

TEST_F(JobCycleTest, AHangUpEndsInBoundedTime) {
    Connect();
    host.status = 1;
    cycle.StartHangUp("hang up");
    host.Take();
    for (int tick = 1; tick < 20; ++tick) cycle.Tick();
    EXPECT_FALSE(host.Called("BreakScriptNow"));
    host.Take();
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "BreakScriptNow"}));
    cycle.Tick();
    cycle.Tick();
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "Step", "Step", "StopTimer", "Disconnected", "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(cycle.PhoneConnected());
}

TEST_F(JobCycleTest, HangUpEndsIdleHoweverItsScriptEnds) {
    Connect();
    host.status = 1;
    cycle.StartHangUp("hang up");
    EXPECT_EQ(host.Take(), (Calls{"Status 74", "Disable", "Range 20", "StartTimer 1000", "Execute hang up"}));
    EXPECT_TRUE(cycle.BreakRequested());
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneBusy);
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    cycle.Tick();
    EXPECT_EQ(host.Take(), Calls{"Step"});
    host.status = 0;
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Step", "StopTimer", "Disconnected", "ResetProgress", "Enable"}));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(cycle.PhoneConnected());
    EXPECT_FALSE(cycle.ScriptRunning());
    EXPECT_TRUE(cycle.MayChangeCommunicationType());
}

TEST_F(JobCycleTest, CommunicationTypeChangesOnlyWithoutAModemCall) {
    EXPECT_TRUE(cycle.MayChangeCommunicationType());
    host.status = 1;
    cycle.StartJob("read", 2);
    EXPECT_TRUE(cycle.MayChangeCommunicationType()) << "only the phone state decides";
    host.status = 0;
    cycle.Tick();
    cycle.StartDial("dial", 10);
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    cycle.Tick();
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    host.status = 1;
    cycle.StartJob("read", 2);  // a read over the standing connection
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    host.status = 0;
    cycle.Tick();
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    cycle.StartHangUp("hang up");
    EXPECT_FALSE(cycle.MayChangeCommunicationType());
    cycle.Tick();
    EXPECT_TRUE(cycle.MayChangeCommunicationType());
}

TEST_F(JobCycleTest, ReadOverTheStandingConnectionIsAnOrdinaryJob) {
    Connect();
    host.status = 1;
    cycle.StartJob("read", 3);
    cycle.Tick();
    EXPECT_EQ(host.Take(), (Calls{"Disable", "Range 4", "StartTimer 250", "Execute read", "Progress 1"}));
    host.status = 0;
    cycle.Tick();
    EXPECT_TRUE(host.Called("Parse"));
    EXPECT_FALSE(host.Called("Step"));
    EXPECT_EQ(cycle.PhoneStateValue(), kPhoneConnected);
}

}  // namespace
}  // namespace mbus::meridex
