// The bridge's engine: polls up to four buses, one channel of the control
// each, and hands every whole readout to the MQTT link as retained state.
//
// The control's current channel is one process-wide setting, so one thread
// (the caller of Run) makes every call of the control, selecting a bus's
// channel before each; the buses still work side by side, since a read or
// a search runs as a script on its channel's own threads while this thread
// looks after the others. Per bus it keeps the line (reopened with backoff
// when its device goes away), the meters with the time each is due, and a
// search when the bus is configured to search.

#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/mbus-bridge/config.h"
#include "tools/mbus-bridge/mqtt_link.h"
#include "tools/mbus-bridge/payload.h"
#include "platform/serial/port_map.h"
#include "tools/mbusctl/control_client.h"

namespace mbus::bridge {

// Signals as the engine sees them: set by handlers, read by Run.
struct Signals {
    std::atomic<bool> stop{false};
    std::atomic<bool> reload{false};
};

class Bridge {
public:
    // Bus i uses port i+1 of the port map at `portMapFile` (the program's
    // own, which $MBUS_PORT_MAP names), written here from the buses'
    // devices; a device given as a port number is what `userPorts` gives
    // it. `configFile` is read again on reload.
    Bridge(cli::ControlClient control, BridgeConfig config, std::string configFile, std::string portMapFile,
           serial::PortMap userPorts);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Connects to the broker and polls until signals.stop; 0 then, or 1
    // when the MQTT client could not be set up.
    int Run(Signals& signals);

    // A command received over MQTT (any thread): the topic's last level
    // ("read", "scan") and the payload (a meter or bus name, or "all").
    void Command(const std::string& what, const std::string& payload);

    struct Bus;
    struct Meter;

private:
    bool WritePortMap();
    void OpenBuses();
    void CloseBuses();
    // Moves the bus's job on; true when the bus is free (and, with
    // `startNext`, the next job started if one is due).
    bool Step(Bus& bus, bool startNext = true);
    void StartNext(Bus& bus);
    void FinishRead(Bus& bus);
    void FinishSearch(Bus& bus);
    void Select(const Bus& bus) const;
    void SetMeterOnline(Bus& bus, Meter& meter, bool online);
    void SetBusOnline(Bus& bus, bool online);
    void PublishInfo();
    void RemoveMeterTopics(const Meter& meter);
    void Reload();
    void TakeCommands();
    void EndJobs();
    std::string Topic(const std::string& tail) const;
    std::string PublishedFile() const;
    std::map<std::string, std::set<std::string>> ReadPublished() const;
    void WritePublished();
    void ClaimPublished();

    cli::ControlClient control_;
    BridgeConfig config_;
    std::string configFile_;
    std::string portMapFile_;
    serial::PortMap userPorts_;
    DiscoveryContext discovery_;
    std::unique_ptr<MqttLink> link_;
    std::vector<std::unique_ptr<Bus>> buses_;
    std::string lastInfo_;
    // Topics of meters that an earlier run published and this one has not
    // met yet (by name), and the record as last written.
    std::map<std::string, std::set<std::string>> unclaimed_;
    std::string lastPublished_;

    std::mutex commandsMutex_;
    std::deque<std::pair<std::string, std::string>> commands_;
};

}  // namespace mbus::bridge
