// mbusctl: command-line front end of the M-Bus master.

#include <iostream>
#include <string>
#include <vector>

#include "tools/mbusctl/commission_command.h"
#include "tools/mbusctl/decode_command.h"
#include "tools/mbusctl/exchange_command.h"
#include "tools/mbusctl/meter_commands.h"
#include "tools/mbusctl/session_command.h"

namespace {

constexpr const char* kUsage =
    "usage: mbusctl COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  scan      search the bus on a port and list the slaves\n"
    "  read      read meters (or every slave a search finds) and print the readouts\n"
    "  decode    decode M-Bus answers given as hex digit pairs\n"
    "  exchange  send SND_NKE and REQ_UD2 to slaves on a port, print the answers\n"
    "  samples   decode and print the built-in sample answers\n"
    "  session   drive the control through its dispatch interface, one call per\n"
    "            line of standard input\n"
    "  call      one call of the control: mbusctl call NAME [ARG...] [= VALUE]\n"
    "\n"
    "mbusctl COMMAND --help shows the options of a command.\n"
    "\n"
    "Port numbers become devices through the port map, a text file of lines\n"
    "\"N = /dev/ttyUSB0\" ($MBUS_PORT_MAP, else ~/.config/mbus/ports); a port\n"
    "without an entry is /dev/ttyUSB<N-1> when that exists, else /dev/ttyS<N-1>.\n";

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
    if (command == "scan") return mbus::cli::RunScan(args, std::cout, std::cerr);
    if (command == "read") return mbus::cli::RunRead(args, std::cout, std::cerr);
    if (command == "decode") return mbus::cli::RunDecode(args, std::cin, std::cout, std::cerr);
    if (command == "exchange") return mbus::cli::RunExchange(args, std::cout, std::cerr);
    if (command == "samples") return mbus::cli::RunSamples(args, std::cout, std::cerr);
    if (command == "session") return mbus::cli::RunSession(args, std::cin, std::cout, std::cerr);
    if (command == "call") return mbus::cli::RunCall(args, std::cout, std::cerr);
    if (command == "set-address") return mbus::cli::RunSetAddress(args, std::cout, std::cerr);
    if (command == "set-baud") return mbus::cli::RunSetBaud(args, std::cout, std::cerr);
    std::cerr << "mbusctl: unknown command \"" << command
              << "\"; use decode, exchange, samples, session or call (mbusctl --help)\n";
    return 2;
}
