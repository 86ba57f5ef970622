#include "configurator/devices/control_page.h"

#include <charconv>
#include <cstdio>

namespace mbus::meridex {
namespace {

// A record's value read as a decimal number (leading blanks skipped);
// 0 when it does not begin with one or does not fit an int.
int DecimalValue(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return error == std::errc() ? value : 0;
}

std::string_view ValueOf(const Readout& r, std::size_t n) {
    return n < r.records.size() ? std::string_view(r.records[n].value) : std::string_view();
}

// The record text with the relay states and configurations given as two
// hex digits each; "FF" leaves a value unchanged.
std::string RelayText(std::string_view r1State, std::string_view r1Configuration, std::string_view r2State,
                      std::string_view r2Configuration) {
    std::string text = "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A ";
    text += r1State;
    text += " 81 01 FD 1A ";
    text += r1Configuration;
    text += " C1 40 FD 1A ";
    text += r2State;
    text += " 81 41 FD 1A ";
    text += r2Configuration;
    return text;
}

RelayReadout ReadRelay(std::string_view first, std::string_view second, std::string_view configuration) {
    RelayReadout out;
    out.error = first != second;
    out.state = out.error ? std::string(kRelayErrorMarker) + std::string(first) : std::string(first);
    out.configuration = DecimalValue(configuration);
    // Codes without an entry (logic 16 and above, power fail outside 0..2)
    // show entry 0, as the code-to-entry tables give.
    out.logicEntry = LogicCodeToEntry(out.configuration % 100);
    out.powerFailEntry = PowerFailCodeToEntry(out.configuration / 100);
    return out;
}

}  // namespace

int LogicEntryToCode(int entry) {
    return entry >= 0 && entry < kLogicEntries ? kLogicCodes[static_cast<std::size_t>(entry)] : 0;
}

int PowerFailEntryToCode(int entry) {
    return entry >= 0 && entry < kPowerFailEntries ? kPowerFailCodes[static_cast<std::size_t>(entry)] : 0;
}

int LogicCodeToEntry(int code) {
    for (int e = 0; e < kLogicEntries; ++e)
        if (kLogicCodes[static_cast<std::size_t>(e)] == code) return e;
    return 0;
}

int PowerFailCodeToEntry(int code) {
    for (int e = 0; e < kPowerFailEntries; ++e)
        if (kPowerFailCodes[static_cast<std::size_t>(e)] == code) return e;
    return 0;
}

int ConfigurationByte(int logicEntry, int powerFailEntry) {
    return 100 * PowerFailEntryToCode(powerFailEntry) + LogicEntryToCode(logicEntry);
}

bool SetButtonsEnabled(int logicEntry) { return logicEntry == 0; }

std::string RelaySetText(int relay, int state) {
    const std::string_view value = state == 0 ? "00" : "01";
    return relay == 2 ? RelayText("FF", "FF", value, "FF") : RelayText(value, "FF", "FF", "FF");
}

std::string RelayWriteText(int relay, int logicEntry, int powerFailEntry) {
    char B[4];
    std::snprintf(B, sizeof B, "%02X", static_cast<unsigned>(ConfigurationByte(logicEntry, powerFailEntry)));
    return relay == 2 ? RelayText("FF", "FF", "FF", B) : RelayText("FF", B, "FF", "FF");
}

ControlReadout ReadControl(const Readout& r) {
    ControlReadout out;
    out.p1 = std::string(ValueOf(r, 0).substr(0, 3));
    out.relay[0] = ReadRelay(ValueOf(r, 1), ValueOf(r, 2), ValueOf(r, 3));
    out.p2 = std::string(ValueOf(r, 4).substr(0, 3));
    out.relay[1] = ReadRelay(ValueOf(r, 5), ValueOf(r, 6), ValueOf(r, 7));
    return out;
}

}  // namespace mbus::meridex
