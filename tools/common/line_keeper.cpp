#include "tools/common/line_keeper.h"

#include <algorithm>

namespace mbus::tools {

const KeeperClock& SteadyKeeperClock() {
    static const struct : KeeperClock {
        time_point Now() const override { return std::chrono::steady_clock::now(); }
    } clock;
    return clock;
}

LineKeeper::LineKeeper(KeptLine line, const KeeperClock& clock) : line_(std::move(line)), clock_(clock) {}

std::chrono::seconds LineKeeper::Backoff(int failed) {
    constexpr int kLongest = 30;
    // 1 << 5 is already past the longest wait; the shift stays small.
    return std::chrono::seconds(std::min(kLongest, 1 << std::clamp(failed, 0, 5)));
}

bool LineKeeper::Ready() {
    if (!lost_) return true;
    const KeeperClock::time_point now = clock_.Now();
    if (now < nextAttempt_) return false;
    if (!line_.reopen()) {
        ++failed_;
        nextAttempt_ = now + Backoff(failed_);
        return false;
    }
    lost_ = false;
    const auto away = std::chrono::duration_cast<std::chrono::seconds>(now - lostAt_).count();
    line_.say(line_.name + ": back after " + std::to_string(away) + " s");
    return true;
}

bool LineKeeper::CheckLost() {
    if (lost_) return true;
    if (!line_.lost()) return false;
    line_.close();
    lost_ = true;
    failed_ = 0;
    lostAt_ = clock_.Now();
    nextAttempt_ = lostAt_ + Backoff(0);
    line_.say(line_.name + ": device lost, retrying");
    return true;
}

}  // namespace mbus::tools
