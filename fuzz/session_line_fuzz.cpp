// Feeds arbitrary text, line by line, through the parser of mbusctl session
// lines and prints what it read in every result form. Checks that a plain
// result stays on one line, that JSON strings hold no raw control
// characters, and that numbers and strings written back in the line syntax
// read back the same.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "tools/mbusctl/session_line.h"

namespace {

using mbus::cli::SessionValue;

// A value in the line syntax.
std::string Written(const SessionValue& v) {
    if (v.kind == SessionValue::Kind::Integer) return std::to_string(v.integer);
    std::string s = "\"";
    for (const char c : v.text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            s += '\\';
            s += c;
        } else if (b < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
            s += buffer;
        } else {
            s += c;
        }
    }
    return s + "\"";
}

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

void Exercise(const SessionValue& v, std::string& sink) {
    const std::string plain = mbus::cli::FormatPlain(v, false);
    Check(plain.find('\n') == std::string::npos && plain.find('\r') == std::string::npos);
    sink += plain;
    sink += mbus::cli::FormatPlain(v, true);
    const std::string json = mbus::cli::JsonValue(v);
    for (const char c : json) Check(static_cast<unsigned char>(c) >= 0x20);
    sink += json;
    if (v.kind == SessionValue::Kind::None) return;
    const mbus::cli::SessionParse again = mbus::cli::ParseSessionLine("N " + Written(v));
    Check(again.error.empty() && again.line.args.size() == 1 && again.line.args[0] == v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string sink;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const mbus::cli::SessionParse parsed = mbus::cli::ParseSessionLine(line);
        ++number;
        mbus::cli::SessionOutcome outcome;
        if (!parsed.error.empty()) {
            outcome.kind = mbus::cli::SessionOutcome::Kind::Error;
            outcome.error = parsed.error;
        } else {
            for (const SessionValue& a : parsed.line.args) Exercise(a, sink);
            Exercise(parsed.line.value, sink);
            if (parsed.line.kind == mbus::cli::SessionLine::Kind::Put) {
                outcome.kind = mbus::cli::SessionOutcome::Kind::Put;
                outcome.value = parsed.line.value;
            } else if (!parsed.line.args.empty()) {
                outcome.value = parsed.line.args.back();
            }
        }
        const std::string json = mbus::cli::FormatJson(number, parsed.line.name, outcome);
        for (const char c : json) Check(static_cast<unsigned char>(c) >= 0x20);
        sink += json;
        sink += mbus::cli::JsonString(line);
    }
    return sink.size() == 0x7FFFFFFF ? 1 : 0;
}
