// A scripted far end for the simulated serial port: it records what the
// master sends and answers with prepared bytes, echo and UART faults.

#pragma once

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "platform/serial/simulated_port.h"
#include "tests/support/sim_ports.h"

namespace mbus::test {

class FakeDevice : public serial::LineDevice {
public:
    struct Answer {
        Answer(std::vector<uint8_t> b = {}, std::chrono::milliseconds d = {}) : bytes(std::move(b)), delay(d) {}
        std::vector<uint8_t> bytes;
        std::chrono::milliseconds delay{0};  // after the end of the master's frame
        int parityErrorAt = -1;              // index of a byte received with a parity error
        std::vector<uint8_t> late;           // bytes that follow after `lateDelay`
        std::chrono::milliseconds lateDelay{0};
    };

    bool Paced() const override { return paced; }

    std::vector<serial::WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, serial::SimClock::time_point end,
                                                const serial::SerialConfig& config) override {
        // The master's send thread is in its write: holding it here makes
        // it come to the echo discard that much later, as a thread that the
        // host does not run in time.
        if (stall.count() > 0) std::this_thread::sleep_for(stall);
        std::lock_guard lock(mutex_);
        sent.push_back(bytes);
        lastConfig = config;
        std::vector<serial::WireByte> out;
        if (echo)
            for (uint8_t b : bytes) out.push_back({end, b, false, false});
        if (!answers.empty()) {
            const Answer a = answers.front();
            answers.pop_front();
            for (std::size_t i = 0; i < a.bytes.size(); ++i)
                out.push_back({end + a.delay, a.bytes[i], static_cast<int>(i) == a.parityErrorAt, false});
            for (uint8_t b : a.late) out.push_back({end + a.lateDelay, b, false, false});
        }
        return out;
    }

    void OnBreak(bool on) override {
        std::lock_guard lock(mutex_);
        breaks.push_back(on);
    }

    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> sent;
    std::deque<Answer> answers;
    std::vector<bool> breaks;
    serial::SerialConfig lastConfig;
    bool echo = false;
    bool paced = false;
    std::chrono::milliseconds stall{0};
};

// Registers a fake device and points the port map at it as port 1 for the
// lifetime of the object.
class FakeLine {
public:
    explicit FakeLine(const std::string& name) : map_(name), device(std::make_shared<FakeDevice>()) {
        map_.Attach(1, device);
    }

private:
    testsupport::SimulatedPortMap map_;

public:
    std::shared_ptr<FakeDevice> device;
};

}  // namespace mbus::test
