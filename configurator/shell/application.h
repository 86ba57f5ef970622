// The application object: starts the program, enters its automation class
// in the component registry (or, when started by an automation client,
// keeps its class factory ready) and runs the main dialog until it closes.

#pragma once

#include <string>

namespace mbus::meridex {

class CMERIDEXApp {
public:
    // Runs the program; returns the process's exit code.
    int Run(int argc, char** argv);
};

// The text of --help.
std::string Usage();

}  // namespace mbus::meridex
