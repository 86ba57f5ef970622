// Ports of the port map that lead to simulated line devices: each device is
// registered under a name of its own, the map file says "N = sim:NAME" for
// every attached port, and MBUS_PORT_MAP points at it for the life of the
// object, which unregisters the devices again.

#pragma once

#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/serial/simulated_port.h"
#include "tests/support/scratch.h"

namespace mbus::testsupport {

class SimulatedPortMap {
public:
    explicit SimulatedPortMap(std::string prefix = "sim-port") : prefix_(std::move(prefix)) {}
    ~SimulatedPortMap() {
        for (const auto& [port, name] : names_) serial::UnregisterSimulatedBus(name);
    }
    SimulatedPortMap(const SimulatedPortMap&) = delete;
    SimulatedPortMap& operator=(const SimulatedPortMap&) = delete;

    // Port `port` leads to `device` from now on; the name it is registered under.
    std::string Attach(int port, std::shared_ptr<serial::LineDevice> device) {
        const auto old = names_.find(port);
        if (old != names_.end()) serial::UnregisterSimulatedBus(old->second);
        // Unique in the process: several maps may live at once.
        const std::string name = prefix_ + "-" + std::to_string(port) + "-" + std::to_string(serial_++);
        serial::RegisterSimulatedBus(name, std::move(device));
        names_[port] = name;
        std::ofstream map(scratch_.File("ports"));
        for (const auto& [p, n] : names_) map << p << " = sim:" << n << "\n";
        map.close();
        if (!env_) env_.emplace("MBUS_PORT_MAP", scratch_.File("ports"));
        return name;
    }

private:
    static inline std::atomic<int> serial_{0};
    std::string prefix_;
    ScratchDirectory scratch_;
    std::map<int, std::string> names_;
    std::optional<ScopedEnv> env_;
};

}  // namespace mbus::testsupport
