// --simulate=KIND[:SLAVES] of `mbusctl session` and MERIDEX: the control
// created in this process from the library's code, with port 1 leading to
// a simulated device, so that modem calls, the data-logger protocols and
// the configuration program can be tried without hardware: a bus, a Hayes
// modem in front of it, or a house-central unit with the bus behind it.

#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::sim {

class HayesModem;
class SimBus;

struct SimulationOptions {
    std::string kind;       // bus, modem or house-central
    std::string slaves;     // a bus description file (mbus-sim --file)
    std::string offer;      // a file the house-central unit sends on a YMODEM download
    std::string uploadDir;  // where the house-central unit keeps uploaded files
    bool Any() const { return !kind.empty(); }
};

// Reads --simulate=KIND[:SLAVES], --offer=FILE, --upload-dir=DIR: 1 taken,
// 0 not one of them, -1 bad (after a message).
// `program` starts the messages ("mbusctl session", "MERIDEX").
int ReadSimulationOption(const std::string& word, SimulationOptions& o, std::ostream& err,
                         const std::string& program);

class SimulatedDevices {
public:
    // Sets up the devices and creates the control; null after a message.
    static std::unique_ptr<SimulatedDevices> Create(const SimulationOptions& o, com::ComPtr<com::IDispatch>* control,
                                                    std::ostream& err, const std::string& program);
    // The simulated bus behind the device, for tests that look at its slaves.
    std::shared_ptr<SimBus> Bus() const;
    // The simulated modem of --simulate=modem, else null.
    std::shared_ptr<HayesModem> Modem() const;
    // The files made for the simulation (the port map, in a directory of its
    // own under $TMPDIR), then that directory: removed by the destructor.
    std::vector<std::string> TemporaryFiles() const;
    ~SimulatedDevices();

private:
    SimulatedDevices() = default;
    struct State;
    std::unique_ptr<State> state_;
};

extern const char* const kSimulationUsage;

}  // namespace mbus::sim
