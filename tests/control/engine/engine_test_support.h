// Channels on simulated buses: a bus that records the master's frames, a
// port map pointing port numbers at buses, a log that keeps what a channel
// records, and waiting for a transaction to end.

#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "control/engine/channel.h"
#include "platform/serial/simulated_port.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tests/support/sim_ports.h"

namespace mbus::engine::test {

using Bytes = std::vector<uint8_t>;

// A simulated bus that keeps every chunk of bytes the master sent.
class RecordingBus final : public serial::LineDevice {
public:
    RecordingBus() : bus(std::make_shared<sim::SimBus>()) {}

    void AddSlave(const std::string& description) {
        sim::VirtualSlave slave;
        std::vector<std::string> errors;
        ASSERT_TRUE(sim::ParseSlave(description, &slave, errors)) << (errors.empty() ? "" : errors.front());
        bus->AddSlave(std::move(slave));
    }
    std::vector<Bytes> Frames() const {
        std::lock_guard lock(mutex_);
        return frames_;
    }
    // The next frame the master sends is answered with `bytes` instead of
    // by the slaves (queued in order).
    void Script(Bytes bytes) {
        std::lock_guard lock(mutex_);
        scripted_.push_back(std::move(bytes));
    }

    bool Paced() const override { return bus->Paced(); }
    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& line) override {
        {
            std::lock_guard lock(mutex_);
            frames_.push_back(bytes);
            if (!scripted_.empty()) {
                // After 100 bit times (past the master's dead time), byte
                // after byte as the line carries them.
                std::vector<serial::WireByte> out;
                auto at = end + serial::CharacterTime(line) * 100 / 11;
                for (uint8_t b : scripted_.front()) {
                    out.push_back({at, b, false, false});
                    if (bus->Paced()) at += serial::CharacterTime(line);
                }
                scripted_.pop_front();
                return out;
            }
        }
        return bus->OnMasterBytes(bytes, end, line);
    }

    std::shared_ptr<sim::SimBus> bus;

private:
    mutable std::mutex mutex_;
    std::vector<Bytes> frames_;
    std::deque<Bytes> scripted_;
};

// Ports 1..n of the port map lead to recording buses for the life of the object.
class SimulatedPorts {
public:
    explicit SimulatedPorts(int count, const std::string& prefix = "engine-test") : map_(prefix) {
        for (int i = 1; i <= count; ++i) {
            buses_.push_back(std::make_shared<RecordingBus>());
            map_.Attach(i, buses_.back());
        }
    }
    RecordingBus& Bus(int port) { return *buses_.at(static_cast<std::size_t>(port - 1)); }

private:
    std::vector<std::shared_ptr<RecordingBus>> buses_;
    testsupport::SimulatedPortMap map_;
};

// Keeps what a channel logs.
class RecordingLog final : public TelegramLogHook {
public:
    struct Entry {
        std::string line;
        int status = 0;
        bool answered = false;
        int code = -1;
        Bytes bytes;
    };
    void AppendCommand(const std::string& line, int status) override {
        std::lock_guard lock(mutex_);
        entries_.push_back({line, status, false, -1, {}});
    }
    void AttachAnswer(const LoggedAnswer& a) override {
        std::lock_guard lock(mutex_);
        if (entries_.empty()) return;
        entries_.back().answered = true;
        entries_.back().code = a.code;
        entries_.back().bytes.assign(a.bytes, a.bytes + a.length);
    }
    std::vector<Entry> Entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
};

// Waits until the channel's transaction has ended; its result (255 when it
// did not end within the time).
inline int WaitForResult(const Channel& channel, std::chrono::seconds limit = std::chrono::seconds(30)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (channel.TransactionResult() == kTransactionRunning && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return channel.TransactionResult();
}

// A channel on port `port` of the map, opened with short timeouts.
inline void OpenOnPort(Channel& channel, int port, int retries = 3) {
    channel.UpdateParameters([&](ConnectionParameters& p) {
        p.port = port;
        p.retries = retries;
    });
    ASSERT_EQ(channel.Open(), 0);
}

}  // namespace mbus::engine::test
