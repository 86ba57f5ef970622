#include "tools/mbus-bridge/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace mbus::bridge {
namespace {

// The environment the parser sees in these tests.
std::optional<std::string> FakeEnvironment(const std::string& name) {
    if (name == "MBUS_PASSWORD") return "s3cret";
    if (name == "EMPTY_PASSWORD") return "";
    if (name == "STATE_DIRECTORY") return "/var/lib/mbus-bridge:/var/lib/other";
    return std::nullopt;
}

// A bus good enough to let the rest of a file be checked.
constexpr const char* kBus = "[[bus]]\ndevice = \"/dev/ttyUSB0\"\nscan = \"primary\"\n";

std::optional<BridgeConfig> Parse(const std::string& text, ConfigError* error,
                                  const std::string& file = "/etc/mbus-bridge.toml") {
    return ParseConfig(text, file, error, FakeEnvironment);
}

struct Fault {
    std::string text;
    int line;
    std::string key;
    std::string reason;  // a part of it
};

void ExpectFaults(const std::vector<Fault>& faults) {
    for (const Fault& f : faults) {
        SCOPED_TRACE(f.text);
        ConfigError error;
        EXPECT_FALSE(Parse(f.text, &error).has_value());
        EXPECT_EQ(error.file, "/etc/mbus-bridge.toml");
        EXPECT_EQ(error.line, f.line) << error.Text();
        EXPECT_EQ(error.key, f.key) << error.Text();
        EXPECT_NE(error.reason.find(f.reason), std::string::npos) << error.Text();
    }
}

std::string Mqtt(const std::string& lines) { return "[mqtt]\n" + lines + "\n" + kBus; }

TEST(BridgeConfig, ErrorTextNamesFileLineKeyAndReason) {
    EXPECT_EQ((ConfigError{"/etc/x.toml", 7, "mqtt.port", "out of range"}).Text(),
              "/etc/x.toml:7: mqtt.port: out of range");
    EXPECT_EQ((ConfigError{"/etc/x.toml", 0, "", "does not exist"}).Text(), "/etc/x.toml: does not exist");
}

TEST(BridgeConfig, SyntaxUnknownKeysTypesAndEnums) {
    ExpectFaults({
        {"[mqtt]\nhost = \n", 2, "", ""},
        {"[mqtt]\nport = 1\nport = 2\n", 3, "", ""},
        // the first fault in the file is reported, though toml++ sorts keys
        {"[mqtt]\nqos = 9\nhost = 1\n[[bus]]\nbaud = 1\n", 2, "mqtt.qos", "give 0..2"},
        {"[[bus]]\nscan = \"x\"\ndevice = \"x\"\n[mqtt]\nhost = 1\n", 2, "bus[1].scan", "is not one of"},
        {Mqtt("prot = 1883"), 2, "mqtt.prot", "did you mean \"port\"?"},
        {Mqtt("Host = \"x\""), 2, "mqtt.Host", "did you mean \"host\"?"},
        {Mqtt("colour = \"red\""), 2, "mqtt.colour", "the keys here are host, port"},
        {std::string(kBus) + "intervall = 60\n", 4, "bus[1].intervall", "did you mean \"interval\"?"},
        {std::string(kBus) + "[mqt]\n", 4, "mqt", "unknown table; did you mean \"mqtt\"?"},
        {"[broker]\n" + std::string(kBus), 1, "broker", "the tables are mqtt, bridge or bus"},
        {"[bus]\ndevice = \"/dev/ttyUSB0\"\n", 1, "bus", "each under a [[bus]] header, not a table"},
        {"mqtt = 5\n" + std::string(kBus), 1, "mqtt", "must be a table"},
        {Mqtt("port = \"1883\""), 2, "mqtt.port", "must be an integer 1..65535, not a string"},
        {Mqtt("tls = 1"), 2, "mqtt.tls", "must be true or false, not an integer"},
        {Mqtt("host = 5"), 2, "mqtt.host", "must be a string in quotes, not an integer"},
        {Mqtt("qos = 1.0"), 2, "mqtt.qos", "not a floating-point number"},
        {Mqtt("protocol = 5"), 2, "mqtt.protocol", "must be \"5\" or \"3.1.1\", not an integer"},
        {Mqtt("protocol = \"3.1\""), 2, "mqtt.protocol", "\"3.1\" is not one of \"5\" or \"3.1.1\""},
        {std::string(kBus) + "echo = \"half\"\n", 4, "bus[1].echo", "\"none\", \"full\" or \"partial\""},
        {"[[bus]]\ndevice = \"/dev/ttyUSB0\"\nscan = \"all\"\n", 3, "bus[1].scan", "\"none\", \"primary\" or \"secondary\""},
    });
}

TEST(BridgeConfig, NumbersOutOfRange) {
    ExpectFaults({
        {Mqtt("port = 0"), 2, "mqtt.port", "0 is out of range; give 1..65535"},
        {Mqtt("qos = 3"), 2, "mqtt.qos", "give 0..2"},
        {Mqtt("keepalive = 3601"), 2, "mqtt.keepalive", "give 5..3600"},
        {Mqtt("port = 9223372036854775807"), 2, "mqtt.port", "give 1..65535"},
        {"[bridge]\noffline_after = 1001\n" + std::string(kBus), 2, "bridge.offline_after", "give 1..1000"},
        {std::string(kBus) + "baud = 2401\n", 4, "bus[1].baud", "give 300, 600, 1200, 2400, 4800, 9600, 19200 or 38400"},
        {std::string(kBus) + "retries = 10\n", 4, "bus[1].retries", "give 0..9"},
        {std::string(kBus) + "interval = 0\n", 4, "bus[1].interval", "give 1..604800"},
        {std::string(kBus) + "rescan_hours = -1\n", 4, "bus[1].rescan_hours", "give 0..8760"},
        {std::string(kBus) + "[[bus.meter]]\naddress = 1\ninterval = 0\n", 6, "bus[1].meter[1].interval",
         "give 1..604800"},
    });
}

TEST(BridgeConfig, BusesAndDevices) {
    std::string fiveBuses;
    for (int i = 1; i <= 5; ++i) fiveBuses += "[[bus]]\ndevice = \"" + std::to_string(i) + "\"\nscan = \"primary\"\n";
    ExpectFaults({
        {"[mqtt]\nhost = \"broker\"\n", 0, "bus", "no bus is configured"},
        {fiveBuses, 13, "bus",
         "5 buses: one bridge serves at most 4 buses, one per channel; run a second mbus-bridge with a "
         "configuration of its own for the others"},
        {"[[bus]]\nscan = \"primary\"\n", 1, "bus[1].device", "a bus needs a device"},
        {"[[bus]]\ndevice = \"/dev/ttyUSB0\"\n", 1, "bus[1]", "a bus needs meters ([[bus.meter]]) or a search"},
        {"[[bus]]\ndevice = \"ttyUSB0\"\nscan = \"primary\"\n", 2, "bus[1].device",
         "\"ttyUSB0\" is not a device; give an absolute path"},
        {"[[bus]]\ndevice = \"0\"\nscan = \"primary\"\n", 2, "bus[1].device", "a port number 1..255"},
        {"[[bus]]\ndevice = \"256\"\nscan = \"primary\"\n", 2, "bus[1].device", "a port number 1..255"},
        {"[[bus]]\ndevice = \"\"\nscan = \"primary\"\n", 2, "bus[1].device", "is not a device"},
        {"[[bus]]\ndevice = \"tcp:gateway\"\nscan = \"primary\"\n", 2, "bus[1].device", "give \"tcp:HOST:PORT\""},
        {"[[bus]]\ndevice = \"tcp:gateway:0\"\nscan = \"primary\"\n", 2, "bus[1].device", "give \"tcp:HOST:PORT\""},
        {std::string(kBus) + kBus, 4, "bus[2].device", "is already the device of bus[1] (line 1)"},
        {"[[bus]]\ndevice = \"3\"\nscan = \"primary\"\n[[bus]]\ndevice = \"03\"\nscan = \"primary\"\n", 4,
         "bus[2].device", "\"3\" is already the device of bus[1]"},
        {std::string(kBus) + "[[bus]]\nname = \"bus1\"\ndevice = \"2\"\nscan = \"primary\"\n", 4, "bus[2].name",
         "the name \"bus1\" is already that of bus[1] (line 1)"},
        {std::string(kBus) + "name = \"all\"\n", 1, "bus[1].name", "a word of the bridge's own"},
        {std::string(kBus) + "meter = 5\n", 4, "bus[1].meter", "each under a [[bus.meter]] header"},
    });
}

TEST(BridgeConfig, MeterAddressesNamesAndFields) {
    auto meters = [](const std::string& body) { return std::string(kBus) + body; };
    ExpectFaults({
        {meters("[[bus.meter]]\nname = \"x\"\n"), 4, "bus[1].meter[1].address", "a meter needs an address"},
        {meters("[[bus.meter]]\naddress = 251\n"), 5, "bus[1].meter[1].address",
         "251 is not a meter address; give a primary address 0..250 or a secondary one of 8 or 16 hex digits"},
        {meters("[[bus.meter]]\naddress = \"251\"\n"), 5, "bus[1].meter[1].address", "\"251\" is not a meter address"},
        {meters("[[bus.meter]]\naddress = \"1234567\"\n"), 5, "bus[1].meter[1].address", "is not a meter address"},
        {meters("[[bus.meter]]\naddress = \"1234567G\"\n"), 5, "bus[1].meter[1].address", "is not a meter address"},
        {meters("[[bus.meter]]\naddress = 5.0\n"), 5, "bus[1].meter[1].address",
         "a floating-point number is not a meter address"},
        {meters("[[bus.meter]]\naddress = 5\n[[bus.meter]]\naddress = \"005\"\n"), 6, "bus[1].meter[2].address",
         "address 5 is already the meter's of line 4"},
        {meters("[[bus.meter]]\naddress = \"1234abcd\"\nname = \"a\"\n[[bus.meter]]\naddress = \"1234ABCDffffffff\"\n"), 7,
         "bus[1].meter[2].address", "already the meter's of line 4"},
        {meters("[[bus.meter]]\naddress = 5\nname = \"flat 3\"\n"), 6, "bus[1].meter[1].name",
         "\"flat 3\" may hold only letters"},
        {meters("[[bus.meter]]\naddress = 5\nname = \"\"\n"), 6, "bus[1].meter[1].name", "must be 1..64 characters"},
        {meters("[[bus.meter]]\naddress = 5\nname = \"" + std::string(65, 'x') + "\"\n"), 6, "bus[1].meter[1].name",
         "must be 1..64 characters"},
        {meters("[[bus.meter]]\naddress = 5\nname = \"bridge\"\n"), 4, "bus[1].meter[1].name",
         "a word of the bridge's own topics"},
        {meters("[[bus.meter]]\naddress = 5\nname = \"m\"\n[[bus]]\ndevice = \"2\"\n[[bus.meter]]\naddress = 6\n"
                "name = \"m\"\n"),
         9, "bus[2].meter[1].name", "the name \"m\" is already that of bus[1].meter[1] (line 4)"},
        {meters("[[bus.meter]]\naddress = 5\n[[bus]]\ndevice = \"2\"\n[[bus.meter]]\naddress = 5\n"), 8,
         "bus[2].meter[1].name", "a meter without a name is named by its address \"5\", which bus[1].meter[1]"},
        {meters("[[bus.meter]]\naddress = 5\nfields = 3\n"), 6, "bus[1].meter[1].fields", "must be a table of renames"},
        {meters("[[bus.meter]]\naddress = 5\nfields = { energy_kwh = 1 }\n"), 6, "bus[1].meter[1].fields.energy_kwh",
         "must be the field's own name in quotes"},
        {meters("[[bus.meter]]\naddress = 5\nfields = { energy_kwh = \"heat#\" }\n"), 6,
         "bus[1].meter[1].fields.energy_kwh", "\"heat#\" may hold only letters"},
        {meters("[[bus.meter]]\naddress = 5\nfields = { \"a b\" = \"heat\" }\n"), 6, "bus[1].meter[1].fields.a b",
         "the field name \"a b\" may hold only"},
        {meters("[[bus.meter]]\naddress = 5\nfields = { a = \"heat\", b = \"heat\" }\n"), 6,
         "bus[1].meter[1].fields.b", "\"heat\" is already the own name of a"},
        {meters("[[bus.meter]]\naddress = 5\nadress = 6\n"), 6, "bus[1].meter[1].adress", "did you mean \"address\"?"},
    });
}

TEST(BridgeConfig, MqttTopicsTlsAndPasswords) {
    ExpectFaults({
        {Mqtt("base_topic = \"\""), 2, "mqtt.base_topic", "must not be empty"},
        {Mqtt("base_topic = \"home/+/mbus\""), 2, "mqtt.base_topic", "wildcards"},
        {Mqtt("base_topic = \"home//mbus\""), 2, "mqtt.base_topic", "has an empty level"},
        {Mqtt("base_topic = \"/mbus\""), 2, "mqtt.base_topic", "has an empty level"},
        {Mqtt("discovery_prefix = \"homeassistant/\""), 2, "mqtt.discovery_prefix", "has an empty level"},
        {Mqtt("base_topic = \"$SYS\""), 2, "mqtt.base_topic", "must not start with '$'"},
        {Mqtt("client_id = \"my bridge\""), 2, "mqtt.client_id", "may hold only letters"},
        {Mqtt("host = \"\""), 2, "mqtt.host", "must not be empty"},
        {Mqtt("tls = true\ncert_file = \"c.pem\""), 3, "mqtt.cert_file", "cert_file and key_file go together"},
        {Mqtt("tls = true\nkey_file = \"c.key\""), 3, "mqtt.key_file", "cert_file and key_file go together"},
        {Mqtt("ca_file = \"ca.pem\""), 2, "mqtt.ca_file", "tls is off; add tls = true"},
        {Mqtt("username = \"u\"\npassword_file = \"p\"\npassword_env = \"MBUS_PASSWORD\""), 4, "mqtt.password_env",
         "both given; keep one of them"},
        {Mqtt("password_env = \"MBUS_PASSWORD\""), 2, "mqtt.password_env", "a password needs a username"},
        {Mqtt("username = \"u\"\npassword_env = \"UNSET_PASSWORD\""), 3, "mqtt.password_env",
         "UNSET_PASSWORD is not set"},
        {Mqtt("username = \"u\"\npassword_env = \"EMPTY_PASSWORD\""), 3, "mqtt.password_env", "is empty"},
        {Mqtt("username = \"u\"\npassword_file = \"/nonexistent/secret\""), 3, "mqtt.password_file",
         "\"/nonexistent/secret\" does not exist"},
        {Mqtt("username = \"u\"\npassword_file = 5"), 3, "mqtt.password_file", "must be a string"},
        {Mqtt("password = \"plain\""), 2, "mqtt.password", "is not kept in this file; give password_file"},
        {"[bridge]\nstate_directory = \"state\"\n" + std::string(kBus), 2, "bridge.state_directory",
         "must be an absolute path"},
    });
}

// A directory of its own for files the tests write, removed at the end.
class BridgeConfigFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/bridge-config-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& content, mode_t mode) {
        std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }
    std::optional<BridgeConfig> WithPasswordFile(const std::string& passwordFile, ConfigError* error) {
        return Parse(Mqtt("username = \"u\"\npassword_file = \"" + passwordFile + "\""), error, dir_ + "/bridge.toml");
    }
    std::string dir_;
};

TEST_F(BridgeConfigFiles, PasswordFileRelativeToTheConfigOneNewlineStripped) {
    Write("secret", "pass word\n\n", 0600);
    ConfigError error;
    auto config = WithPasswordFile("secret", &error);
    ASSERT_TRUE(config) << error.Text();
    EXPECT_EQ(config->mqtt.password, "pass word\n");
    Write("crlf", "pw\r\n", 0400);
    config = WithPasswordFile(dir_ + "/crlf", &error);
    ASSERT_TRUE(config) << error.Text();
    EXPECT_EQ(config->mqtt.password, "pw");
}

TEST_F(BridgeConfigFiles, PasswordFileRefusedWhenOthersCanReadItOrEmpty) {
    Write("open", "pw\n", 0640);
    ConfigError error;
    EXPECT_FALSE(WithPasswordFile("open", &error));
    EXPECT_EQ(error.key, "mqtt.password_file");
    EXPECT_NE(error.reason.find("can be read by others (mode 0640); allow only its owner (chmod 600)"), std::string::npos)
        << error.Text();
    Write("empty", "\n", 0600);
    EXPECT_FALSE(WithPasswordFile("empty", &error));
    EXPECT_NE(error.reason.find("is empty"), std::string::npos) << error.Text();
    EXPECT_FALSE(WithPasswordFile(".", &error));
    EXPECT_NE(error.reason.find("is a directory"), std::string::npos) << error.Text();
}

TEST_F(BridgeConfigFiles, LoadConfigReportsTheFileItCannotRead) {
    ConfigError error;
    EXPECT_FALSE(LoadConfig(dir_ + "/missing.toml", &error));
    EXPECT_EQ(error.Text(), dir_ + "/missing.toml: does not exist; give an existing file with --config FILE");
    EXPECT_FALSE(LoadConfig(dir_, &error));
    EXPECT_EQ(error.Text(), dir_ + ": is a directory");
    std::string path = Write("bad.toml", "[mqtt]\nport = 0\n", 0644);
    EXPECT_FALSE(LoadConfig(path, &error));
    EXPECT_EQ(error.Text(), path + ":2: mqtt.port: 0 is out of range; give 1..65535");
}

TEST(BridgeConfig, DefaultsAndDerivedValues) {
    ConfigError error;
    auto config = Parse("[mqtt]\ntls = true\n[[bus]]\ndevice = \"007\"\nscan = \"secondary\"\n"
                        "[[bus]]\ndevice = \"tcp:[::1]:10001\"\n[[bus.meter]]\naddress = \"abcdef01\"\n",
                        &error);
    ASSERT_TRUE(config) << error.Text();
    EXPECT_EQ(config->mqtt.port, 8883);
    EXPECT_EQ(config->stateDirectory, "/var/lib/mbus-bridge");
    ASSERT_EQ(config->buses.size(), 2u);
    EXPECT_EQ(config->buses[0].name, "bus1");
    EXPECT_EQ(config->buses[0].device, "7");
    EXPECT_EQ(config->buses[0].scan, ScanMode::Secondary);
    EXPECT_EQ(config->buses[1].name, "bus2");
    ASSERT_EQ(config->buses[1].meters.size(), 1u);
    EXPECT_EQ(config->buses[1].meters[0].address, "ABCDEF01");
    EXPECT_EQ(config->buses[1].meters[0].name, "ABCDEF01");
    EXPECT_EQ(config->buses[1].meters[0].interval, 0);

    config = Parse("[mqtt]\ntls = true\nport = 1883\nca_file = \"ca.pem\"\n"
                   "[bridge]\nstate_directory = \"/srv/state\"\n" + std::string(kBus),
                   &error, "/etc/mbus/bridge.toml");
    ASSERT_TRUE(config) << error.Text();
    EXPECT_EQ(config->mqtt.port, 1883);
    EXPECT_EQ(config->mqtt.caFile, "/etc/mbus/ca.pem");
    EXPECT_EQ(config->stateDirectory, "/srv/state");
}

// The commented example of the documentation, exactly as shipped.
TEST(BridgeConfig, TheExampleFileParsesToItsStructure) {
    ConfigError error;
    auto config = LoadConfig(MBUS_SOURCE_DIR "/docs/mbus-bridge.toml", &error);
    ASSERT_TRUE(config) << error.Text();
    const MqttConfig& m = config->mqtt;
    EXPECT_EQ(m.host, "localhost");
    EXPECT_EQ(m.port, 1883);
    EXPECT_FALSE(m.tls);
    EXPECT_EQ(m.clientId, "mbus-bridge");
    EXPECT_EQ(m.baseTopic, "mbus");
    EXPECT_EQ(m.qos, 1);
    EXPECT_EQ(m.keepalive, 60);
    EXPECT_EQ(m.protocol, 5);
    EXPECT_TRUE(m.discovery);
    EXPECT_EQ(m.discoveryPrefix, "homeassistant");
    EXPECT_EQ(config->offlineAfter, 3);
    ASSERT_EQ(config->buses.size(), 2u);

    const BusConfig& cellar = config->buses[0];
    EXPECT_EQ(cellar.name, "cellar");
    EXPECT_EQ(cellar.device, "/dev/ttyUSB0");
    EXPECT_EQ(cellar.baud, 2400);
    EXPECT_EQ(cellar.echo, 0);
    EXPECT_TRUE(cellar.endAtFrame);
    EXPECT_EQ(cellar.retries, 2);
    EXPECT_EQ(cellar.interval, 300);
    EXPECT_EQ(cellar.scan, ScanMode::Secondary);
    EXPECT_EQ(cellar.rescanHours, 24);
    EXPECT_TRUE(cellar.meters.empty());

    const BusConfig& stairwell = config->buses[1];
    EXPECT_EQ(stairwell.name, "stairwell");
    EXPECT_EQ(stairwell.device, "tcp:192.0.2.7:10001");
    EXPECT_EQ(stairwell.baud, 9600);
    EXPECT_EQ(stairwell.interval, 900);
    EXPECT_EQ(stairwell.scan, ScanMode::None);
    ASSERT_EQ(stairwell.meters.size(), 2u);
    EXPECT_EQ(stairwell.meters[0].address, "5");
    EXPECT_EQ(stairwell.meters[0].name, "flat-1-water");
    EXPECT_EQ(stairwell.meters[0].interval, 3600);
    EXPECT_EQ(stairwell.meters[1].address, "12345678");
    EXPECT_EQ(stairwell.meters[1].name, "flat-3-heat");
    EXPECT_EQ(stairwell.meters[1].interval, 0);
    EXPECT_EQ(stairwell.meters[1].fields,
              (std::map<std::string, std::string>{{"energy_kwh", "heat_energy"}, {"volume_m3", "heat_volume"}}));
}

// Every key is read into its field: a file setting each to a value other
// than its default gets each back.
TEST(BridgeConfig, EveryKeyReachesItsField) {
    ConfigError error;
    auto config = Parse(
        "[mqtt]\nhost = \"broker.lan\"\nport = 8884\ntls = true\nca_file = \"/c/ca\"\ncert_file = \"/c/crt\"\n"
        "key_file = \"/c/key\"\nusername = \"meters\"\npassword_env = \"MBUS_PASSWORD\"\nclient_id = \"b-2\"\n"
        "base_topic = \"home/mbus\"\nqos = 2\nkeepalive = 30\nprotocol = \"3.1.1\"\ndiscovery = false\n"
        "discovery_prefix = \"ha\"\n[bridge]\noffline_after = 7\n"
        "[[bus]]\nname = \"b\"\ndevice = \"/dev/ttyS1\"\nbaud = 38400\necho = \"partial\"\nend_at_frame = false\n"
        "retries = 0\n"
        "interval = 60\nscan = \"primary\"\nrescan_hours = 0\n",
        &error);
    ASSERT_TRUE(config) << error.Text();
    const MqttConfig& m = config->mqtt;
    EXPECT_EQ(std::tie(m.host, m.port, m.tls, m.caFile, m.certFile, m.keyFile, m.username, m.password),
              std::make_tuple("broker.lan", 8884, true, "/c/ca", "/c/crt", "/c/key", "meters", "s3cret"));
    EXPECT_EQ(std::tie(m.clientId, m.baseTopic, m.qos, m.keepalive, m.protocol, m.discovery, m.discoveryPrefix),
              std::make_tuple("b-2", "home/mbus", 2, 30, 311, false, "ha"));
    EXPECT_EQ(config->offlineAfter, 7);
    const BusConfig& b = config->buses[0];
    EXPECT_EQ(std::tie(b.name, b.device, b.baud, b.echo, b.retries, b.interval, b.rescanHours),
              std::make_tuple("b", "/dev/ttyS1", 38400, 2, 0, 60, 0));
    EXPECT_EQ(b.scan, ScanMode::Primary);
    EXPECT_FALSE(b.endAtFrame);
}

}  // namespace
}  // namespace mbus::bridge
