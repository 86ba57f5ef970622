// The Control module: inputs P1 and P2, relays R1 and R2 that follow either
// commands over the M-Bus or a logic function of the inputs.

#include <cstdio>

#include "sim/modules.h"

namespace mbus::sim {
namespace {

// The logic function of a valid code: operator 1 AND, 2 OR, 3 XOR in the
// low two bits, P1 inverted by 4, P2 inverted by 8.
bool Logic(int code, bool p1, bool p2) {
    if (code & 4) p1 = !p1;
    if (code & 8) p2 = !p2;
    switch (code & 3) {
        case 1: return p1 && p2;
        case 2: return p1 || p2;
        default: return p1 != p2;
    }
}

}  // namespace

bool ControlModule::LogicDriven(int code) { return code >= 1 && code <= 15 && (code & 3) != 0; }

void ControlModule::SetInput(int n, bool on) {
    inputs_[n == 2 ? 1 : 0] = on;
    Evaluate();
}

void ControlModule::SetConfiguration(int r, uint8_t configuration) {
    RelayAt(r).configuration = configuration;
    Evaluate();
}

void ControlModule::Command(int r, bool on) {
    Relay& relay = RelayAt(r);
    if (LogicDriven(LogicCode(relay.configuration))) return;  // it follows its inputs
    relay.commanded = on;
    Evaluate();
}

void ControlModule::PowerFail() {
    for (Relay& relay : relays_) {
        switch (PowerFailCode(relay.configuration)) {
            case 1: relay.commanded = true; break;
            case 2: relay.commanded = false; break;
            default: break;
        }
    }
    Evaluate();
}

void ControlModule::SetStuck(int r, std::optional<bool> state) {
    RelayAt(r).stuck = state;
    Evaluate();
}

void ControlModule::Evaluate() {
    for (Relay& relay : relays_) {
        const int code = LogicCode(relay.configuration);
        // A relay driven by logic: its commanded state mirrors what the logic
        // asks for, so the two readings agree unless the relay is stuck. Any
        // code that is no valid logic (4, 8, 12, 16 and above) leaves the
        // relay on the M-Bus, as the program shows such codes.
        if (LogicDriven(code)) relay.commanded = Logic(code, inputs_[0], inputs_[1]);
        relay.output = relay.stuck ? *relay.stuck : relay.commanded;
    }
}

void ControlModule::Write(const std::vector<DataRecord>& records, MBSlaveValues& values) {
    // Configurations first, so that a command in the same telegram meets the
    // relay as it is now configured. Values other than those named change nothing.
    std::optional<bool> commands[2];
    for (const DataRecord& r : records) {
        if (ApplyCommonRecord(r, values)) continue;
        for (uint32_t i = 0; i < 2; ++i) {
            if (r.Is(0x01, i, 1, {0xFD, 0x1A})) {
                if (r.value[0] <= 1) commands[i] = r.value[0] == 1;  // FF: unchanged
            } else if (r.Is(0x01, i, 2, {0xFD, 0x1A})) {
                if (r.value[0] != 0xFF) relays_[i].configuration = r.value[0];
            }
        }
    }
    Evaluate();
    for (int i = 0; i < 2; ++i)
        if (commands[i]) Command(i + 1, *commands[i]);
}

void ControlModule::BuildAnswer(MBSlaveValues& values, uint8_t* frame, int* length) {
    Evaluate();
    const Relay& r1 = relays_[0];
    const Relay& r2 = relays_[1];
    Bytes records;
    AppendRecord(records, {0x01, 0xFD, 0x1B}, inputs_[0], 1);
    AppendRecord(records, {0x01, 0xFD, 0x1A}, r1.output, 1);
    AppendRecord(records, {0x41, 0xFD, 0x1A}, r1.commanded, 1);
    // A 16-bit integer: as an 8-bit (signed) integer 204 would read -52.
    AppendRecord(records, {0x82, 0x01, 0xFD, 0x1A}, r1.configuration, 2);
    AppendRecord(records, {0x81, 0x40, 0xFD, 0x1B}, inputs_[1], 1);
    AppendRecord(records, {0x81, 0x40, 0xFD, 0x1A}, r2.output, 1);
    AppendRecord(records, {0xC1, 0x40, 0xFD, 0x1A}, r2.commanded, 1);
    AppendRecord(records, {0x82, 0x41, 0xFD, 0x1A}, r2.configuration, 2);
    values.SetUserData(records.data(), static_cast<int>(records.size()));
    values.PrepareRSPUD(0, 0, frame, length);
}

std::string ControlModule::Describe() const {
    char text[160];
    std::snprintf(text, sizeof text, "P1 %d P2 %d, R1 %d (configuration %u), R2 %d (configuration %u)", inputs_[0],
                  inputs_[1], relays_[0].output, relays_[0].configuration, relays_[1].output,
                  relays_[1].configuration);
    return text;
}

}  // namespace mbus::sim
