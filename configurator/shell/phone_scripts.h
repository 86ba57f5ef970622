// The scripts of a modem connection: dialling (with the modem's init
// string in one of its three forms) and hanging up.

#pragma once

#include <string>
#include <vector>

namespace mbus::meridex {

// "30|COM<n>|<baud>|ATX3", then the number dialled: plainly when the init
// string is empty, glued behind the init string when that starts with "<AT"
// (or "<at": a dial prefix the modem takes in the same command), otherwise
// after the init string sent as a command of its own and a wait; then
// "1|10||". Empty for a baud index outside 0..4.
std::vector<std::string> DialScriptLines(int port, int baudIndex, const std::string& initString,
                                         const std::string& number);

// "32|||", "16|||".
std::vector<std::string> HangUpScriptLines();

}  // namespace mbus::meridex
