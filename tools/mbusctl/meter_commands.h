// `mbusctl scan` and `mbusctl read`: the slave search and the readout of
// meters, run by the control through its dispatch interface with scripts,
// as any host runs them.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::cli {

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunRead(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
