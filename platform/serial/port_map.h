// The port map: which device a port number stands for.
//
// A small user-editable text file, one entry a line:
//
//   # comment
//   1 = /dev/ttyUSB0        a real adapter or a pseudo-terminal
//   7 = sim:demo            a simulated bus registered in this process
//   9 = tcp:gw.local:10001  a serial server on the network (tcp:[::1]:10001
//                           for an IPv6 literal)
//
// Its place: $MBUS_PORT_MAP when set, else $XDG_CONFIG_HOME/mbus/ports
// (~/.config/mbus/ports). A port number without an entry is /dev/ttyUSB<n-1>
// when that device exists, else /dev/ttyS<n-1>.

#pragma once

#include <map>
#include <string>
#include <string_view>

namespace mbus::serial {

struct PortMap {
    std::map<int, std::string> entries;  // port number -> device path, "sim:NAME" or "tcp:HOST:PORT"
    std::string errors;                  // lines that could not be read, with their line numbers
};

// Host and TCP port of a "tcp:" device.
struct TcpEndpoint {
    std::string host;  // a name or an address literal, without brackets
    int port = 0;      // 1..65535
};

// True when `device` names a network serial server ("tcp:...").
bool IsTcpDevice(std::string_view device);
// Reads "tcp:HOST:PORT" (an IPv6 literal in brackets: "tcp:[::1]:10001").
// Returns an empty string when it is good, else what is wrong with it.
std::string ParseTcpDevice(std::string_view device, TcpEndpoint* endpoint);

// Parses the text of a port-map file.
PortMap ParsePortMap(std::string_view text);
// Path of the port-map file in use.
std::string PortMapPath();
// Reads the port-map file at `path` (an empty map when there is none). A
// file that cannot be read, a directory, FIFO or device in its place, or a
// file over 1 MiB gives an empty map and a message in `errors` ("is a
// directory", "is not a regular file (a FIFO)"). A device with a control
// character in it (a NUL, say) is a bad line; messages show such bytes as
// \xHH.
PortMap ReadPortMap(const std::string& path);
// Reads the port-map file in use. Its problems (bad lines, a file that
// cannot be read) also go to the error stream, naming the file and the
// line, once per file in the life of the process.
PortMap LoadPortMap();
// The device of a port number: the map entry or the default.
std::string DeviceOfPort(int number, const PortMap& map);

}  // namespace mbus::serial
