// The keeper of the control's line for mbusctl read --every: the line's loss
// is told by the control's line status (COMIsOpen turns nonzero when the
// line layer has closed a port whose device went away), the line is closed
// and opened again through the control as at the start, and the keeper's
// messages go to the error stream as time-stamped log lines.

#pragma once

#include <iosfwd>
#include <memory>

#include "tools/common/line_keeper.h"

namespace mbus::cli {

class ControlClient;
struct LineOptions;

// A keeper of the line of `control`, opened with `line` at `baud`; its
// messages are "TIME mbusctl COMMAND: port 1 (/dev/...): device lost,
// retrying" and "...: back after N s" on `err`. The control and the stream
// must outlive it.
std::unique_ptr<tools::LineKeeper> KeepControlLine(const ControlClient& control, const LineOptions& line, int baud,
                                                   const char* command, std::ostream& err);

}  // namespace mbus::cli
