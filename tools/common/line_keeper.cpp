#include "tools/common/line_keeper.h"

namespace mbus::tools {

const KeeperClock& SteadyKeeperClock() {
    static const struct : KeeperClock {
        time_point Now() const override { return std::chrono::steady_clock::now(); }
    } clock;
    return clock;
}

LineKeeper::LineKeeper(KeptLine line, const KeeperClock& clock) : line_(std::move(line)), clock_(clock) {}

std::chrono::seconds LineKeeper::Backoff(int) { return std::chrono::seconds(0); }

bool LineKeeper::Ready() { return true; }

bool LineKeeper::CheckLost() { return false; }

}  // namespace mbus::tools
