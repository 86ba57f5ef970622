#include "tools/mbusctl/line_options.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "mbus_version.h"
#include "platform/files/writable.h"
#include "platform/serial/serial_port.h"
#include "tools/mbusctl/control_client.h"

namespace mbus::cli {
namespace {

// The rates the line layer programs (the port opens at no other).
constexpr int kRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 256000, 460800, 921600};

enum class Kind { Number, Baud, Parity, File };

// One line option: its name, the value's placeholder, its kind, the range of
// a number, the field it sets and its help text.
struct LineOption {
    const char* name;
    const char* value;
    Kind kind;
    int lo, hi;
    int LineOptions::*number;
    const char* help;
};

constexpr LineOption kLineOptions[] = {
    {"--port", "N", Kind::Number, 1, 999, &LineOptions::port,
     "port number 1..999 (default 1); the port map names its device"},
    {"--baud", "N", Kind::Baud, 300, 921600, &LineOptions::baud, "300, 600, 1200, 2400 ... 921600 (default 2400)"},
    {"--parity", "E|O|N", Kind::Parity, 0, 2, &LineOptions::parity, "even, odd or none (default E)"},
    {"--echo", "0|1|2", Kind::Number, 0, 2, &LineOptions::echo,
     "echo of the level converter: none, full, partial (default 0)"},
    {"--retries", "N", Kind::Number, 0, 99, &LineOptions::retries,
     "times a request without a valid answer is sent again, 0..99 (default 2)"},
    {"--trace", "FILE", Kind::File, 0, 0, nullptr, "append the line traffic to FILE"},
};


}  // namespace

bool ParseNumber(const std::string& s, int lo, int hi, int* v) {
    if (s.empty() || s.size() > 7 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const int n = std::stoi(s);
    if (n < lo || n > hi) return false;
    *v = n;
    return true;
}

bool CheckMeterAddress(const std::string& address, const char* command, std::ostream& err) {
    int primary = 0;
    const bool secondary = (address.size() == 8 || address.size() == 16) &&
                           address.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
    if (secondary || ParseNumber(address, 0, 250, &primary)) return true;
    err << "mbusctl " << command << ": \"" << address
        << "\" is no address; give 0..250, 8 identification digits or 16 hex digits\n";
    return false;
}

MeterConversation ConversationWith(const std::string& address) {
    MeterConversation c;
    if (address.size() <= 3) {
        c.address = std::stoi(address);
        c.startLine = "3|" + std::to_string(c.address) + "||";
        c.start = c.startLine + "\r\n";
        return c;
    }
    std::string a = address;
    a.resize(16, 'F');
    for (char& ch : a) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    c.address = 253;
    c.secondary = a;
    c.startLine = "8||";
    c.start = "8||Standard: " + a.substr(0, 8) + "," + a.substr(8, 4) + "," + a.substr(12, 2) + "," + a.substr(14, 2) +
              "|\r\n";
    c.end = "20|||\r\n";
    return c;
}

std::string LineOptionsUsage(int width) {
    std::string usage;
    for (const LineOption& o : kLineOptions) {
        std::string left = std::string("  ") + o.name + " " + o.value;
        left.resize(static_cast<std::size_t>(width) > left.size() + 1 ? static_cast<std::size_t>(width)
                                                                       : left.size() + 1,
                    ' ');
        // Continuation lines of the help text start under its first line.
        std::string help = o.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
            help.insert(at + 1, left.size(), ' ');
        usage += left + help + "\n";
    }
    return usage;
}

int ParseLineOption(const std::vector<std::string>& args, std::size_t& i, LineOptions& o, std::ostream& err,
                    const char* command) {
    for (const LineOption& option : kLineOptions) {
        if (args[i] != option.name) continue;
        if (i + 1 >= args.size()) {
            err << "mbusctl " << command << ": " << option.name << " needs a value (" << option.value
                << "); see mbusctl " << command << " --help\n";
            return -1;
        }
        const std::string& v = args[++i];
        switch (option.kind) {
            case Kind::Number:
                if (!ParseNumber(v, option.lo, option.hi, &(o.*option.number))) {
                    err << "mbusctl " << command << ": " << option.name << " needs a number " << option.lo << ".."
                        << option.hi << ", not \"" << v << "\"\n";
                    return -1;
                }
                if (option.number == &LineOptions::retries) o.retriesGiven = true;
                return 1;
            case Kind::Baud: {
                int baud = 0;
                if (!ParseNumber(v, 1, 9999999, &baud)) {
                    err << "mbusctl " << command << ": --baud needs a number, not \"" << v << "\"\n";
                    return -1;
                }
                if (!SupportedBaud(baud)) {
                    err << "mbusctl " << command << ": " << BaudProblem(baud) << "\n";
                    return -1;
                }
                o.baud = baud;
                return 1;
            }
            case Kind::Parity:
                if (v == "E" || v == "e") o.parity = 1;
                else if (v == "O" || v == "o") o.parity = 2;
                else if (v == "N" || v == "n") o.parity = 0;
                else {
                    err << "mbusctl " << command << ": parity \"" << v << "\": use E, O or N\n";
                    return -1;
                }
                return 1;
            case Kind::File:
                if (v.empty()) {
                    err << "mbusctl " << command << ": " << option.name << " needs a file name\n";
                    return -1;
                }
                // Told now rather than found out by a trace that never appears.
                if (const std::string problem = files::AppendProblem(v); !problem.empty()) {
                    err << "mbusctl " << command << ": " << option.name << " " << v << ": " << problem
                        << "; give a file that can be appended to\n";
                    return -1;
                }
                o.trace = v;
                return 1;
        }
    }
    return 0;
}

std::vector<std::string> SplitOptionValues(const std::vector<std::string>& args, std::initializer_list<const char*> more) {
    std::vector<std::string> split;
    split.reserve(args.size());
    for (const std::string& a : args) {
        const std::size_t eq = a.find('=');
        if (a.rfind("--", 0) != 0 || eq == std::string::npos) {
            split.push_back(a);
            continue;
        }
        const std::string name = a.substr(0, eq);
        bool takesValue = false;
        for (const LineOption& o : kLineOptions) takesValue |= name == o.name;
        for (const char* m : more) takesValue |= name == m;
        split.push_back(takesValue ? name : a);
        if (takesValue) split.push_back(a.substr(eq + 1));
    }
    return split;
}

bool SupportedBaud(int baud) {
    for (int r : kRates)
        if (r == baud) return true;
    return false;
}

std::string BaudProblem(int baud) {
    std::string s = std::to_string(baud) + " baud is not a rate the line supports; use ";
    for (std::size_t i = 0; i < std::size(kRates); ++i) {
        if (i) s += i + 1 == std::size(kRates) ? " or " : ", ";
        s += std::to_string(kRates[i]);
    }
    return s;
}

int OpenLine(const ControlClient& control, const LineOptions& line, int baud) {
    control.Put("COMPort", line.port);
    control.Put("COMBaudrate", baud);
    control.Put("COMParity", line.parity);
    if (!line.trace.empty()) control.Put("APPDebugFileName", line.trace);
    control.Call("COMOpen");
    const int status = control.Long("COMIsOpen").value_or(-1);
    if (status == 0) {
        control.Put("COMEchoOption", line.echo);
        control.Put("COMEndAtFrame", line.endAtFrame);
    }
    return status;
}

bool OpenControlLine(const ControlClient& control, const LineOptions& line, int baud, const char* command,
                     std::ostream& err) {
    // The line status of a rate the line does not run at.
    constexpr int kLineStatusBadBaud = 4;
    const int status = OpenLine(control, line, baud);
    if (status != 0) {
        // The control tells only its line status; who holds the port or
        // what is missing is looked up here.
        err << "mbusctl " << command << ": port " << line.port << " could not be opened: "
            << (status == kLineStatusBadBaud ? BaudProblem(baud) : PortProblem(line.port)) << "\n";
        return false;
    }
    return true;
}

namespace {

constexpr const char* kDialoutHint =
    " (serial devices belong to the group dialout: sudo usermod -aG dialout $USER, then log in again)";

}  // namespace

std::string PortAndDevice(int port) {
    return "port " + std::to_string(port) + " (" + serial::LookUpPort(port, false).device + ")";
}

std::string PortProblem(int port) {
    std::string why = serial::ExplainPort(port);
    const serial::PortFacts facts = serial::LookUpPort(port, false);
    const std::string& device = facts.device;
    const bool file = facts.kind == serial::PortFacts::Kind::kTerminal;
    if (file && why == device && ::access(device.c_str(), R_OK | W_OK) != 0) {
        const int error = errno;
        why += std::string(": ") + std::strerror(error);
        if (error == EACCES) why += kDialoutHint;
        return why;
    }
    if (file && why.find("Permission denied") != std::string::npos) return why + kDialoutHint;
    if (why == device) why += "; the port map says which device a port number is (mbusctl --help)";
    return why;
}

const char* Version() { return MBUS_VERSION; }

}  // namespace mbus::cli
