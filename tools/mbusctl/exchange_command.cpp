#include "tools/mbusctl/exchange_command.h"

#include <chrono>
#include <ostream>
#include <thread>

#include "control/decode/telegram.h"
#include "control/line/trace.h"
#include "control/link/layer2.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/output.h"

namespace mbus::cli {
namespace {

constexpr const char* kUsage =
    "usage: mbusctl exchange [options] ADDRESS...\n"
    "\n"
    "Opens a port, sends SND_NKE and then REQ_UD2 to each primary address\n"
    "(0..250, 254 answers for any slave) and prints the decoded answers.\n"
    "The port number goes through the port map (mbusctl --help tells where\n"
    "it is): e.g. \"1 = /dev/ttyUSB0\" in it, then --port 1.\n"
    "\n"
    "line options:\n";

constexpr const char* kTimingUsage =
    "  --ta N             answer timeout in bit times (default 330)\n"
    "  --to N             answer timeout offset in ms (default 50)\n"
    "  --tb N             byte timeout in bit times (default 1)\n"
    "  --dt N             dead time after sending in bit times (default 11)\n"
    "  --wait MODE        nowait, fullwait or partwait (default partwait)\n"
    "  --fifo 0|1         the UART has a receive FIFO (default 1)\n"
    "\n"
    "output options:\n";

constexpr const char* kUsageTail =
    "  -h, --help         this text\n"
    "      --version      the program's version\n"
    "\n"
    "With --format json only the answers go to standard output, one JSON\n"
    "object a line; the port and the requests are noted on standard error.\n"
    "\n"
    "exit code: 0 every address answered, 1 one did not or the port failed,\n"
    "2 bad usage\n";

struct Line : LineOptions {
    int ta = 330, to = 50, tb = 1, dt = 11, wait = line::kPartWait, fifo = 1;
};

bool ParseInt(const std::string& s, int lo, int hi, int* v) {
    if (s.empty() || s.size() > 7 || s.find_first_not_of("0123456789") != std::string::npos) return false;
    const int n = std::stoi(s);
    if (n < lo || n > hi) return false;
    *v = n;
    return true;
}

// Sends one request and waits for its answer, repeating it on faults.
int Transaction(MBLayer2& l2, const Line& opt, bool shortFrame, int C, int A, MBTelegram& t, std::string& error) {
    for (int attempt = 0; attempt <= opt.retries; ++attempt) {
        if (shortFrame && l2.SendShortFrame(C, A) != 1) {
            error = "the line refused to send";
            return 4;
        }
        int c, a, ci, len, got, r;
        uint8_t* data;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((r = l2.ReceiveTelegram(&c, &a, &ci, &data, &len, &got)) == link::kRecBusy &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (r != link::kRecFault && r != link::kRecBusy) {
            t.receiveErrorWord = static_cast<int16_t>(l2.line.errorWord.load());
            t.InterpretAnswer(r, static_cast<uint8_t>(c), static_cast<uint8_t>(a), static_cast<uint8_t>(ci), data,
                              len);
            return r;
        }
        error = link::ErrorWordText(l2.line.errorWord.load());
    }
    return link::kRecFault;
}

}  // namespace

int RunExchange(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const std::vector<std::string> args =
        SplitOptionValues(arguments, {"--ta", "--to", "--tb", "--dt", "--wait", "--fifo", "--format", "--language"});
    Line opt;
    OutputOptions o;
    std::vector<int> addresses;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto intOption = [&](const char* name, int lo, int hi, int* v) {
            if (i + 1 >= args.size() || !ParseInt(args[i + 1], lo, hi, v)) {
                err << "mbusctl exchange: " << name << " needs a number " << lo << ".." << hi << "\n";
                return false;
            }
            ++i;
            return true;
        };
        if (a == "-h" || a == "--help") {
            out << kUsage << LineOptionsUsage(21) << kTimingUsage << kOutputUsage << kUsageTail;
            return 0;
        }
        if (const int used = ParseOutputOption(args, i, o, err, "exchange"); used != 0) {
            if (used < 0) return 2;
            continue;
        }
        if (const int used = ParseLineOption(args, i, opt, err, "exchange"); used != 0) {
            if (used < 0) return 2;
            continue;
        }
        bool ok = true;
        if (a == "--ta") ok = intOption("--ta", 0, 100000, &opt.ta);
        else if (a == "--to") ok = intOption("--to", 0, 100000, &opt.to);
        else if (a == "--tb") ok = intOption("--tb", 0, 100000, &opt.tb);
        else if (a == "--dt") ok = intOption("--dt", 0, 100000, &opt.dt);
        else if (a == "--fifo") ok = intOption("--fifo", 0, 1, &opt.fifo);
        else if (a == "--wait") {
            if (i + 1 >= args.size()) {
                err << "mbusctl exchange: " << a << " needs a value; see mbusctl exchange --help\n";
                return 2;
            }
            const std::string& v = args[++i];
            if (v == "nowait") opt.wait = line::kNoWait;
            else if (v == "fullwait") opt.wait = line::kFullWait;
            else if (v == "partwait") opt.wait = line::kPartWait;
            else ok = false;
            if (!ok) err << "mbusctl exchange: wait mode \"" << v << "\": use nowait, fullwait or partwait\n";
        } else if (!a.empty() && a[0] == '-') {
            err << "mbusctl exchange: unknown option \"" << a << "\"; see mbusctl exchange --help\n";
            return 2;
        } else {
            int address;
            if (!ParseInt(a, 0, 254, &address)) {
                err << "mbusctl exchange: \"" << a << "\" is no primary address; give 0..254\n";
                return 2;
            }
            addresses.push_back(address);
        }
        if (!ok) return 2;
    }
    if (addresses.empty()) {
        err << "mbusctl exchange: no address given; e.g. mbusctl exchange --port 1 5\n";
        return 2;
    }
    ApplyOutputOptions(o);
    // The trace file is the line layer's, for the whole process: it ends
    // with the command.
    struct Trace {
        explicit Trace(const std::string& file) : on(!file.empty()) {
            if (on) line::SetTraceFileName(file);
        }
        ~Trace() {
            if (on) line::SetTraceFileName("");
        }
        bool on;
    } trace(opt.trace);

    MBLayer2 l2;
    if (l2.line.CInit(opt.port, opt.baud, 8, 1, opt.parity, 1, 1, 0, 0) != 1) {
        const int status = l2.line.status.load();
        err << "mbusctl exchange: port " << opt.port << " could not be opened: ";
        if (status == line::kLinePortOpenFailed) err << PortProblem(opt.port);
        else if (status == line::kLineBadBaud) err << BaudProblem(opt.baud);
        else err << l2.line.lastErrorText;
        err << "\n";
        return 1;
    }
    l2.line.MInit(opt.ta, opt.to, opt.tb, opt.dt, opt.wait, opt.fifo);
    l2.line.echoOption = opt.echo;
    // JSON output is the answers alone; the notes go to standard error then.
    std::ostream& notes = o.format == OutputOptions::Format::Json ? err : out;
    notes << "Port " << opt.port << " (" << l2.line.PortName() << "), " << opt.baud << " baud\n";

    int rc = 0, number = 0;
    for (int address : addresses) {
        MBTelegram t;
        std::string error;
        int r = Transaction(l2, opt, true, 0x40, address, t, error);
        notes << "SND_NKE to " << address << ": "
            << (r == link::kRecFault ? "no valid answer (" + error + ")" : std::string(FrameKind(r))) << "\n";
        r = Transaction(l2, opt, true, 0x5B, address, t, error);
        if (r == link::kRecFault) {
            notes << "REQ_UD2 to " << address << ": no valid answer (" << error << ")\n\n";
            rc = 1;
            continue;
        }
        notes << "REQ_UD2 to " << address << ":\n";
        PrintAnswer(out, t, o, ++number);
    }
    return rc;
}

}  // namespace mbus::cli
