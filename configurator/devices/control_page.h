// The Control page without its widgets: the logic-operator and power-fail
// boxes and the codes the module stores for them, the record texts of the
// relay buttons, and the readout of a Control answer.
//
// The Control module has two digital inputs, P1 and P2, and two relays, R1
// and R2. A relay follows commands over the M-Bus ("Set 0" / "Set 1") or a
// logic function of the inputs, and has a state to take after a power
// failure. Both are kept in one configuration byte per relay:
// 100 x power-fail code + logic code.

#pragma once

#include <array>
#include <string>
#include <string_view>

#include "configurator/devices/result_parser.h"

namespace mbus::meridex {

// The logic-operator box (the same list for R1 and R2) and the logic code
// of each entry: the operator (1 AND, 2 OR, 3 XOR), plus 4 when P1 is
// inverted, plus 8 when P2 is; code 0 drives the relay over the M-Bus.
inline constexpr int kLogicEntries = 13;
inline constexpr std::array<std::string_view, kLogicEntries> kLogicTexts = {
    "M-BUS",          "   P1 AND   P2", "   P1 XOR   P2", "   P1  OR    P2", " #P1 AND   P2",
    " #P1 XOR   P2",  " #P1  OR    P2", "   P1 AND #P2", "   P1 XOR #P2",   "   P1  OR  #P2",
    " #P1 AND #P2",   " #P1 XOR #P2",   " #P1  OR  #P2",
};
inline constexpr std::array<int, kLogicEntries> kLogicCodes = {0, 1, 3, 2, 5, 7, 6, 9, 11, 10, 13, 15, 14};

// The power-fail box (the same list for R1 and R2) and the codes: 0 keeps
// the relay as it is, 1 switches it to 1, 2 to 0.
inline constexpr int kPowerFailEntries = 3;
inline constexpr std::array<std::string_view, kPowerFailEntries> kPowerFailTexts = {"--------", "      0", "      1"};
inline constexpr std::array<int, kPowerFailEntries> kPowerFailCodes = {0, 2, 1};

// The error marker put before a relay state whose two readings differ and
// into its group's caption.
inline constexpr std::string_view kRelayErrorMarker = "Err ";

// Box entry to code; an entry outside the box (no selection) gives code 0.
int LogicEntryToCode(int entry);
int PowerFailEntryToCode(int entry);
// Code to box entry. Logic codes without an entry (4, 8, 12, 16 and
// above, negative) show entry 0 ("M-BUS"); power-fail codes other than
// 0, 1, 2 show entry 0.
int LogicCodeToEntry(int code);
int PowerFailCodeToEntry(int code);

// The configuration byte of the two boxes' entries: 100 x power-fail code
// + logic code (0..215).
int ConfigurationByte(int logicEntry, int powerFailEntry);

// "Set 0" and "Set 1" of a relay work only while its logic box shows entry
// 0 ("M-BUS"); any other entry disables them.
bool SetButtonsEnabled(int logicEntry);

// The record texts of the relay buttons (relay 1 or 2; any other number is
// taken as relay 1): "Set 0" / "Set 1" (`state` 0 or 1, any other value
// taken as 1), and the write button with the configuration byte of the
// relay's boxes as two hex digits. Every value that the button does not
// change is sent as FF.
std::string RelaySetText(int relay, int state);
std::string RelayWriteText(int relay, int logicEntry, int powerFailEntry);

struct RelayReadout {
    std::string state;    // the first reading, after "Err " when the two readings differ
    bool error = false;   // the two readings differ: the group caption shows "Err "
    int configuration = 0;  // the configuration record read as a decimal number
    int logicEntry = 0;
    int powerFailEntry = 0;
};

struct ControlReadout {
    std::string p1;  // first three characters of the input states
    std::string p2;
    RelayReadout relay[2];
};

// Reads the data parts of a Control answer's eight records in order: P1
// state, R1 state, R1 state read a second time, R1 configuration, then the
// same four for P2 and R2. A configuration value v gives logic code
// v mod 100 (16 or more: 0) and power-fail code v / 100 (outside 0..2: 0).
// A record the answer lacks reads as an empty text (and as configuration 0).
ControlReadout ReadControl(const Readout& r);

}  // namespace mbus::meridex
