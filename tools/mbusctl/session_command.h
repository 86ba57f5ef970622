// `mbusctl session` and `mbusctl call`: the control driven through its
// dispatch interface, one call per line (session_line.h has the grammar),
// as any client drives it: by name, with VARIANT arguments.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::com {
class IDispatch;
}

namespace mbus::cli {

// Runs the lines of `in` against `control` and prints the results to `out`
// (one per line; nothing for puts and methods without value, unless
// --json: then one object per line that is not blank or a comment).
// `options` are --raw, --json, --help. Failures go to `err` with the line
// number and the session goes on. Exit code 0 every line worked, 1 a line
// failed, 2 bad usage.
int RunSessionWith(com::IDispatch* control, const std::vector<std::string>& options, std::istream& in,
                   std::ostream& out, std::ostream& err);

// The commands (arguments after "session" / "call"): they create the control
// by its class identifier, registering its library first when the class is
// not registered. Exit code 2 also when the control cannot be created.
int RunSession(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);
int RunCall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
