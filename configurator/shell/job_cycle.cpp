#include "configurator/shell/job_cycle.h"

namespace mbus::meridex {
namespace {

// Status texts of the cycle (numbers of the text table).
constexpr int kTextBreak = 3;
constexpr int kTextSuccess = 4;
constexpr int kTextFailed = 5;
constexpr int kTextConnectionEstablished = 71;
constexpr int kTextDialing = 73;
constexpr int kTextHangingUp = 74;
constexpr int kTextSearching = 82;

}  // namespace

void JobCycle::Start(const std::string& script, int range, int timerMs) {
    host_.EnableControls(false);
    host_.SetProgressRange(range);
    host_.StartTimer(timerMs);
    scriptRunning_ = true;
    breakRequested_ = false;
    host_.ExecuteScript(script);
}

void JobCycle::StartJob(const std::string& script, int lines, int timerMs) {
    jobKind_ = kReadOrWriteJob;
    Start(script, lines + 1, timerMs);
}

void JobCycle::StartSearch(const std::string& script, int lines) {
    host_.ShowStatus(kTextSearching, "");
    Start(script, lines + 1, kPhoneTimerMs);
    jobKind_ = kSearchRequested;
}

void JobCycle::StartDial(const std::string& script, int connectTimeout) {
    phoneState_ = kPhoneBusy;
    host_.ShowStatus(kTextDialing, "");
    Start(script, connectTimeout + 8, kPhoneTimerMs);
}

void JobCycle::StartHangUp(const std::string& script) {
    phoneState_ = kPhoneBusy;
    host_.ShowStatus(kTextHangingUp, "");
    Start(script, 20, kPhoneTimerMs);
    // A hang-up ends the connection however its script ends.
    breakRequested_ = true;
}

void JobCycle::RequestBreak() {
    breakRequested_ = true;
    // Dial and hang-up scripts are broken at once; the others by the next tick.
    if (phoneState_ == kPhoneBusy) host_.BreakScriptNow();
}

void JobCycle::PhoneTick() {
    host_.StepProgress();
    if (host_.ScriptStatus() != 0) return;
    host_.StopTimer();
    if (breakRequested_) {
        phoneState_ = kPhoneIdle;
        phoneConnected_ = false;
        host_.ShowPhoneConnected(false);
    } else {
        phoneState_ = kPhoneConnected;
        phoneConnected_ = true;
        host_.ShowStatus(kTextConnectionEstablished, "");
        host_.ShowPhoneConnected(true);
    }
    host_.ResetProgress();
    scriptRunning_ = false;
    breakRequested_ = false;
    host_.EnableControls(true);
}

void JobCycle::Tick() {
    if (phoneState_ == kPhoneBusy) {
        PhoneTick();
        return;
    }
    if (breakRequested_) {
        host_.BreakScript();
        if (!phoneConnected_) host_.CloseCom();
    }
    if (host_.ScriptStatus() == 0) scriptRunning_ = false;
    // A break during the search's preparation script ends the job there
    // rather than starting the search it was preparing.
    if (!scriptRunning_ && jobKind_ == kSearchRequested && breakRequested_) jobKind_ = kReadOrWriteJob;
    if (!scriptRunning_ && jobKind_ == kSearchRequested) {
        host_.StartSecondarySearch();
        host_.SetProgressRange(2);
        host_.StartTimer(kPhoneTimerMs);
        jobKind_ = kSearchRunning;
        scriptRunning_ = true;
    } else if (!scriptRunning_) {
        host_.StopTimer();
        bool followUp = false;
        if (breakRequested_ && jobKind_ != kSearchRunning) {
            host_.ShowStatus(kTextBreak, "");
        } else {
            const bool ok = host_.ParseResults(&followUp);
            host_.ShowStatus(ok ? kTextSuccess : kTextFailed, "");
        }
        host_.ResetProgress();
        host_.EnableControls(true);
        host_.RefreshControlPage();
        const bool broken = breakRequested_;
        breakRequested_ = false;
        if (followUp && !broken) host_.RunFollowUpRead();
        return;
    }
    if (jobKind_ == kSearchRunning)
        host_.ShowStatus(kTextSearching, " " + host_.SearchAddress());
    else
        host_.SetProgress(host_.ScriptStatus());
}

}  // namespace mbus::meridex
