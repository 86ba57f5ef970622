// Library-wide state of the control: the channel table, the current channel
// index and the count of live objects, with the life cycle that class-object
// requests and APPExit give them.

#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "control/com/channel_record.h"

namespace mbus::control {

class Library {
public:
    static Library& Instance();
    ~Library();

    // A class-object request: options to their defaults, every channel of an
    // earlier request discarded, channel 0 created and current. False when
    // channel 0 could not be created.
    bool ClassObjectRequested();

    // The record of the current channel; null after APPExit.
    std::shared_ptr<ChannelRecord> CurrentRecord() const;
    std::shared_ptr<ChannelRecord> RecordAt(int index) const;
    // The channel engine's part of them.
    std::shared_ptr<engine::Channel> Current() const;
    std::shared_ptr<engine::Channel> ChannelAt(int index) const;
    int CurrentIndex() const { return current_.load(); }
    // APPChannel put: creates the record on first use and makes it current.
    void Select(int index);
    // APPExit: the channels go one second later, on a thread of their own.
    void ExitLater();
    // Destroys every channel now.
    void DestroyChannels();

    std::atomic<int> liveObjects{0};
    std::atomic<int> serverLocks{0};

private:
    Library();

    mutable std::mutex tableMutex_;
    std::array<std::shared_ptr<ChannelRecord>, 4> channels_;
    std::atomic<int> current_{0};
    bool firstRequestDone_ = false;
    std::mutex exitMutex_;
    std::thread exitThread_;
};

}  // namespace mbus::control
