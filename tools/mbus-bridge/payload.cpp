#include "tools/mbus-bridge/payload.h"

#include <cstdio>
#include <set>

#include "control/decode/layer7.h"
#include "control/decode/text_tables.h"
#include "platform/text/codepage.h"
#include "tools/mbusctl/output.h"
#include "tools/mbusctl/session_line.h"

namespace mbus::bridge {
namespace {

using cli::JsonString;

// Descriptions, field names and media are English whatever language the
// process decodes in: they are names that templates and automations use.
constexpr int kEnglish = 0;

enum class Kind { Number, Date, DateTime, Text };

// What a quantity is to the flat field and to Home Assistant. A record
// belongs to the first row whose unit (as Readable writes it) and kind
// match; a number of any other unit is plain: no device or state class,
// its own unit, the unit part of its field derived from that unit.
struct Quantity {
    const char* unit;         // as Readable writes it; empty for dates
    Kind kind;
    const char* fieldUnit;    // the unit part of the flat field
    const char* haUnit;       // unit_of_measurement
    const char* deviceClass;  // "volume" is refined by the medium (VolumeClass)
    const char* stateClass;
    bool runningTime = false;  // total_increasing when it counts the meter's on or operating time
};

constexpr Quantity kQuantities[] = {
    {"Wh", Kind::Number, "wh", "Wh", "energy", "total_increasing"},
    {"kWh", Kind::Number, "kwh", "kWh", "energy", "total_increasing"},
    {"MWh", Kind::Number, "mwh", "MWh", "energy", "total_increasing"},
    {"MJ", Kind::Number, "mj", "MJ", "energy", "total_increasing"},
    {"GJ", Kind::Number, "gj", "GJ", "energy", "total_increasing"},
    {"MCal", Kind::Number, "mcal", "Mcal", "energy", "total_increasing"},
    {"m\u00B3", Kind::Number, "m3", "m\u00B3", "volume", "total_increasing"},
    {"\u00B0C", Kind::Number, "c", "\u00B0C", "temperature", "measurement"},
    {"K", Kind::Number, "k", "K", "", "measurement"},
    {"W", Kind::Number, "w", "W", "power", "measurement"},
    {"kW", Kind::Number, "kw", "kW", "power", "measurement"},
    {"m\u00B3/h", Kind::Number, "m3_h", "m\u00B3/h", "volume_flow_rate", "measurement"},
    {"s", Kind::Number, "s", "s", "duration", "measurement", true},
    {"min", Kind::Number, "min", "min", "duration", "measurement", true},
    {"h", Kind::Number, "h", "h", "duration", "measurement", true},
    {"d", Kind::Number, "d", "d", "duration", "measurement", true},
    // A date alone is Home Assistant's "date" (its state "2026-12-08"); a
    // timestamp needs a time and an offset.
    {"", Kind::Date, "", "", "date", ""},
    {"", Kind::DateTime, "", "", "timestamp", ""},
};

// Units of time points whose value Readable could not read as a date (a
// meter's "no date", all zeros): such a value is a text, not a number.
constexpr const char* kTimePointUnits[] = {"Date", "Date+Time"};

// Descriptions of the running times (English, lower case).
constexpr const char* kRunningTimes[] = {"on time", "operating time"};

// Media whose volume Home Assistant calls water or gas.
struct MediumVolume {
    int medium;
    const char* deviceClass;
};
constexpr MediumVolume kMediumVolumes[] = {
    {0x03, "gas"}, {0x06, "water"}, {0x07, "water"}, {0x15, "water"}, {0x16, "water"},
};

// The function field: its name in a record and its suffix in a flat field.
struct Function {
    const char* name;
    const char* suffix;
    const char* sensorSuffix;
};
constexpr Function kFunctions[] = {
    {"instantaneous", "", ""},
    {"maximum", "_max", " maximum"},
    {"minimum", "_min", " minimum"},
    {"error", "_error", " during error"},
};

// One record of the readout as it is published.
struct Entry {
    std::string description;  // English, without the unit
    int function = 0;
    long long storage = 0;
    int tariff = 0, subunit = 0;
    Kind kind = Kind::Text;
    std::string value;  // a JSON number's text, or the text of a string
    std::string unit;
    const Quantity* quantity = nullptr;
    std::string field;  // after numbering repeats and renaming
    int repeat = 1;     // 2 for the second record of the same automatic name
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A text as a part of a flat field: letters and digits in lower case,
// "³" as 3, "°" dropped, every other run of characters one underscore.
std::string Slug(const std::string& text) {
    std::string out;
    bool gap = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        char put = 0;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB3) {
            put = '3';
            ++i;
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xB0) {
            ++i;
            continue;
        } else if ((c >= 'a' && c <= 'z') || IsDigit(static_cast<char>(c))) {
            put = static_cast<char>(c);
        } else if (c >= 'A' && c <= 'Z') {
            put = static_cast<char>(c - 'A' + 'a');
        }
        if (put == 0) {
            gap = !out.empty();
            continue;
        }
        if (gap) out += '_';
        gap = false;
        out += put;
    }
    return out;
}

// A decimal text "[-]digits[.digits]" as a JSON number (leading zeros
// dropped), or empty when it is none.
std::string JsonNumber(const std::string& v) {
    std::size_t at = v[0] == '-' ? 1 : 0;
    const std::size_t intStart = at;
    while (at < v.size() && IsDigit(v[at])) ++at;
    const std::size_t intEnd = at;
    if (intEnd == intStart) return {};
    if (at < v.size()) {
        if (v[at] != '.' || at + 1 == v.size()) return {};
        for (++at; at < v.size(); ++at)
            if (!IsDigit(v[at])) return {};
    }
    std::size_t first = intStart;
    while (first + 1 < intEnd && v[first] == '0') ++first;
    return v.substr(0, intStart) + v.substr(first);
}

// Readable's dates ("2026-12-08", "2026-12-08 14:30", "... 14:30:05") as
// ISO 8601: the date alone, or the local time with its offset then.
Kind DateOf(const std::string& v, std::string* iso) {
    auto digits = [&](std::size_t at, std::size_t n) {
        for (std::size_t i = at; i < at + n; ++i)
            if (i >= v.size() || !IsDigit(v[i])) return false;
        return true;
    };
    if (!(digits(0, 4) && v.size() >= 10 && v[4] == '-' && digits(5, 2) && v[7] == '-' && digits(8, 2)))
        return Kind::Text;
    // A meter's "no date" (month or day 0) is no date.
    const int month = std::stoi(v.substr(5, 2)), day = std::stoi(v.substr(8, 2));
    if (month < 1 || month > 12 || day < 1 || day > 31) return Kind::Text;
    if (v.size() == 10) {
        *iso = v;
        return Kind::Date;
    }
    const bool minutes = v.size() == 16, seconds = v.size() == 19 && v[16] == ':' && digits(17, 2);
    if (!(minutes || seconds) || v[10] != ' ' || !digits(11, 2) || v[13] != ':' || !digits(14, 2)) return Kind::Text;
    std::tm tm{};
    tm.tm_year = std::stoi(v.substr(0, 4)) - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = std::stoi(v.substr(11, 2));
    tm.tm_min = std::stoi(v.substr(14, 2));
    tm.tm_sec = seconds ? std::stoi(v.substr(17, 2)) : 0;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    // mktime carries 31.02. into March: such a date is no time point.
    if (t == static_cast<std::time_t>(-1) || tm.tm_mon != month - 1 || tm.tm_mday != day) return Kind::Text;
    *iso = cli::LocalTime(t, true);
    return Kind::DateTime;
}

bool IsTimePointUnit(const std::string& unit) {
    for (const char* u : kTimePointUnits)
        if (unit == u) return true;
    return false;
}

bool IsRunningTime(const std::string& description) {
    const std::string d = Lower(description);
    for (const char* r : kRunningTimes)
        if (d.rfind(r, 0) == 0) return true;
    return false;
}

const Quantity* QuantityOf(Kind kind, const std::string& unit) {
    for (const Quantity& q : kQuantities)
        if (q.kind == kind && unit == q.unit) return &q;
    return nullptr;
}

const MBTelegram* LastTelegram(const MeterReading& reading) {
    return reading.telegrams.empty() ? nullptr : reading.telegrams.back();
}

int MediumCode(const MBTelegram& t) { return t.medium & 0xFF; }

// The English name of the meter's medium, "Heat (outlet)".
std::string MediumText(const MBTelegram& t) {
    const bool variable = t.structureKind == kVariableLsbFirst || t.structureKind == kVariableMsbFirst;
    std::string out;
    text::AppendUtf8(out, MediumName(variable ? 1 : 0, static_cast<uint8_t>(MediumCode(t)), kEnglish),
                     CodePageOfLanguage(kEnglish));
    return cli::ReadableMedium(out);
}

std::string VolumeClass(int medium) {
    for (const MediumVolume& m : kMediumVolumes)
        if (m.medium == medium) return m.deviceClass;
    return "volume";
}

std::string Identification(const MBTelegram& t) {
    char id[12];
    std::snprintf(id, sizeof id, "%08X", static_cast<uint32_t>(t.identNumber));
    return id;
}

// The records of all telegrams as they are published, named.
std::vector<Entry> EntriesOf(const MeterReading& reading) {
    std::vector<Entry> entries;
    std::map<std::string, int> seen;  // automatic name -> records so far
    for (const MBTelegram* t : reading.telegrams) {
        for (const MBDataRecord& rec : t->records) {
            // The manufacturer's tail, the "more follows" mark and idle
            // fillers are no values of the meter's; neither is a record
            // without a value.
            if (rec.specialDIF != 0 || !rec.hasValueText) continue;
            const cli::ReadableValue r = cli::Readable(*t, rec, kEnglish);
            Entry e;
            e.description = r.description;
            e.function = rec.functionField & 3;
            e.storage = static_cast<long long>(rec.storageNumber);
            e.tariff = rec.tariff;
            e.subunit = rec.subunit;
            e.unit = r.unit;
            std::string value = r.value;
            while (!value.empty() && value.back() == ' ') value.pop_back();
            std::string number;
            // A text the meter sent (data field Dh) stays a text even when
            // it reads as a number ("1.3").
            if (!value.empty() && rec.dataField != 0x0D && !IsTimePointUnit(e.unit)) number = JsonNumber(value);
            std::string iso;
            const Kind date = number.empty() && e.unit.empty() ? DateOf(value, &iso) : Kind::Text;
            if (!number.empty()) {
                e.kind = Kind::Number;
                e.value = number;
            } else if (date != Kind::Text) {
                e.kind = date;
                e.value = iso;
            } else {
                e.value = value;
            }
            e.quantity = QuantityOf(e.kind, e.unit);
            std::string name = Slug(e.description);
            if (name.empty()) name = "value";
            const std::string unitPart = e.quantity ? e.quantity->fieldUnit : Slug(e.unit);
            if (!unitPart.empty()) name += "_" + unitPart;
            if (e.storage != 0) name += "_storage" + std::to_string(e.storage);
            if (e.tariff != 0) name += "_tariff" + std::to_string(e.tariff);
            if (e.subunit != 0) name += "_subunit" + std::to_string(e.subunit);
            name += kFunctions[e.function].suffix;
            e.repeat = ++seen[name];
            if (e.repeat > 1) name += "_" + std::to_string(e.repeat);
            e.field = name;
            entries.push_back(std::move(e));
        }
    }
    // Own names replace the automatic ones. An own name that is taken
    // already (by another field before it) leaves the automatic name, or
    // that name numbered on when an own name took it too.
    std::set<std::string> used;
    for (Entry& e : entries) {
        const auto own = reading.fieldNames.find(e.field);
        std::string name = own != reading.fieldNames.end() && used.count(own->second) == 0 ? own->second : e.field;
        for (int n = 2; used.count(name) != 0; ++n) name = e.field + "_" + std::to_string(n);
        used.insert(name);
        e.field = name;
    }
    return entries;
}

std::string JsonValue(const Entry& e) { return e.kind == Kind::Number ? e.value : JsonString(e.value); }

// "Flow Temperature" as "Flow temperature": words after the first in lower
// case unless they are abbreviations in capitals ("No VIF").
std::string SentenceCase(const std::string& s) {
    std::string out = s;
    std::size_t word = 0;
    for (std::size_t i = 0; i <= out.size(); ++i) {
        if (i < out.size() && out[i] != ' ') continue;
        if (word > 0 && i - word >= 2 && out[word] >= 'A' && out[word] <= 'Z') {
            bool restLower = true;
            for (std::size_t k = word + 1; k < i; ++k)
                if (out[k] >= 'A' && out[k] <= 'Z') restLower = false;
            if (restLower) out[word] = static_cast<char>(out[word] - 'A' + 'a');
        }
        word = i + 1;
    }
    return out;
}

// A flat field in a Home Assistant template: value_json.fields.NAME, or
// value_json.fields['NAME'] for an own name that is no identifier.
std::string FieldTemplate(const std::string& field) {
    bool identifier = !field.empty() && !IsDigit(field[0]);
    for (char c : field)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_')) identifier = false;
    if (identifier) return "{{ value_json.fields." + field + " }}";
    std::string quoted;
    for (char c : field) {
        if (c == '\'' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return "{{ value_json.fields['" + quoted + "'] }}";
}

}  // namespace

std::string SecondaryAddressOf(const MBTelegram& t) {
    char s[20];
    std::snprintf(s, sizeof s, "%08X%04X%02X%02X", static_cast<uint32_t>(t.identNumber), t.manufacturer & 0xFFFF,
                  t.version & 0xFF, MediumCode(t));
    return s;
}

std::string StatePayload(const MeterReading& reading) {
    std::string out = "{\"name\":" + JsonString(reading.name) + ",\"bus\":" + JsonString(reading.bus) +
                      ",\"address\":" + JsonString(reading.address);
    if (const MBTelegram* t = LastTelegram(reading)) {
        out += ",\"secondaryAddress\":" + JsonString(SecondaryAddressOf(*t)) +
               ",\"identification\":" + JsonString(Identification(*t)) +
               ",\"manufacturer\":" + JsonString(t->manufacturerText) + ",\"medium\":" + JsonString(MediumText(*t)) +
               ",\"mediumCode\":" + std::to_string(MediumCode(*t)) + ",\"version\":" + std::to_string(t->version) +
               ",\"accessNumber\":" + std::to_string(t->accessNumber) + ",\"status\":" + std::to_string(t->status);
    }
    out += ",\"readAt\":" + JsonString(cli::LocalTime(reading.readAt, true));
    const std::vector<Entry> entries = EntriesOf(reading);
    std::string records, fields;
    for (const Entry& e : entries) {
        if (!records.empty()) {
            records += ',';
            fields += ',';
        }
        records += "{\"description\":" + JsonString(e.description) +
                   ",\"function\":" + JsonString(kFunctions[e.function].name) +
                   ",\"storage\":" + std::to_string(e.storage) + ",\"tariff\":" + std::to_string(e.tariff) +
                   ",\"subunit\":" + std::to_string(e.subunit) + ",\"value\":" + JsonValue(e) +
                   ",\"unit\":" + JsonString(e.unit) + ",\"field\":" + JsonString(e.field) + "}";
        fields += JsonString(e.field) + ":" + JsonValue(e);
    }
    return out + ",\"records\":[" + records + "],\"fields\":{" + fields + "}}";
}

std::vector<Sensor> SensorsOf(const MeterReading& reading) {
    // Current values (storage 0) that are numbers or dates, of every tariff
    // and subunit, and their maximum and minimum; a value during an error
    // state and texts are in the state payload only.
    std::vector<Sensor> sensors;
    const MBTelegram* last = LastTelegram(reading);
    const int medium = last ? MediumCode(*last) : -1;
    for (const Entry& e : EntriesOf(reading)) {
        if (e.storage != 0 || e.kind == Kind::Text || e.function == 3) continue;
        Sensor s;
        s.field = e.field;
        s.name = SentenceCase(e.description);
        if (e.tariff != 0) s.name += " tariff " + std::to_string(e.tariff);
        if (e.subunit != 0) s.name += " subunit " + std::to_string(e.subunit);
        s.name += kFunctions[e.function].sensorSuffix;
        if (e.repeat > 1) s.name += " " + std::to_string(e.repeat);
        if (e.quantity != nullptr) {
            s.deviceClass = e.quantity->deviceClass;
            if (s.deviceClass == "volume") s.deviceClass = VolumeClass(medium);
            s.stateClass = e.quantity->stateClass;
            if (e.quantity->runningTime && IsRunningTime(e.description)) s.stateClass = "total_increasing";
            // A maximum or minimum of a counter does not count up.
            if (e.function != 0 && s.stateClass == "total_increasing") s.stateClass = "measurement";
            s.unit = e.quantity->haUnit;
        } else if (e.kind == Kind::Number) {
            s.unit = e.unit;
        }
        sensors.push_back(std::move(s));
    }
    return sensors;
}

namespace {
// A flat field as a part of a topic or an entity id: own names may hold
// any character, these only letters, digits and underscores.
std::string IdPart(const std::string& field) {
    const std::string s = Slug(field);
    return s.empty() ? "field" : s;
}
}  // namespace

std::string DiscoveryTopic(const DiscoveryContext& c, const std::string& secondaryAddress, const std::string& field) {
    return c.prefix + "/sensor/mbus_" + secondaryAddress + "/" + IdPart(field) + "/config";
}

std::vector<DiscoveryMessage> DiscoveryMessages(const MeterReading& reading, const DiscoveryContext& c) {
    std::vector<DiscoveryMessage> messages;
    const MBTelegram* t = LastTelegram(reading);
    if (t == nullptr) return messages;
    const std::string secondary = SecondaryAddressOf(*t);
    const std::string device =
        "{\"identifiers\":[" + JsonString("mbus_" + secondary) + "],\"name\":" + JsonString(reading.name) +
        ",\"manufacturer\":" + JsonString(t->manufacturerText) +
        ",\"model\":" + JsonString(MediumText(*t) + " meter, version " + std::to_string(t->version)) +
        ",\"serial_number\":" + JsonString(Identification(*t)) + "}";
    const std::string common =
        ",\"state_topic\":" + JsonString(c.baseTopic + "/" + reading.name + "/state") +
        ",\"availability\":[{\"topic\":" + JsonString(c.baseTopic + "/bridge/availability") + "},{\"topic\":" +
        JsonString(c.baseTopic + "/" + reading.name + "/availability") + "}],\"availability_mode\":\"all\"" +
        ",\"device\":" + device + ",\"origin\":{\"name\":\"mbus-bridge\",\"sw_version\":" + JsonString(c.version) +
        "}}";
    for (const Sensor& s : SensorsOf(reading)) {
        const std::string id = "mbus_" + secondary + "_" + IdPart(s.field);
        std::string p = "{\"name\":" + JsonString(s.name) + ",\"unique_id\":" + JsonString(id) +
                        ",\"default_entity_id\":" + JsonString("sensor." + Lower(id)) +
                        ",\"value_template\":" + JsonString(FieldTemplate(s.field));
        if (!s.deviceClass.empty()) p += ",\"device_class\":" + JsonString(s.deviceClass);
        if (!s.stateClass.empty()) p += ",\"state_class\":" + JsonString(s.stateClass);
        if (!s.unit.empty()) p += ",\"unit_of_measurement\":" + JsonString(s.unit);
        messages.push_back({DiscoveryTopic(c, secondary, s.field), p + common});
    }
    return messages;
}

}  // namespace mbus::bridge
