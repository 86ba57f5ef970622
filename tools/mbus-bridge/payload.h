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
// The header is the last telegram's (a reading has at least one); the
// records are those of all telegrams in order, without the manufacturer's
// tail, the "more records follow" mark, idle fillers and records without a
// value. Descriptions, media and field names are English whatever language
// the process decodes in.
// A number is a JSON number written from the exact decimal text (64-bit
// integers exact) in the natural unit of its quantity (kWh, MJ, m³, °C, K,
// kW, m³/h, s/min/h/d); a date is an ISO 8601 text: "2026-12-08", or a
// date-time "2026-12-08T14:30:00+01:00" with the local offset at that time;
// a value without a number (a text the meter sent, BCD digits with an error
// nibble) is a string. "function" is instantaneous, maximum, minimum or
// error (the value during an error state).
// Flat field names are the English description and the unit in lower case
// with underscores ("m³/h" as m3_h, "°C" as c), a _storageN, _tariffN,
// _subunitN suffix where that is not 0, _max/_min/_error for those
// functions; a repeated name gets _2, _3. fieldNames renames them; an own
// name another field took already leaves the automatic name.
std::string StatePayload(const MeterReading& reading);

// A current value that gets a sensor in Home Assistant: a number or a date
// of storage 0, of any tariff and subunit, instantaneous, maximum or
// minimum. Texts, stored values (storage 1 and up) and values during an
// error state are in the state payload only.
struct Sensor {
    std::string field;        // its flat field in the state payload (after renaming)
    std::string name;         // "Energy", "Flow temperature", "Energy tariff 1", "Power maximum"
    std::string deviceClass;  // "energy", "water", "gas", "volume", "temperature", "power",
                              // "volume_flow_rate", "duration", "timestamp" (a date-time),
                              // "date" (a date alone), or empty
    std::string stateClass;   // "total_increasing" (counters, on and operating time),
                              // "measurement" (also a counter's maximum or minimum), or empty
    std::string unit;         // as Home Assistant spells it: "kWh", "m³", "°C", ...; a plain
                              // number keeps its own unit
};
// The sensors in the order of the records.
std::vector<Sensor> SensorsOf(const MeterReading& reading);

struct DiscoveryContext {
    std::string prefix = "homeassistant";
    std::string baseTopic = "mbus";
    std::string bridgeId = "mbus-bridge";  // the client id; not part of unique ids, so that a meter
                                           // keeps its entities when the client id changes
    std::string version;
};

struct DiscoveryMessage {
    std::string topic;    // PREFIX/sensor/mbus_SECONDARY/FIELD/config
    std::string payload;  // JSON; empty to delete the entity
};

// One config per sensor: name, unique_id "mbus_SECONDARY_FIELD",
// default_entity_id "sensor.mbus_secondary_field" (Home Assistant's
// successor of object_id), the state topic BASE/NAME/state with the value
// template {{ value_json.fields.FIELD }} (fields['FIELD'] for an own name
// that is no identifier), device_class, state_class and unit_of_measurement
// where the sensor has them, availability of both BASE/bridge/availability
// and BASE/NAME/availability (all must be online), a device per meter
// (identifiers ["mbus_SECONDARY"], the meter's name, manufacturer code,
// model "Heat (outlet) meter, version 20", serial number the
// identification) and the origin "mbus-bridge" with the version. In topics
// and ids a field is written in lower-case letters, digits and underscores.
std::vector<DiscoveryMessage> DiscoveryMessages(const MeterReading& reading, const DiscoveryContext& c);

// The topic of a sensor's config, for deleting it later.
std::string DiscoveryTopic(const DiscoveryContext& c, const std::string& secondaryAddress, const std::string& field);

}  // namespace mbus::bridge
