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

PortFacts LookUpPort(int number, bool askDevice) {
    PortFacts f;
    f.mapPath = PortMapPath();
    const PortMap map = ReadPortMap(f.mapPath);
    f.inMap = map.entries.count(number) != 0;
    for (char c : map.errors) f.mapErrors += c == '\n' ? std::string("; ") : std::string(1, c);
    f.device = DeviceOfPort(number, map);
    constexpr std::string_view kSimPrefix = "sim:";
    if (f.device.compare(0, kSimPrefix.size(), kSimPrefix) == 0) {
        f.kind = PortFacts::Kind::kSimulated;
        if (askDevice && !FindSimulatedBus(f.device.substr(kSimPrefix.size()))) {
            f.error = ENOENT;
            f.detail = "no such simulated bus in this program";
        }
    } else if (IsTcpDevice(f.device)) {
        f.kind = PortFacts::Kind::kNetwork;
        // "DEVICE: why" when the connection failed, the device alone when not.
        const std::string explained = askDevice ? ExplainTcpPort(f.device) : f.device;
        if (explained.size() > f.device.size() + 2) {
            f.error = -1;
            f.detail = explained.substr(f.device.size() + 2);
        }
    }
    return f;
}

std::string ExplainPort(int number) {
    if (number < 1 || number > 999) return "no port number";
    const PortFacts f = LookUpPort(number, true);
    const std::string& device = f.device;
    if (f.kind != PortFacts::Kind::kTerminal) return f.detail.empty() ? device : device + ": " + f.detail;
    struct stat st;
    if (::stat(device.c_str(), &st) != 0) return device + ": " + std::strerror(errno);
    if (PortLockHolder(device) >= 0) return device + ": " + PortInUseText(device);
    return device;
}

}  // namespace mbus::serial
