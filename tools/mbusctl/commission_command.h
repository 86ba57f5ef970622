// `mbusctl set-address` and `mbusctl set-baud`: commissioning of a meter,
// a new primary address or a new baud rate, each confirmed by reading the
// meter afterwards. The control runs them through its dispatch interface
// with scripts, as any host does.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::cli {

int RunSetAddress(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunSetBaud(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
