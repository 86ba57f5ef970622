// Whether a file can be written before a program sets out to write it (the
// trace file of mbusctl, say): a file that cannot be opened is told at start,
// not found out by a trace that never appears.

#pragma once

#include <string>

namespace mbus::files {

// What stands in the way of appending to the file at `path` (creating it
// when missing), without creating or changing anything; empty when nothing
// does. E.g. "cannot be created (No such file or directory)", "is a
// directory", "cannot be written (Permission denied)".
std::string AppendProblem(const std::string& path);

}  // namespace mbus::files
