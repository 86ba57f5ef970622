// The port map: which device a port number stands for.
//
// A small user-editable text file, one entry a line:
//
//   # comment
//   1 = /dev/ttyUSB0        a real adapter or a pseudo-terminal
//   7 = sim:demo            a simulated bus registered in this process
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
    std::map<int, std::string> entries;  // port number -> device path or "sim:NAME"
    std::string errors;                  // lines that could not be read, with their line numbers
};

// Parses the text of a port-map file.
PortMap ParsePortMap(std::string_view text);
// Path of the port-map file in use.
std::string PortMapPath();
// Reads the port-map file at `path` (an empty map when there is none). A
// file that cannot be read or is a directory gives an empty map and a
// message in `errors`.
PortMap ReadPortMap(const std::string& path);
// Reads the port-map file in use. Its problems (bad lines, a file that
// cannot be read) also go to the error stream, naming the file and the
// line, once per file in the life of the process.
PortMap LoadPortMap();
// The device of a port number: the map entry or the default.
std::string DeviceOfPort(int number, const PortMap& map);

}  // namespace mbus::serial
