#include "control/com/library.h"

#include <chrono>

#include "control/decode/options.h"
#include "control/engine/locks.h"
#include "control/line/layer1.h"

namespace mbus::control {

Library& Library::Instance() {
    static Library library;
    return library;
}

Library::Library() {
    // The locks must outlive the channels that the destructor discards.
    engine::Locks();
}

Library::~Library() {
    {
        std::lock_guard lock(exitMutex_);
        if (exitThread_.joinable()) exitThread_.join();
    }
    DestroyChannels();
}

bool Library::ClassObjectRequested() {
    MBusOption.Reset();
    MBusTestOption.Reset();
    std::array<std::shared_ptr<ChannelRecord>, 4> old;
    {
        std::lock_guard lock(tableMutex_);
        old.swap(channels_);
        firstRequestDone_ = true;
    }
    old = {};  // the channels of an earlier request stop here
    for (auto& slot : MBusChannel) slot.store(0);
    MBusLanguage.store(0);
    current_.store(0);
    std::shared_ptr<ChannelRecord> zero;
    try {
        zero = std::make_shared<ChannelRecord>(0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::lock_guard lock(tableMutex_);
    channels_[0] = std::move(zero);
    return true;
}

std::shared_ptr<ChannelRecord> Library::CurrentRecord() const { return RecordAt(current_.load()); }

std::shared_ptr<ChannelRecord> Library::RecordAt(int index) const {
    if (index < 0 || index > 3) return nullptr;
    std::lock_guard lock(tableMutex_);
    return channels_[static_cast<std::size_t>(index)];
}

std::shared_ptr<engine::Channel> Library::Current() const { return ChannelAt(current_.load()); }

std::shared_ptr<engine::Channel> Library::ChannelAt(int index) const {
    std::shared_ptr<ChannelRecord> record = RecordAt(index);
    if (!record) return nullptr;
    return std::shared_ptr<engine::Channel>(record, &record->channel);
}

void Library::Select(int index) {
    if (index < 0 || index > 3) return;
    {
        std::lock_guard lock(tableMutex_);
        auto& slot = channels_[static_cast<std::size_t>(index)];
        if (!slot) {
            try {
                slot = std::make_shared<ChannelRecord>(index);
            } catch (const std::exception&) {
                return;  // the selection is ignored
            }
        }
    }
    current_.store(index);
}

void Library::ExitLater() {
    std::lock_guard lock(exitMutex_);
    if (exitThread_.joinable()) return;
    exitThread_ = std::thread([this] {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        DestroyChannels();
    });
}

void Library::DestroyChannels() {
    std::array<std::shared_ptr<ChannelRecord>, 4> old;
    {
        std::lock_guard lock(tableMutex_);
        old.swap(channels_);
    }
}

}  // namespace mbus::control
