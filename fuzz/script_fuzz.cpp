// Feeds arbitrary text through the script language: the parser of whole
// scripts (every command, connection strings, selections, data in hex and
// decimal, macro lines, automatic baud switches), and the canonical text
// of every connection line, which must parse back to the same record.
// Byte 0 chooses the parser's settings; the rest is the script.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/com/script_parser.h"
#include "control/com/script_runner.h"

using namespace mbus::control;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    ParseSettings settings;
    settings.autoBaudSwitch = data[0] & 1;
    settings.fifo = (data[0] >> 1) & 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    for (const ScriptItem& item : ParseScript(text, settings)) {
        if (!item.parameters) continue;
        // The logged text of a connection line reads back as the same line.
        const std::string canonical = item.line;
        const std::size_t fields = canonical.find("||COM");
        if (fields == std::string::npos) abort();
        std::size_t used = 0;
        const auto again = ParseConnectionString(std::string_view(canonical).substr(fields + 2), settings.fifo, &used);
        if (!again || CanonicalConnectionText(item.command, *again) != canonical) abort();
    }
    // Masks of the slave search walk their tree without leaving it.
    if (size >= 17) {
        SearchMask m{std::string(text.substr(0, 16)), 16, (data[0] & 4) != 0};
        for (char& c : m.text)
            if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) c = 'F';
        for (int i = 0; i < 64 && !m.Ended(); ++i) {
            if ((data[i % size] & 1) != 0)
                m.Descend();
            else
                m.Advance();
            if (m.text.size() != 16) abort();
        }
    }
    return 0;
}
