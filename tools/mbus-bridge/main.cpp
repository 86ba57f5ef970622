// mbus-bridge: reads the meters of up to four M-Bus buses around the clock
// and publishes their readings over MQTT, with Home Assistant discovery.

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "mbus_version.h"
#include "platform/files/temporary_directory.h"
#include "platform/serial/port_map.h"
#include "tools/mbus-bridge/bridge.h"
#include "tools/mbus-bridge/config.h"
#include "tools/mbus-bridge/log.h"
#include "tools/mbusctl/control_client.h"

namespace {

using namespace mbus;

// Exit codes: sysexits' EX_CONFIG for a configuration that cannot be used,
// which systemd's Restart=on-failure then does not hammer at.
constexpr int kExitConfig = 78;

constexpr const char* kUsage =
    "usage: mbus-bridge [--config FILE] [--check] [--verbose]\n"
    "\n"
    "Reads the meters of up to four M-Bus buses around the clock and publishes\n"
    "their readings to an MQTT broker: BASE/METER/state (retained JSON),\n"
    "BASE/METER/availability, BASE/bridge/availability and BASE/bridge/info,\n"
    "with Home Assistant discovery configs. Commands: publish a meter's name\n"
    "(or \"all\") to BASE/command/read, a bus's name (or \"all\") to\n"
    "BASE/command/scan. SIGHUP reads the configuration again (a bad file keeps\n"
    "the old one); SIGTERM or SIGINT ends the running request, publishes\n"
    "\"offline\" and exits. Logs go to standard error. See mbus-bridge(1).\n"
    "\n"
    "options:\n"
    "  --config FILE   the configuration (default /etc/mbus-bridge.toml)\n"
    "  --check         check the configuration, print a summary and exit\n"
    "  --verbose       log every request and frame\n"
    "  -h, --help      this text\n"
    "      --version   the program's version\n"
    "\n"
    "exit code: 0 stopped by SIGTERM/SIGINT (or --check found the file good),\n"
    "1 could not start (the control library missing, say), 2 bad usage,\n"
    "78 the configuration cannot be used (file:line, key and reason on stderr)\n";

bridge::Signals* theSignals = nullptr;

extern "C" void OnSignal(int number) {
    if (theSignals == nullptr) return;
    if (number == SIGHUP) theSignals->reload.store(true);
    else theSignals->stop.store(true);
}

void InstallSignals(bridge::Signals& signals) {
    theSignals = &signals;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
    // A broker that closes the socket under a write must not end the program.
    signal(SIGPIPE, SIG_IGN);
}

std::size_t MeterCount(const bridge::BridgeConfig& c) {
    std::size_t n = 0;
    for (const auto& bus : c.buses) n += bus.meters.size();
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configFile = bridge::kDefaultConfigFile;
    bool check = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (a == "--version") {
            std::cout << "mbus-bridge " << MBUS_VERSION << "\n";
            return 0;
        }
        if (a == "--check") check = true;
        else if (a == "--verbose") verbose = true;
        else if (a == "--config" || a.rfind("--config=", 0) == 0) {
            if (a == "--config") {
                if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                    std::cerr << "mbus-bridge: --config needs a file name\n";
                    return 2;
                }
                configFile = argv[++i];
            } else {
                configFile = a.substr(9);
            }
        } else {
            std::cerr << "mbus-bridge: unknown " << (a.rfind("-", 0) == 0 ? "option" : "argument") << " \"" << a
                      << "\"; see mbus-bridge --help\n";
            return 2;
        }
    }
    bridge::Log::SetVerbose(verbose);

    bridge::ConfigError error;
    std::optional<bridge::BridgeConfig> config = bridge::LoadConfig(configFile, &error);
    if (!config) {
        std::cerr << "mbus-bridge: " << error.Text() << "\n";
        return kExitConfig;
    }
    if (check) {
        std::cout << configFile << ": ok (" << config->buses.size() << (config->buses.size() == 1 ? " bus, " : " buses, ")
                  << MeterCount(*config) << (MeterCount(*config) == 1 ? " meter" : " meters") << " configured)\n";
        return 0;
    }

    bridge::Signals signals;
    InstallSignals(signals);

    // The program keeps a port map and a registry of its own in a private
    // directory: the buses' devices come from the configuration, and a
    // service without a home (DynamicUser) has nowhere else to register
    // the control. Port numbers in the configuration are looked up in the
    // user's port map first.
    const serial::PortMap userPorts = serial::ReadPortMap(serial::PortMapPath());
    files::TemporaryDirectory own("mbus-bridge.");
    if (!own.Ok()) {
        bridge::Log::Error(own.Problem());
        return 1;
    }
    std::string problem;
    const std::string registry = own.WriteFile("registry", "", &problem);
    const std::string ports = own.WriteFile("ports", "", &problem);
    if (registry.empty() || ports.empty()) {
        bridge::Log::Error(problem);
        return 1;
    }
    ::setenv("MBUS_PORT_MAP", ports.c_str(), 1);
    if (std::getenv("MBUS_BRIDGE_KEEP_REGISTRY") == nullptr) ::setenv("MBUS_REGISTRY", registry.c_str(), 1);

    com::ComPtr<com::IDispatch> control;
    std::ostringstream said;
    if (!cli::CreateControl("bridge", &control, said)) {
        std::istringstream lines(said.str());
        for (std::string line; std::getline(lines, line);) bridge::Log::Error(line);
        return 1;
    }
    bridge::Bridge engine(cli::ControlClient(control), std::move(*config), configFile, ports, userPorts);
    const int rc = engine.Run(signals);
    control = nullptr;
    return rc;
}
