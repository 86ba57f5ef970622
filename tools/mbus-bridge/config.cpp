#include "tools/mbus-bridge/config.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <span>
#include <variant>

#include <toml++/toml.h>

#include "platform/files/read_file.h"
#include "platform/serial/port_map.h"
#include "platform/text/ascii.h"

namespace mbus::bridge {

std::string ConfigError::Text() const {
    std::string text = file;
    if (line > 0) text += ":" + std::to_string(line);
    text += ": ";
    if (!key.empty()) text += key + ": ";
    return text + reason;
}

namespace {

std::string Quoted(std::string_view s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            if (c == '"' || c == '\\') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// "a", "a or b", "a, b or c"
std::string Alternatives(const std::vector<std::string>& words) {
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) out += i + 1 == words.size() ? " or " : ", ";
        out += words[i];
    }
    return out;
}

int LineOf(const toml::node& n) { return static_cast<int>(n.source().begin.line); }

// A table's entries in the order of the file (toml++ keeps them sorted by
// key), so that the fault reported is the first one a reader meets.
std::vector<std::pair<const toml::key*, const toml::node*>> InFileOrder(const toml::table& table) {
    std::vector<std::pair<const toml::key*, const toml::node*>> entries;
    for (auto&& [key, value] : table) entries.emplace_back(&key, &value);
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        const toml::source_position &pa = a.first->source().begin, &pb = b.first->source().begin;
        return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
    });
    return entries;
}

std::string TypeName(toml::node_type type) {
    switch (type) {
        case toml::node_type::string: return "a string";
        case toml::node_type::integer: return "an integer";
        case toml::node_type::floating_point: return "a floating-point number";
        case toml::node_type::boolean: return "a boolean";
        case toml::node_type::table: return "a table";
        case toml::node_type::array: return "an array";
        case toml::node_type::date: return "a date";
        case toml::node_type::time: return "a time";
        case toml::node_type::date_time: return "a date and time";
        default: return "nothing";
    }
}

// Names end up in topics and JSON keys: letters, digits, '_', '-', '.'.
std::string CheckName(std::string_view s) {
    if (s.empty() || s.size() > 64) return "must be 1..64 characters long";
    for (char c : s) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.')
            return "may hold only letters A-Z a-z, digits, '_', '-' and '.' (it is used in MQTT topics)";
    }
    return {};
}

// Topic roots: levels separated by '/', none empty, no wildcards, and not a
// broker's own "$" topic.
std::string CheckTopic(std::string_view s) {
    if (s.empty()) return "must not be empty; give a topic such as \"mbus\"";
    if (s.find_first_of("+#") != std::string_view::npos)
        return "must not hold the wildcards '+' or '#'; give a plain topic such as \"mbus\"";
    if (s.front() == '/' || s.back() == '/' || s.find("//") != std::string_view::npos)
        return "has an empty level; give levels separated by single '/', such as \"home/mbus\"";
    if (s.front() == '$') return "must not start with '$' (the broker's own topics); give one such as \"mbus\"";
    if (s.find('\0') != std::string_view::npos) return "must not hold a NUL character";
    return {};
}

std::string CheckNotEmpty(std::string_view s) {
    if (s.empty()) return "must not be empty";
    if (s.find('\0') != std::string_view::npos) return "must not hold a NUL character";
    return {};
}

std::string CheckAbsolutePath(std::string_view s) {
    if (s.empty() || s.front() != '/') return "must be an absolute path, such as \"/var/lib/mbus-bridge\"";
    return CheckNotEmpty(s);
}

// A device: an absolute path, a network serial server or a port number of
// the port map. A port number is kept without leading zeros.
std::string CheckDevice(std::string_view s) {
    if (!s.empty() && s.front() == '/') return CheckNotEmpty(s);
    if (serial::IsTcpDevice(s)) {
        serial::TcpEndpoint endpoint;
        std::string problem = serial::ParseTcpDevice(s, &endpoint);
        if (!problem.empty()) return problem + "; give \"tcp:HOST:PORT\", such as \"tcp:192.0.2.7:10001\"";
        return {};
    }
    if (!s.empty() && s.size() <= 3 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        int port = std::stoi(std::string(s));
        if (port >= 1 && port <= 255) return {};
    }
    return "is not a device; give an absolute path (\"/dev/ttyUSB0\"), \"tcp:HOST:PORT\" or a port number 1..255";
}

struct Word {
    std::string_view text;
    int value;
};

constexpr Word kEchoWords[] = {{"none", 0}, {"full", 1}, {"partial", 2}};
constexpr Word kScanWords[] = {{"none", static_cast<int>(ScanMode::None)},
                               {"primary", static_cast<int>(ScanMode::Primary)},
                               {"secondary", static_cast<int>(ScanMode::Secondary)}};
constexpr Word kProtocolWords[] = {{"5", 5}, {"3.1.1", 311}};
constexpr long long kBaudRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

// One key of a table and how its value is checked and stored. Keys a table
// handles itself (addresses, passwords, the meter list) have no member.
template <class T>
struct Field {
    std::string_view key;
    std::variant<std::monostate, std::string T::*, int T::*, bool T::*, ScanMode T::*> member = {};
    long long min = 0, max = 0;                     // an integer's range
    std::span<const long long> choices = {};        // an integer's allowed values
    std::span<const Word> words = {};               // an enumeration's words
    std::string (*check)(std::string_view) = nullptr;  // a text's check: what is wrong, or empty
};

const Field<MqttConfig> kMqttFields[] = {
    {.key = "host", .member = &MqttConfig::host, .check = CheckNotEmpty},
    {.key = "port", .member = &MqttConfig::port, .min = 1, .max = 65535},
    {.key = "tls", .member = &MqttConfig::tls},
    {.key = "ca_file", .member = &MqttConfig::caFile, .check = CheckNotEmpty},
    {.key = "cert_file", .member = &MqttConfig::certFile, .check = CheckNotEmpty},
    {.key = "key_file", .member = &MqttConfig::keyFile, .check = CheckNotEmpty},
    {.key = "username", .member = &MqttConfig::username, .check = CheckNotEmpty},
    {.key = "password_file"},
    {.key = "password_env"},
    {.key = "client_id", .member = &MqttConfig::clientId, .check = CheckName},
    {.key = "base_topic", .member = &MqttConfig::baseTopic, .check = CheckTopic},
    {.key = "qos", .member = &MqttConfig::qos, .min = 0, .max = 2},
    {.key = "keepalive", .member = &MqttConfig::keepalive, .min = 5, .max = 3600},
    {.key = "protocol", .member = &MqttConfig::protocol, .words = kProtocolWords},
    {.key = "discovery", .member = &MqttConfig::discovery},
    {.key = "discovery_prefix", .member = &MqttConfig::discoveryPrefix, .check = CheckTopic},
};

const Field<BridgeConfig> kBridgeFields[] = {
    {.key = "offline_after", .member = &BridgeConfig::offlineAfter, .min = 1, .max = 1000},
    {.key = "state_directory", .member = &BridgeConfig::stateDirectory, .check = CheckAbsolutePath},
};

const Field<BusConfig> kBusFields[] = {
    {.key = "name", .member = &BusConfig::name, .check = CheckName},
    {.key = "device", .member = &BusConfig::device, .check = CheckDevice},
    {.key = "baud", .member = &BusConfig::baud, .choices = kBaudRates},
    {.key = "echo", .member = &BusConfig::echo, .words = kEchoWords},
    {.key = "end_at_frame", .member = &BusConfig::endAtFrame},
    {.key = "retries", .member = &BusConfig::retries, .min = 0, .max = 9},
    {.key = "interval", .member = &BusConfig::interval, .min = 1, .max = 604800},
    {.key = "scan", .member = &BusConfig::scan, .words = kScanWords},
    {.key = "rescan_hours", .member = &BusConfig::rescanHours, .min = 0, .max = 8760},
    {.key = "meter"},
};

const Field<MeterConfig> kMeterFields[] = {
    {.key = "address"},
    {.key = "name", .member = &MeterConfig::name, .check = CheckName},
    {.key = "interval", .member = &MeterConfig::interval, .min = 1, .max = 604800},
    {.key = "fields"},
};

// The top level: the tables of the file.
constexpr std::string_view kSections[] = {"mqtt", "bridge", "bus"};

// Names a meter or bus cannot have: they are topics of the bridge's own or
// the payload of a command meaning every one.
constexpr std::string_view kReservedNames[] = {"bridge", "command", "all"};

class Parser {
public:
    Parser(const std::string& fileName, ConfigError* error, EnvironmentLookup environment)
        : file_(fileName), error_(error), environment_(environment) {}

    std::optional<BridgeConfig> Parse(std::string_view text);

private:
    bool Fail(int line, std::string key, std::string reason) {
        if (error_) *error_ = ConfigError{file_, line, std::move(key), std::move(reason)};
        return false;
    }

    template <class T>
    bool ReadTable(const toml::table& table, const std::string& path, std::span<const Field<T>> fields, T* out,
                   std::set<std::string>* given);
    template <class T>
    bool ReadValue(const toml::node& value, const std::string& key, const Field<T>& field, T* out);
    bool UnknownKey(const toml::key& key, const toml::node& value, const std::string& path,
                    std::span<const std::string_view> known);
    bool ReadMqtt(const toml::table& table, MqttConfig* mqtt);
    bool ReadPassword(const toml::table& table, MqttConfig* mqtt);
    bool ReadBus(const toml::table& table, int index, BusConfig* bus);
    bool ReadMeter(const toml::table& table, const std::string& path, MeterConfig* meter);
    bool CheckNames(const BridgeConfig& config);
    std::optional<std::string> Environment(const std::string& name) const;
    std::string RelativeToFile(const std::string& path) const;

    const std::string& file_;
    ConfigError* error_;
    EnvironmentLookup environment_;
};

std::optional<std::string> Parser::Environment(const std::string& name) const {
    if (environment_) return environment_(name);
    if (const char* value = std::getenv(name.c_str())) return std::string(value);
    return std::nullopt;
}

std::string Parser::RelativeToFile(const std::string& path) const {
    if (path.empty() || path.front() == '/') return path;
    std::size_t slash = file_.rfind('/');
    if (slash == std::string::npos) return path;
    return file_.substr(0, slash + 1) + path;
}

bool Parser::UnknownKey(const toml::key& key, const toml::node& value, const std::string& path,
                        std::span<const std::string_view> known) {
    std::string name(key.str());
    std::string full = path.empty() ? name : path + "." + name;
    std::string what = value.is_table() || value.is_array_of_tables() ? "unknown table" : "unknown key";
    if (full == "mqtt.password")
        return Fail(static_cast<int>(key.source().begin.line), full,
                    "a password is not kept in this file; give password_file (a file only its owner can read) "
                    "or password_env (an environment variable of the service)");
    std::string_view nearest;
    std::size_t best = 3;
    for (std::string_view k : known) {
        std::size_t d = text::EditDistanceIgnoringAsciiCase(name, k);
        if (d < best && d < std::max<std::size_t>(k.size(), 2)) {
            best = d;
            nearest = k;
        }
    }
    if (!nearest.empty()) return Fail(static_cast<int>(key.source().begin.line), full,
                                      what + "; did you mean " + Quoted(nearest) + "?");
    std::vector<std::string> words(known.begin(), known.end());
    return Fail(static_cast<int>(key.source().begin.line), full,
                what + "; " + (path.empty() ? "the tables are " : "the keys here are ") + Alternatives(words));
}

template <class T>
bool Parser::ReadValue(const toml::node& value, const std::string& key, const Field<T>& field, T* out) {
    int line = LineOf(value);
    auto wrongType = [&](const std::string& wanted) {
        return Fail(line, key, "must be " + wanted + ", not " + TypeName(value.type()));
    };
    return std::visit(
        [&](auto member) -> bool {
            using M = decltype(member);
            if constexpr (std::is_same_v<M, std::monostate>) {
                return true;
            } else if constexpr (std::is_same_v<M, bool T::*>) {
                if (!value.is_boolean()) return wrongType("true or false");
                out->*member = value.as_boolean()->get();
                return true;
            } else if constexpr (std::is_same_v<M, std::string T::*>) {
                if (!value.is_string()) return wrongType("a string in quotes");
                const std::string& text = value.as_string()->get();
                if (field.check) {
                    std::string problem = field.check(text);
                    if (!problem.empty()) return Fail(line, key, Quoted(text) + " " + problem);
                }
                out->*member = text;
                return true;
            } else if (!field.words.empty()) {  // an enumeration stored as int or ScanMode
                std::vector<std::string> words;
                for (const Word& w : field.words) words.push_back(Quoted(w.text));
                if (!value.is_string()) return wrongType(Alternatives(words));
                const std::string& text = value.as_string()->get();
                for (const Word& w : field.words) {
                    if (text == w.text) {
                        out->*member = static_cast<std::remove_reference_t<decltype(out->*member)>>(w.value);
                        return true;
                    }
                }
                return Fail(line, key, Quoted(text) + " is not one of " + Alternatives(words));
            } else if constexpr (std::is_same_v<M, int T::*>) {
                std::string range;
                if (field.choices.empty()) {
                    range = std::to_string(field.min) + ".." + std::to_string(field.max);
                } else {
                    std::vector<std::string> all;
                    for (long long c : field.choices) all.push_back(std::to_string(c));
                    range = Alternatives(all);
                }
                if (!value.is_integer()) return wrongType("an integer " + range);
                long long n = value.as_integer()->get();
                bool ok = field.choices.empty()
                              ? n >= field.min && n <= field.max
                              : std::find(field.choices.begin(), field.choices.end(), n) != field.choices.end();
                if (!ok) return Fail(line, key, std::to_string(n) + " is out of range; give " + range);
                out->*member = static_cast<int>(n);
                return true;
            } else {
                return true;  // a ScanMode is always an enumeration
            }
        },
        field.member);
}

template <class T>
bool Parser::ReadTable(const toml::table& table, const std::string& path, std::span<const Field<T>> fields, T* out,
                       std::set<std::string>* given) {
    std::vector<std::string_view> known;
    for (const Field<T>& f : fields) known.push_back(f.key);
    for (auto [keyAt, valueAt] : InFileOrder(table)) {
        const toml::key& key = *keyAt;
        const toml::node& value = *valueAt;
        std::string_view name = key.str();
        auto field = std::find_if(fields.begin(), fields.end(), [name](const Field<T>& f) { return f.key == name; });
        if (field == fields.end()) return UnknownKey(key, value, path, known);
        if (given) given->insert(std::string(name));
        if (!ReadValue(value, path + "." + std::string(name), *field, out)) return false;
    }
    return true;
}

bool Parser::ReadPassword(const toml::table& table, MqttConfig* mqtt) {
    const toml::node* file = table.get("password_file");
    const toml::node* env = table.get("password_env");
    if (file && env)
        return Fail(LineOf(*env), "mqtt.password_env",
                    "password_file and password_env are both given; keep one of them");
    const toml::node* given = file ? file : env;
    if (!given) return true;
    std::string key = file ? "mqtt.password_file" : "mqtt.password_env";
    int line = LineOf(*given);
    if (!given->is_string()) return Fail(line, key, "must be a string in quotes, not " + TypeName(given->type()));
    const std::string& text = given->as_string()->get();
    if (std::string problem = CheckNotEmpty(text); !problem.empty()) return Fail(line, key, problem);
    if (!table.contains("username")) return Fail(line, key, "a password needs a username; add mqtt.username");

    if (env) {
        std::optional<std::string> value = Environment(text);
        if (!value) return Fail(line, key, "the environment variable " + text +
                                               " is not set; set it (Environment= of the service) or use password_file");
        if (value->empty()) return Fail(line, key, "the environment variable " + text + " is empty; set it to the password");
        mqtt->password = *value;
        return true;
    }

    std::string path = RelativeToFile(text);
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return Fail(line, key, Quoted(path) + " can be read by others (mode " + mode +
                                   "); allow only its owner (chmod 600) or use password_env");
    }
    std::string content, problem;
    if (files::ReadTextFile(path, &content, &problem) != files::ReadStatus::kOk)
        return Fail(line, key, Quoted(path) + " " + problem + "; give a file holding the password");
    if (!content.empty() && content.back() == '\n') content.pop_back();
    if (!content.empty() && content.back() == '\r') content.pop_back();
    if (content.empty()) return Fail(line, key, Quoted(path) + " is empty; write the password in it");
    mqtt->password = content;
    return true;
}

bool Parser::ReadMqtt(const toml::table& table, MqttConfig* mqtt) {
    std::set<std::string> given;
    if (!ReadTable<MqttConfig>(table, "mqtt", kMqttFields, mqtt, &given)) return false;
    if (mqtt->tls && !given.contains("port")) mqtt->port = 8883;
    auto at = [&](const char* key) { return LineOf(*table.get(key)); };
    if (given.contains("cert_file") != given.contains("key_file")) {
        const char* present = given.contains("cert_file") ? "cert_file" : "key_file";
        return Fail(at(present), std::string("mqtt.") + present,
                    "cert_file and key_file go together; give both or neither");
    }
    if (!mqtt->tls) {
        for (const char* key : {"ca_file", "cert_file", "key_file"}) {
            if (given.contains(key))
                return Fail(at(key), std::string("mqtt.") + key, "is a TLS file but tls is off; add tls = true or remove it");
        }
    }
    mqtt->caFile = RelativeToFile(mqtt->caFile);
    mqtt->certFile = RelativeToFile(mqtt->certFile);
    mqtt->keyFile = RelativeToFile(mqtt->keyFile);
    return ReadPassword(table, mqtt);
}

// A primary address 0..250 (kept as its decimal text) or a secondary one of
// 8 or 16 hex digits (kept in upper case); an empty string when neither.
std::string MeterAddress(const toml::node& value) {
    if (value.is_integer()) {
        long long n = value.as_integer()->get();
        return n >= 0 && n <= 250 ? std::to_string(n) : std::string();
    }
    if (!value.is_string()) return {};
    std::string text = value.as_string()->get();
    bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits && text.size() <= 3) {
        int n = std::stoi(text);
        return n <= 250 ? std::to_string(n) : std::string();
    }
    if ((text.size() == 8 || text.size() == 16) &&
        std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; })) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }
    return {};
}

// The same meter whether written with 8 digits or 16 (the rest wildcards).
std::string AddressKey(const std::string& address) {
    return address.size() == 8 ? address + "FFFFFFFF" : address;
}

bool Parser::ReadMeter(const toml::table& table, const std::string& path, MeterConfig* meter) {
    meter->line = LineOf(table);
    if (!ReadTable<MeterConfig>(table, path, kMeterFields, meter, nullptr)) return false;
    const toml::node* address = table.get("address");
    if (!address)
        return Fail(meter->line, path + ".address",
                    "a meter needs an address: a primary 0..250 or a secondary of 8 or 16 hex digits");
    meter->address = MeterAddress(*address);
    if (meter->address.empty()) {
        std::string shown = address->is_string() ? Quoted(address->as_string()->get())
                            : address->is_integer() ? std::to_string(address->as_integer()->get())
                                                    : TypeName(address->type());
        return Fail(LineOf(*address), path + ".address",
                    shown + " is not a meter address; give a primary address 0..250 or a secondary one of 8 or 16 "
                            "hex digits (F a wildcard), such as \"12345678\"");
    }
    if (meter->name.empty()) meter->name = meter->address;

    const toml::node* fields = table.get("fields");
    if (!fields) return true;
    std::string fieldsPath = path + ".fields";
    if (!fields->is_table())
        return Fail(LineOf(*fields), fieldsPath,
                    "must be a table of renames, such as { energy_kwh = \"heat_energy\" }, not " + TypeName(fields->type()));
    std::map<std::string, std::string> owners;  // own name -> the field it renames
    for (auto [keyAt, valueAt] : InFileOrder(*fields->as_table())) {
        const toml::key& key = *keyAt;
        const toml::node& value = *valueAt;
        std::string field(key.str());
        std::string fieldKey = fieldsPath + "." + field;
        int line = LineOf(value);
        if (std::string problem = CheckName(field); !problem.empty())
            return Fail(static_cast<int>(key.source().begin.line), fieldKey, "the field name " + Quoted(field) + " " + problem);
        if (!value.is_string())
            return Fail(line, fieldKey, "must be the field's own name in quotes, not " + TypeName(value.type()));
        const std::string& own = value.as_string()->get();
        if (std::string problem = CheckName(own); !problem.empty()) return Fail(line, fieldKey, Quoted(own) + " " + problem);
        if (auto [it, fresh] = owners.emplace(own, field); !fresh)
            return Fail(line, fieldKey, Quoted(own) + " is already the own name of " + it->second + "; give each field a name of its own");
        meter->fields[field] = own;
    }
    return true;
}

bool Parser::ReadBus(const toml::table& table, int index, BusConfig* bus) {
    std::string path = "bus[" + std::to_string(index + 1) + "]";
    bus->line = LineOf(table);
    bus->name = "bus" + std::to_string(index + 1);
    if (!ReadTable<BusConfig>(table, path, kBusFields, bus, nullptr)) return false;
    if (!table.contains("device"))
        return Fail(bus->line, path + ".device",
                    "a bus needs a device: an absolute path (\"/dev/ttyUSB0\"), \"tcp:HOST:PORT\" or a port number 1..255");
    if (bus->device.front() != '/' && !serial::IsTcpDevice(bus->device))
        bus->device = std::to_string(std::stoi(bus->device));  // "03" is port 3

    if (const toml::node* meters = table.get("meter")) {
        if (!meters->is_array_of_tables())
            return Fail(LineOf(*meters), path + ".meter",
                        "must be a list of meters, each under a [[bus.meter]] header, not " + TypeName(meters->type()));
        int m = 0;
        std::map<std::string, const MeterConfig*> addresses;
        for (const toml::node& element : *meters->as_array()) {
            std::string meterPath = path + ".meter[" + std::to_string(++m) + "]";
            MeterConfig& meter = bus->meters.emplace_back();
            if (!ReadMeter(*element.as_table(), meterPath, &meter)) return false;
        }
        m = 0;
        for (const MeterConfig& meter : bus->meters) {
            ++m;
            auto [it, fresh] = addresses.emplace(AddressKey(meter.address), &meter);
            if (!fresh)
                return Fail(meter.line, path + ".meter[" + std::to_string(m) + "].address",
                            "address " + meter.address + " is already the meter's of line " +
                                std::to_string(it->second->line) + " on this bus; give each meter its own address");
        }
    }
    if (bus->meters.empty() && bus->scan == ScanMode::None)
        return Fail(bus->line, path,
                    "a bus needs meters ([[bus.meter]]) or a search (scan = \"primary\" or \"secondary\")");
    return true;
}

// Bus names, meter names and devices are each unique in the file, and none
// is a word of the bridge's own topics.
bool Parser::CheckNames(const BridgeConfig& config) {
    std::map<std::string, std::string> busNames, devices, meterNames;  // -> where it was first
    for (std::size_t b = 0; b < config.buses.size(); ++b) {
        const BusConfig& bus = config.buses[b];
        std::string path = "bus[" + std::to_string(b + 1) + "]";
        std::string where = path + " (line " + std::to_string(bus.line) + ")";
        for (std::string_view reserved : kReservedNames) {
            if (bus.name == reserved)
                return Fail(bus.line, path + ".name", Quoted(bus.name) + " is a word of the bridge's own; give another name");
        }
        if (auto [it, fresh] = busNames.emplace(bus.name, where); !fresh)
            return Fail(bus.line, path + ".name",
                        "the name " + Quoted(bus.name) + " is already that of " + it->second + "; give each bus its own name");
        if (auto [it, fresh] = devices.emplace(bus.device, where); !fresh)
            return Fail(bus.line, path + ".device",
                        Quoted(bus.device) + " is already the device of " + it->second + "; one device serves one bus");
        for (std::size_t m = 0; m < bus.meters.size(); ++m) {
            const MeterConfig& meter = bus.meters[m];
            std::string meterPath = path + ".meter[" + std::to_string(m + 1) + "]";
            for (std::string_view reserved : kReservedNames) {
                if (meter.name == reserved)
                    return Fail(meter.line, meterPath + ".name",
                                Quoted(meter.name) + " is a word of the bridge's own topics; give another name");
            }
            auto [it, fresh] = meterNames.emplace(meter.name, meterPath + " (line " + std::to_string(meter.line) + ")");
            if (!fresh) {
                bool named = meter.name != meter.address;
                return Fail(meter.line, meterPath + ".name",
                            named ? "the name " + Quoted(meter.name) + " is already that of " + it->second +
                                        "; give each meter a name of its own"
                                  : "a meter without a name is named by its address " + Quoted(meter.name) +
                                        ", which " + it->second + " already uses; give this meter a name");
            }
        }
    }
    return true;
}

std::optional<BridgeConfig> Parser::Parse(std::string_view text) {
    toml::table root;
    try {
        root = toml::parse(text, file_);
    } catch (const toml::parse_error& e) {
        Fail(static_cast<int>(e.source().begin.line), "", std::string(e.description()));
        return std::nullopt;
    }

    BridgeConfig config;
    if (auto state = Environment("STATE_DIRECTORY"); state && !state->empty())
        config.stateDirectory = state->substr(0, state->find(':'));  // systemd joins several with ':'

    for (auto [keyAt, valueAt] : InFileOrder(root)) {
        const toml::key& key = *keyAt;
        const toml::node& value = *valueAt;
        std::string name(key.str());
        int line = LineOf(value);
        if (name == "mqtt" || name == "bridge") {
            if (!value.is_table())
                return Fail(line, name, "must be a table, started by a [" + name + "] header, not " + TypeName(value.type())),
                       std::nullopt;
            bool ok = name == "mqtt" ? ReadMqtt(*value.as_table(), &config.mqtt)
                                     : ReadTable<BridgeConfig>(*value.as_table(), "bridge", kBridgeFields, &config, nullptr);
            if (!ok) return std::nullopt;
        } else if (name == "bus") {
            if (!value.is_array_of_tables())
                return Fail(line, name, "must be a list of buses, each under a [[bus]] header, not " + TypeName(value.type())),
                       std::nullopt;
            const toml::array& buses = *value.as_array();
            if (buses.size() > static_cast<std::size_t>(kMaxBuses))
                return Fail(LineOf(buses[kMaxBuses]), "bus",
                            std::to_string(buses.size()) + " buses: one bridge serves at most " +
                                std::to_string(kMaxBuses) +
                                " buses, one per channel; run a second mbus-bridge with a configuration of its own "
                                "for the others"),
                       std::nullopt;
            for (std::size_t b = 0; b < buses.size(); ++b) {
                if (!ReadBus(*buses[b].as_table(), static_cast<int>(b), &config.buses.emplace_back())) return std::nullopt;
            }
        } else {
            UnknownKey(key, value, "", kSections);
            return std::nullopt;
        }
    }
    if (config.buses.empty()) {
        Fail(0, "bus", "no bus is configured; add a [[bus]] with a device and its meters or a scan");
        return std::nullopt;
    }
    if (!CheckNames(config)) return std::nullopt;
    return config;
}

}  // namespace

std::optional<BridgeConfig> ParseConfig(std::string_view text, const std::string& fileName, ConfigError* error,
                                        EnvironmentLookup environment) {
    try {
        return Parser(fileName, error, environment).Parse(text);
    } catch (const std::exception& e) {  // nothing leaves: an allocation failure, say
        if (error) *error = ConfigError{fileName, 0, "", std::string("cannot be read: ") + e.what()};
        return std::nullopt;
    }
}

std::optional<BridgeConfig> LoadConfig(const std::string& path, ConfigError* error) {
    std::string content, problem;
    switch (files::ReadTextFile(path, &content, &problem)) {
        case files::ReadStatus::kOk: return ParseConfig(content, path, error);
        case files::ReadStatus::kMissing:
            if (error) *error = ConfigError{path, 0, "", "does not exist; give an existing file with --config FILE"};
            return std::nullopt;
        case files::ReadStatus::kFailed: break;
    }
    if (error) *error = ConfigError{path, 0, "", problem};
    return std::nullopt;
}

}  // namespace mbus::bridge
