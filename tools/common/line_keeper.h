// Keeping a bus line in use across the loss of its device, for programs
// that poll unattended (mbusctl read --every; a service that polls several
// buses). The line's owner asks Ready before each request and CheckLost
// after a request that went wrong; the keeper does the rest:
//
//   - when the line has lost its device (an unplugged converter), it closes
//     the line, so that the device is let go at once, and says
//     "NAME: device lost, retrying", once for the loss, not once a request;
//   - while the device is lost, Ready is false: no request is made, and no
//     "did not answer" follows for the meters behind the line;
//   - Ready tries to open the line again once the wait after the loss has
//     passed: 1 s, then 2, 4, 8, 16 and 30 s after each attempt that
//     failed, and 30 s from then on;
//   - when it opens, it says "NAME: back after N s" and Ready is true again.
//
// The keeper never waits itself: a caller that serves several lines asks
// each in turn, and may sleep until NextAttempt. Time comes from a clock
// that tests replace.

#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace mbus::tools {

// The time as the keeper reads it.
class KeeperClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~KeeperClock() = default;
    virtual time_point Now() const = 0;
};

// The system's steady clock.
const KeeperClock& SteadyKeeperClock();

// What the keeper does with a line.
struct KeptLine {
    std::string name;                              // "port 1 (/dev/ttyUSB0)": the line in the messages
    std::function<bool()> lost;                    // true when the line has lost its device
    std::function<void()> close;                   // closes the line, letting go of the device
    std::function<bool()> reopen;                  // opens the line again; true when it is open
    std::function<void(const std::string&)> say;   // writes one message (no line end)
};

class LineKeeper {
public:
    explicit LineKeeper(KeptLine line, const KeeperClock& clock = SteadyKeeperClock());

    // True when the line can take a request now. While its device is lost:
    // tries to open it again when the attempt is due, and is true (after
    // saying the line is back) when that succeeded.
    bool Ready();
    // After a request that brought no answer: true when the line has lost
    // its device (closed and said once per loss), false when the line is
    // fine and the meter did not answer.
    bool CheckLost();
    // True from a loss until the line is back.
    bool Lost() const { return lost_; }
    // When Ready will next try to open a lost line.
    KeeperClock::time_point NextAttempt() const { return nextAttempt_; }

    // The wait before the next attempt after `failed` attempts of a loss
    // failed: 1, 2, 4, 8, 16, then 30 s.
    static std::chrono::seconds Backoff(int failed);

private:
    KeptLine line_;
    const KeeperClock& clock_;
    bool lost_ = false;
    int failed_ = 0;
    KeeperClock::time_point lostAt_{};
    KeeperClock::time_point nextAttempt_{};
};

}  // namespace mbus::tools
