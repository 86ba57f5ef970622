#include "configurator/shell/job_cycle.h"

#include <string>

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

// Ticks of the phone timer a broken dial or hang-up gets to stop.
constexpr int kBreakWaitTicks = kBreakWaitMs / kPhoneTimerMs;

}  // namespace

void JobCycle::Start(const std::string& script, int range, int timerMs) {
    host_.EnableControls(false);
    host_.SetProgressRange(range);
    host_.StartTimer(timerMs);
    scriptRunning_ = true;
    breakRequested_ = false;
    breakSent_ = false;
    phoneTicks_ = 0;
    phoneTimedOut_ = false;
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
    connectTimeout_ = connectTimeout;
    phoneDeadline_ = connectTimeout + kDialMarginSeconds;
    host_.ShowStatus(kTextDialing, "");
    Start(script, connectTimeout + 8, kPhoneTimerMs);
}

void JobCycle::StartHangUp(const std::string& script) {
    phoneState_ = kPhoneBusy;
    phoneDeadline_ = kHangUpSeconds;
    host_.ShowStatus(kTextHangingUp, "");
    Start(script, kHangUpSeconds, kPhoneTimerMs);
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
    ++phoneTicks_;
    if (host_.ScriptStatus() != 0) {
        // The control retries a call that got no carrier, and a line
        // without a modem answers nothing: the cycle ends the script itself.
        if (phoneTicks_ == phoneDeadline_) {
            phoneTimedOut_ = true;
            host_.BreakScriptNow();
        }
        if (phoneTicks_ < phoneDeadline_ + kBreakWaitTicks) return;
    }
    host_.StopTimer();
    // A dial has connected only when the control's modem says so: its
    // script also ends after a call that got no carrier.
    const bool dial = !breakRequested_;
    if (dial && !phoneTimedOut_ && host_.ModemStatus() == kModemConnected) {
        phoneState_ = kPhoneConnected;
        phoneConnected_ = true;
        host_.ShowStatus(kTextConnectionEstablished, "");
        host_.ShowPhoneConnected(true);
    } else {
        phoneState_ = kPhoneIdle;
        phoneConnected_ = false;
        if (dial) host_.ShowStatus(kTextFailed, " No connection within " + std::to_string(connectTimeout_) + " s.");
        host_.ShowPhoneConnected(false);
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
    if (breakRequested_ && !breakSent_) {
        breakSent_ = true;
        host_.BreakScript();
    }
    if (host_.ScriptStatus() == 0) scriptRunning_ = false;
    if (breakRequested_ && scriptRunning_) {
        // The control is still ending its current request: the window stays
        // usable, and the next ticks look again.
        host_.ShowStatus(kTextBreak, " The control is still stopping the script.");
        return;
    }
    if (breakRequested_ && !phoneConnected_) host_.CloseCom();
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
        // A broken search still lists what it found; it is reported as broken all the same.
        bool ok = false;
        std::string why;
        if (!breakRequested_ || jobKind_ == kSearchRunning) ok = host_.ParseResults(&followUp, &why);
        if (breakRequested_)
            host_.ShowStatus(kTextBreak, "");
        else
            host_.ShowStatus(ok ? kTextSuccess : kTextFailed, ok || why.empty() ? std::string() : " " + why);
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
