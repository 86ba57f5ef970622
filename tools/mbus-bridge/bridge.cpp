#include "tools/mbus-bridge/bridge.h"

#include <systemd/sd-daemon.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "mbus_version.h"
#include "tools/common/line_keeper.h"
#include "tools/mbus-bridge/log.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/meter_reading.h"
#include "tools/mbusctl/output.h"
#include "tools/mbusctl/scan_defaults.h"
#include "tools/mbusctl/session_line.h"

namespace mbus::bridge {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Bridge::Meter {
    MeterConfig config;      // a meter found by a search: its address and name are the secondary address
    bool found = false;      // found by a search rather than configured
    std::chrono::seconds interval{300};
    Clock::time_point due{};
    int missed = 0;
    std::optional<bool> online;                       // as last published
    std::map<std::string, std::string> discovery;     // config topic -> payload, as last published
};

struct Bridge::Bus {
    BusConfig config;
    int channel = 0;  // of the control, 0..3
    int port = 1;     // of the port map, channel + 1
    std::string device;
    std::unique_ptr<tools::LineKeeper> keeper;
    std::optional<bool> online;  // as last published
    std::vector<Meter> meters;
    // Closing: the read is delivered and its deselection still on the line.
    enum class Job { None, Read, Search, Closing } job = Job::None;
    std::size_t reading = 0;
    std::optional<cli::MeterRead> read;
    bool scanWanted = false;
    Clock::time_point nextScan{};
};

namespace {

std::string JsonList(const std::vector<std::string>& items) {
    std::string s = "[";
    for (std::size_t i = 0; i < items.size(); ++i) s += (i ? "," : "") + cli::JsonString(items[i]);
    return s + "]";
}

// Where a meter's read stands in the log of the bus: the frames, for --verbose.
void LogFrames(const cli::ControlClient& c, const std::string& bus) {
    if (!Log::Verbose()) return;
    const int upper = c.Long("LOGUpperBound").value_or(-1);
    for (int i = 0; i <= upper; ++i)
        Log::Debug(bus + ": " + c.Text("LOGRetrieveRawDataHex", {i, 0}).value_or(""));
}

// True when a configured address selects the slave a search found (at
// primary address `primary` with the 16-digit `secondary`): the same
// primary address, or a secondary address whose digits agree where they are
// not the wildcard F (8 digits: the identification alone).
bool SameMeter(const std::string& configured, int primary, const std::string& secondary) {
    if (configured.size() <= 3) return std::atoi(configured.c_str()) == primary;
    for (std::size_t i = 0; i < configured.size() && i < secondary.size(); ++i)
        if (configured[i] != 'F' && configured[i] != secondary[i]) return false;
    return true;
}

}  // namespace

std::string Bridge::PublishedFile() const {
    return config_.stateDirectory.empty() ? std::string() : config_.stateDirectory + "/published";
}

// The record of what the bridge published of each meter, one line a topic
// ("NAME<TAB>TOPIC"), so that a bridge started again with a file from which
// meters went can delete their entities.
std::map<std::string, std::set<std::string>> Bridge::ReadPublished() const {
    std::map<std::string, std::set<std::string>> published;
    const std::string file = PublishedFile();
    if (file.empty()) return published;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) continue;
        published[line.substr(0, tab)].insert(line.substr(tab + 1));
    }
    return published;
}

void Bridge::WritePublished() {
    const std::string file = PublishedFile();
    if (file.empty()) return;
    std::string text;
    for (const auto& bus : buses_)
        for (const Meter& m : bus->meters)
            for (const auto& [topic, payload] : m.discovery) text += m.config.name + "\t" + topic + "\n";
    for (const auto& [name, topics] : unclaimed_)
        for (const std::string& topic : topics) text += name + "\t" + topic + "\n";
    if (text == lastPublished_) return;
    const std::string temporary = file + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            Log::Warning("cannot write " + temporary + "; entities of meters removed later may stay in Home Assistant");
            return;
        }
    }
    if (std::rename(temporary.c_str(), file.c_str()) == 0) lastPublished_ = text;
}

void Bridge::ClaimPublished() {
    bool searching = false;
    std::set<std::string> names;
    for (auto& bus : buses_) {
        searching = searching || bus->config.scan != ScanMode::None;
        for (Meter& m : bus->meters) {
            names.insert(m.config.name);
            const auto was = unclaimed_.find(m.config.name);
            if (was == unclaimed_.end()) continue;
            // Known topics with an unknown payload: the first reading
            // publishes them again, and deletes those it no longer has.
            for (const std::string& topic : was->second) m.discovery.emplace(topic, std::string());
            unclaimed_.erase(was);
        }
    }
    // A meter of an earlier run that is no longer in the file goes, unless a
    // search may still find it.
    if (!searching) {
        for (const auto& [name, topics] : unclaimed_) {
            Meter gone;
            gone.config.name = name;
            for (const std::string& topic : topics) gone.discovery.emplace(topic, std::string());
            Log::Info(name + " is no longer in the configuration; its topics and entities are removed");
            RemoveMeterTopics(gone);
        }
        unclaimed_.clear();
    }
    WritePublished();
}

Bridge::Bridge(cli::ControlClient control, BridgeConfig config, std::string configFile, std::string portMapFile,
               serial::PortMap userPorts)
    : control_(std::move(control)), config_(std::move(config)), configFile_(std::move(configFile)),
      portMapFile_(std::move(portMapFile)), userPorts_(std::move(userPorts)) {
    discovery_.prefix = config_.mqtt.discoveryPrefix;
    discovery_.baseTopic = config_.mqtt.baseTopic;
    discovery_.bridgeId = config_.mqtt.clientId;
    discovery_.version = MBUS_VERSION;
}

Bridge::~Bridge() = default;

std::string Bridge::Topic(const std::string& tail) const { return config_.mqtt.baseTopic + "/" + tail; }

void Bridge::Select(const Bus& bus) const { control_.Put("APPChannel", bus.channel); }

void Bridge::Command(const std::string& what, const std::string& payload) {
    {
        std::lock_guard<std::mutex> lock(commandsMutex_);
        // A flood of commands cannot grow the queue without bound.
        if (commands_.size() >= 64) return;
        commands_.emplace_back(what, payload);
    }
}

bool Bridge::WritePortMap() {
    std::string text = "# written by mbus-bridge from " + configFile_ + "\n";
    for (const auto& bus : buses_) text += std::to_string(bus->port) + " = " + bus->device + "\n";
    const std::string temporary = portMapFile_ + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            Log::Error("cannot write the port map " + temporary);
            return false;
        }
    }
    return std::rename(temporary.c_str(), portMapFile_.c_str()) == 0;
}

void Bridge::OpenBuses() {
    buses_.clear();
    int channel = 0;
    for (const BusConfig& bc : config_.buses) {
        auto bus = std::make_unique<Bus>();
        bus->config = bc;
        bus->channel = channel++;
        bus->port = bus->channel + 1;
        bus->device = bc.device;
        if (!bc.device.empty() && bc.device.find_first_not_of("0123456789") == std::string::npos)
            bus->device = serial::DeviceOfPort(std::atoi(bc.device.c_str()), userPorts_);
        const auto now = Clock::now();
        for (const MeterConfig& mc : bc.meters) {
            Meter m;
            m.config = mc;
            m.interval = std::chrono::seconds(mc.interval > 0 ? mc.interval : bc.interval);
            m.due = now;
            bus->meters.push_back(std::move(m));
        }
        bus->scanWanted = bc.scan != ScanMode::None;
        buses_.push_back(std::move(bus));
    }
    WritePortMap();
    for (auto& owned : buses_) {
        Bus& bus = *owned;
        Select(bus);
        cli::LineOptions line;
        line.port = bus.port;
        line.baud = bus.config.baud;
        line.echo = bus.config.echo;
        line.endAtFrame = bus.config.endAtFrame ? 1 : 0;
        line.retries = bus.config.retries;
        cli::ApplyScanDefaults(control_, false, line.baud, line.retries + 1, -1);
        tools::KeptLine kept;
        kept.name = bus.config.name + " (" + bus.device + ")";
        kept.lost = [this, &bus] {
            Select(bus);
            return control_.Long("COMIsOpen").value_or(1) != 0;
        };
        kept.close = [this, &bus] {
            Select(bus);
            control_.Call("COMClose");
        };
        kept.reopen = [this, &bus, line] {
            Select(bus);
            return cli::OpenLine(control_, line, line.baud) == 0;
        };
        kept.say = [](const std::string& text) { Log::Warning(text); };
        bus.keeper = std::make_unique<tools::LineKeeper>(std::move(kept));
        const int status = cli::OpenLine(control_, line, line.baud);
        if (status == 0) {
            Log::Info(bus.config.name + ": " + bus.device + " open at " + std::to_string(line.baud) + " baud");
        } else {
            Log::Warning(bus.config.name + ": " + bus.device + " could not be opened: " +
                         (status == 4 ? cli::BaudProblem(line.baud) : cli::PortProblem(bus.port)));
            bus.keeper->CheckLost();  // tried again with backoff from now on
        }
        SetBusOnline(bus, status == 0);
    }
    PublishInfo();
}

void Bridge::EndJobs() {
    // A search is broken off; a read is let finish, so that the line is
    // left between requests.
    for (auto& owned : buses_) {
        Bus& bus = *owned;
        if (bus.job == Bus::Job::None) continue;
        Select(bus);
        const auto until = Clock::now() + 20s;
        if (bus.job == Bus::Job::Search) {
            control_.Call("SCRBreak");
            while (control_.Long("SCRStatus").value_or(0) != 0 && Clock::now() < until)
                std::this_thread::sleep_for(10ms);
        }
        while (bus.job != Bus::Job::Search && Clock::now() < until && !Step(bus, false))
            std::this_thread::sleep_for(10ms);
        bus.job = Bus::Job::None;
    }
}

void Bridge::CloseBuses() {
    EndJobs();
    for (auto& owned : buses_) {
        Select(*owned);
        control_.Call("COMClose");
    }
}

void Bridge::SetBusOnline(Bus& bus, bool online) {
    if (bus.online == online) return;
    bus.online = online;
    if (!online)
        for (Meter& m : bus.meters) SetMeterOnline(bus, m, false);
    PublishInfo();
}

void Bridge::SetMeterOnline(Bus&, Meter& meter, bool online) {
    if (meter.online == online) return;
    // A meter never read stays without availability until it answers.
    if (!online && !meter.online.has_value()) return;
    meter.online = online;
    link_->Publish(Topic(meter.config.name + "/availability"), online ? "online" : "offline", true);
    if (!online) Log::Warning(meter.config.name + " is offline");
}

void Bridge::PublishInfo() {
    if (!link_) return;
    std::string buses = "[";
    std::vector<std::string> meters;
    for (std::size_t i = 0; i < buses_.size(); ++i) {
        const Bus& b = *buses_[i];
        buses += (i ? "," : "") + std::string("{\"name\":") + cli::JsonString(b.config.name) +
                 ",\"device\":" + cli::JsonString(b.device) + ",\"online\":" + (b.online.value_or(false) ? "true" : "false") +
                 ",\"meters\":" + std::to_string(b.meters.size()) + "}";
        for (const Meter& m : b.meters) meters.push_back(m.config.name);
    }
    buses += "]";
    const std::string info = std::string("{\"version\":") + cli::JsonString(MBUS_VERSION) + ",\"buses\":" + buses +
                             ",\"meters\":" + JsonList(meters) + "}";
    if (info == lastInfo_) return;
    lastInfo_ = info;
    link_->Publish(Topic("bridge/info"), info, true);
}

void Bridge::StartNext(Bus& bus) {
    const auto now = Clock::now();
    if (bus.scanWanted) {
        Select(bus);
        Log::Info(bus.config.name + ": searching the bus by " +
                  (bus.config.scan == ScanMode::Primary ? "primary" : "secondary") + " address");
        // A search sends each probe as often and waits after a collision as
        // long as `mbusctl scan` does at the rate; reads get their own
        // repetitions back when it ends.
        const cli::ScanDefaults& d = cli::ScanDefaultsFor(bus.config.baud);
        control_.Put("COMRetries", d.tries);
        control_.Put("SCRSlaveSearchDelay", d.searchDelay);
        cli::StartSearch(control_, bus.config.scan == ScanMode::Primary);
        bus.job = Bus::Job::Search;
        bus.scanWanted = false;
        return;
    }
    if (bus.config.scan != ScanMode::None && bus.config.rescanHours > 0 && bus.nextScan != Clock::time_point{} &&
        now >= bus.nextScan) {
        bus.scanWanted = true;
        return StartNext(bus);
    }
    // The meter due longest.
    std::size_t best = bus.meters.size();
    for (std::size_t i = 0; i < bus.meters.size(); ++i)
        if (bus.meters[i].due <= now && (best == bus.meters.size() || bus.meters[i].due < bus.meters[best].due))
            best = i;
    if (best == bus.meters.size()) return;
    Select(bus);
    bus.reading = best;
    bus.read.emplace(bus.meters[best].config.address);
    Log::Debug(bus.config.name + ": reading " + bus.meters[best].config.name);
    // Single transactions rather than a script: the engine sees each one
    // end within its own look (2 ms) instead of the script step's 100 ms.
    bus.read->Begin(control_);
    bus.job = Bus::Job::Read;
}

void Bridge::FinishRead(Bus& bus) {
    Select(bus);
    LogFrames(control_, bus.config.name);
    Meter& meter = bus.meters[bus.reading];
    const cli::Readout got = bus.read->Collect(control_);
    bus.read->End(control_);
    bus.read.reset();
    bus.job = Bus::Job::Closing;
    // The rounds keep their pace; a meter that fell behind (a line that was
    // away, a long search) skips what it missed rather than being read
    // again at once.
    meter.due += meter.interval;
    if (meter.due <= Clock::now()) meter.due = Clock::now() + meter.interval;
    if (!got.problem.empty()) {
        if (bus.keeper->CheckLost()) {
            SetBusOnline(bus, false);
            // The meter is read again as soon as the line is back.
            meter.due = Clock::now();
            return;
        }
        ++meter.missed;
        Log::Warning(bus.config.name + ": " + got.problem);
        if (meter.missed >= config_.offlineAfter) SetMeterOnline(bus, meter, false);
        return;
    }
    meter.missed = 0;
    MeterReading reading;
    reading.name = meter.config.name;
    reading.address = meter.config.address;
    reading.bus = bus.config.name;
    reading.readAt = std::time(nullptr);
    for (const auto& t : got.telegrams) reading.telegrams.push_back(t.get());
    reading.fieldNames = meter.config.fields;
    SetMeterOnline(bus, meter, true);
    link_->Publish(Topic(meter.config.name + "/state"), StatePayload(reading), true);
    if (!config_.mqtt.discovery) return;
    std::map<std::string, std::string> now;
    for (DiscoveryMessage& m : DiscoveryMessages(reading, discovery_)) now[m.topic] = std::move(m.payload);
    for (const auto& [topic, payload] : now) {
        const auto old = meter.discovery.find(topic);
        if (old == meter.discovery.end() || old->second != payload) link_->Publish(topic, payload, true);
    }
    // A value the meter no longer sends loses its entity.
    for (const auto& [topic, payload] : meter.discovery)
        if (now.count(topic) == 0) link_->Publish(topic, "", true);
    const bool changed = meter.discovery.size() != now.size() ||
                         !std::equal(meter.discovery.begin(), meter.discovery.end(), now.begin(),
                                     [](const auto& a, const auto& b) { return a.first == b.first; });
    meter.discovery = std::move(now);
    if (changed) WritePublished();
}

void Bridge::FinishSearch(Bus& bus) {
    Select(bus);
    bus.job = Bus::Job::None;
    control_.Put("COMRetries", bus.config.retries + 1);
    if (bus.keeper->CheckLost()) {
        // What a search on a lost line did not find is not gone from the
        // bus: it runs again once the line is back.
        SetBusOnline(bus, false);
        bus.scanWanted = true;
        Log::Warning(bus.config.name + ": the line was lost during the search; it runs again when the line is back");
        return;
    }
    if (bus.config.rescanHours > 0) bus.nextScan = Clock::now() + std::chrono::hours(bus.config.rescanHours);
    const std::vector<cli::Slave> slaves = cli::SearchResult(control_);
    int added = 0;
    for (const cli::Slave& s : slaves) {
        const std::string secondary = s.SecondaryAddress(control_);
        const std::string address = bus.config.scan == ScanMode::Primary ? std::to_string(s.address) : secondary;
        bool known = false;
        for (const Meter& m : bus.meters)
            if (m.config.name == secondary || SameMeter(m.config.address, s.address, secondary)) known = true;
        if (known) continue;
        Meter m;
        m.config.address = address;
        m.config.name = secondary;
        m.found = true;
        m.interval = std::chrono::seconds(bus.config.interval);
        m.due = Clock::now();
        const auto was = unclaimed_.find(secondary);
        if (was != unclaimed_.end()) {
            for (const std::string& topic : was->second) m.discovery.emplace(topic, std::string());
            unclaimed_.erase(was);
        }
        bus.meters.push_back(std::move(m));
        ++added;
    }
    Log::Info(bus.config.name + ": " + std::to_string(slaves.size()) + (slaves.size() == 1 ? " meter" : " meters") +
              " found, " + std::to_string(added) + " new");
    PublishInfo();
}

bool Bridge::Step(Bus& bus, bool startNext) {
    if (bus.job != Bus::Job::None) Select(bus);
    if (bus.job == Bus::Job::Read && bus.read->Advance(control_)) FinishRead(bus);
    if (bus.job == Bus::Job::Search && control_.Long("SCRStatus").value_or(0) == 0) FinishSearch(bus);
    if (bus.job == Bus::Job::Closing && control_.Long("APPReceiveTest").value_or(4) != cli::kTransactionRunning)
        bus.job = Bus::Job::None;
    if (bus.job != Bus::Job::None) return false;
    if (!startNext) return true;
    const bool ready = bus.keeper->Ready();
    SetBusOnline(bus, ready);
    if (ready) StartNext(bus);
    return true;
}

void Bridge::TakeCommands() {
    std::deque<std::pair<std::string, std::string>> commands;
    {
        std::lock_guard<std::mutex> lock(commandsMutex_);
        commands.swap(commands_);
    }
    for (const auto& [what, payload] : commands) {
        if (what == "ha/status") {
            // Home Assistant started again: it wants the discovery configs.
            if (payload == "online") link_->Republish(config_.mqtt.discoveryPrefix + "/");
            continue;
        }
        bool matched = false;
        for (auto& bus : buses_) {
            if (what == "scan" && (payload == "all" || payload == bus->config.name)) {
                if (bus->config.scan == ScanMode::None) {
                    if (payload != "all") Log::Warning("command scan " + payload + ": the bus has scan = \"none\"");
                } else {
                    bus->scanWanted = true;
                }
                matched = true;
            }
            if (what == "read")
                for (Meter& m : bus->meters)
                    if (payload == "all" || payload == m.config.name) {
                        m.due = Clock::now();
                        matched = true;
                    }
        }
        if (!matched) Log::Warning("command " + what + " \"" + payload + "\": no such " + (what == "scan" ? "bus" : "meter"));
        else Log::Info("command " + what + " " + payload);
    }
}

void Bridge::RemoveMeterTopics(const Meter& meter) {
    for (const auto& [topic, payload] : meter.discovery) link_->Publish(topic, "", true);
    link_->Publish(Topic(meter.config.name + "/state"), "", true);
    link_->Publish(Topic(meter.config.name + "/availability"), "", true);
}

void Bridge::Reload() {
    ConfigError error;
    std::optional<BridgeConfig> fresh = LoadConfig(configFile_, &error);
    if (!fresh) {
        Log::Error("the new configuration is not taken, the old one stays: " + error.Text());
        return;
    }
    if (!(fresh->mqtt == config_.mqtt))
        Log::Warning("the [mqtt] settings changed; they take effect when mbus-bridge starts again");
    fresh->mqtt = config_.mqtt;
    CloseBuses();
    // Meters a search found stay known to their bus when it still searches.
    std::map<std::string, std::vector<Meter>> found;
    std::map<std::string, const Meter*> before;
    for (const auto& bus : buses_)
        for (const Meter& m : bus->meters) {
            before[m.config.name] = &m;
            if (m.found) found[bus->config.name + "\n" + bus->config.device].push_back(m);
        }
    std::vector<std::unique_ptr<Bus>> old = std::move(buses_);
    config_ = std::move(*fresh);
    OpenBuses();
    std::set<std::string> names;
    for (auto& bus : buses_) {
        const auto carried = found.find(bus->config.name + "\n" + bus->config.device);
        if (bus->config.scan != ScanMode::None && carried != found.end())
            for (Meter& m : carried->second) {
                m.due = Clock::now();
                bus->meters.push_back(m);
            }
        for (Meter& m : bus->meters) {
            names.insert(m.config.name);
            // What was published of a meter that stays is known, so that
            // only what changes is published again.
            const auto was = before.find(m.config.name);
            if (was != before.end()) {
                m.discovery = was->second->discovery;
                m.online = was->second->online;
            }
        }
    }
    for (const auto& [name, meter] : before)
        if (names.count(name) == 0) {
            Log::Info(name + " is no longer in the configuration; its topics and entities are removed");
            RemoveMeterTopics(*meter);
        }
    lastInfo_.clear();
    PublishInfo();
    WritePublished();
    Log::Info("configuration " + configFile_ + " read again");
}

int Bridge::Run(Signals& signals) {
    const std::string base = config_.mqtt.baseTopic;
    const std::string commandPrefix = base + "/command/";
    const std::string status = config_.mqtt.discoveryPrefix + "/status";
    std::vector<std::string> subscriptions = {commandPrefix + "+"};
    if (config_.mqtt.discovery) subscriptions.push_back(status);
    link_ = std::make_unique<MqttLink>(
        config_.mqtt, Topic("bridge/availability"), subscriptions,
        [this, commandPrefix, status](const std::string& topic, const std::string& payload) {
            if (topic == status) Command("ha/status", payload);  // no command topic has two levels
            else if (topic.compare(0, commandPrefix.size(), commandPrefix) == 0)
                Command(topic.substr(commandPrefix.size()), payload);
        });
    std::string problem;
    if (!link_->Start(&problem)) {
        Log::Error(problem);
        return 1;
    }
    unclaimed_ = ReadPublished();
    OpenBuses();
    ClaimPublished();
    std::uint64_t watchdogUsec = 0;
    const bool watchdog = sd_watchdog_enabled(0, &watchdogUsec) > 0 && watchdogUsec > 0;
    auto lastWatchdog = Clock::now();
    sd_notifyf(0, "READY=1\nSTATUS=polling %zu bus(es)", buses_.size());
    Log::Info("mbus-bridge " MBUS_VERSION " started: " + std::to_string(buses_.size()) +
              (buses_.size() == 1 ? " bus" : " buses") + ", broker " + config_.mqtt.host + ":" +
              std::to_string(config_.mqtt.port));
    while (!signals.stop.load()) {
        if (signals.reload.exchange(false)) {
            sd_notify(0, "RELOADING=1");
            Reload();
            sd_notify(0, "READY=1");
        }
        TakeCommands();
        bool busy = false;
        for (auto& bus : buses_) {
            Step(*bus);
            busy = busy || bus->job != Bus::Job::None;
        }
        if (watchdog && Clock::now() - lastWatchdog >= std::chrono::microseconds(watchdogUsec / 2)) {
            sd_notify(0, "WATCHDOG=1");
            lastWatchdog = Clock::now();
        }
        // A running script is looked at often, so that its readout goes
        // out soon after the answer; an idle bridge wakes seldom.
        std::this_thread::sleep_for(busy ? 2ms : 100ms);
    }
    sd_notify(0, "STOPPING=1");
    Log::Info("stopping");
    CloseBuses();
    link_->Stop();
    return 0;
}

}  // namespace mbus::bridge
