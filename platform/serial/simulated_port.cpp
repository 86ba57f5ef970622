#include "platform/serial/simulated_port.h"

#include <algorithm>
#include <map>

namespace mbus::serial {
namespace {

std::mutex registryMutex;
std::map<std::string, std::shared_ptr<LineDevice>>& Registry() {
    static std::map<std::string, std::shared_ptr<LineDevice>> buses;
    return buses;
}

}  // namespace

void RegisterSimulatedBus(const std::string& name, std::shared_ptr<LineDevice> device) {
    std::lock_guard lock(registryMutex);
    Registry()[name] = std::move(device);
}

void UnregisterSimulatedBus(const std::string& name) {
    std::lock_guard lock(registryMutex);
    Registry().erase(name);
}

std::shared_ptr<LineDevice> FindSimulatedBus(const std::string& name) {
    std::lock_guard lock(registryMutex);
    const auto it = Registry().find(name);
    return it == Registry().end() ? nullptr : it->second;
}

SimulatedPort::SimulatedPort(std::string name, std::shared_ptr<LineDevice> device)
    : name_(std::move(name)), device_(std::move(device)) {}

bool SimulatedPort::Configure(const SerialConfig& config) {
    std::lock_guard lock(mutex_);
    config_ = config;
    if (config.rts == 0 || config.rts == 1) rts_ = config.rts == 1;
    if (config.dtr == 0 || config.dtr == 1) dtr_ = config.dtr == 1;
    return true;
}

int SimulatedPort::Write(const uint8_t* data, int n) {
    if (n <= 0) return 0;
    std::vector<uint8_t> bytes(data, data + n);
    SerialConfig config;
    SimClock::time_point end;
    {
        std::lock_guard lock(mutex_);
        config = config_;
        const auto now = SimClock::now();
        const auto start = std::max(now, outputBusyUntil_);
        end = device_->Paced() ? start + CharacterTime(config) * n : now;
        outputBusyUntil_ = end;
    }
    // The device answers outside the port's lock: it may take its own.
    std::vector<WireByte> back = device_->OnMasterBytes(bytes, end, config);
    std::lock_guard lock(mutex_);
    for (const WireByte& b : back) {
        const auto pos = std::upper_bound(inFlight_.begin(), inFlight_.end(), b.at,
                                          [](SimClock::time_point t, const WireByte& w) { return t < w.at; });
        inFlight_.insert(pos, b);
    }
    return n;
}

bool SimulatedPort::OutputEmpty() {
    std::lock_guard lock(mutex_);
    return SimClock::now() >= outputBusyUntil_;
}

std::chrono::nanoseconds SimulatedPort::LineTime(int count) const {
    std::lock_guard lock(mutex_);
    return device_->Paced() ? CharacterTime(config_) * count : std::chrono::nanoseconds::zero();
}

void SimulatedPort::Arrive(SimClock::time_point now) {
    for (const WireByte& b : device_->Spontaneous(now, config_)) {
        const auto pos = std::upper_bound(inFlight_.begin(), inFlight_.end(), b.at,
                                          [](SimClock::time_point t, const WireByte& w) { return t < w.at; });
        inFlight_.insert(pos, b);
    }
    while (!inFlight_.empty() && inFlight_.front().at <= now) {
        const WireByte& b = inFlight_.front();
        arrived_.push_back(b.value);
        errors_.parity |= b.parity;
        errors_.framing |= b.framing;
        inFlight_.pop_front();
    }
}

int SimulatedPort::BytesWaiting() {
    std::lock_guard lock(mutex_);
    Arrive(SimClock::now());
    return static_cast<int>(arrived_.size());
}

int SimulatedPort::Read(uint8_t* data, int max) {
    std::lock_guard lock(mutex_);
    Arrive(SimClock::now());
    int n = 0;
    while (n < max && !arrived_.empty()) {
        data[n++] = arrived_.front();
        arrived_.pop_front();
    }
    return n;
}

void SimulatedPort::PurgeInput() {
    std::lock_guard lock(mutex_);
    Arrive(SimClock::now());
    arrived_.clear();
}

void SimulatedPort::PurgeOutput() {
    std::lock_guard lock(mutex_);
    outputBusyUntil_ = SimClock::now();
}

UartErrors SimulatedPort::TakeErrors() {
    std::lock_guard lock(mutex_);
    Arrive(SimClock::now());
    const UartErrors e = errors_;
    errors_ = {};
    return e;
}

void SimulatedPort::SetRTS(bool on) {
    std::lock_guard lock(mutex_);
    rts_ = on;
}

void SimulatedPort::SetDTR(bool on) {
    bool changed;
    {
        std::lock_guard lock(mutex_);
        changed = dtr_ != on;
        dtr_ = on;
    }
    if (changed) device_->OnDTR(on);
}

void SimulatedPort::SetBreak(bool on) { device_->OnBreak(on); }

ModemStatus SimulatedPort::GetModemStatus() { return device_->Status(); }

bool SimulatedPort::RTS() const {
    std::lock_guard lock(mutex_);
    return rts_;
}

bool SimulatedPort::DTR() const {
    std::lock_guard lock(mutex_);
    return dtr_;
}

SerialConfig SimulatedPort::Config() const {
    std::lock_guard lock(mutex_);
    return config_;
}

}  // namespace mbus::serial
