// A soak of whole readouts through the programs: mbus-sim serves one-, two-
// and three-telegram meters on a pseudo-terminal, harming a seeded share of
// its answers, and separate mbusctl processes read them as JSON. Every
// readout is compared with what the simulated meters hold: the values of all
// records in order, the identification number, "complete", and an access
// number that advanced since the meter's last readout (a repeated old
// answer carries the old one). Each readout ends up in one of three counts:
// correct, failed and reported as failed (no JSON line for it, a message
// naming it on standard error, exit code 1), or a false success (anything
// printed that is not the whole, fresh readout, or exit code 0 without it).

#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scratch.h"
#include "tests/tools/child_process.h"

namespace mbus::testsupport {

// A meter of the soak bus: its description for mbus-sim and the raw value
// texts of its records, in the order the telegrams carry them.
struct SoakMeter {
    int primary;
    const char* id;
    const char* description;
    std::vector<std::string> values;
};

inline const std::vector<SoakMeter>& SoakMeters() {
    static const std::vector<SoakMeter> meters = {
        {1, "11110001", "primary=1 id=11110001 man=QXA medium=07 records=0C1378563412", {"12345678"}},
        {2, "22220002", "primary=2 id=22220002 man=QXB medium=04 records=0C0622330000 records=0C1344550000",
         {"00003322", "00005544"}},
        {3, "12349999",
         "primary=3 id=12349999 man=QXB medium=04 records=0C0611470000 records=0C1389670000 records=0A5A5505",
         {"00004711", "00006789", "055500"}},
    };
    return meters;
}

struct ReadoutSoakSettings {
    int processes = 10;        // mbusctl runs; each reads every meter once
    double probability = 0.2;  // share of harmed answers (0: none)
    uint32_t seed = 1;
    std::vector<std::string> addresses;  // what each run reads; empty: the primary addresses
};

struct ReadoutSoakFigures {
    int readouts = 0, correct = 0, failedAsFailed = 0, falseSuccess = 0;
    std::string firstProblem;  // the first false success
    std::string firstFailure;  // the first failure's messages
    bool simulatorStarted = false;
};

namespace soak_detail {

// The program at `built`, or the one $NAME names (a long soak runs copies,
// so that a rebuild meanwhile does not pull the programs from under it).
inline std::string Program(const char* name, const char* built) {
    const char* given = std::getenv(name);
    return given != nullptr && *given != '\0' ? given : built;
}

// The text of "key":"..." or "key":number after `from`, empty when absent.
inline std::string JsonField(const std::string& line, const std::string& key, std::size_t from = 0) {
    const std::string k = "\"" + key + "\":";
    const std::size_t at = line.find(k, from);
    if (at == std::string::npos) return {};
    std::size_t b = at + k.size();
    if (b < line.size() && line[b] == '"') {
        const std::size_t e = line.find('"', b + 1);
        return e == std::string::npos ? std::string() : line.substr(b + 1, e - b - 1);
    }
    std::size_t e = b;
    while (e < line.size() && line[e] != ',' && line[e] != '}') ++e;
    return line.substr(b, e - b);
}

// The non-empty raw "value" texts of the records, in order.
inline std::vector<std::string> RecordValues(const std::string& line) {
    std::vector<std::string> values;
    const std::size_t records = line.find("\"records\":[");
    for (std::size_t at = line.find("\"value\":\"", records); records != std::string::npos && at != std::string::npos;
         at = line.find("\"value\":\"", at + 1)) {
        const std::size_t e = line.find('"', at + 9);
        if (e == std::string::npos) break;
        if (e > at + 9) values.push_back(line.substr(at + 9, e - at - 9));
    }
    return values;
}

}  // namespace soak_detail

// Runs the soak; `progress` (may be null) gets a line every 50 runs.
inline ReadoutSoakFigures RunReadoutSoak(const ReadoutSoakSettings& s, std::FILE* progress = nullptr) {
    using cli::test::ChildProcess;
    ReadoutSoakFigures f;
    ScratchDirectory scratch;
    std::vector<std::string> simArgs = {"--unpaced"};
    for (const SoakMeter& m : SoakMeters()) {
        simArgs.push_back("--slave");
        simArgs.push_back(m.description);
    }
    if (s.probability > 0) {
        char faults[64];
        std::snprintf(faults, sizeof faults, "%.3f:%u", s.probability, s.seed);
        simArgs.push_back("--random-faults");
        simArgs.push_back(faults);
    }
    ChildProcess sim(soak_detail::Program("MBUS_SOAK_SIM", MBUS_SIM_PATH), simArgs);
    if (!scratch.Ok() || !sim.WaitForOutput("\n")) return f;
    f.simulatorStarted = true;
    scratch.WriteFile("ports", "1 = " + sim.Output().substr(0, sim.Output().find('\n')) + "\n");

    std::vector<std::string> addresses = s.addresses;
    if (addresses.empty())
        for (const SoakMeter& m : SoakMeters()) addresses.push_back(std::to_string(m.primary));
    auto meterOf = [&](const std::string& address) -> const SoakMeter* {
        for (const SoakMeter& m : SoakMeters())
            if (address == std::to_string(m.primary) || address.compare(0, 8, m.id) == 0) return &m;
        return nullptr;
    };
    std::map<std::string, int> lastAccess;  // by identification number
    auto problem = [&](const std::string& what) {
        ++f.falseSuccess;
        if (f.firstProblem.empty()) f.firstProblem = what;
    };

    for (int run = 0; run < s.processes; ++run) {
        std::vector<std::string> args = {"read", "--port", "1", "--retries", "2", "--format", "json"};
        args.insert(args.end(), addresses.begin(), addresses.end());
        ChildProcess read(soak_detail::Program("MBUS_SOAK_MBUSCTL", MBUSCTL_PATH), args,
                          {"MBUS_PORT_MAP=" + scratch.File("ports"), "MBUS_REGISTRY=" + scratch.File("registry"),
                           "MBUS_CONTROL_LIBRARY=" +
                               soak_detail::Program("MBUS_SOAK_CONTROL_LIBRARY", MBUS_CONTROL_LIBRARY_PATH)});
        const int rc = read.Wait(std::chrono::seconds(120));
        const std::string context = "run " + std::to_string(run + 1) + " (exit " + std::to_string(rc) + ")";
        // The readouts printed, by the address they were asked for.
        std::map<std::string, std::string> printed;
        std::size_t at = 0;
        for (std::size_t nl; (nl = read.Output().find('\n', at)) != std::string::npos; at = nl + 1) {
            const std::string line = read.Output().substr(at, nl - at);
            printed[soak_detail::JsonField(line, "address")] = line;
        }
        bool allCorrect = true;
        for (const std::string& a : addresses) {
            ++f.readouts;
            const SoakMeter* m = meterOf(a);
            const auto it = printed.find(a);
            if (it == printed.end()) {
                allCorrect = false;
                // Reported: a message on standard error that names the meter.
                if (read.Errors().find(a) != std::string::npos || read.Errors().find(m->id) != std::string::npos) {
                    ++f.failedAsFailed;
                    if (f.firstFailure.empty()) f.firstFailure = context + ": " + read.Errors();
                } else
                    problem(context + ": " + a + " neither printed nor reported: " + read.Errors());
                continue;
            }
            const std::string& line = it->second;
            const std::string access = soak_detail::JsonField(line, "accessNumber");
            const std::vector<std::string> values = soak_detail::RecordValues(line);
            std::string wrong;
            if (soak_detail::JsonField(line, "identNumber") != m->id) wrong = "another meter's readout";
            else if (soak_detail::JsonField(line, "complete") != "true") wrong = "not complete";
            else if (values != m->values) wrong = "values differ from the meter's";
            else if (access.empty()) wrong = "no access number";
            else if (const auto last = lastAccess.find(m->id); last != lastAccess.end()) {
                const int advanced = (std::stoi(access) - last->second + 256) % 256;
                if (advanced < static_cast<int>(m->values.size()) || advanced > 200) wrong = "stale (access number)";
            }
            if (!wrong.empty()) {
                problem(context + ": " + a + ": " + wrong + ": " + line);
                allCorrect = false;
                continue;
            }
            lastAccess[m->id] = std::stoi(access);
            ++f.correct;
        }
        if ((rc == 0) != allCorrect) problem(context + ": exit code does not match the readouts: " + read.Errors());
        if (progress != nullptr && (run + 1) % 50 == 0)
            std::fprintf(progress, "  %d runs, %d readouts: %d correct, %d failed as failures, %d false successes\n",
                         run + 1, f.readouts, f.correct, f.failedAsFailed, f.falseSuccess);
    }
    return f;
}

}  // namespace mbus::testsupport
