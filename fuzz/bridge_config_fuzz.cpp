// Arbitrary bytes as the text of an mbus-bridge configuration file: either
// a fault with a reason, or a configuration whose every value is within
// what the checks promise to the rest of the bridge.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "tools/mbus-bridge/config.h"

namespace {

using namespace mbus::bridge;

void Check(bool condition) {
    if (!condition) std::abort();
}

std::optional<std::string> Environment(const std::string& name) {
    if (name == "MBUS_PASSWORD") return "pw";
    return std::nullopt;
}

bool TopicSafe(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name) {
        if (c == '/' || c == '+' || c == '#' || static_cast<unsigned char>(c) <= ' ') return false;
    }
    return true;
}

void CheckConfig(const BridgeConfig& c) {
    Check(c.mqtt.port >= 1 && c.mqtt.port <= 65535);
    Check(c.mqtt.qos >= 0 && c.mqtt.qos <= 2);
    Check(c.mqtt.keepalive >= 5 && c.mqtt.keepalive <= 3600);
    Check(c.mqtt.protocol == 5 || c.mqtt.protocol == 311);
    Check(!c.mqtt.baseTopic.empty() && !c.mqtt.discoveryPrefix.empty());
    Check(c.offlineAfter >= 1 && c.offlineAfter <= 1000);
    Check(!c.buses.empty() && c.buses.size() <= static_cast<std::size_t>(kMaxBuses));
    std::set<std::string> busNames, devices, meterNames;
    for (const BusConfig& bus : c.buses) {
        Check(TopicSafe(bus.name) && busNames.insert(bus.name).second);
        Check(!bus.device.empty() && devices.insert(bus.device).second);
        Check(bus.echo >= 0 && bus.echo <= 2 && bus.retries >= 0 && bus.retries <= 9);
        Check(bus.interval >= 1 && bus.line >= 1);
        Check(!bus.meters.empty() || bus.scan != ScanMode::None);
        for (const MeterConfig& meter : bus.meters) {
            Check(TopicSafe(meter.name) && meterNames.insert(meter.name).second);
            const std::size_t n = meter.address.size();
            Check(n == 8 || n == 16 || (n >= 1 && n <= 3 && std::stoi(meter.address) <= 250));
            Check(meter.interval >= 0);
            for (const auto& [field, own] : meter.fields) Check(TopicSafe(field) && TopicSafe(own));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigError error;
    if (auto config = ParseConfig(text, "fuzz.toml", &error, Environment)) {
        CheckConfig(*config);
    } else {
        Check(!error.reason.empty() && error.line >= 0 && error.file == "fuzz.toml");
        Check(!error.Text().empty());
    }
    return 0;
}
