// mbusctl: command-line front end of the M-Bus master.

#include <iostream>
#include <string>
#include <vector>

#include "tools/mbusctl/commission_command.h"
#include "tools/mbusctl/decode_command.h"
#include "tools/mbusctl/exchange_command.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/meter_commands.h"
#include "tools/mbusctl/session_command.h"

namespace {

using Args = std::vector<std::string>;

// One command: its name, its line (or lines) of the usage text, and what
// runs it. The usage text and the message about an unknown command are made
// from this table.
struct Command {
    const char* name;
    const char* summary;
    int (*run)(const Args& args);
};

const Command kCommands[] = {
    {"scan", "search the bus on a port and list the slaves",
     [](const Args& a) { return mbus::cli::RunScan(a, std::cout, std::cerr); }},
    {"read", "read meters (or every slave a search finds) and print the readouts",
     [](const Args& a) { return mbus::cli::RunRead(a, std::cout, std::cerr); }},
    {"decode", "decode M-Bus answers given as hex digit pairs",
     [](const Args& a) { return mbus::cli::RunDecode(a, std::cin, std::cout, std::cerr); }},
    {"exchange", "send SND_NKE and REQ_UD2 to slaves on a port, print the answers",
     [](const Args& a) { return mbus::cli::RunExchange(a, std::cout, std::cerr); }},
    {"samples", "decode and print the built-in sample answers",
     [](const Args& a) { return mbus::cli::RunSamples(a, std::cout, std::cerr); }},
    {"session", "drive the control through its dispatch interface, one call per\nline of standard input",
     [](const Args& a) { return mbus::cli::RunSession(a, std::cin, std::cout, std::cerr); }},
    {"call", "one call of the control: mbusctl call NAME [ARG...] [= VALUE]",
     [](const Args& a) { return mbus::cli::RunCall(a, std::cout, std::cerr); }},
    {"set-address", "give a slave a new primary address and read it there",
     [](const Args& a) { return mbus::cli::RunSetAddress(a, std::cout, std::cerr); }},
    {"set-baud", "switch a slave to another baud rate and read it at that rate",
     [](const Args& a) { return mbus::cli::RunSetBaud(a, std::cout, std::cerr); }},
};

std::string Usage() {
    std::string usage = "usage: mbusctl COMMAND [options]\n\ncommands:\n";
    for (const Command& c : kCommands) {
        if (c.run == nullptr) continue;
        std::string name = std::string("  ") + c.name;
        name.resize(14, ' ');
        std::string summary = c.summary;
        for (std::size_t at = summary.find('\n'); at != std::string::npos; at = summary.find('\n', at + 1))
            summary.insert(at + 1, name.size(), ' ');
        usage += name + summary + "\n";
    }
    usage +=
        "\n"
        "mbusctl COMMAND --help shows the options of a command; --version (alone\n"
        "or after a command) the program's version.\n"
        "\n"
        "Port numbers become devices through the port map, a text file of lines\n"
        "\"N = /dev/ttyUSB0\" ($MBUS_PORT_MAP, else ~/.config/mbus/ports); a port\n"
        "without an entry is /dev/ttyUSB<N-1> when that exists, else /dev/ttyS<N-1>.\n";
    return usage;
}

// "scan, read, ... or call".
std::string CommandList() {
    std::vector<std::string> names;
    for (const Command& c : kCommands)
        if (c.run != nullptr) names.emplace_back(c.name);
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) list += i + 1 == names.size() ? " or " : ", ";
        list += names[i];
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    Args args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << Usage();
        return 2;
    }
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help" || command == "help") {
        std::cout << Usage();
        return 0;
    }
    if (command == "--version") {
        std::cout << "mbusctl " << mbus::cli::Version() << "\n";
        return 0;
    }
    for (const Command& c : kCommands) {
        if (command != c.name || c.run == nullptr) continue;
        // `mbusctl COMMAND --version`; the arguments of a call are values,
        // so there only its first word counts.
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--") break;
            if (args[i] == "--version" && (command != "call" || i == 0)) {
                std::cout << "mbusctl " << mbus::cli::Version() << "\n";
                return 0;
            }
        }
        return c.run(args);
    }
    std::cerr << "mbusctl: unknown command \"" << command << "\"; use " << CommandList() << " (mbusctl --help)\n";
    return 2;
}
