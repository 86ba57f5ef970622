// Opening a port by number: the port map names the device, which is a
// simulated bus registered in this process ("sim:NAME"), a network serial
// server ("tcp:HOST:PORT") or a terminal device.

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/serial/port_map.h"
#include "platform/serial/serial_port.h"
#include "platform/serial/simulated_port.h"
#include "platform/serial/tcp_port.h"
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
    if (IsTcpDevice(device)) return OpenTcpPort(device, error);
    return OpenTermiosPort(device, error);
}

std::string ExplainPort(int number) {
    if (number < 1 || number > 999) return "no port number";
    const std::string device = DeviceOfPort(number, ReadPortMap(PortMapPath()));
    if (device.compare(0, 4, "sim:") == 0)
        return FindSimulatedBus(device.substr(4)) ? device : device + ": no such simulated bus in this program";
    if (IsTcpDevice(device)) return ExplainTcpPort(device);
    struct stat st;
    if (::stat(device.c_str(), &st) != 0) return device + ": " + std::strerror(errno);
    if (PortLockHolder(device) >= 0) return device + ": " + PortInUseText(device);
    return device;
}

}  // namespace mbus::serial
