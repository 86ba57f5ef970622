// `mbusctl session --simulate=...`: the control created in this process,
// with port 1 leading to a simulated device, so that modem calls and the
// data-logger protocols can be tried without hardware: a bus, a Hayes modem
// in front of it, or a house-central unit with the bus behind it.

#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "platform/com/ptr.h"
#include "platform/com/types.h"

namespace mbus::cli {

struct SimulationOptions {
    std::string kind;       // bus, modem or house-central
    std::string slaves;     // a bus description file (mbus-sim --file)
    std::string offer;      // a file the house-central unit sends on a YMODEM download
    std::string uploadDir;  // where the house-central unit keeps uploaded files
    bool Any() const { return !kind.empty(); }
};

// Reads --simulate=KIND[:SLAVES], --offer=FILE, --upload-dir=DIR: 1 taken,
// 0 not one of them, -1 bad (after a message).
int ReadSimulationOption(const std::string& word, SimulationOptions& o, std::ostream& err);

class SimulatedDevices {
public:
    // Sets up the devices and creates the control; null after a message.
    static std::unique_ptr<SimulatedDevices> Create(const SimulationOptions& o, com::ComPtr<com::IDispatch>* control,
                                                    std::ostream& err);
    ~SimulatedDevices();

private:
    SimulatedDevices() = default;
    struct State;
    std::unique_ptr<State> state_;
};

extern const char* const kSimulationUsage;

}  // namespace mbus::cli
