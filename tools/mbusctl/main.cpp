// mbusctl: command-line front end of the M-Bus master.

#include <iostream>
#include <string>
#include <vector>

#include "tools/mbusctl/decode_command.h"

namespace {

constexpr const char* kUsage =
    "usage: mbusctl COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  decode    decode M-Bus answers given as hex digit pairs\n"
    "  samples   decode and print the built-in sample answers\n"
    "\n"
    "mbusctl COMMAND --help shows the options of a command.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << kUsage;
        return 0;
    }
    if (command == "decode") return mbus::cli::RunDecode(args, std::cin, std::cout, std::cerr);
    if (command == "samples") return mbus::cli::RunSamples(args, std::cout, std::cerr);
    std::cerr << "mbusctl: unknown command \"" << command << "\"; use decode or samples (mbusctl --help)\n";
    return 2;
}
