// A worker thread that is created suspended, runs its job once each time it
// is resumed and suspends itself again; stopping wakes it and joins it. It
// stands in for the suspend/resume threads the line and channel objects
// use, without busy waiting while suspended.

#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace mbus::platform {

class SuspendableThread {
public:
    explicit SuspendableThread(std::function<void()> job);
    ~SuspendableThread();
    SuspendableThread(const SuspendableThread&) = delete;
    SuspendableThread& operator=(const SuspendableThread&) = delete;

    // Runs the job once more. A resume while the job runs makes it run again
    // right after (a resume is never lost).
    void Resume();
    // Asks the thread to end, wakes it and waits for it; the job in progress
    // finishes first. Idempotent.
    void Stop();
    // True once Stop was called (jobs may poll it to end early).
    bool StopRequested() const;

private:
    void Loop();

    std::function<void()> job_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool pending_ = false;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace mbus::platform
