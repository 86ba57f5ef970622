// Feeds arbitrary text through the parsers of files and command lines that
// users write: the port map, the simulated bus's description and its
// fault texts.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial/port_map.h"
#include "sim/bus_description.h"
#include "sim/faults.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const mbus::serial::PortMap map = mbus::serial::ParsePortMap(text);
    std::size_t sink = map.entries.size() + map.errors.size();
    for (const auto& [number, device] : map.entries) sink += mbus::serial::DeviceOfPort(number, map).size();
    std::vector<std::string> errors;
    const auto slaves = mbus::sim::ParseBusDescription(text, errors);
    for (const auto& s : slaves) sink += mbus::sim::DescribeSlave(s).size();
    std::string error;
    if (const auto fault = mbus::sim::ParseFault(text, &error)) sink += mbus::sim::FaultText(*fault).size();
    return sink == 0x7FFFFFFF ? 1 : 0;
}
