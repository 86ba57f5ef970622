// The bridge's configuration: a TOML file (default /etc/mbus-bridge.toml)
// with the broker, up to four buses and their meters. A file is read whole
// and checked before anything is used; a fault is reported with the file,
// the line, the key and the reason, and nothing of the file is taken.
//
//   [mqtt]
//   host = "localhost"           port = 1883 (8883 with TLS)
//   tls = false                  ca_file, cert_file, key_file (paths, only
//                                with tls; cert and key together)
//   username = "..."             password_file = "/etc/mbus-bridge.secret"
//                                (mode 0600 or 0400; one trailing newline
//                                dropped) or password_env = "VARIABLE"
//                                (which must be set); not both
//   Relative paths are found in the configuration file's directory.
//   client_id = "mbus-bridge"    base_topic = "mbus"   qos = 1 (0..2)
//   keepalive = 60 (5..3600 s)   protocol = "5" | "3.1.1"
//   discovery = true             discovery_prefix = "homeassistant"
//
//   [bridge]
//   offline_after = 3            rounds a meter may miss before it is offline
//   state_directory = "/..."     default $STATE_DIRECTORY (its first
//                                directory), else none
//
//   [[bus]]
//   name = "cellar"              default "bus1".."bus4" by position
//   device = "/dev/ttyUSB0"      a device path, "tcp:HOST:PORT", or a port
//                                number of the port map ("3")
//   baud = 2400                  300 600 1200 2400 4800 9600 19200 38400
//   echo = "none"                "none" | "full" | "partial"
//   end_at_frame = true          an answer ends with the last byte of a
//                                whole frame; false: after the byte timeout
//                                (57 ms at 2400 baud) that follows any answer
//   retries = 2                  repetitions of a request, 0..9
//   interval = 300               seconds between rounds, 1..604800
//   scan = "secondary"           "none" (default) | "primary" | "secondary"
//   rescan_hours = 24            0..8760; 0 = only at start and on command
//
//   [[bus.meter]]
//   address = "12345678"         primary 0..250 (a number or its text), or
//                                secondary: 8 or 16 hex digits, F a wildcard
//   name = "flat-3-heat"         the topic's name; default the address
//   interval = 60                its own interval (default the bus's)
//   fields = { energy_kwh = "heat_energy" }   own names of flat fields
//
// Names (of buses, meters, fields' own names) are 1..64 characters of
// A-Z a-z 0-9 _ - . as they are used in topics and JSON keys; bus names and
// meter names are each unique in the file, and "all", "bridge" and
// "command" are taken by the bridge's own topics and commands. Addresses
// are unique on their bus (8 digits being the 16 with the rest F), devices
// in the file. base_topic and discovery_prefix have no wildcard, no empty
// level and no leading '$'. docs/mbus-bridge.toml is a commented example.

#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::bridge {

inline constexpr int kMaxBuses = 4;
inline constexpr const char* kDefaultConfigFile = "/etc/mbus-bridge.toml";

struct MqttConfig {
    std::string host = "localhost";
    int port = 1883;  // 8883 when tls is on and no port is given
    bool tls = false;
    std::string caFile, certFile, keyFile;
    std::string username;
    std::string password;  // read from password_file or password_env; never a key of its own
    std::string clientId = "mbus-bridge";
    std::string baseTopic = "mbus";
    int qos = 1;
    int keepalive = 60;
    int protocol = 5;  // 5 or 311
    bool discovery = true;
    std::string discoveryPrefix = "homeassistant";
    friend bool operator==(const MqttConfig&, const MqttConfig&) = default;
};

struct MeterConfig {
    std::string address;  // "5" or 8/16 upper-case hex digits
    std::string name;     // the topic name (defaults to the address)
    int interval = 0;     // seconds; 0: the bus's
    std::map<std::string, std::string> fields;  // flat field -> own name
    int line = 0;         // where it stands in the file
};

enum class ScanMode { None, Primary, Secondary };

struct BusConfig {
    std::string name;    // "bus1".. by position unless given
    std::string device;  // path, "tcp:HOST:PORT", or a port number's digits
    int baud = 2400;
    int echo = 0;        // 0 none, 1 full, 2 partial
    bool endAtFrame = true;
    int retries = 2;
    int interval = 300;  // seconds
    ScanMode scan = ScanMode::None;
    int rescanHours = 24;
    std::vector<MeterConfig> meters;
    int line = 0;
};

struct BridgeConfig {
    MqttConfig mqtt;
    int offlineAfter = 3;
    std::string stateDirectory;
    std::vector<BusConfig> buses;
};

// A fault of a file: "FILE:LINE: KEY: REASON" (LINE 0 when the fault has
// no place, e.g. a missing file; KEY empty when it is no key's).
struct ConfigError {
    std::string file;
    int line = 0;
    std::string key;  // dotted: "bus[2].meter[1].address"
    std::string reason;
    std::string Text() const;
};

// Parses and checks the text of a configuration file; `fileName` names it
// in errors and decides where relative paths of password_file are found.
// `environment` looks up password_env (getenv in the program). Nothing is
// returned on a fault, which *error then describes.
using EnvironmentLookup = std::optional<std::string> (*)(const std::string& name);
std::optional<BridgeConfig> ParseConfig(std::string_view text, const std::string& fileName, ConfigError* error,
                                        EnvironmentLookup environment = nullptr);

// Reads the file (a regular text file of at most 1 MiB) and parses it.
std::optional<BridgeConfig> LoadConfig(const std::string& path, ConfigError* error);

}  // namespace mbus::bridge
