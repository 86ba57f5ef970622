// The scripts of a modem connection: dialling (with the modem's init
// string in one of its three forms) and hanging up.

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::meridex {

// The names of the two texts the user types into a dial script, as the
// messages name them.
inline constexpr std::string_view kPhoneNumberName = "Phone number";
inline constexpr std::string_view kInitStringName = "Modem init string";

// A phone number or init string goes into a script line as it is typed:
// a "|" there would end the line's text field and a line break the line,
// so that the script would run commands nobody typed. The message refusing
// a text that holds either (naming the field `name`, showing line breaks
// as \r and \n); nothing for a text that can go in.
std::optional<std::string> ScriptTextRefusal(std::string_view name, std::string_view text);

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
