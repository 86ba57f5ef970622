// The simulated backend of the serial port: an in-process port whose far
// end is a LineDevice (the simulated bus of sim/). Bytes carry arrival
// times, so a paced device reproduces the line's timing at its baud rate
// without threads of its own; an unpaced one answers at once.

#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial/serial_port.h"

namespace mbus::serial {

using SimClock = std::chrono::steady_clock;

// A byte on its way to the master, with its arrival time and UART faults.
struct WireByte {
    SimClock::time_point at;
    uint8_t value = 0;
    bool parity = false;
    bool framing = false;
};

// What is at the far end of a simulated line.
class LineDevice {
public:
    virtual ~LineDevice() = default;
    // Whether the line is paced at its baud rate (else every byte arrives at once).
    virtual bool Paced() const = 0;
    // The master sent `bytes`; the last of them left the line at `end`.
    // Returns what the line carries back to the master (echo, answers), with
    // the arrival time of each byte.
    virtual std::vector<WireByte> OnMasterBytes(const std::vector<uint8_t>& bytes, SimClock::time_point end,
                                                const SerialConfig& line) = 0;
    virtual void OnBreak(bool /*on*/) {}
    // The master raised or dropped DTR (a modem hangs up when it drops).
    virtual void OnDTR(bool /*on*/) {}
    // Bytes the device sends of its own accord by `now` (a data logger that
    // starts talking); asked whenever the master looks at its input.
    virtual std::vector<WireByte> Spontaneous(SimClock::time_point /*now*/, const SerialConfig& /*line*/) {
        return {};
    }
    virtual ModemStatus Status() { return {}; }
};

// Simulated buses by name, for port-map entries "sim:NAME".
void RegisterSimulatedBus(const std::string& name, std::shared_ptr<LineDevice> device);
void UnregisterSimulatedBus(const std::string& name);
std::shared_ptr<LineDevice> FindSimulatedBus(const std::string& name);

class SimulatedPort final : public SerialPort {
public:
    SimulatedPort(std::string name, std::shared_ptr<LineDevice> device);

    bool Configure(const SerialConfig& config) override;
    int Write(const uint8_t* data, int n) override;
    bool OutputEmpty() override;
    std::chrono::nanoseconds LineTime(int count) const override;
    int BytesWaiting() override;
    int Read(uint8_t* data, int max) override;
    void PurgeInput() override;
    void PurgeOutput() override;
    UartErrors TakeErrors() override;
    void SetRTS(bool on) override;
    void SetDTR(bool on) override;
    void SetBreak(bool on) override;
    ModemStatus GetModemStatus() override;
    // The simulated bus lives as long as the port holds it.
    bool Lost() override { return false; }
    int LastError() const override { return 0; }
    std::string Name() const override { return name_; }

    bool RTS() const;
    bool DTR() const;
    SerialConfig Config() const;

private:
    // Moves bytes whose time has come into the arrived queue (lock held).
    void Arrive(SimClock::time_point now);

    const std::string name_;
    const std::shared_ptr<LineDevice> device_;
    mutable std::mutex mutex_;
    SerialConfig config_;
    bool rts_ = false, dtr_ = false;
    SimClock::time_point outputBusyUntil_{};
    std::deque<WireByte> inFlight_;   // sorted by arrival time
    std::deque<uint8_t> arrived_;
    UartErrors errors_;
};

}  // namespace mbus::serial
