#include "configurator/shell/phone_scripts.h"

#include "configurator/shell/connection_lines.h"

namespace mbus::meridex {

std::optional<std::string> ScriptTextRefusal(std::string_view name, std::string_view text) {
    const bool bar = text.find('|') != std::string_view::npos;
    const bool lineBreak = text.find_first_of("\r\n") != std::string_view::npos;
    if (!bar && !lineBreak) return std::nullopt;
    std::string shown;
    for (char c : text) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    const std::string what = bar && lineBreak ? "\"|\" and a line break" : bar ? "\"|\"" : "a line break";
    return std::string(name) + " \"" + shown + "\" holds " + what +
           ", which would change the dial script; give it without \"|\" and line breaks.";
}

std::vector<std::string> DialScriptLines(int port, int baudIndex, const std::string& initString,
                                         const std::string& number) {
    const int baud = BaudOfIndex(baudIndex);
    if (baud == 0) return {};
    const std::string head = "|COM" + std::to_string(port) + "|" + std::to_string(baud) + "|";
    std::vector<std::string> lines{"30" + head + "ATX3"};
    if (initString.empty()) {
        lines.push_back("31" + head + number);
    } else if (initString.rfind("<AT", 0) == 0 || initString.rfind("<at", 0) == 0) {
        lines.push_back("31" + head + initString + number);
    } else {
        lines.push_back("30" + head + initString);
        lines.push_back("14||16|");
        lines.push_back("31" + head + number);
    }
    lines.push_back("1|10||");
    return lines;
}

std::vector<std::string> HangUpScriptLines() { return {"32|||", "16|||"}; }

}  // namespace mbus::meridex
