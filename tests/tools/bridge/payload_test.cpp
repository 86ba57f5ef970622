// What the bridge publishes of a meter: the state payload's values and flat
// field names, and the Home Assistant discovery configs of its sensors.

#include <gtest/gtest.h>

#include "control/decode/options.h"
#include "tests/tools/bridge/telegrams.h"

namespace mbus::bridge::test {
namespace {

// The text of a JSON payload's "fields" object.
std::string FieldsOf(const std::string& payload) {
    const std::size_t at = payload.find(",\"fields\":");
    return at == std::string::npos ? std::string() : payload.substr(at + 10, payload.size() - at - 11);
}

class Payload : public ::testing::Test {
protected:
    void SetUp() override { UseCentralEuropeanTime(); }
};

// Energy 4711 kWh, volume 6789 l, flow and return temperature, their
// difference 15 x 0.1 K, power 1000 W, volume flow 1000 l/h, on time 18 h,
// a date, a date-time (type F) in winter and one in summer.
const char* kHeatRecords = "0C0611470000 0C1389670000 0A5A5505 0A5E2003 0A621500 042BE8030000 043BE8030000"
                           " 042212000000 026C483C 046D1E12181C 046D000C4137";

TEST_F(Payload, HeatMeterReadoutGivesExactNumbersUnderFlatFields) {
    const Readout r = ReadoutOf(0x04, kHeatRecords);
    const std::string p = StatePayload(r.reading);
    EXPECT_EQ(p.rfind("{\"name\":\"flat-3-heat\",\"bus\":\"cellar\",\"address\":\"5\","
                      "\"secondaryAddress\":\"1234567847011404\",\"identification\":\"12345678\","
                      "\"manufacturer\":\"QXA\",\"medium\":\"Heat (outlet)\",\"mediumCode\":4,\"version\":20,"
                      "\"accessNumber\":42,\"status\":0,\"readAt\":\"2026-12-08T14:30:05+01:00\",\"records\":["
                      "{\"description\":\"Energy\",\"function\":\"instantaneous\",\"storage\":0,\"tariff\":0,"
                      "\"subunit\":0,\"value\":4711,\"unit\":\"kWh\",\"field\":\"energy_kwh\"},",
                      0),
              0u)
        << p;
    EXPECT_EQ(FieldsOf(p),
              "{\"energy_kwh\":4711,\"volume_m3\":6.789,\"flow_temperature_c\":55.5,\"return_temperature_c\":32,"
              "\"temperature_difference_k\":1.5,\"power_kw\":1,\"volume_flow_m3_h\":1,\"on_time_h\":18,"
              "\"time_point\":\"2026-12-08\",\"time_point_2\":\"2008-12-24T18:30:00+01:00\","
              "\"time_point_3\":\"2026-07-01T12:00:00+02:00\"}")
        << p;
}

TEST_F(Payload, DescriptionsAndFieldsAreEnglishInAnyLanguage) {
    const Readout r = ReadoutOf(0x04, "0C0611470000 0A5A5505");
    MBusLanguage.store(1);
    const std::string p = StatePayload(r.reading);
    const std::vector<Sensor> sensors = SensorsOf(r.reading);
    MBusLanguage.store(0);
    EXPECT_NE(p.find("\"description\":\"Flow Temperature\""), std::string::npos) << p;
    EXPECT_NE(p.find("\"medium\":\"Heat (outlet)\""), std::string::npos) << p;
    EXPECT_EQ(FieldsOf(p), "{\"energy_kwh\":4711,\"flow_temperature_c\":55.5}") << p;
    ASSERT_EQ(sensors.size(), 2u);
    EXPECT_EQ(sensors[1].name, "Flow temperature");
}

TEST_F(Payload, SuffixesRepeatsAndOwnNames) {
    // Storage 1, tariff 1, subunit 1, storage 2 with tariff 2; maximum,
    // minimum and error flow temperature; a second and third plain energy;
    // a manufacturer's tail and idle fillers, which are no records.
    Readout r = ReadoutOf(0x04, "0C0611470000 4C0601000000 8C100602000000 8C400603000000 8C210604000000"
                                " 1A5A6005 2A5A7005 3A5A8005 0C0605000000 0C0606000000 2F2F 0F0102");
    r.reading.fieldNames = {{"energy_kwh_2", "heat_energy"}, {"energy_kwh_3", "energy_kwh"}};
    const std::string p = StatePayload(r.reading);
    EXPECT_EQ(FieldsOf(p),
              "{\"energy_kwh\":4711,\"energy_kwh_storage1\":1,\"energy_kwh_tariff1\":2,\"energy_kwh_subunit1\":3,"
              "\"energy_kwh_storage2_tariff2\":4,\"flow_temperature_c_max\":56,\"flow_temperature_c_min\":57,"
              "\"flow_temperature_c_error\":58,\"heat_energy\":5,\"energy_kwh_3\":6}")
        << p;
    // The records name the field each became.
    EXPECT_NE(p.find("\"value\":5,\"unit\":\"kWh\",\"field\":\"heat_energy\"}"), std::string::npos) << p;
    EXPECT_EQ(p.find("Manufacturer"), std::string::npos) << p;
    EXPECT_EQ(p.find("filler"), std::string::npos) << p;
}

TEST_F(Payload, TextsStayTextsAndLargeIntegersStayExact) {
    // A text "1.3" (LVAR), a value whose BCD digits hold an error nibble,
    // a date of zeros and one with month 0, the largest 64-bit integer and
    // twelve BCD digits.
    const Readout r = ReadoutOf(0x04, "0DFD0E03332E31 0A620F00 026C0000 026C0120 07 06 FF FF FF FF FF FF FF 7F"
                                      " 0E0699999999999999");
    EXPECT_EQ(FieldsOf(StatePayload(r.reading)),
              "{\"firmware_version\":\"1.3\",\"temperature_difference_mk\":\"000F\",\"time_point_date\":\"0\","
              "\"time_point\":\"2016-00-01\",\"energy_kwh\":9223372036854775807,\"energy_kwh_2\":999999999999}");
    // Texts get no sensor.
    const std::vector<Sensor> sensors = SensorsOf(r.reading);
    ASSERT_EQ(sensors.size(), 2u);
    EXPECT_EQ(sensors[0].field, "energy_kwh");
}

TEST_F(Payload, TwoTelegramsMakeOneReadoutUnderTheLastHeader) {
    std::vector<std::unique_ptr<MBTelegram>> answers;
    answers.push_back(Answer(0x04, "0C0699990000 1F", 0x05, 1));
    answers.push_back(Answer(0x04, "0C1312340000 0C0611110000", 0x05, 2));
    const Readout r("27182818", std::move(answers));
    const std::string p = StatePayload(r.reading);
    EXPECT_NE(p.find("\"secondaryAddress\":\"1234567847010504\""), std::string::npos) << p;
    EXPECT_NE(p.find("\"accessNumber\":2,"), std::string::npos) << p;
    EXPECT_EQ(FieldsOf(p), "{\"energy_kwh\":9999,\"volume_m3\":3.412,\"energy_kwh_2\":1111}") << p;
    EXPECT_EQ(p.find("special"), std::string::npos) << p;
}

// Sensors: current values only, of every tariff, with maximum and minimum.
TEST_F(Payload, SensorsAreTheCurrentNumbersAndDates) {
    const Readout r = ReadoutOf(0x04, "0C0611470000 8C100602000000 4C0601000000 1A5A6005 3A5A8005 026C483C");
    std::vector<std::string> fields, names;
    for (const Sensor& s : SensorsOf(r.reading)) {
        fields.push_back(s.field);
        names.push_back(s.name);
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"energy_kwh", "energy_kwh_tariff1", "flow_temperature_c_max",
                                                "time_point"}));
    EXPECT_EQ(names, (std::vector<std::string>{"Energy", "Energy tariff 1", "Flow temperature maximum",
                                               "Time point"}));
}

const DiscoveryContext kContext{"homeassistant", "mbus", "mbus-bridge", "1.4.0"};

TEST_F(Payload, DiscoveryConfigOfASensorIsComplete) {
    const Readout r = ReadoutOf(0x04, "0C0611470000");
    const std::vector<DiscoveryMessage> m = DiscoveryMessages(r.reading, kContext);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].topic, "homeassistant/sensor/mbus_1234567847011404/energy_kwh/config");
    EXPECT_EQ(m[0].topic, DiscoveryTopic(kContext, "1234567847011404", "energy_kwh"));
    EXPECT_EQ(m[0].payload,
              "{\"name\":\"Energy\",\"unique_id\":\"mbus_1234567847011404_energy_kwh\","
              "\"default_entity_id\":\"sensor.mbus_1234567847011404_energy_kwh\","
              "\"value_template\":\"{{ value_json.fields.energy_kwh }}\",\"device_class\":\"energy\","
              "\"state_class\":\"total_increasing\",\"unit_of_measurement\":\"kWh\","
              "\"state_topic\":\"mbus/flat-3-heat/state\",\"availability\":[{\"topic\":\"mbus/bridge/availability\"},"
              "{\"topic\":\"mbus/flat-3-heat/availability\"}],\"availability_mode\":\"all\","
              "\"device\":{\"identifiers\":[\"mbus_1234567847011404\"],\"name\":\"flat-3-heat\","
              "\"manufacturer\":\"QXA\",\"model\":\"Heat (outlet) meter, version 20\","
              "\"serial_number\":\"12345678\"},\"origin\":{\"name\":\"mbus-bridge\",\"sw_version\":\"1.4.0\"}}");
}

TEST_F(Payload, DiscoveryOfAnOwnNameThatIsNoIdentifier) {
    Readout r = ReadoutOf(0x07, "0C1378563412");
    r.reading.fieldNames = {{"volume_m3", "Cold-water"}};
    const std::vector<DiscoveryMessage> m = DiscoveryMessages(r.reading, kContext);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].topic, "homeassistant/sensor/mbus_1234567847011407/cold_water/config");
    EXPECT_NE(m[0].payload.find("\"value_template\":\"{{ value_json.fields['Cold-water'] }}\""), std::string::npos)
        << m[0].payload;
}

// One row per device class of the table (and the plain numbers): the
// classes and unit of the one sensor a record gives.
struct ClassCase {
    uint8_t medium;
    const char* records;
    const char* field;
    const char* deviceClass;  // empty: no such key in the config
    const char* stateClass;
    const char* unit;
};

constexpr ClassCase kClassCases[] = {
    {0x04, "0C0611470000", "energy_kwh", "energy", "total_increasing", "kWh"},
    {0x04, "0C0E11470000", "energy_mj", "energy", "total_increasing", "MJ"},
    {0x04, "1406E8030000", "energy_kwh_max", "energy", "measurement", "kWh"},
    {0x07, "0C1378563412", "volume_m3", "water", "total_increasing", "m\u00B3"},
    {0x16, "0C1378563412", "volume_m3", "water", "total_increasing", "m\u00B3"},
    {0x03, "0C1378563412", "volume_m3", "gas", "total_increasing", "m\u00B3"},
    {0x04, "0C1378563412", "volume_m3", "volume", "total_increasing", "m\u00B3"},
    {0x04, "0A5A5505", "flow_temperature_c", "temperature", "measurement", "\u00B0C"},
    {0x04, "0A621500", "temperature_difference_k", "", "measurement", "K"},
    {0x04, "042BE8030000", "power_kw", "power", "measurement", "kW"},
    {0x04, "043BE8030000", "volume_flow_m3_h", "volume_flow_rate", "measurement", "m\u00B3/h"},
    {0x04, "042212000000", "on_time_h", "duration", "total_increasing", "h"},
    {0x04, "04242C010000", "operating_time_s", "duration", "total_increasing", "s"},
    {0x04, "04700A000000", "integration_time_s", "duration", "measurement", "s"},
    {0x04, "046D1E12181C", "time_point", "timestamp", "", ""},
    {0x04, "026C483C", "time_point", "date", "", ""},
    {0x02, "0AFD4A3002", "voltage_v", "", "", "V"},
    {0x08, "0B6E450100", "heat_cost_allocator", "", "", ""},
};

TEST_F(Payload, DiscoveryClassesAndUnitsComeFromTheTable) {
    for (const ClassCase& c : kClassCases) {
        SCOPED_TRACE(c.records);
        const Readout r = ReadoutOf(c.medium, c.records);
        const std::vector<DiscoveryMessage> m = DiscoveryMessages(r.reading, kContext);
        ASSERT_EQ(m.size(), 1u);
        const std::string& p = m[0].payload;
        EXPECT_NE(m[0].topic.find("/" + std::string(c.field) + "/config"), std::string::npos) << m[0].topic;
        EXPECT_NE(p.find("{{ value_json.fields." + std::string(c.field) + " }}"), std::string::npos) << p;
        for (const auto& [key, value] : {std::pair{"device_class", c.deviceClass},
                                         std::pair{"state_class", c.stateClass},
                                         std::pair{"unit_of_measurement", c.unit}}) {
            const std::string k = "\"" + std::string(key) + "\":";
            if (*value == '\0') EXPECT_EQ(p.find(k), std::string::npos) << p;
            else EXPECT_NE(p.find(k + "\"" + value + "\""), std::string::npos) << p;
        }
    }
}

}  // namespace
}  // namespace mbus::bridge::test
