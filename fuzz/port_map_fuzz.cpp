// Arbitrary bytes as the text of a port-map file: parsed, checking what must
// hold for every entry kept (and for "tcp:" entries, their host and port);
// then the bytes alone as a device word of the "tcp:" form.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/serial/port_map.h"

namespace {

using mbus::serial::ParsePortMap;
using mbus::serial::ParseTcpDevice;
using mbus::serial::TcpEndpoint;

void Check(bool condition) {
    if (!condition) std::abort();
}

// A good "tcp:" device has a host without brackets, a port 1..65535, and
// names the same endpoint when written back in the canonical form.
void CheckTcp(std::string_view device) {
    TcpEndpoint endpoint;
    if (!ParseTcpDevice(device, &endpoint).empty()) return;
    Check(!endpoint.host.empty());
    Check(endpoint.host.find_first_of("[]") == std::string::npos);
    Check(endpoint.port >= 1 && endpoint.port <= 65535);
    const bool v6 = endpoint.host.find(':') != std::string::npos;
    const std::string again =
        "tcp:" + (v6 ? "[" + endpoint.host + "]" : endpoint.host) + ":" + std::to_string(endpoint.port);
    TcpEndpoint back;
    Check(ParseTcpDevice(again, &back).empty());
    Check(back.host == endpoint.host && back.port == endpoint.port);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto map = ParsePortMap(text);
    for (const auto& [number, device] : map.entries) {
        Check(number >= 1 && number <= 999);
        Check(!device.empty());
        if (mbus::serial::IsTcpDevice(device)) {
            TcpEndpoint endpoint;
            Check(ParseTcpDevice(device, &endpoint).empty());
            CheckTcp(device);
        }
    }
    CheckTcp(text);
    return 0;
}
