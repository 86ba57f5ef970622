// `mbusctl exchange`: sends SND_NKE and REQ_UD2 to primary addresses on a
// port and prints the decoded answers - the first check of a line.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::cli {

// Runs the command (arguments after "exchange"); exit code 0 all answered,
// 1 an address gave no valid answer or the port failed, 2 bad usage.
int RunExchange(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
