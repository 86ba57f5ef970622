// The script language: numbered command lines that a host hands to the
// control as one text. The parser turns the text into script items; lines
// with an unknown command or fields that do not parse are dropped, and
// parsing as a whole never fails.
//
// A line is  command "|" field1 "|" field2 "|" field3 ; the fields each
// command uses are listed with ParseScript in script_parser.cpp.

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/connection.h"

namespace mbus::control {

struct ScriptItem {
    int32_t command = 0;
    int32_t argument = 0;  // address, number, or the selection mode of 8 and 9
    int32_t mode = 0;      // 1: data given in decimal; line-format code of 30 and 31
    std::optional<engine::ConnectionParameters> parameters;  // commands 0 and 2
    std::vector<uint8_t> data;  // bytes to send (with the CI first for SND_UD), or text
    std::string line;           // the result line the command logs
    // Selections: CI and user data are in `data`; the selection's log text is `line`.
};

struct ParseSettings {
    int32_t autoBaudSwitch = 0;  // SCRAutoBaudSNDUD
    int32_t fifo = 1;            // the channel's FIFO setting, the default of field 15
    int32_t baud = 2400;         // the line's current rate (for the first baud switch)
};

inline constexpr std::size_t kMaxScriptLength = 0x60000;

std::vector<ScriptItem> ParseScript(std::string_view text, const ParseSettings& settings);

// A connection string after "0||" (up to and including its closing "|");
// `consumed` receives the characters read. Empty when the first thirteen
// fields are not all there.
std::optional<engine::ConnectionParameters> ParseConnectionString(std::string_view text, int32_t fifo,
                                                                  std::size_t* consumed);
// "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,...,HS=0|" (command 0 or 2).
std::string CanonicalConnectionText(int command, const engine::ConnectionParameters& p);

// The bytes of the interface device's clock command (1B 1B 1B 33, the local
// time as "hh:mm:ss%dd.mm.yy%w", CR) and of the data logger's delete command.
std::vector<uint8_t> InterfaceClockBytes();
std::vector<uint8_t> DeleteAllDataBytes();

// The CI of the M-Bus baud-rate switch to `baud` (B8h..BFh, FFh for others).
uint8_t BaudSwitchCI(int32_t baud);

}  // namespace mbus::control
