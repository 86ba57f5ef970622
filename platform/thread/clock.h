// Time for the line timing: a monotonic clock in milliseconds and sleeps.

#pragma once

#include <chrono>
#include <cstdint>
#include <thread>

namespace mbus::platform {

using Clock = std::chrono::steady_clock;

// Milliseconds of the monotonic clock (any origin).
inline int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

inline void SleepMs(int64_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace mbus::platform
