#include "platform/thread/suspendable_thread.h"

namespace mbus::platform {

SuspendableThread::SuspendableThread(std::function<void()> job) : job_(std::move(job)) {
    thread_ = std::thread([this] { Loop(); });
}

SuspendableThread::~SuspendableThread() { Stop(); }

void SuspendableThread::Resume() {
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    wake_.notify_one();
}

void SuspendableThread::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool SuspendableThread::StopRequested() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

void SuspendableThread::Loop() {
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return pending_ || stop_; });
            if (stop_) return;
            pending_ = false;
        }
        job_();
    }
}

}  // namespace mbus::platform
