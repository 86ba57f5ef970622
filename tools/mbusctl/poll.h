// mbusctl read --every: reads the same meters again and again, one JSON
// line or CSV row per meter and reading, until SIGINT or SIGTERM.

#pragma once

#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "control/decode/telegram.h"
#include "tools/mbusctl/meter_reading.h"
#include "tools/mbusctl/output.h"

namespace mbus::tools {
class LineKeeper;
}

namespace mbus::cli {

struct PollOptions {
    int everySeconds = 0;    // a round starts every so many seconds
    std::string outputFile;  // appended to (created when missing); empty: the output stream
    // Keeps the line across the loss of its device (null: no keeping).
    tools::LineKeeper* line = nullptr;
};

// The time stamp of a log line: 2026-12-08T14:30:05 (local time).
std::string LogTime();

using MeterReader = std::function<Readout(const std::string& address)>;

// Reads `addresses` in rounds until `stop` is set. JSON (also for the table
// format) writes one object per line, CSV a header line (not when an output
// file already has content) and one row per meter and reading; each line is
// written whole and flushed at once. A meter that does not answer, or whose
// readout is incomplete, is logged to `err`, gets no line, and is read
// afresh in the next round. With a line keeper, a round stops at a lost
// device (the keeper says so) and the rounds after it make no request
// until the keeper has the line back. Returns 0 when stopped, 1 when
// there is no address or the output could not be written.
int Poll(const std::vector<std::string>& addresses, const MeterReader& read, const OutputOptions& o,
         const PollOptions& p, const std::atomic<bool>& stop, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
