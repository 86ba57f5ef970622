#include "tools/mbusctl/line_watch.h"

#include <ostream>

#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/poll.h"

namespace mbus::cli {

std::unique_ptr<tools::LineKeeper> KeepControlLine(const ControlClient& control, const LineOptions& line, int baud,
                                                   const char* command, std::ostream& err) {
    tools::KeptLine kept;
    kept.name = PortAndDevice(line.port);
    // Without an answer the line counts as lost too: there is nothing to poll.
    kept.lost = [&control] { return control.Long("COMIsOpen").value_or(1) != 0; };
    kept.close = [&control] { control.Call("COMClose"); };
    kept.reopen = [&control, line, baud] { return OpenLine(control, line, baud) == 0; };
    kept.say = [&err, command = std::string(command)](const std::string& text) {
        // One write, so that the line stays whole beside other output.
        err << (LogTime() + " mbusctl " + command + ": " + text + "\n") << std::flush;
    };
    return std::make_unique<tools::LineKeeper>(std::move(kept));
}

}  // namespace mbus::cli
