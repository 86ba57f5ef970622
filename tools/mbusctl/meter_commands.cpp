#include "tools/mbusctl/meter_commands.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <ostream>
#include <thread>

#include "control/decode/telegram.h"
#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/line_watch.h"
#include "tools/mbusctl/meter_reading.h"
#include "tools/mbusctl/output.h"
#include "tools/mbusctl/scan_defaults.h"
#include "tools/mbusctl/poll.h"

namespace mbus::cli {
namespace {

using namespace std::chrono_literals;

constexpr const char* kSearchUsage =
    "  --search-delay MS    pause after a collision in a search, 0..10000 (default:\n"
    "                       scan 330 bit times + 50 ms, 188 at 2400 baud; read 2000)\n"
    "                       scan sends each probe once (--retries 0; at 38400 baud\n"
    "                       once more) unless --retries is given\n"
    "  --primary            search by primary address (default: by secondary address)\n";

constexpr const char* kScanUsage =
    "usage: mbusctl scan [options]\n"
    "\n"
    "Searches the bus on a port for slaves and prints the list: primary\n"
    "address, secondary address (the 16 digits mbusctl read takes),\n"
    "identification number, maker, version and medium. Progress (the mask or\n"
    "address under test and the slaves found so far) goes to standard error;\n"
    "Ctrl-C ends the search and keeps what was found. The last line there\n"
    "counts the slaves and, when there were any, the probes that got no valid\n"
    "answer (garbled, or several slaves at once; each was probed or read again\n"
    "or searched one digit deeper).\n"
    "\n";

constexpr const char* kReadUsage =
    "usage: mbusctl read [options] ADDRESS...\n"
    "       mbusctl read [options] --all\n"
    "\n"
    "Reads meters and prints each readout: identification, maker, medium and\n"
    "every record with description, value and unit (or --format json). An\n"
    "ADDRESS is a primary address 0..250, or a secondary address: the\n"
    "identification number (8 digits) or the whole address of 16 hexadecimal\n"
    "digits (number, manufacturer, version, medium; F is a wildcard). --all\n"
    "searches the bus first and reads every slave found; interrupted during\n"
    "the search (Ctrl-C, SIGTERM), it prints the list of the slaves found so\n"
    "far. Each read starts the meter's conversation afresh (SND_NKE, or the\n"
    "selection of a secondary address), so that no old answer is taken for a\n"
    "new one. Answers that announce more data are followed by further reads;\n"
    "the telegrams of a meter make one readout, delivered only whole: when a\n"
    "telegram the meter announced is lost, nothing is printed for it and a\n"
    "message says \"9 (12349999): incomplete, 1 telegram read, more\n"
    "announced\" (with --partial --format json, what was read is printed\n"
    "with \"complete\": false).\n"
    "\n"
    "With --every the meters (or those the search found) are read again and\n"
    "again until SIGINT or SIGTERM, which end the program with exit code 0\n"
    "after the running request: one JSON object per meter and reading, one a\n"
    "line, or CSV rows with --format csv; each line is flushed at once. A meter\n"
    "that does not answer, or whose readout is incomplete, is logged to\n"
    "standard error, gets no line, and is read afresh in the next round. A\n"
    "round starts every SECONDS; when one takes longer, the next starts at\n"
    "once and a note says so. A serial device that goes away (an unplugged\n"
    "converter) is logged once, \"port 1 (/dev/ttyUSB0): device lost,\n"
    "retrying\"; the port is tried again after 1, 2, 4, 8 and 16 s, then every\n"
    "30 s, \"back after N s\" is logged when it opens, and polling goes on.\n"
    "\n"
    "CSV (RFC 4180; also without --every): a header line, not repeated when\n"
    "--output appends to a file that has content, then one row per record:\n"
    "time (ISO 8601), address, secondary address, identification,\n"
    "manufacturer, medium, storage, tariff, subunit, function, description,\n"
    "value, unit (values scaled as in the table, with a decimal point, e.g.\n"
    "12345.678 and m³).\n"
    "\n";

constexpr const char* kReadOptions =
    "  --all                search, then read every slave found\n"
    "  --partial            with --format json: print an incomplete readout too,\n"
    "                       marked \"complete\": false (the exit code stays 1)\n"
    "  --every SECONDS      read again every SECONDS (1..86400) until stopped\n"
    "  --output FILE        with --every: append the lines to FILE (created if\n"
    "                       missing) instead of standard output\n";

constexpr const char* kTail =
    "  -h, --help           this text\n"
    "      --version        the program's version\n"
    "\n";

constexpr const char* kScanExit =
    "exit code: 0 done, 1 the port failed, 2 bad usage, 130 interrupted (the\n"
    "slaves found so far are printed)\n";

constexpr const char* kReadExit =
    "exit code: 0 every meter's whole readout printed, 1 a meter did not\n"
    "answer, its readout was incomplete, several answered to a wildcard\n"
    "address, or the port failed, 2 bad usage, 130 interrupted (what was found\n"
    "or read is printed); with --every 0 when stopped, 1 no meter to read or\n"
    "the output could not be written\n";

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted.store(true); }

struct Options {
    LineOptions line;
    int searchDelay = -1;
    bool primary = false, all = false, partial = false;
    OutputOptions output;
    PollOptions poll;
    std::vector<std::string> addresses;
};

// -1 go on, else the exit code.
int ParseOptions(const std::vector<std::string>& arguments, Options& o, bool read, std::ostream& out,
                 std::ostream& err) {
    const char* command = read ? "read" : "scan";
    const std::vector<std::string> args = SplitOptionValues(arguments, {"--search-delay", "--format", "--language", "--every", "--output"});
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            out << (read ? kReadUsage : kScanUsage) << "line options:\n"
                << LineOptionsUsage(23) << kSearchUsage << (read ? kReadOptions : "")
                << "\noutput options:\n"
                << (read ? kOutputUsage : "  --format table|json  (default table)\n") << kTail
                << (read ? kReadExit : kScanExit);
            return 0;
        }
        if (const int used = ParseLineOption(args, i, o.line, err, command); used != 0) {
            if (used < 0) return 2;
            continue;
        }
        if (read) {
            if (const int used = ParseOutputOption(args, i, o.output, err, command); used != 0) {
                if (used < 0) return 2;
                continue;
            }
        } else if (a == "--format" || a == "--json") {
            std::string f = a == "--json" ? "json" : (i + 1 < args.size() ? args[++i] : "");
            if (f == "json") o.output.format = OutputOptions::Format::Json;
            else if (f == "table") o.output.format = OutputOptions::Format::Table;
            else {
                err << "mbusctl scan: format \"" << f << "\": use table or json\n";
                return 2;
            }
            continue;
        }
        auto number = [&](const char* name, int lo, int hi, int* v) {
            if (i + 1 >= args.size() || !ParseNumber(args[i + 1], lo, hi, v)) {
                err << "mbusctl " << command << ": " << name << " needs a number " << lo << ".." << hi << "\n";
                return false;
            }
            ++i;
            return true;
        };
        bool ok = true;
        if (a == "--search-delay") ok = number("--search-delay", 0, 10000, &o.searchDelay);
        else if (a == "--primary") o.primary = true;
        else if (read && a == "--all") o.all = true;
        else if (read && a == "--partial") o.partial = true;
        else if (read && a == "--every") ok = number("--every", 1, 86400, &o.poll.everySeconds);
        else if (read && a == "--output") {
            ok = i + 1 < args.size() && !args[i + 1].empty();
            if (ok) o.poll.outputFile = args[++i];
            else err << "mbusctl read: --output needs a file name\n";
        }
        else if (!a.empty() && a[0] == '-') {
            err << "mbusctl " << command << ": unknown option \"" << a << "\"; see mbusctl " << command << " --help\n";
            return 2;
        } else if (read) {
            o.addresses.push_back(a);
        } else {
            err << "mbusctl scan: unexpected \"" << a << "\"; see mbusctl scan --help\n";
            return 2;
        }
        if (!ok) return 2;
    }
    if (read && o.addresses.empty() && !o.all) {
        err << "mbusctl read: give addresses to read, or --all; see mbusctl read --help\n";
        return 2;
    }
    if (read && !o.poll.outputFile.empty() && o.poll.everySeconds == 0) {
        err << "mbusctl read: --output goes with --every; see mbusctl read --help\n";
        return 2;
    }
    if (read && o.partial && (o.output.format != OutputOptions::Format::Json || o.poll.everySeconds > 0)) {
        err << "mbusctl read: --partial goes with --format json, and not with --every; see mbusctl read --help\n";
        return 2;
    }
    if (read && o.poll.everySeconds > 0 && o.output.format == OutputOptions::Format::Cooked) {
        err << "mbusctl read: --every writes json or csv; see mbusctl read --help\n";
        return 2;
    }
    return -1;
}

class Meters {
public:
    Meters(ControlClient control, std::ostream& err, const char* command)
        : c_(std::move(control)), err_(err), command_(command), tty_(::isatty(STDERR_FILENO) != 0) {}
    Meters(const Meters&) = delete;
    Meters& operator=(const Meters&) = delete;
    // The trace file is the library's, for every control in the process:
    // it ends with the command.
    ~Meters() {
        if (traced_) c_.Put("APPDebugFileName", std::string());
    }

    bool Open(const Options& o) {
        const LineOptions& line = o.line;
        // The control counts every transmission, the first included; a scan
        // has settings of its own by rate unless they were given.
        ApplyScanDefaults(c_, command_ == std::string("scan"), line.baud, line.retriesGiven ? line.retries + 1 : -1,
                          o.searchDelay);
        traced_ = !line.trace.empty();
        return OpenControlLine(c_, line, line.baud, command_, err_);
    }

    // Waits for the running script or search; a search shows the mask or
    // address under test and the slaves found so far (one line rewritten on
    // a terminal, else a line every few seconds). On Ctrl-C the control is
    // asked to stop.
    void Wait(bool search, bool primary = false) {
        bool broke = false;
        auto last = std::chrono::steady_clock::now() - 10s;
        int logged = 0, found = 0;
        while (c_.Long("SCRStatus").value_or(0) != 0) {
            if (interrupted.load() && !broke) {
                c_.Call("SCRBreak");
                broke = true;
                Progress("stopping after the running request...", true);
            }
            const auto now = std::chrono::steady_clock::now();
            if (search && !broke && (tty_ || now - last >= 5s)) {
                found += CountAnswers(logged);
                std::string at = c_.Text("SCRSlaveSearchCurAddress").value_or("");
                if (primary && !at.empty()) at = std::to_string(std::atoi(at.c_str()));
                Progress(std::string(primary ? "searching, address " : "searching, mask ") + at + ", " +
                             std::to_string(found) + " found",
                         false);
                last = now;
            }
            std::this_thread::sleep_for(100ms);
        }
        if (tty_ && search) err_ << "\r\033[K" << std::flush;
    }

    std::vector<Slave> Search(bool primary) {
        StartSearch(c_, primary);
        Wait(true, primary);
        garbled_ = CountGarbled();
        return SearchResult(c_);
    }

    // Probes of the last search that got no valid answer though something
    // answered: a selection or SND_NKE with bytes but no frame, or a read
    // (which only follows an answer) without a valid telegram.
    int Garbled() const { return garbled_; }

    // Reads one meter (see MeterRead).
    Readout Read(const std::string& address) {
        const MeterRead read(address);
        read.Start(c_);
        Wait(false);
        return read.Collect(c_);
    }

    const ControlClient& Client() const { return c_; }

private:
    int CountGarbled() {
        int n = 0;
        WalkLog(c_, 0, c_.Long("LOGUpperBound").value_or(-1) + 1, [&](const std::string& entry, int result, int received) {
            if (result == 4 && (entry.compare(0, 2, "5|") == 0 || received != 0)) ++n;
        });
        return n;
    }

    // Reads the log entries after the first `seen` ones and returns how
    // many of them are reads answered with a long frame (a slave found).
    // The newest entry is left for later: its request may still be waiting
    // for the answer.
    int CountAnswers(int& seen) {
        const int upper = c_.Long("LOGUpperBound").value_or(-1);
        int answers = 0;
        WalkLog(c_, seen, upper, [&](const std::string& entry, int result, int) {
            if (result == 3 && entry.compare(0, 2, "5|") == 0) ++answers;
        });
        seen = std::max(seen, upper);
        return answers;
    }

    void Progress(const std::string& text, bool always) {
        if (tty_) {
            err_ << "\r\033[K" << text << std::flush;
        } else if (always || !text.empty()) {
            err_ << text << "\n";
        }
    }

    ControlClient c_;
    std::ostream& err_;
    const char* command_;
    bool tty_;
    bool traced_ = false;
    int garbled_ = 0;
};

// The list of slaves: the keys of the JSON objects are those of a readout's
// JSON ("a" the primary address, the A field of the slave's answer), plus
// "secondaryAddress", the 16 digits that `mbusctl read` takes.
void PrintList(std::ostream& out, const std::vector<Slave>& slaves, const ControlClient& c, bool json) {
    auto medium = [&](int code) { return c.Text("ML7ExtractMedium", {1, code}).value_or(""); };
    if (json) {
        out << "[";
        for (std::size_t i = 0; i < slaves.size(); ++i) {
            const Slave& s = slaves[i];
            out << (i ? "," : "") << "{\"a\":" << s.address << ",\"secondaryAddress\":\"" << s.SecondaryAddress(c)
                << "\",\"identNumber\":\"" << s.id << "\",\"manufacturer\":\"" << s.manufacturer
                << "\",\"version\":" << s.version << ",\"medium\":" << s.medium << ",\"mediumText\":\""
                << medium(s.medium) << "\"}";
        }
        out << "]\n";
        return;
    }
    out << "address  secondary address  identification  maker  version  medium\n";
    for (const Slave& s : slaves) {
        char line[128];
        std::snprintf(line, sizeof line, "%7d  %-17s  %-14s  %-5s  %7d  %02X ", s.address,
                      s.SecondaryAddress(c).c_str(), s.id.c_str(), s.manufacturer.c_str(), s.version, s.medium);
        out << line << ReadableMedium(medium(s.medium)) << "\n";
    }
}

// Ctrl-C (or a SIGTERM) asks the control to stop instead of ending the
// program, so that what was found or read so far is still printed.
struct InterruptGuard {
    InterruptGuard() {
        interrupted.store(false);
        previousInt = std::signal(SIGINT, OnInterrupt);
        previousTerm = std::signal(SIGTERM, OnInterrupt);
    }
    ~InterruptGuard() {
        std::signal(SIGINT, previousInt);
        std::signal(SIGTERM, previousTerm);
    }
    void (*previousInt)(int);
    void (*previousTerm)(int);
};

}  // namespace

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    if (const int rc = ParseOptions(args, o, false, out, err); rc >= 0) return rc;
    com::ComPtr<com::IDispatch> control;
    if (!CreateControl("scan", &control, err)) return 2;
    Meters meters(ControlClient(control), err, "scan");
    if (!meters.Open(o)) return 1;
    InterruptGuard guard;
    const std::vector<Slave> slaves = meters.Search(o.primary);
    PrintList(out, slaves, meters.Client(), o.output.format == OutputOptions::Format::Json);
    err << "mbusctl scan: " << slaves.size() << (slaves.size() == 1 ? " slave" : " slaves") << " found"
        << (interrupted.load() ? " before the interruption" : "");
    if (const int garbled = meters.Garbled(); garbled > 0)
        err << "; " << garbled << (garbled == 1 ? " probe" : " probes")
            << " got no valid answer (garbled, or several slaves at once)";
    err << "\n";
    meters.Client().Call("APPCloseCom");
    return interrupted.load() ? 130 : 0;
}

int RunRead(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    if (const int rc = ParseOptions(args, o, true, out, err); rc >= 0) return rc;
    for (const std::string& a : o.addresses)
        if (!CheckMeterAddress(a, "read", err)) return 2;
    com::ComPtr<com::IDispatch> control;
    if (!CreateControl("read", &control, err)) return 2;
    Meters meters(ControlClient(control), err, "read");
    if (!meters.Open(o)) return 1;
    ApplyOutputOptions(o.output);
    InterruptGuard guard;
    std::vector<std::string> addresses = o.addresses;
    if (o.all) {
        const std::vector<Slave> slaves = meters.Search(o.primary);
        err << "mbusctl read: " << slaves.size() << (slaves.size() == 1 ? " slave" : " slaves") << " found"
            << (interrupted.load() ? " before the interruption" : "") << "\n";
        if (interrupted.load()) {
            // No readouts: the list is what the interrupted search leaves.
            PrintList(out, slaves, meters.Client(), o.output.format == OutputOptions::Format::Json);
            meters.Client().Call("APPCloseCom");
            return 130;
        }
        for (const Slave& s : slaves)
            addresses.push_back(o.primary ? std::to_string(s.address) : s.SecondaryAddress(meters.Client()));
    }
    if (o.poll.everySeconds > 0) {
        const auto keeper = KeepControlLine(meters.Client(), o.line, o.line.baud, "read", err);
        o.poll.line = keeper.get();
        const int polled = Poll(
            addresses, [&](const std::string& a) { return meters.Read(a); }, o.output, o.poll, interrupted, out, err);
        meters.Client().Call("APPCloseCom");
        return polled;
    }
    if (o.output.format == OutputOptions::Format::Csv) out << kCsvHeader << "\n";
    int rc = 0, number = 0;
    for (const std::string& a : addresses) {
        if (interrupted.load()) break;
        const Readout got = meters.Read(a);
        std::vector<const MBTelegram*> readout;
        for (const auto& t : got.telegrams) readout.push_back(t.get());
        if (!got.problem.empty()) {
            err << "mbusctl read: " << got.problem << "\n";
            rc = 1;
            // What was read, marked as incomplete, only when asked for.
            if (o.partial && !readout.empty()) out << ReadoutJson(readout, a, std::time(nullptr), false) << "\n";
            continue;
        }
        PrintReadout(out, readout, o.output, ++number, a, std::time(nullptr));
    }
    meters.Client().Call("APPCloseCom");
    return interrupted.load() ? 130 : rc;
}

}  // namespace mbus::cli
