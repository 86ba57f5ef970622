// Helpers of the component runtime tests: environment variables set for one
// test, a scratch directory, running a program.

#pragma once

#include "tests/support/scratch.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace mbus::com::testing {

using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline bool FileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

struct RunResult {
    int exitCode = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

// Runs a shell command line with its output caught in files of `scratch`.
inline RunResult RunCommand(const ScratchDirectory& scratch, const std::string& commandLine) {
    const std::string out = scratch.File("run.out");
    const std::string err = scratch.File("run.err");
    const int status = std::system((commandLine + " >'" + out + "' 2>'" + err + "'").c_str());
    RunResult result;
    if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

}  // namespace mbus::com::testing
