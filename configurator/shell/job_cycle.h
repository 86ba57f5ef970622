// The script cycle of the main dialog as a small state machine. The dialog
// starts a job (a read or write script, a dial or hang-up, a device search)
// and then feeds the machine one tick of its window timer at a time; the
// machine polls the control's SCRStatus through the host and tells the host
// what to do: stop the timer, break the script, parse the results, run the
// follow-up read, show a status text, move the progress bar.
//
// Job states: Idle --start--> Running (controls disabled but Break, timer
// on) --SCRStatus 0--> results parsed --> Idle, optionally followed by one
// follow-up read. JobKind 6 (a device search asked for) lasts one tick and
// turns into the running search (7). A break ends a job as "Break!"; a
// broken search still lists what it found. A control that has not stopped
// within kBreakWaitMs leaves the job running with a note in the status
// line, and the next ticks look again.
// Phone states: Idle (0) --dial--> Dialling (1) --script ended, the modem
// connected--> Connected (2) --hang up--> Hanging up (1, break requested)
// --script ended--> Idle. A break while dialling, a dial without a
// connection and one that outlasts its time end in Idle ("FAILED!" for
// the last two); a hang-up that outlasts its time ends in Idle too.

#pragma once

#include <cstdint>
#include <string>

namespace mbus::meridex {

enum JobKind {
    kReadOrWriteJob = 0,
    kSearchRequested = 6,
    kSearchRunning = 7,
};

enum PhoneState {
    kPhoneIdle = 0,
    kPhoneBusy = 1,  // a dial or hang-up script runs
    kPhoneConnected = 2,
};

// Periods of the window timer.
constexpr int kReadTimerMs = 250;    // read and write jobs
constexpr int kPhoneTimerMs = 1000;  // dial, hang-up and device search

// How long a break waits for the control to stop the script before the
// window goes on (the cycle then looks again at its next ticks).
constexpr int kBreakWaitMs = 3000;

// A dial gets the control's connect timeout and this many seconds more
// (the modem commands before the call and the dial command's own wait)
// before the cycle breaks it; a hang-up gets kHangUpSeconds. A broken dial
// or hang-up gets kBreakWaitMs more to stop; then the cycle ends it
// whatever the control says.
constexpr int kDialMarginSeconds = 20;
constexpr int kHangUpSeconds = 20;

// The control's modem state (TELStatus) of a standing call.
constexpr int32_t kModemConnected = 4;

// What the machine needs of the dialog and the control.
class JobHost {
public:
    virtual ~JobHost() = default;
    // The control.
    virtual int32_t ScriptStatus() = 0;
    // LOGReset, LOGMaxEntries 100000, SCRExecute(script).
    virtual void ExecuteScript(const std::string& script) = 0;
    // SCRBreak, then SCRStatus every 100 ms until the interpreter stopped,
    // for at most kBreakWaitMs.
    virtual void BreakScript() = 0;
    virtual void BreakScriptNow() = 0;  // SCRBreak alone
    virtual void CloseCom() = 0;
    // SCRSlaveSearchTimeoutRetries 3 and SCRSlaveSearchSecondarySpecial.
    virtual void StartSecondarySearch() = 0;
    virtual std::string SearchAddress() = 0;  // SCRSlaveSearchCurAddress
    virtual int32_t ModemStatus() = 0;        // TELStatus
    // The dialog.
    virtual void StartTimer(int periodMs) = 0;
    virtual void StopTimer() = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void StepProgress() = 0;
    virtual void ResetProgress() = 0;
    // false: every control but Break disabled; true: all enabled again.
    virtual void EnableControls(bool enabled) = 0;
    // A status text: the text of `textNumber`, then `suffix`.
    virtual void ShowStatus(int textNumber, const std::string& suffix) = 0;
    // The result parser; *followUp asks for one more read. On failure *why
    // says what went wrong, when the control's log tells (else empty).
    virtual bool ParseResults(bool* followUp, std::string* why) = 0;
    virtual void RefreshControlPage() = 0;
    virtual void RunFollowUpRead() = 0;
    // The modem connection stands (caption "Hang Up", title with the
    // description) or is gone (caption "Connect", the number editable).
    virtual void ShowPhoneConnected(bool connected) = 0;
};

class JobCycle {
public:
    explicit JobCycle(JobHost& host) : host_(host) {}

    // Starts a read, write or search script of `lines` lines.
    void StartJob(const std::string& script, int lines, int timerMs = kReadTimerMs);
    // Starts a device search: its preparation script, then the search.
    void StartSearch(const std::string& script, int lines);
    // Starts the dial script; `connectTimeout` is the control's
    // TELConnectTimeout (the progress range is that plus 8 ticks).
    void StartDial(const std::string& script, int connectTimeout);
    void StartHangUp(const std::string& script);

    // One tick of the window timer.
    void Tick();
    // The Break button.
    void RequestBreak();
    // A close request: false while a script runs (the request is ignored).
    bool MayClose() const { return !scriptRunning_; }
    // The connection type may change only while no modem call stands or runs.
    bool MayChangeCommunicationType() const { return phoneState_ == kPhoneIdle; }

    bool ScriptRunning() const { return scriptRunning_; }
    bool BreakRequested() const { return breakRequested_; }
    bool PhoneConnected() const { return phoneConnected_; }
    int PhoneStateValue() const { return phoneState_; }
    int Kind() const { return jobKind_; }
    void SetKind(int kind) { jobKind_ = kind; }

private:
    void Start(const std::string& script, int range, int timerMs);
    void PhoneTick();

    JobHost& host_;
    int phoneState_ = kPhoneIdle;
    bool scriptRunning_ = false;
    bool breakRequested_ = false;
    bool breakSent_ = false;     // BreakScript has been called for this job
    int connectTimeout_ = 0;     // seconds, of the running dial
    int phoneTicks_ = 0;         // ticks of the running dial or hang-up
    int phoneDeadline_ = 0;      // the tick that breaks it
    bool phoneTimedOut_ = false;
    bool phoneConnected_ = false;
    int jobKind_ = kReadOrWriteJob;
};

}  // namespace mbus::meridex
