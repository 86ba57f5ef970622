// The bridge's engine polling paced simulated buses as fast as they go, in
// this process, with a mosquitto broker of its own and a subscriber that
// notes when each state message arrives.
//
// Throughput: four buses of the demo bus's ten meters (sim/demo/meters.txt)
// at 2400 baud, every meter with an interval of 1 s, so that each bus reads
// one meter after the other without a pause. Readings per minute per bus
// (from the state messages the subscriber got) beside what the line
// timeline allows (bench/line_timeline.h, from the frames that went over
// each line: per meter the SND_NKE with its E5h and each REQ_UD2 with its
// RSP_UD). The same with one bus alone, and the ratio of the two totals.
// A third column gives what the same reads would take as scripts of the
// control, whose step looks at a running transaction every 100 ms, so that
// each transaction takes a whole number of periods: the engine reads by
// single transactions instead, which it looks at every 2 ms.
//
// Latency: from the last byte of a meter's last RSP_UD on the simulated
// line (the arrival time the simulated line gives that byte) to the state
// message of that read arriving at the subscriber: median and 90th
// percentile over every reading in the measured window.
//
//   bridge_poll_bench [--seconds N] [--warmup N] [--baud N] [--buses N]
//                     [--retained N] [--byte-timeout]
//     --seconds  the measured window of each run (default 50)
//     --warmup   seconds polled before the window opens (default 5)
//     --baud     the buses' rate (default 2400)
//     --buses    buses of the first run, 1..4 (default 4)
//     --retained retained messages of the broker's load (default 20000)
//     --byte-timeout  the buses wait the byte timeout after every answer
//                (end_at_frame = false) instead of ending it with the
//                frame's last byte (the default)
//
// Broker: that many retained state-sized messages on topics of their own
// through the link as fast as it goes, the broker's memory before and
// after, and how long a subscriber that comes later takes to get them.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/line_timeline.h"
#include "bench/mqtt_bench.h"
#include "control/com/control_object.h"
#include "control/com/identifiers.h"
#include "control/engine/connection.h"
#include "platform/com/types.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tools/mbus-bridge/bridge.h"
#include "tools/mbus-bridge/mqtt_link.h"

namespace {

using namespace mbus;
using bench::Clock;
using bench::Exchange;
using bench::Ms;
using namespace std::chrono_literals;

struct Options {
    int seconds = 50;
    int warmup = 5;
    int baud = 2400;
    int buses = 4;
    int retained = 20000;
    bool endAtFrame = true;
};

// The line rules of the bridge's buses at a rate.
bench::LineRules BusRules(int baud, bool endAtFrame) {
    const engine::ConnectionParameters p;
    bench::LineRules rules = bench::RulesFor(baud, p.TA, p.TO, p.TB, p.DT, p.fifo);
    rules.endAtFrame = endAtFrame;
    return rules;
}

cli::ControlClient NewControl() {
    void* raw = nullptr;
    if (control::GetClassObject(control::CLSID_MBusOrlX4, com::IID_IClassFactory, &raw) != 0) return cli::ControlClient({});
    auto factory = com::ComPtr<com::IClassFactory>::Adopt(raw);
    if (factory->CreateInstance(nullptr, com::IID_IDispatch, &raw) != 0) return cli::ControlClient({});
    return cli::ControlClient(com::ComPtr<com::IDispatch>::Adopt(raw));
}

bool IsSndNke(const std::vector<uint8_t>& f) { return f.size() == 5 && f[0] == 0x10 && (f[1] & 0x4F) == 0x40; }
bool IsReqUd2(const std::vector<uint8_t>& f) { return f.size() == 5 && f[0] == 0x10 && (f[1] & 0x4F) == 0x4B; }

// The time of one meter's read by the line rules, and with each
// transaction (a frame and its repetitions until a valid answer) rounded up
// to the script step's period.
struct ReadTime {
    Clock::time_point start;
    int address = 0;
    double line = 0;
    double stepped = 0;
};

std::vector<ReadTime> ReadsOf(const std::vector<Exchange>& ex, const bench::LineRules& rules) {
    std::vector<ReadTime> reads;
    std::size_t i = 0;
    while (i < ex.size()) {
        if (!IsSndNke(ex[i].frame)) {
            ++i;
            continue;
        }
        ReadTime r;
        r.start = ex[i].sent;
        r.address = ex[i].frame[2];
        do {
            const std::vector<uint8_t>& frame = ex[i].frame;
            double transaction = 0;
            bool valid = false;
            while (i < ex.size() && ex[i].frame == frame && !valid) {
                transaction += bench::TimeOf(ex[i], rules).ms;
                valid = ex[i].answerBytes > 0 && !ex[i].garbled;
                ++i;
            }
            r.line += transaction;
            r.stepped += bench::Stepped(transaction);
        } while (i < ex.size() && !IsSndNke(ex[i].frame));
        reads.push_back(r);
    }
    return reads;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[k];
}

struct BusFigures {
    double perMinute = 0;  // measured
    double linePerMinute = 0;
    double steppedPerMinute = 0;
    double lineMsPerRead = 0;
    std::size_t readings = 0;
};

struct RunFigures {
    std::vector<BusFigures> buses;
    std::vector<Exchange> firstBus;  // what went over bus 1's line
    std::vector<double> latencies;  // ms
    double total = 0;
    bool ok = false;
};

RunFigures Run(int busCount, const Options& o, int brokerPort, const std::vector<sim::VirtualSlave>& slaves,
               int runNumber) {
    RunFigures figures;
    const std::string base = "bench/run" + std::to_string(runNumber);
    bench::Subscriber subscriber(brokerPort, base + "/+/state");
    if (!subscriber.Ready()) {
        std::printf("  the subscriber could not subscribe at the broker\n");
        return figures;
    }

    // The buses, each behind a tracing wrapper, reached as "sim:NAME".
    std::vector<std::shared_ptr<bench::TracingBus>> traces;
    std::vector<std::string> names;
    bridge::BridgeConfig config;
    config.mqtt.host = "127.0.0.1";
    config.mqtt.port = brokerPort;
    config.mqtt.clientId = "bridge-poll-bench-" + std::to_string(runNumber);
    config.mqtt.baseTopic = base;
    config.mqtt.discoveryPrefix = base + "/ha";
    for (int b = 0; b < busCount; ++b) {
        auto bus = std::make_shared<sim::SimBus>();
        bus->SetDefaultBaud(o.baud);
        bus->SetPaced(true);
        for (const sim::VirtualSlave& s : slaves) bus->AddSlave(s);
        traces.push_back(std::make_shared<bench::TracingBus>(bus));
        names.push_back("bridge-poll-bench-" + std::to_string(runNumber) + "-" + std::to_string(b + 1));
        serial::RegisterSimulatedBus(names.back(), traces.back());
        bridge::BusConfig bc;
        bc.name = "bus" + std::to_string(b + 1);
        bc.device = "sim:" + names.back();
        bc.baud = o.baud;
        bc.endAtFrame = o.endAtFrame;
        bc.interval = 1;
        for (const sim::VirtualSlave& s : slaves) {
            bridge::MeterConfig m;
            m.address = std::to_string(s.values.primaryAddress);
            m.name = "b" + std::to_string(b + 1) + "-" + m.address;
            bc.meters.push_back(m);
        }
        config.buses.push_back(bc);
    }
    const auto portMap = std::filesystem::temp_directory_path() /
                         ("bridge-poll-bench-ports-" + std::to_string(::getpid()) + "-" + std::to_string(runNumber));
    ::setenv("MBUS_PORT_MAP", portMap.c_str(), 1);

    cli::ControlClient control = NewControl();
    {
        bridge::Bridge engine(control, config, "(bridge_poll_bench)", portMap.string(), {});
        bridge::Signals signals;
        std::thread thread([&] { engine.Run(signals); });
        const Clock::time_point open = Clock::now() + std::chrono::seconds(o.warmup);
        const Clock::time_point close = open + std::chrono::seconds(o.seconds);
        std::this_thread::sleep_until(close);
        signals.stop.store(true);
        thread.join();

        const std::vector<bench::Received> messages = subscriber.Messages();
        const bench::LineRules rules = BusRules(o.baud, o.endAtFrame);
        figures.ok = true;
        for (int b = 0; b < busCount; ++b) {
            const std::vector<Exchange> ex = traces[b]->Take();
            if (b == 0) figures.firstBus = ex;
            const std::string prefix = base + "/b" + std::to_string(b + 1) + "-";
            // State messages of this bus in the window, in order.
            std::vector<const bench::Received*> mine;
            for (const bench::Received& m : messages)
                if (m.topic.compare(0, prefix.size(), prefix) == 0 && m.at >= open && m.at <= close) mine.push_back(&m);
            BusFigures f;
            f.readings = mine.size();
            if (mine.size() >= 2)
                f.perMinute = 60000.0 * static_cast<double>(mine.size() - 1) / Ms(mine.back()->at - mine.front()->at);
            // The reads that started in the window, by the line rules.
            double line = 0, stepped = 0;
            int reads = 0;
            for (const ReadTime& r : ReadsOf(ex, rules))
                if (r.start >= open && r.start <= close) {
                    line += r.line;
                    stepped += r.stepped;
                    ++reads;
                }
            if (reads > 0) {
                f.lineMsPerRead = line / reads;
                f.linePerMinute = 60000.0 * reads / line;
                f.steppedPerMinute = 60000.0 * reads / stepped;
            }
            // Latency: each state message against the last RSP_UD of its
            // meter that had ended before it came.
            for (const bench::Received* m : mine) {
                const std::size_t slash = m->topic.rfind('/');
                const int address = std::atoi(m->topic.substr(prefix.size(), slash - prefix.size()).c_str());
                const Exchange* answer = nullptr;
                for (const Exchange& e : ex)
                    if (IsReqUd2(e.frame) && e.frame[2] == address && e.answerBytes > 1 && e.answerEnd <= m->at)
                        answer = &e;
                if (answer != nullptr) figures.latencies.push_back(Ms(m->at - answer->answerEnd));
            }
            figures.total += f.perMinute;
            figures.ok = figures.ok && f.readings >= 2;
            figures.buses.push_back(f);
        }
    }
    for (const std::string& n : names) serial::UnregisterSimulatedBus(n);
    std::error_code ec;
    std::filesystem::remove(portMap, ec);
    return figures;
}

// The MQTT part alone: the link publishes state-sized retained messages
// every 5 ms; from each Publish call to the subscriber's receipt (ms).
std::vector<double> LinkLatencies(int brokerPort, int count) {
    std::vector<double> latencies;
    const std::string base = "bench/link";
    bench::Subscriber subscriber(brokerPort, base + "/+/state");
    if (!subscriber.Ready()) return latencies;
    bridge::MqttConfig config;
    config.host = "127.0.0.1";
    config.port = brokerPort;
    config.clientId = "bridge-poll-bench-link";
    config.baseTopic = base;
    bridge::MqttLink link(config, base + "/bridge/availability", {}, [](const std::string&, const std::string&) {});
    std::string problem;
    if (!link.Start(&problem)) return latencies;
    const Clock::time_point until = Clock::now() + 10s;
    while (!link.Connected() && Clock::now() < until) std::this_thread::sleep_for(10ms);
    const std::string payload(600, 'x');  // about a heat meter's state payload
    std::map<std::string, Clock::time_point> sent;
    for (int i = 0; i < count; ++i) {
        const std::string topic = base + "/m" + std::to_string(i) + "/state";
        sent[topic] = Clock::now();
        link.Publish(topic, payload, true);
        std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(1s);
    link.Stop();
    for (const bench::Received& m : subscriber.Messages()) {
        const auto at = sent.find(m.topic);
        if (at != sent.end()) latencies.push_back(Ms(m.at - at->second));
    }
    return latencies;
}

// The broker's side of a large site: `count` retained state-sized
// messages on topics of their own, published through the link as fast as
// it goes, until the subscriber has them all; the broker's resident memory
// before and after; and how long a subscriber that comes later (Home
// Assistant starting again) takes to get them all.
void BrokerLoad(const bench::Broker& broker, int count) {
    auto rss = [&] {
        std::ifstream in("/proc/" + std::to_string(broker.Pid()) + "/status");
        for (std::string line; std::getline(in, line);)
            if (line.compare(0, 6, "VmRSS:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
        return 0.0;
    };
    const std::string base = "bench/burst";
    const double before = rss();
    bench::Subscriber live(broker.Port(), base + "/+/state");
    if (!live.Ready()) return;
    bridge::MqttConfig config;
    config.host = "127.0.0.1";
    config.port = broker.Port();
    config.clientId = "bridge-poll-bench-burst";
    config.baseTopic = base;
    bridge::MqttLink link(config, base + "/bridge/availability", {}, [](const std::string&, const std::string&) {});
    std::string problem;
    if (!link.Start(&problem)) return;
    const Clock::time_point connecting = Clock::now() + 10s;
    while (!link.Connected() && Clock::now() < connecting) std::this_thread::sleep_for(10ms);
    const std::string payload(600, 'x');
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) link.Publish(base + "/m" + std::to_string(i) + "/state", payload, true);
    const std::size_t got = live.WaitFor(static_cast<std::size_t>(count), 120s);
    const double sending = Ms(Clock::now() - start) / 1000.0;
    const double after = rss();
    // Subscribers that come afterwards, at QoS 0 and at QoS 1: the broker
    // sends them every retained message at once.
    double catching[2] = {0, 0};
    std::size_t retained[2] = {0, 0};
    for (int qos = 0; qos <= 1; ++qos) {
        const Clock::time_point late = Clock::now();
        bench::Subscriber later(broker.Port(), base + "/+/state", qos);
        retained[qos] = later.Ready() ? later.WaitFor(static_cast<std::size_t>(count), 120s) : 0;
        catching[qos] = Ms(Clock::now() - late) / 1000.0;
    }
    link.Stop();
    std::printf("\nbroker: %zu of %d retained messages of %zu bytes published through the link and delivered in "
                "%.2f s (%.0f messages/s, link, broker and subscriber on this host); the broker's RSS %.1f -> %.1f "
                "MiB (%.0f bytes a retained message)\n",
                got, count, payload.size(), sending, sending > 0 ? static_cast<double>(got) / sending : 0.0, before,
                after, count > 0 ? (after - before) * 1024 * 1024 / count : 0.0);
    for (int qos = 0; qos <= 1; ++qos)
        std::printf("  a subscriber that came afterwards at QoS %d got %zu of the %d retained messages in %.2f s%s\n",
                    qos, retained[qos], count, catching[qos],
                    retained[qos] < static_cast<std::size_t>(count) ? " (then nothing more for 3 s)" : "");
}

// Per meter: the measured time of its reads (from its SND_NKE to the next
// read's) beside the line timeline and the stepped model at the measured
// rate; then what the same frames take by both models at every rate, and
// so how many meters one bus reads a minute.
void Capacity(const std::vector<Exchange>& ex, int baud, bool endAtFrame) {
    auto rulesAt = [&](int b) { return BusRules(b, endAtFrame); };
    const std::vector<ReadTime> reads = ReadsOf(ex, rulesAt(baud));
    std::map<int, std::vector<double>> measured;
    std::map<int, std::pair<double, double>> model;  // line, stepped
    for (std::size_t i = 0; i + 1 < reads.size(); ++i) {
        measured[reads[i].address].push_back(Ms(reads[i + 1].start - reads[i].start));
        model[reads[i].address] = {reads[i].line, reads[i].stepped};
    }
    std::printf("\nper meter at %d baud (bus 1 of the one-bus run): address, measured ms a read (median), "
                "line timeline, as a script with 100 ms steps\n", baud);
    for (const auto& [address, times] : measured)
        std::printf("  %3d %8.1f %8.1f %8.1f\n", address, Percentile(times, 0.5), model[address].first,
                    model[address].second);
    // One round of these frames, each meter once.
    std::vector<Exchange> round;
    std::map<int, bool> seen;
    for (std::size_t i = 0; i < ex.size(); ++i) {
        if (!IsSndNke(ex[i].frame)) continue;
        if (seen[ex[i].frame[2]]) break;
        seen[ex[i].frame[2]] = true;
        for (std::size_t j = i; j < ex.size() && (j == i || !IsSndNke(ex[j].frame)); ++j) round.push_back(ex[j]);
    }
    // Each meter's read by the line timeline at every rate (what the
    // engine's single transactions follow), and the round of all of them by
    // both models.
    const int rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
    std::map<int, std::vector<double>> byMeter;
    std::vector<std::pair<double, double>> rounds;
    for (int b : rates) {
        double line = 0, stepped = 0;
        for (const ReadTime& r : ReadsOf(round, rulesAt(b))) {
            line += r.line;
            stepped += r.stepped;
            byMeter[r.address].push_back(r.line);
        }
        rounds.push_back({line, stepped});
    }
    std::printf("each meter's read by the line timeline (ms), and the round of the %zu meters by both models, at "
                "each rate:\n  %-10s",
                seen.size(), "baud");
    for (int b : rates) std::printf(" %7d", b);
    for (const auto& [address, times] : byMeter) {
        std::printf("\n  meter %-4d", address);
        for (double t : times) std::printf(" %7.0f", t);
    }
    const double meters = static_cast<double>(seen.size());
    std::printf("\n  %-10s", "round line");
    for (const auto& r : rounds) std::printf(" %7.0f", r.first);
    std::printf("\n  %-10s", "as script");
    for (const auto& r : rounds) std::printf(" %7.0f", r.second);
    std::printf("\n  %-10s", "meters/min");
    for (const auto& r : rounds) std::printf(" %7.1f", 60000.0 * meters / r.second);
    std::printf("   (as scripts with 100 ms steps)\n  %-10s", "line/min");
    for (const auto& r : rounds) std::printf(" %7.1f", 60000.0 * meters / r.first);
    std::printf("   (by the line alone: what the engine's single transactions follow)\n");
}

void Print(const char* title, const RunFigures& r) {
    std::printf("\n%s\n", title);
    std::printf("  %-6s %9s %14s %16s %9s %13s %12s\n", "bus", "readings", "per minute", "line timeline", "of line",
                "as scripts", "ms per read");
    for (std::size_t b = 0; b < r.buses.size(); ++b) {
        const BusFigures& f = r.buses[b];
        std::printf("  bus%-3zu %9zu %14.1f %16.1f %8.1f%% %13.1f %12.1f\n", b + 1, f.readings, f.perMinute,
                    f.linePerMinute, f.linePerMinute > 0 ? 100.0 * f.perMinute / f.linePerMinute : 0.0,
                    f.steppedPerMinute, f.perMinute > 0 ? 60000.0 / f.perMinute : 0.0);
    }
    std::printf("  all    %9s %14.1f readings a minute\n", "", r.total);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--byte-timeout") {
            o.endAtFrame = false;
            continue;
        }
        int* into = a == "--seconds" ? &o.seconds : a == "--warmup" ? &o.warmup : a == "--baud" ? &o.baud
                  : a == "--buses" ? &o.buses : a == "--retained" ? &o.retained : nullptr;
        if (into == nullptr || i + 1 >= argc || std::atoi(argv[i + 1]) <= 0) {
            std::fprintf(stderr,
                         "bridge_poll_bench: \"%s\" is not understood; options: --seconds N (window, default 50), "
                         "--warmup N (default 5), --baud N (default 2400), --buses 1..4 (default 4), --retained N "
                         "(default 20000), --byte-timeout\n",
                         a.c_str());
            return 2;
        }
        *into = std::atoi(argv[++i]);
    }
    o.buses = std::clamp(o.buses, 1, bridge::kMaxBuses);

    std::vector<std::string> errors;
    const std::string demo = std::string(MBUS_SOURCE_DIR) + "/sim/demo/meters.txt";
    const std::vector<sim::VirtualSlave> slaves = sim::ReadBusDescriptionFile(demo, errors);
    if (slaves.empty()) {
        std::fprintf(stderr, "bridge_poll_bench: %s: %s\n", demo.c_str(),
                     errors.empty() ? "no meters" : errors.front().c_str());
        return 1;
    }
    bench::Broker broker;
    if (broker.Port() == 0) {
        std::fprintf(stderr, "bridge_poll_bench: %s\n", broker.Problem().c_str());
        return 1;
    }
    std::printf("bridge_poll_bench: the engine in-process, %zu meters a bus (%s) at %d baud, interval 1 s, "
                "broker mosquitto on 127.0.0.1:%d; %d s warm-up, %d s measured per run\n",
                slaves.size(), demo.c_str(), o.baud, broker.Port(), o.warmup, o.seconds);

    const RunFigures all = Run(o.buses, o, broker.Port(), slaves, 1);
    const RunFigures one = Run(1, o, broker.Port(), slaves, 2);
    char title[64];
    std::snprintf(title, sizeof title, "%d bus(es) together:", o.buses);
    Print(title, all);
    Print("1 bus alone:", one);
    Capacity(one.firstBus, o.baud, o.endAtFrame);
    if (!all.ok || !one.ok) {
        std::printf("\nFAILED: a bus published fewer than two readings in the window\n");
        return 1;
    }

    double worst = 100;
    for (const BusFigures& f : all.buses) worst = std::min(worst, 100.0 * f.perMinute / f.linePerMinute);
    for (const BusFigures& f : one.buses) worst = std::min(worst, 100.0 * f.perMinute / f.linePerMinute);
    std::printf("\nthroughput: the slowest bus reaches %.1f%% of its line timeline (goal: at least 95%%)\n", worst);
    std::printf("scaling: %d buses read %.1f, one bus %.1f readings a minute: %.2f times (goal: close to %d)\n",
                o.buses, all.total, one.total, one.total > 0 ? all.total / one.total : 0.0, o.buses);
    std::printf("latency, last answer byte to state message at the subscriber (%zu readings with %d bus(es)): "
                "median %.1f ms, 90th percentile %.1f ms, most %.1f ms (goal: under 20 ms)\n",
                all.latencies.size(), o.buses, Percentile(all.latencies, 0.5), Percentile(all.latencies, 0.9),
                Percentile(all.latencies, 1.0));
    std::printf("latency with one bus (%zu readings): median %.1f ms, 90th percentile %.1f ms\n", one.latencies.size(),
                Percentile(one.latencies, 0.5), Percentile(one.latencies, 0.9));
    // Where the latency goes: the line rules' wait after the last byte
    // (with --byte-timeout the reception ends only when no byte came for
    // the byte timeout; by default it ends with the frame's last byte), the
    // rest, and the MQTT part measured on its own.
    const int lineWait = o.endAtFrame ? 0 : BusRules(o.baud, false).t.byteTimeout;
    const std::vector<double> link = LinkLatencies(broker.Port(), 200);
    std::printf("  of which: the line's wait after the last byte %d ms (%s), then the engine and the "
                "broker: median %.1f ms beyond it, of that the MQTT part (Publish to subscriber) median %.2f ms, "
                "90th percentile %.2f ms (%zu messages)\n",
                lineWait, o.endAtFrame ? "the answer ends with its frame" : "the byte timeout",
                Percentile(all.latencies, 0.5) - lineWait, Percentile(link, 0.5), Percentile(link, 0.9), link.size());
    BrokerLoad(broker, o.retained);
    return 0;
}
