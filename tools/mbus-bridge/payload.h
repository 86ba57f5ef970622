// What the bridge publishes of a meter: the state payload (a JSON object
// whose shape docs/mbus-bridge-state.schema.json describes) and the Home
// Assistant discovery configs of its current values. Both come from the
// meter's whole readout; nothing here knows MQTT.

#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "control/decode/telegram.h"

namespace mbus::bridge {

// One whole readout of a meter, as it is published.
struct MeterReading {
    std::string name;     // the topic's name: configured, or the 16-digit secondary address
    std::string address;  // as it was read: "5" or 16 hex digits
    std::string bus;      // the bus's name
    std::time_t readAt = 0;
    std::vector<const MBTelegram*> telegrams;       // the readout, in the order read
    std::map<std::string, std::string> fieldNames;  // flat field -> own name
};

// The 16 hexadecimal digits of the meter's secondary address (identification,
// manufacturer code, version, medium) from its last telegram.
std::string SecondaryAddressOf(const MBTelegram& t);

// The state payload, one line of JSON:
//   {"name":..,"bus":..,"address":..,"secondaryAddress":"..16..",
//    "identification":"12345678","manufacturer":"QXA","medium":"Heat (outlet)",
//    "mediumCode":4,"version":1,"accessNumber":..,"status":..,
//    "readAt":"2026-12-08T14:30:05+01:00",
//    "records":[{"description":"Energy","function":"instantaneous",
//                "storage":0,"tariff":0,"subunit":0,"value":4711,"unit":"kWh",
//                "field":"energy_kwh"}, ...],
//    "fields":{"energy_kwh":4711,"volume_m3":6.789,"flow_temperature_c":55.5}}
// A number is a JSON number in the natural unit of its quantity (kWh, m³,
// °C, W, m³/h, s); a date is an ISO 8601 text; a value without a number
// (text, raw bytes) is a string. Flat field names are the English
// description and unit in lower case with underscores, a _storageN,
// _tariffN, _subunitN suffix where that is not 0, _max/_min/_error for
// those functions; a repeated name gets _2, _3; fieldNames renames them.
std::string StatePayload(const MeterReading& reading);

// A current value (storage 0) that gets a sensor in Home Assistant.
struct Sensor {
    std::string field;        // its flat field in the state payload (after renaming)
    std::string name;         // "Energy", "Flow temperature", "Energy tariff 1"
    std::string deviceClass;  // "energy", "water", "gas", "volume", "temperature", "power",
                              // "volume_flow_rate", "duration", "timestamp", or empty
    std::string stateClass;   // "total_increasing", "measurement", or empty
    std::string unit;         // as Home Assistant spells it: "kWh", "m³", "°C", ...
};
std::vector<Sensor> SensorsOf(const MeterReading& reading);

struct DiscoveryContext {
    std::string prefix = "homeassistant";
    std::string baseTopic = "mbus";
    std::string bridgeId = "mbus-bridge";  // the client id: part of the origin and of unique ids
    std::string version;
};

struct DiscoveryMessage {
    std::string topic;    // PREFIX/sensor/mbus_SECONDARY/FIELD/config
    std::string payload;  // JSON; empty to delete the entity
};

// One config per sensor: a device per meter (identifiers from the
// secondary address, manufacturer, model from medium and version), the
// state topic BASE/NAME/state with a value template of the flat field,
// availability of both BASE/bridge/availability and BASE/NAME/availability
// (all must be online).
std::vector<DiscoveryMessage> DiscoveryMessages(const MeterReading& reading, const DiscoveryContext& c);

// The topic of a sensor's config, for deleting it later.
std::string DiscoveryTopic(const DiscoveryContext& c, const std::string& secondaryAddress, const std::string& field);

}  // namespace mbus::bridge
