#include "tools/mbusctl/commission_command.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <thread>

#include "control/decode/telegram.h"
#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/line_options.h"
#include "tools/mbusctl/output.h"

namespace mbus::cli {
namespace {

using namespace std::chrono_literals;

constexpr int kRates[8] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

constexpr const char* kSetAddressUsage =
    "usage: mbusctl set-address [options] ADDRESS NEW\n"
    "\n"
    "Gives a meter the primary address NEW (1..250): sends it the record\n"
    "DIF 01h VIF 7Ah NEW, expects the acknowledgement E5h, then reads the meter\n"
    "at NEW to confirm. ADDRESS is its primary address 0..250, or a secondary\n"
    "address: the identification number (8 digits) or the whole address of 16\n"
    "hexadecimal digits (F is a wildcard); the meter is then selected and told\n"
    "at address 253. A NEW that another slave already answers at is refused:\n"
    "two meters at one address answer on top of each other.\n"
    "\n";

constexpr const char* kSetBaudUsage =
    "usage: mbusctl set-baud [options] ADDRESS RATE\n"
    "\n"
    "Switches a meter to the baud rate RATE (300, 600, 1200, 2400, 4800, 9600,\n"
    "19200 or 38400; CI B8h..BFh): sends the switch at the current --baud,\n"
    "expects the acknowledgement E5h there, then reads the meter at RATE to\n"
    "confirm. ADDRESS as for mbusctl read: a primary address 0..250 or a\n"
    "secondary address of 8 or 16 hexadecimal digits.\n"
    "\n";

constexpr const char* kTail =
    "  -h, --help           this text\n"
    "\n"
    "exit code: 0 done and confirmed, 1 no acknowledgement, no answer at the\n"
    "new address or rate, a refused address, or the port failed, 2 bad usage\n";

struct Options {
    LineOptions line;  // --baud is the meter's present rate
    bool force = false;
    std::vector<std::string> positional;
};

// The line options and the two operands; -1 go on, else the exit code.
int ParseOptions(const std::vector<std::string>& rawArgs, bool setAddress, Options& o, std::ostream& out,
                 std::ostream& err) {
    const char* command = setAddress ? "set-address" : "set-baud";
    const std::vector<std::string> args = SplitOptionValues(rawArgs);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            out << (setAddress ? kSetAddressUsage : kSetBaudUsage) << "line options (--baud: the meter's present rate):\n"
                << LineOptionsUsage(23)
                << (setAddress ? "  --force              set NEW even when a slave answers there already\n" : "")
                << kTail;
            return 0;
        }
        if (const int used = ParseLineOption(args, i, o.line, err, command); used != 0) {
            if (used < 0) return 2;
            continue;
        }
        if (setAddress && a == "--force") {
            o.force = true;
        } else if (!a.empty() && a[0] == '-') {
            err << "mbusctl " << command << ": unknown option \"" << a << "\"; see mbusctl " << command
                << " --help\n";
            return 2;
        } else {
            o.positional.push_back(a);
        }
    }
    if (o.positional.size() != 2) {
        err << "mbusctl " << command << ": give the meter's address and the new "
            << (setAddress ? "primary address" : "baud rate") << "; see mbusctl " << command << " --help\n";
        return 2;
    }
    return CheckMeterAddress(o.positional[0], command, err) ? -1 : 2;
}

// A meter as the commands address it: by primary address, or selected by
// its secondary address and then reached at 253.
struct Target {
    std::string given;
    bool secondary = false;
    int primary = 0;

    static Target From(const std::string& text) {
        Target t;
        t.given = text;
        t.secondary = text.size() > 3;
        if (!t.secondary) t.primary = std::stoi(text);
        return t;
    }
    // The lines that start and end a conversation with the meter.
    MeterConversation Conversation() const { return ConversationWith(given); }
    // The address the requests go to once selected.
    int Address() const { return secondary ? 253 : primary; }
};

// What a script line got back: the reception result (0 E5h, 3 a long
// frame, 4 nothing valid) and, for a long frame, the decoded telegram.
struct Reply {
    int status = -1;  // -1: the line left no log entry
    std::shared_ptr<MBTelegram> telegram;
};

class Commissioning {
public:
    Commissioning(ControlClient control, std::ostream& err, const char* command)
        : c_(std::move(control)), err_(err), command_(command) {}

    // The trace file is the library's, for every control in the process:
    // it ends with the command.
    ~Commissioning() {
        if (traced_) c_.Put("APPDebugFileName", std::string());
    }

    bool Open(const Options& o, int baud) {
        // The control counts every transmission, the first included.
        c_.Put("COMRetries", o.line.retries + 1);
        traced_ = !o.line.trace.empty();
        return OpenControlLine(c_, o.line, baud, command_, err_);
    }

    void Close() { c_.Call("APPCloseCom"); }

    // Runs `script` to its end; the replies of the lines beginning with
    // each of `lines`, in that order.
    std::vector<Reply> Run(const std::string& script, const std::vector<std::string>& lines) {
        c_.Put("LOGMaxEntries", 100000);
        c_.Call("LOGReset");
        c_.Call("SCRExecute", {script});
        while (c_.Long("SCRStatus").value_or(0) != 0) std::this_thread::sleep_for(20ms);
        std::vector<Reply> replies(lines.size());
        const int upper = c_.Long("LOGUpperBound").value_or(-1);
        for (int i = 0; i <= upper; ++i) {
            const std::string entry = c_.Text("LOGRetrieveRawDataHex", {i, 0}).value_or("");
            for (std::size_t k = 0; k < lines.size(); ++k) {
                if (entry.compare(0, lines[k].size(), lines[k]) != 0) continue;
                // The line, "|", a time stamp, "|", then the status bytes
                // (status, decoder, received, C, A, CI) and the telegram.
                const std::size_t bar = entry.rfind('|');
                const std::string tail = entry.substr(bar + 1);
                std::vector<uint8_t> bytes;
                for (std::size_t h = 0; h + 1 < tail.size(); h += 2)
                    bytes.push_back(static_cast<uint8_t>(std::stoi(tail.substr(h, 2), nullptr, 16)));
                if (bytes.size() < 6) continue;
                replies[k].status = bytes[0];
                if (bytes[0] == 3) {
                    auto t = std::make_shared<MBTelegram>();
                    t->InterpretAnswer(3, bytes[3], bytes[4], bytes[5], bytes.data() + 6,
                                       static_cast<int>(bytes.size()) - 6);
                    replies[k].telegram = std::move(t);
                }
            }
        }
        return replies;
    }

    // Reads the meter at `target`, its conversation started afresh (SND_NKE
    // or the selection): its telegram, or null when it did not answer.
    std::shared_ptr<MBTelegram> Identify(const Target& target) {
        const MeterConversation c = target.Conversation();
        const std::string read = "5|" + std::to_string(target.Address()) + "||";
        return Run(c.start + read + "\r\n" + c.end, {read})[0].telegram;
    }

    // "12345678 (QXA, Water)"
    std::string Describe(const MBTelegram& t) const {
        char id[16];
        std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(t.identNumber));
        const std::string medium = c_.Text("ML7ExtractMedium", {1, static_cast<int32_t>(t.medium)}).value_or("");
        return std::string(id) + " (" + t.manufacturerText + ", " + ReadableMedium(medium) + ")";
    }

    const ControlClient& Client() const { return c_; }

private:
    ControlClient c_;
    std::ostream& err_;
    const char* command_;
    bool traced_ = false;
};

// Sends the SND_UD `data` (CI first, hex digits) to the meter; true when it
// acknowledged with E5h. A selected meter is deselected afterwards; after a
// baud switch it no longer hears that, and the confirmation's selection and
// deselection at the new rate end it instead.
bool SendUserData(Commissioning& m, const Target& target, const std::string& data) {
    const std::string send = "7|" + std::to_string(target.Address()) + "||";
    const MeterConversation c = target.Conversation();
    const std::string script = (target.secondary ? c.start : "") + send + data + "\r\n" + c.end;
    return m.Run(script, {send})[0].status == 0;
}

// The meter that answered at the new address or rate: the one that was told?
bool SameMeter(const MBTelegram& before, const MBTelegram& after) {
    return before.identNumber == after.identNumber && before.manufacturer == after.manufacturer &&
           before.version == after.version && before.medium == after.medium;
}

int Start(const char* command, const Options& o, std::unique_ptr<Commissioning>* out, std::ostream& err) {
    com::ComPtr<com::IDispatch> control;
    if (!CreateControl(command, &control, err)) return 2;
    *out = std::make_unique<Commissioning>(ControlClient(control), err, command);
    if (!(*out)->Open(o, o.line.baud)) return 1;
    return -1;
}

}  // namespace

int RunSetAddress(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    if (const int rc = ParseOptions(args, true, o, out, err); rc >= 0) return rc;
    int wanted = 0;
    if (!ParseNumber(o.positional[1], 1, 250, &wanted)) {
        err << "mbusctl set-address: new address \"" << o.positional[1] << "\": give 1..250\n";
        return 2;
    }
    const Target target = Target::From(o.positional[0]);
    if (!target.secondary && target.primary == wanted) {
        err << "mbusctl set-address: the meter is at " << wanted << " already; nothing to do\n";
        return 2;
    }
    std::unique_ptr<Commissioning> m;
    if (const int rc = Start("set-address", o, &m, err); rc >= 0) return rc;

    const std::shared_ptr<MBTelegram> before = m->Identify(target);
    if (!before) {
        err << "mbusctl set-address: " << target.given << " did not answer; nothing was changed\n";
        m->Close();
        return 1;
    }
    const std::string meter = m->Describe(*before);
    const int old = static_cast<int>(before->aField);
    if (old == wanted) {
        out << "primary address of " << meter << " is " << wanted << " already\n";
        m->Close();
        return 0;
    }
    if (!o.force) {
        // Whoever answers at the new address already would share it with this meter.
        const std::string nke = "3|" + std::to_string(wanted) + "||", read = "5|" + std::to_string(wanted) + "||";
        const std::vector<Reply> r = m->Run(nke + "\r\n" + read + "\r\n", {nke, read});
        if (r[0].status == 0 || r[1].status == 3) {
            err << "mbusctl set-address: a slave answers at " << wanted << " already"
                << (r[1].telegram ? ": " + m->Describe(*r[1].telegram) : std::string())
                << "; two meters at one address answer on top of each other. Nothing was changed (--force sets it "
                   "anyway)\n";
            m->Close();
            return 1;
        }
    }

    char data[16];
    std::snprintf(data, sizeof data, "51017A%02X", wanted);
    if (!SendUserData(*m, target, data)) {
        err << "mbusctl set-address: " << meter << " did not acknowledge the new address " << wanted
            << " (no E5h); it may still be at " << old << "\n";
        m->Close();
        return 1;
    }
    const std::shared_ptr<MBTelegram> after = m->Identify(Target::From(std::to_string(wanted)));
    m->Close();
    if (!after) {
        err << "mbusctl set-address: " << meter << " acknowledged the address " << wanted
            << ", but nothing answers there\n";
        return 1;
    }
    if (!SameMeter(*before, *after)) {
        err << "mbusctl set-address: " << meter << " acknowledged the address " << wanted << ", but "
            << m->Describe(*after) << " answers there\n";
        return 1;
    }
    out << "primary address of " << meter << " set from " << old << " to " << wanted << ", confirmed\n";
    return 0;
}

int RunSetBaud(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    if (const int rc = ParseOptions(args, false, o, out, err); rc >= 0) return rc;
    int rate = 0, code = -1;
    if (ParseNumber(o.positional[1], 300, 38400, &rate))
        for (int i = 0; i < 8; ++i)
            if (kRates[i] == rate) code = i;
    if (code < 0) {
        err << "mbusctl set-baud: rate \"" << o.positional[1]
            << "\": give 300, 600, 1200, 2400, 4800, 9600, 19200 or 38400\n";
        return 2;
    }
    const Target target = Target::From(o.positional[0]);
    std::unique_ptr<Commissioning> m;
    if (const int rc = Start("set-baud", o, &m, err); rc >= 0) return rc;

    const std::shared_ptr<MBTelegram> before = m->Identify(target);
    if (!before) {
        err << "mbusctl set-baud: " << target.given << " did not answer at " << o.line.baud
            << " baud; nothing was changed\n";
        m->Close();
        return 1;
    }
    const std::string meter = m->Describe(*before);
    char data[16];
    std::snprintf(data, sizeof data, "%02X", 0xB8 + code);
    if (!SendUserData(*m, target, data)) {
        err << "mbusctl set-baud: " << meter << " did not acknowledge the switch to " << rate
            << " baud (no E5h at " << o.line.baud << ")\n";
        m->Close();
        return 1;
    }
    m->Close();
    if (!m->Open(o, rate)) return 1;
    const std::shared_ptr<MBTelegram> after = m->Identify(target);
    m->Close();
    if (!after || !SameMeter(*before, *after)) {
        err << "mbusctl set-baud: " << meter << " acknowledged the switch to " << rate << " baud, but "
            << (after ? m->Describe(*after) + " answers" : std::string("nothing answers")) << " at " << rate
            << " baud\n";
        return 1;
    }
    out << "baud rate of " << meter << " switched from " << o.line.baud << " to " << rate << ", confirmed\n";
    return 0;
}

}  // namespace mbus::cli
