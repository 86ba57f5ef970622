// `mbusctl decode`: decodes telegrams given as hex text and prints them.

#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace mbus::cli {

// Runs the command with its arguments (after the word "decode"); returns the
// exit code: 0 all decoded, 1 a telegram was malformed, 2 bad usage.
int RunDecode(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

// Prints the built-in sample telegrams readably (the demo of the main job).
int RunSamples(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mbus::cli
