// mbus-sim: a simulated M-Bus on a pseudo-terminal. A master program opens
// the terminal whose path this prints and talks to the virtual slaves as it
// would through a level converter, as long as it sets even parity once per
// open: a pseudo-terminal keeps no parity, so a second request for it, or a
// check of it, fails. With --tcp the bus is served on a loopback TCP port
// instead, as a network serial server would serve it, which suits those
// programs.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "mbus_version.h"
#include "sim/bus_description.h"
#include "sim/sim_bus.h"
#include "tools/mbus-sim/terminal_rate.h"

namespace {

using mbus::serial::SimClock;
using mbus::serial::WireByte;
namespace sim = mbus::sim;

constexpr const char* kUsage =
    "usage: mbus-sim [options]\n"
    "\n"
    "Serves a simulated M-Bus on a pseudo-terminal. Prints the terminal's path\n"
    "(one line) and answers the master that opens it until SIGINT or SIGTERM.\n"
    "\n"
    "options:\n"
    "  --slave FIELDS       a slave, e.g. \"primary=5 id=12345678 man=QXA medium=07\n"
    "                       records=0413D2040000\" (repeatable; syntax below)\n"
    "  --file FILE          slaves from a file, one per line ('#' starts a comment)\n"
    "  --baud N|auto        the line's rate for pacing and baud switches (default\n"
    "                       2400); auto follows the rate and stop bits the master\n"
    "                       program sets on the terminal (slaves start at 2400)\n"
    "  --echo MODE          level-converter echo: none (default), full, or\n"
    "                       partial[:K] (the last K bytes of each frame, default 1)\n"
    "  --paced, --unpaced   bytes take their time at the baud rate (default), or\n"
    "                       arrive at once\n"
    "  --reply-delay MS     delay of an answer after a request in milliseconds\n"
    "                       (default 100 bit times of the line), counted from\n"
    "                       when the request's last bit has left the line: a\n"
    "                       request's bytes take their time on the line from\n"
    "                       when they reach the terminal (or the TCP port)\n"
    "  --fault FAULT        a fault for the next answer (repeatable, in order):\n"
    "                       none, drop[@POS], flip[@POS][:MASK], extra[@POS][:BYTE],\n"
    "                       parity[@POS], framing[@POS], silence; POS counts from 0,\n"
    "                       negative from the end; without it, the last byte\n"
    "  --random-faults P[:SEED[:garbled]]  afterwards a random fault with\n"
    "                       probability P (0..1) per answer, from the generator\n"
    "                       seeded with SEED (1); \"garbled\": only faults that\n"
    "                       leave bytes on the line (no silence)\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "                       (an existing link is replaced, also one a killed\n"
    "                       mbus-sim left behind; removed on exit)\n"
    "  --tcp PORT           serve the bus on TCP port PORT of 127.0.0.1 instead of\n"
    "                       a terminal, one client at a time (a second one is\n"
    "                       closed at once); 0 picks a free port. Prints the\n"
    "                       port-map device (tcp:127.0.0.1:PORT) instead of the\n"
    "                       terminal's path. Not with --link or --baud auto\n"
    "  --verbose            log frames and answers to standard error\n"
    "  --help               this text\n"
    "  --version            the program's version\n"
    "\n"
    "slave fields (KEY=VALUE, blank-separated; all optional):\n"
    "  primary=N (0..250)  id=DIGITS (1..8)  man=LLL  version=HH  medium=HH\n"
    "  status=HH  signature=HHHH  access=HH  records=HEX (again: next telegram)\n"
    "  part=OFF:LEN  fab=DIGITS (8)  customer=DIGITS (12)  location=DIGITS (12)\n"
    "  selci=51|52|55|56  c=08|18|28|38  ci=72|76  baud=300..38400\n"
    "  wildcards=digits|bytes (bytes: a selection's manufacturer, version and\n"
    "  medium match only FFh as a wildcard, as many meters take them)\n"
    "  HH: a hexadecimal byte; N, DIGITS, OFF, LEN: decimal.\n"
    "\n"
    "the maker's modules and interface devices (module=KIND first decides the rest):\n"
    "  module=pulse|analog|control|converter|transceiver  man=VND|KTR (sets the\n"
    "  version)  firmware=HH (signature low byte, 13 = V1.3)\n"
    "  pulse:   id2=DIGITS  medium2=HH (1F disables input 2)  unit1=HH  unit2=HH\n"
    "           count1=N  count2=N (raw pulses)  factor1=N/D  factor2=N/D\n"
    "  control: p1=0|1  p2=0|1  r1=0|1  r2=0|1  r1logic=0..15  r2logic=0..15\n"
    "           r1fail=0..2  r2fail=0..2\n"
    "  analog:  x1=N  x2=N  unit1=HH  unit2=HH  a1=A/B/C  a2=A/B/C  temp=T (degC)\n"
    "           sensor=pt500|pt1000|pt100|rawpt100|rawpt500  minmax=a1|a2|temp\n"
    "           current=N (uA)  v1=HEX  v2=HEX\n"
    "  converter: selected by version 90, medium 0E; transceiver: address 251.\n"
    "\n"
    "Each program that opens the terminal finds it raw at the line's rate and\n"
    "without CLOCAL; what the program before set, or left unread, is gone.\n"
    "\n"
    "What the terminal cannot do: a pseudo-terminal keeps no parity and no 7\n"
    "data bits. A master program's first tcsetattr asking for them succeeds,\n"
    "since it changes CLOCAL or the rate as well; a second one that changes\n"
    "nothing else fails with EINVAL, and reading the settings back shows no\n"
    "parity. So a master that sets 8E1 and then checks it, or sets it again on\n"
    "the open terminal (some do on every connect), fails here. Serve such a\n"
    "program the bus over TCP instead: mbus-sim --tcp PORT, and the program's\n"
    "TCP connection to 127.0.0.1:PORT.\n"
    "\n"
    "A byte with a parity or framing fault reaches the master as a UART would\n"
    "deliver it under the terminal's settings: unchanged without INPCK, dropped\n"
    "with IGNPAR, else as 00h. Over TCP it arrives unchanged.\n"
    "\n"
    "Exit codes: 0 after SIGINT/SIGTERM, 1 the terminal (or the TCP port) could\n"
    "not be set up, 2 bad usage.\n";

struct Options {
    std::vector<sim::VirtualSlave> slaves;
    int baud = 2400;
    bool autoBaud = false;
    sim::EchoMode echo = sim::EchoMode::kNone;
    int echoCount = 1;
    bool paced = true;
    std::optional<double> replyDelayMs;
    std::vector<sim::Fault> faults;
    double randomProbability = 0.0;
    uint32_t seed = 1;
    sim::SimBus::RandomFaults randomKinds = sim::SimBus::RandomFaults::kAny;
    std::string link;
    int tcpPort = -1;  // serve on this loopback TCP port instead of a terminal
    bool verbose = false;
    bool help = false;
    bool version = false;
};

bool ParseInt(std::string_view text, long long* out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtod(text.c_str(), &end);
    // "nan" and "inf" are numbers to strtod, but no probability or delay.
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(*out);
}

// Parses the arguments; on a fault returns false with a message in *error.
bool ParseArguments(const std::vector<std::string>& args, Options* o, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const std::size_t eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
        }
        auto value = [&](std::string* out) {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = name + " needs a value (mbus-sim --help)";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (name == "--help" || name == "-h") {
            o->help = true;
        } else if (name == "--version") {
            o->version = true;
        } else if (name == "--slave") {
            if (!value(&v)) return false;
            sim::VirtualSlave slave;
            std::vector<std::string> errors;
            if (!sim::ParseSlave(v, &slave, errors)) {
                *error = "--slave \"" + v + "\": " + errors.front();
                for (std::size_t e = 1; e < errors.size(); ++e) *error += "\n  and " + errors[e];
                return false;
            }
            o->slaves.push_back(std::move(slave));
        } else if (name == "--file") {
            if (!value(&v)) return false;
            std::vector<std::string> errors;
            std::vector<sim::VirtualSlave> slaves = sim::ReadBusDescriptionFile(v, errors);
            if (!errors.empty()) {
                *error = "--file: " + errors.front();
                for (std::size_t e = 1; e < errors.size(); ++e) *error += "\n--file: " + errors[e];
                return false;
            }
            for (auto& s : slaves) o->slaves.push_back(std::move(s));
        } else if (name == "--baud") {
            if (!value(&v)) return false;
            long long baud = 0;
            if (v == "auto") {
                o->autoBaud = true;
            } else if (ParseInt(v, &baud) && baud >= 50 && baud <= 4000000) {
                o->baud = static_cast<int>(baud);
                o->autoBaud = false;
            } else {
                *error = "--baud \"" + v + "\": give a rate in baud, e.g. --baud 2400, or --baud auto";
                return false;
            }
        } else if (name == "--echo") {
            if (!value(&v)) return false;
            long long k = 1;
            if (v == "none") {
                o->echo = sim::EchoMode::kNone;
            } else if (v == "full") {
                o->echo = sim::EchoMode::kFull;
            } else if (v == "partial" || (v.rfind("partial:", 0) == 0 && ParseInt(v.substr(8), &k) && k >= 1 && k <= 1000)) {
                o->echo = sim::EchoMode::kPartial;
                o->echoCount = static_cast<int>(k);
            } else {
                *error = "--echo \"" + v + "\": give none, full or partial[:K] with K >= 1, e.g. --echo partial:2";
                return false;
            }
        } else if (name == "--paced" || name == "--unpaced") {
            o->paced = name == "--paced";
        } else if (name == "--reply-delay") {
            if (!value(&v)) return false;
            double ms = 0;
            if (!ParseDouble(v, &ms) || ms < 0 || ms > 60000) {
                *error = "--reply-delay \"" + v + "\": give milliseconds 0..60000, e.g. --reply-delay 50";
                return false;
            }
            o->replyDelayMs = ms;
        } else if (name == "--fault") {
            if (!value(&v)) return false;
            std::string why;
            const std::optional<sim::Fault> fault = sim::ParseFault(v, &why);
            if (!fault) {
                *error = "--fault: " + why;
                return false;
            }
            o->faults.push_back(*fault);
        } else if (name == "--random-faults") {
            if (!value(&v)) return false;
            const std::size_t colon = v.find(':');
            const std::size_t second = colon == std::string::npos ? colon : v.find(':', colon + 1);
            double p = 0;
            long long seed = 1;
            const std::string kinds = second == std::string::npos ? "" : v.substr(second + 1);
            if (!ParseDouble(v.substr(0, colon), &p) || p < 0 || p > 1 ||
                (colon != std::string::npos &&
                 (!ParseInt(v.substr(colon + 1, second - colon - 1), &seed) || seed < 0 || seed > 0xFFFFFFFFll)) ||
                (second != std::string::npos && kinds != "garbled")) {
                *error = "--random-faults \"" + v +
                         "\": give a probability 0..1, optionally a seed and \"garbled\", e.g. 0.1:42 or 0.2:7:garbled";
                return false;
            }
            if (!kinds.empty()) o->randomKinds = sim::SimBus::RandomFaults::kGarbled;
            o->randomProbability = p;
            o->seed = static_cast<uint32_t>(seed);
        } else if (name == "--link") {
            if (!value(&v)) return false;
            if (v.empty()) {
                *error = "--link needs a path";
                return false;
            }
            o->link = v;
        } else if (name == "--tcp") {
            if (!value(&v)) return false;
            long long port = 0;
            if (!ParseInt(v, &port) || port < 0 || port > 65535) {
                *error = "--tcp \"" + v + "\": give a TCP port 0..65535 (0 picks a free one), e.g. --tcp 10001";
                return false;
            }
            o->tcpPort = static_cast<int>(port);
        } else if (name == "--verbose" || name == "-v") {
            o->verbose = true;
        } else {
            *error = "unknown argument \"" + args[i] + "\" (mbus-sim --help)";
            return false;
        }
        if (inlineValue && (name == "--help" || name == "--version" || name == "--paced" || name == "--unpaced" || name == "--verbose")) {
            *error = name + " takes no value";
            return false;
        }
    }
    if (o->tcpPort >= 0 && !o->link.empty()) {
        *error = "--link makes a link to the terminal; there is none with --tcp";
        return false;
    }
    if (o->tcpPort >= 0 && o->autoBaud) {
        *error = "--baud auto follows the terminal's settings; give a rate with --tcp, e.g. --baud 2400";
        return false;
    }
    return true;
}

// The self-pipe that turns SIGINT and SIGTERM into a readable descriptor.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

speed_t SpeedOf(int baud) {
    switch (baud) {
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 921600: return B921600;
        default: return B0;
    }
}

// Puts the terminal (through its master side `master`) in the state it is
// handed to a program in: raw, so that bytes pass unchanged, at the line's
// rate, and without CLOCAL. A pseudo-terminal keeps neither parity nor 7 data
// bits, and the C library reports EINVAL for a tcsetattr that asks for them
// and changes nothing else; every usual client sets CLOCAL, so its settings
// always change this state. Whatever the last program left unread goes too.
// Returns true when the terminal was not in that state yet.
bool HandOver(int master, const Options& o) {
    termios now{};
    if (tcgetattr(master, &now) != 0) return false;
    termios t = now;
    cfmakeraw(&t);
    if (const speed_t s = SpeedOf(o.autoBaud ? 2400 : o.baud); s != B0) cfsetspeed(&t, s);
    t.c_cflag &= ~CLOCAL;
    t.c_cflag |= CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (t.c_iflag == now.c_iflag && t.c_oflag == now.c_oflag && t.c_cflag == now.c_cflag &&
        t.c_lflag == now.c_lflag && cfgetospeed(&t) == cfgetospeed(&now))
        return false;
    tcsetattr(master, TCSANOW, &t);
    tcflush(master, TCIOFLUSH);
    return true;
}

class Server {
public:
    // Serves the terminal whose master side is `master`, or, with `listener`
    // a listening socket, the one client connected to it.
    Server(sim::SimBus& bus, const Options& o, int master, int listener = -1)
        : bus_(bus), options_(o), master_(master), listener_(listener) {}
    ~Server() {
        if (client_ >= 0) close(client_);
    }

    // Serves until a signal arrives.
    void Run() {
        std::vector<uint8_t> buffer(4096);
        for (;;) {
            // poll skips entries with a negative descriptor: no client, no terminal.
            const int line = listener_ >= 0 ? client_ : master_;
            pollfd fds[3] = {{line, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}, {listener_, POLLIN, 0}};
            timespec wait{};
            timespec* timeout = nullptr;
            if (!outgoing_.empty()) {
                const auto left = std::max(outgoing_.front().at - SimClock::now(), SimClock::duration::zero());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                wait.tv_sec = static_cast<time_t>(ns / 1000000000);
                wait.tv_nsec = static_cast<long>(ns % 1000000000);
                timeout = &wait;
            }
            const int ready = ppoll(fds, 3, timeout, nullptr);
            if (ready < 0 && errno != EINTR) {
                std::perror("mbus-sim: poll");
                return;
            }
            if (ready > 0 && (fds[1].revents & POLLIN)) return;
            if (ready > 0 && (fds[2].revents & POLLIN)) Accept();
            if (ready > 0 && line >= 0 && (fds[0].revents & POLLIN)) {
                const ssize_t n = read(line, buffer.data(), buffer.size());
                if (n > 0) {
                    const std::vector<uint8_t> bytes(buffer.begin(), buffer.begin() + n);
                    const mbus::serial::SerialConfig config = LineConfig();
                    const std::vector<WireByte> back = bus_.OnMasterBytes(bytes, EndOnLine(bytes.size(), config), config);
                    Schedule(back);
                } else if (listener_ >= 0 && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
                    Disconnect(n == 0 ? "closed the connection" : std::strerror(errno));
                }
            } else if (ready > 0 && listener_ >= 0 && line >= 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
                Disconnect("connection broken");
            } else if (ready > 0 && listener_ < 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
                // Nobody has the terminal open at the moment: what the last
                // program set and left goes, and the next one is waited for.
                outgoing_.clear();
                if (HandOver(master_, options_) && options_.verbose)
                    std::fprintf(stderr, "mbus-sim: the terminal was closed; its settings are reset\n");
                usleep(10000);
            }
            Deliver(SimClock::now());
        }
    }

private:
    // Takes a new client when there is none; one more is closed at once, so
    // that it fails instead of waiting unserved.
    void Accept() {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        char address[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        const int peerPort = ntohs(peer.sin_port);
        if (client_ >= 0) {
            if (options_.verbose)
                std::fprintf(stderr, "mbus-sim: client %s:%d refused, another one is connected\n", address, peerPort);
            close(fd);
            return;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        client_ = fd;
        if (options_.verbose) std::fprintf(stderr, "mbus-sim: client %s:%d connected\n", address, peerPort);
    }

    // Drops the client; what was still to be sent to it is lost.
    void Disconnect(const char* why) {
        if (options_.verbose) std::fprintf(stderr, "mbus-sim: client left (%s)\n", why);
        close(client_);
        client_ = -1;
        outgoing_.clear();
    }

    // When `count` bytes just received have left the line. A master's
    // bytes reach the terminal (or a network serial server) the moment it
    // writes them, long before a line at its rate has carried them: the line
    // sends them on one after the other from their arrival, so the bus sees
    // the request end (and the slaves' reply delay begin) that much later,
    // as a real line would. Unpaced too: the master's side of a terminal or
    // a gateway gives the request its line time whatever the bus does.
    SimClock::time_point EndOnLine(std::size_t count, const mbus::serial::SerialConfig& c) {
        const SimClock::time_point now = SimClock::now();
        lineFreeAt_ = std::max(lineFreeAt_, now) + mbus::serial::CharacterTime(c) * static_cast<int64_t>(count);
        return lineFreeAt_;
    }

    // The line as the bus sees it: the fixed rate, or what the master set.
    mbus::serial::SerialConfig LineConfig() const {
        mbus::serial::SerialConfig c;
        c.baud = options_.baud;
        if (!options_.autoBaud || master_ < 0) return c;
        // The master side reads the settings of the terminal's far side. A
        // pseudo-terminal always reports 8 data bits and no parity.
        termios t{};
        if (tcgetattr(master_, &t) != 0) return c;
        if (const int baud = sim::TerminalRate(master_); baud > 0) c.baud = baud;
        switch (t.c_cflag & CSIZE) {
            case CS5: c.dataBits = 5; break;
            case CS6: c.dataBits = 6; break;
            case CS7: c.dataBits = 7; break;
            default: c.dataBits = 8; break;
        }
        c.parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 2 : 1) : 0;
        c.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
        return c;
    }

    void Schedule(const std::vector<WireByte>& bytes) {
        for (const WireByte& b : bytes) {
            auto pos = std::upper_bound(outgoing_.begin(), outgoing_.end(), b.at,
                                        [](SimClock::time_point t, const WireByte& w) { return t < w.at; });
            outgoing_.insert(pos, b);
        }
    }

    // Writes every byte whose time has come, in one burst.
    void Deliver(SimClock::time_point now) {
        if (outgoing_.empty() || outgoing_.front().at > now) return;
        termios t{};
        const bool haveSettings = listener_ < 0 && master_ >= 0 && tcgetattr(master_, &t) == 0;
        std::vector<uint8_t> burst;
        while (!outgoing_.empty() && outgoing_.front().at <= now) {
            const WireByte b = outgoing_.front();
            outgoing_.pop_front();
            if ((b.parity || b.framing) && haveSettings && (t.c_iflag & INPCK)) {
                if (t.c_iflag & IGNPAR) continue;  // the UART drops it
                burst.push_back(0x00);             // the UART reports it as a zero byte
                continue;
            }
            burst.push_back(b.value);
        }
        const int line = listener_ >= 0 ? client_ : master_;
        if (line < 0) return;  // no client: the bytes are lost, as on a line nobody listens to
        std::size_t done = 0;
        while (done < burst.size()) {
            const ssize_t n = listener_ >= 0
                                  ? send(line, burst.data() + done, burst.size() - done, MSG_NOSIGNAL)
                                  : write(line, burst.data() + done, burst.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // Nobody reads the terminal: the bytes are lost, as on a line.
                if (options_.verbose)
                    std::fprintf(stderr, "mbus-sim: %zu byte(s) lost, nobody reads the terminal\n", burst.size() - done);
                break;
            }
        }
    }

    sim::SimBus& bus_;
    const Options& options_;
    const int master_;
    const int listener_;
    int client_ = -1;
    SimClock::time_point lineFreeAt_{};  // end of the last request bytes on the line
    std::deque<WireByte> outgoing_;
};

// Removes the link on exit when it still points at our terminal.
void RemoveLink(const std::string& link, const std::string& target) {
    if (link.empty()) return;
    char buffer[4096];
    const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == target) unlink(link.c_str());
}

// Signals end the serving through the self-pipe; false after a message.
bool InstallSignals() {
    if (pipe(g_signalPipe) != 0) {
        std::perror("mbus-sim: pipe");
        return false;
    }
    fcntl(g_signalPipe[1], F_SETFL, fcntl(g_signalPipe[1], F_GETFL) | O_NONBLOCK);
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// Prints where the bus is served (one line on standard output) and, verbose,
// the slaves.
void Announce(sim::SimBus& bus, const Options& options, const std::string& where) {
    std::printf("%s\n", where.c_str());
    std::fflush(stdout);
    if (options.verbose) {
        std::fprintf(stderr, "mbus-sim: serving %zu slave(s) on %s\n", bus.SlaveCount(), where.c_str());
        for (std::size_t i = 0; i < bus.SlaveCount(); ++i)
            bus.WithSlave(i, [i](const sim::VirtualSlave& s) {
                std::fprintf(stderr, "mbus-sim: slave %zu: %s\n", i + 1, sim::DescribeSlave(s).c_str());
            });
    }
}

// Serves the bus on the loopback TCP port of --tcp until a signal.
int ServeTcp(sim::SimBus& bus, const Options& options) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        std::perror("mbus-sim: socket");
        return 1;
    }
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(options.tcpPort));
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::cerr << "mbus-sim: --tcp " << options.tcpPort << ": " << std::strerror(errno) << "\n";
        close(listener);
        return 1;
    }
    if (!InstallSignals()) {
        close(listener);
        return 1;
    }
    Announce(bus, options, "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port)));
    {
        Server server(bus, options, -1, listener);
        server.Run();
    }
    close(listener);
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    Options options;
    std::string error;
    if (!ParseArguments(args, &options, &error)) {
        std::cerr << "mbus-sim: " << error << "\n";
        return 2;
    }
    if (options.help) {
        std::cout << kUsage;
        return 0;
    }
    if (options.version) {
        std::cout << "mbus-sim " << MBUS_VERSION << "\n";
        return 0;
    }

    auto bus = std::make_shared<sim::SimBus>();
    bus->SetDefaultBaud(options.autoBaud ? 2400 : options.baud);
    bus->SetEcho(options.echo, options.echoCount);
    bus->SetPaced(options.paced);
    if (options.replyDelayMs)
        bus->SetReplyDelay(std::chrono::duration_cast<SimClock::duration>(
            std::chrono::duration<double, std::milli>(*options.replyDelayMs)));
    for (const sim::Fault& f : options.faults) bus->QueueFault(f);
    if (options.randomProbability > 0) bus->SetRandomFaults(options.randomProbability, options.seed, options.randomKinds);
    const SimClock::time_point started = SimClock::now();
    if (options.verbose) {
        bus->SetLog([started](const std::string& line) {
            const double t = std::chrono::duration<double>(SimClock::now() - started).count();
            std::fprintf(stderr, "[%10.3f] %s\n", t, line.c_str());
        });
    }
    for (auto& s : options.slaves) bus->AddSlave(std::move(s));

    if (options.tcpPort >= 0) return ServeTcp(*bus, options);

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    char path[256] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, path, sizeof path) != 0) {
        std::perror("mbus-sim: cannot open a pseudo-terminal");
        return 1;
    }
    // The terminal lives as long as its master side is open, between the
    // programs that open and close it. It is not held open here: that each
    // program closing it shows as a hang-up on the master side lets the
    // next one find it in the state it is handed over in (HandOver).
    HandOver(master, options);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);

    if (!options.link.empty()) {
        struct stat st {};
        if (lstat(options.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::cerr << "mbus-sim: --link \"" << options.link
                          << "\": exists and is not a symbolic link; not replacing it\n";
                return 1;
            }
            unlink(options.link.c_str());
        }
        if (symlink(path, options.link.c_str()) != 0) {
            std::cerr << "mbus-sim: --link \"" << options.link << "\": " << std::strerror(errno) << "\n";
            return 1;
        }
    }

    if (!InstallSignals()) {
        RemoveLink(options.link, path);
        return 1;
    }
    Announce(*bus, options, path);

    Server server(*bus, options, master);
    server.Run();

    RemoveLink(options.link, path);
    close(master);
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    return 0;
}
