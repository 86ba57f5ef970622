// Opening a port by number: the port map names the device, which is either a
// simulated bus registered in this process ("sim:NAME") or a terminal device.

#include <cerrno>
#include <string_view>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"
#include "platform/serial/simulated_port.h"
#include "platform/serial/termios_port.h"

namespace mbus::serial {

std::unique_ptr<SerialPort> OpenPort(int number, int* error) {
    int ignored = 0;
    int& err = error != nullptr ? *error : ignored;
    err = 0;
    if (number < 1 || number > 999) {
        err = EINVAL;
        return nullptr;
    }
    const std::string device = DeviceOfPort(number, LoadPortMap());
    constexpr std::string_view kSimPrefix = "sim:";
    if (device.compare(0, kSimPrefix.size(), kSimPrefix) == 0) {
        const std::string name = device.substr(kSimPrefix.size());
        std::shared_ptr<LineDevice> bus = FindSimulatedBus(name);
        if (!bus) {
            err = ENOENT;
            return nullptr;
        }
        return std::make_unique<SimulatedPort>(device, std::move(bus));
    }
    return OpenTermiosPort(device, error);
}

}  // namespace mbus::serial
