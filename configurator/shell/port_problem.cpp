#include "configurator/shell/port_problem.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/serial/serial_port.h"
#include "platform/serial/termios_port.h"

namespace mbus::meridex {
namespace {

constexpr const char* kDefaultGroup = "dialout";

std::string Com(int port) { return "COM" + std::to_string(port); }

bool NoSuchDevice(int error) { return error == ENOENT || error == ENODEV || error == ENXIO; }

std::string GroupOf(const std::string& device) {
    struct stat st;
    if (::stat(device.c_str(), &st) != 0) return kDefaultGroup;
    const struct group* g = ::getgrgid(st.st_gid);
    return g != nullptr && g->gr_name != nullptr ? g->gr_name : kDefaultGroup;
}

}  // namespace

PortProblem DescribePortProblem(const PortOpenFacts& f) {
    const std::string com = Com(f.port);
    const std::string reason = f.error > 0 ? std::strerror(f.error) : std::string();
    if (f.lineStatus > 2)
        return {PortProblemKind::kOther, com + ": " + f.device +
                                             " opened, but did not take the line settings of the port test (line "
                                             "status " +
                                             std::to_string(f.lineStatus) + ")."};
    if (f.error == EBUSY) return {PortProblemKind::kInUse, f.device + ": " + (f.detail.empty() ? reason : f.detail)};
    if (f.error == EACCES || f.error == EPERM) {
        const std::string group = f.group.empty() ? kDefaultGroup : f.group;
        return {PortProblemKind::kPermission, com + ": " + f.device +
                                                  ": permission denied.\nAdd the user to the group " + group +
                                                  " (sudo usermod -aG " + group + " $USER) and log in again."};
    }
    // An unnamed port reaches for /dev/ttyUSB<n-1> or /dev/ttyS<n-1>; a
    // missing node, or a ttyS node without a UART behind it, means the
    // port map should name the adapter.
    if (!f.inMap && (NoSuchDevice(f.error) || f.error == EIO))
        return {PortProblemKind::kNotInMap,
                com + " is not in the port map (" + f.mapPath + (f.mapErrors.empty() ? "" : ": " + f.mapErrors) +
                    "), and its default device " + f.device +
                    " cannot be opened: " + reason + ".\nAdd a line \"" + std::to_string(f.port) +
                    " = /dev/ttyUSB0\" (the adapter's device) to the port map."};
    if (NoSuchDevice(f.error))
        return {PortProblemKind::kNoDevice, com + ": " + f.device + " does not exist" +
                                                (f.detail.empty() ? std::string() : " (" + f.detail + ")") +
                                                ".\nConnect the adapter, or name another device for " +
                                                std::to_string(f.port) + " in the port map (" + f.mapPath + ")."};
    if (f.error == 0)
        return {PortProblemKind::kOther,
                com + ": " + f.device + " did not open for the port test, but opens now. Please try again."};
    return {PortProblemKind::kOther,
            com + ": " + f.device + " cannot be opened: " + (f.detail.empty() ? reason : f.detail) + "."};
}

PortOpenFacts LookUpPortProblem(int port, int lineStatus) {
    // Ports whose settings were refused had opened: their device is not asked.
    PortOpenFacts f;
    static_cast<serial::PortFacts&>(f) = serial::LookUpPort(port, lineStatus <= 2);
    f.port = port;
    f.lineStatus = lineStatus;
    if (lineStatus > 2) return f;
    // A network device is no adapter the port map could be missing.
    if (f.kind == serial::PortFacts::Kind::kNetwork) f.inMap = true;
    if (f.kind != serial::PortFacts::Kind::kTerminal) return f;
    // Opening the device as the control does gives the error it met.
    serial::OpenTermiosPort(f.device, &f.error);
    if (f.error == EBUSY) f.detail = serial::PortInUseText(f.device);
    if (f.error == EACCES || f.error == EPERM) f.group = GroupOf(f.device);
    return f;
}

}  // namespace mbus::meridex
