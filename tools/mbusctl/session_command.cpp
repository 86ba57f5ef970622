#include "tools/mbusctl/session_command.h"

#include <dlfcn.h>
#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <thread>

#include "control/com/identifiers.h"
#include "platform/com/create.h"
#include "platform/com/ptr.h"
#include "platform/com/types.h"
#include "platform/files/temporary_directory.h"
#include "tools/mbusctl/control_client.h"
#include "tools/mbusctl/session_line.h"
#include "sim/simulated_control.h"

namespace mbus::cli {
namespace {

using com::DISPID;
using com::HRESULT;
using com::VARIANT;

constexpr const char* kSessionUsage =
    "usage: mbusctl session [options] < CALLS\n"
    "\n"
    "Creates the control and runs calls of its dispatch interface read from\n"
    "standard input, one per line, printing each result on a line of its own:\n"
    "\n"
    "  NAME [ARG...]           a method or a property get\n"
    "  NAME [ARG...] = VALUE   a property put\n"
    "  wait [MS]               wait until the control has a result: while a\n"
    "                          script runs (SCRStatus not 0), else while\n"
    "                          APPReceiveTest is 255; MS is the timeout (60000)\n"
    "  sleep MS                pause for MS milliseconds\n"
    "  help [NAME]             list the members of the control, or show one\n"
    "  # ...                   a comment (so is a blank line)\n"
    "\n"
    "Names are the control's, in any case. Arguments and values are numbers\n"
    "(-12, 0x1F) or strings in double quotes with the escapes \\\\ \\\" \\n \\r \\t\n"
    "\\xHH; blanks or one comma between arguments.\n"
    "\n"
    "options:\n";

constexpr const char* kCallUsage =
    "usage: mbusctl call [options] NAME [ARG...] [= VALUE]\n"
    "\n"
    "Creates the control and makes one call of its dispatch interface. The\n"
    "words after NAME are read as a line of mbusctl session (see its --help),\n"
    "so strings need double quotes that the shell keeps:\n"
    "\n"
    "  mbusctl call COMPort = 1\n"
    "  mbusctl call APPValueDec 3\n"
    "  mbusctl call APPHexAscToLong '\"1F\"'\n"
    "\n"
    "options:\n";

constexpr const char* kOptionsUsage =
    "  --raw       print strings as they are (else CR, LF and the other control\n"
    "              characters but tab are shown as \\r, \\n, \\xHH)\n"
    "  --json      one JSON object per call: {\"line\":N,\"call\":NAME,\"result\":...},\n"
    "              \"put\":VALUE for a put, \"error\":TEXT for a failure\n"
    "  -h, --help  this text\n"
    "\n"
    "When the control's class is not registered, its library is registered\n"
    "first: $MBUS_CONTROL_LIBRARY, else ../lib/libMBusOrlX4Ctrl.so beside the\n"
    "mbusctl program.\n"
    "\n";

constexpr const char* kSessionExit =
    "exit code: 0 every line worked, 1 a line failed (the session goes on after\n"
    "it), 2 bad usage or the control could not be created\n";
constexpr const char* kCallExit =
    "exit code: 0 the call worked, 1 it failed, 2 bad usage (a malformed call\n"
    "included) or the control could not be created\n";

struct Options {
    bool raw = false;
    bool json = false;
};

// Option words start with "--" (no argument or value does) or are -h.
bool IsOptionWord(const std::string& word) { return word.rfind("--", 0) == 0 || word == "-h"; }

// 1 an option was read, 0 --help (usage printed), -1 unknown (message printed).
int ReadOption(const std::string& word, Options& o, const char* command, const char* usage, const char* exit,
               std::ostream& out, std::ostream& err) {
    if (word == "--raw") {
        o.raw = true;
    } else if (word == "--json") {
        o.json = true;
    } else if (word == "-h" || word == "--help") {
        out << usage << kOptionsUsage;
        if (std::string(command) == "session") out << "without hardware:\n" << sim::kSimulationUsage << "\n";
        out << exit;
        return 0;
    } else {
        err << "mbusctl " << command << ": unknown option \"" << word << "\"; use --raw, --json or --help\n";
        return -1;
    }
    return 1;
}

// The VARIANT arguments of one Invoke, freed at the end of the scope.
class Arguments {
public:
    Arguments() = default;
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;
    ~Arguments() {
        for (VARIANT& v : v_) com::VariantClear(&v);
    }
    // False when out of memory.
    bool Add(const SessionValue& value) {
        v_.push_back(value.kind == SessionValue::Kind::String ? com::MakeVariantBstr(value.text)
                                                               : com::MakeVariantI4(value.integer));
        return v_.back().vt != com::VT_EMPTY;
    }
    VARIANT* Data() { return v_.data(); }
    com::UINT Count() const { return static_cast<com::UINT>(v_.size()); }

private:
    std::vector<VARIANT> v_;
};

// A result of Invoke as a session value; false for a type that has no
// printed form.
bool FromVariant(const VARIANT& v, SessionValue* value) {
    switch (v.vt) {
    case com::VT_EMPTY:
    case com::VT_NULL: *value = {}; return true;
    case com::VT_I4: *value = SessionValue::Integer(v.lVal); return true;
    case com::VT_I2: *value = SessionValue::Integer(v.iVal); return true;
    case com::VT_UI1: *value = SessionValue::Integer(v.bVal); return true;
    case com::VT_BOOL: *value = SessionValue::Integer(v.boolVal != 0 ? -1 : 0); return true;
    case com::VT_BSTR: *value = SessionValue::String(com::BstrToUtf8(v.bstrVal)); return true;
    default: return false;
    }
}

// Runs lines against the control and prints what they give.
class Session {
public:
    Session(com::IDispatch* control, const Options& o, std::ostream& out, std::ostream& err, std::string command)
        : control_(control), o_(o), out_(out), err_(err), command_(std::move(command)) {}

    // False when the line failed (after saying why).
    bool Run(int lineNumber, const std::string& prefix, std::string_view text);

private:
    // Empty on success (with the result in *result), else what went wrong.
    std::string Call(const std::string& name, const std::vector<SessionValue>& args, const SessionValue* putValue,
                     SessionValue* result);
    std::string Wait(std::int32_t timeoutMs);

    com::IDispatch* control_;
    Options o_;
    std::ostream& out_;
    std::ostream& err_;
    std::string command_;
    std::map<std::string, DISPID> ids_;  // the names looked up so far
};

std::string Session::Call(const std::string& name, const std::vector<SessionValue>& args,
                          const SessionValue* putValue, SessionValue* result) {
    *result = {};
    DISPID id = com::DISPID_UNKNOWN;
    if (const auto known = ids_.find(name); known != ids_.end()) {
        id = known->second;
    } else {
        // A plain zero-terminated string would do; a BSTR is one too, and also
        // serves a callee that reads the name as a BSTR.
        const com::UniqueBstr wide = com::UniqueBstr::FromUtf8(name);
        if (wide.Get() == nullptr) return name + ": out of memory";
        const com::OLECHAR* names[] = {wide.Get()};
        const HRESULT hr = control_->GetIDsOfNames(com::IID_NULL, names, 1, com::LOCALE_USER_DEFAULT, &id);
        if (hr == com::DISP_E_UNKNOWNNAME) return "unknown name \"" + name + "\"";
        if (com::FAILED(hr)) return "cannot look up \"" + name + "\": " + com::DescribeHResult(hr);
        ids_[name] = id;
    }

    // The value of a put is the one named argument and comes first; the
    // positional arguments follow from the last to the first.
    const bool put = putValue != nullptr;
    Arguments arguments;
    bool ok = !put || arguments.Add(*putValue);
    for (auto a = args.rbegin(); ok && a != args.rend(); ++a) ok = arguments.Add(*a);
    if (!ok) return name + ": out of memory";
    DISPID named = com::DISPID_PROPERTYPUT;
    com::DISPPARAMS params{arguments.Data(), put ? &named : nullptr, arguments.Count(), put ? 1u : 0u};
    VARIANT answer;
    com::VariantInit(&answer);
    com::EXCEPINFO info{};
    constexpr com::UINT kNoArgument = 0xFFFFFFFF;
    com::UINT badArgument = kNoArgument;
    const com::WORD flags = put ? com::DISPATCH_PROPERTYPUT : com::DISPATCH_METHOD | com::DISPATCH_PROPERTYGET;
    const HRESULT hr = control_->Invoke(id, com::IID_NULL, com::LOCALE_USER_DEFAULT, flags, &params,
                                        put ? nullptr : &answer, &info, &badArgument);
    std::string problem;
    if (com::SUCCEEDED(hr)) {
        if (!FromVariant(answer, result))
            problem = name + " gave a value of type " + std::to_string(answer.vt) + ", which cannot be shown";
    } else if (hr == com::E_NOTIMPL) {
        problem = name + " is not available in this version of the control";
    } else if (hr == com::DISP_E_BADPARAMCOUNT || hr == com::DISP_E_PARAMNOTOPTIONAL) {
        problem = name + ": wrong number of arguments (" + std::to_string(args.size()) + " given)";
    } else if (hr == com::DISP_E_TYPEMISMATCH) {
        // badArgument indexes the reversed arguments, the put value first.
        const std::size_t first = put ? 1 : 0;
        std::string which = "an argument";
        if (badArgument < first) which = "the value";
        else if (badArgument < arguments.Count()) which = "argument " + std::to_string(args.size() - (badArgument - first));
        problem = name + ": " + which + " has the wrong type";
    } else if (hr == com::DISP_E_MEMBERNOTFOUND) {
        problem = put ? name + " cannot be set" : name + " cannot be read or called this way";
    } else if (hr == com::DISP_E_OVERFLOW) {
        problem = name + ": a value is out of range";
    } else if (hr == com::DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
        std::string description = com::BstrToUtf8(info.bstrDescription);
        if (description.empty()) description = com::DescribeHResult(info.scode != 0 ? info.scode : hr);
        problem = name + " failed: " + description;
    } else {
        problem = name + " failed: " + com::DescribeHResult(hr);
    }
    com::ClearExcepInfo(&info);
    com::VariantClear(&answer);
    return problem;
}

// Waits for the control to finish what it does: a running script (SCRStatus
// not 0), else a reception (APPReceiveTest 255 while it is busy).
std::string Session::Wait(std::int32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    constexpr auto kPoll = std::chrono::milliseconds(10);
    SessionValue v;
    const std::vector<SessionValue> none;
    if (Call("SCRStatus", none, nullptr, &v).empty() && v.kind == SessionValue::Kind::Integer && v.integer != 0) {
        for (;;) {
            if (Clock::now() >= deadline)
                return "wait: the script still runs after " + std::to_string(timeoutMs) + " ms";
            std::this_thread::sleep_for(kPoll);
            if (std::string problem = Call("SCRStatus", none, nullptr, &v); !problem.empty())
                return "wait: " + problem;
            if (v.kind == SessionValue::Kind::Integer && v.integer == 0) return {};
        }
    }
    for (;;) {
        if (std::string problem = Call("APPReceiveTest", none, nullptr, &v); !problem.empty())
            return "wait: " + problem;
        if (v.kind != SessionValue::Kind::Integer) return "wait: APPReceiveTest gave no number";
        if (v.integer != 255) return {};
        if (Clock::now() >= deadline)
            return "wait: no result within " + std::to_string(timeoutMs) + " ms (APPReceiveTest still 255)";
        std::this_thread::sleep_for(kPoll);
    }
}

bool Session::Run(int lineNumber, const std::string& prefix, std::string_view text) {
    const SessionParse parsed = ParseSessionLine(text);
    const SessionLine& line = parsed.line;
    SessionOutcome outcome;
    if (!parsed.error.empty()) {
        outcome.error = parsed.error;
    } else {
        switch (line.kind) {
        case SessionLine::Kind::Empty: return true;
        case SessionLine::Kind::Call: outcome.error = Call(line.name, line.args, nullptr, &outcome.value); break;
        case SessionLine::Kind::Put:
            outcome.kind = SessionOutcome::Kind::Put;
            outcome.error = Call(line.name, line.args, &line.value, &outcome.value);
            outcome.value = line.value;
            break;
        case SessionLine::Kind::Wait: outcome.error = Wait(line.milliseconds); break;
        case SessionLine::Kind::Sleep:
            std::this_thread::sleep_for(std::chrono::milliseconds(line.milliseconds));
            break;
        case SessionLine::Kind::Help:
            if (line.topic.empty()) {
                outcome.value = SessionValue::String(SessionHelpListing());
            } else {
                SessionHelp help = SessionHelpFor(line.topic);
                outcome.error = std::move(help.error);
                outcome.value = SessionValue::String(std::move(help.text));
            }
            // Several lines of text: printed as they are, also without --raw.
            if (!o_.json && outcome.error.empty()) {
                out_ << outcome.value.text;
                out_.flush();
                return true;
            }
            break;
        }
    }
    const bool failed = !outcome.error.empty();
    if (failed) {
        outcome.kind = SessionOutcome::Kind::Error;
        err_ << "mbusctl " << command_ << ": " << prefix << outcome.error << "\n";
    }
    if (o_.json) {
        out_ << FormatJson(lineNumber, line.name, outcome) << "\n";
    } else if (outcome.kind == SessionOutcome::Kind::Result && outcome.value.kind != SessionValue::Kind::None) {
        out_ << FormatPlain(outcome.value, o_.raw) << "\n";
    }
    out_.flush();
    return !failed;
}

// Reads the options of `session`; -1 go on, else the exit code.
int ReadSessionOptions(const std::vector<std::string>& args, Options& o, std::ostream& out, std::ostream& err,
                       sim::SimulationOptions* simulation = nullptr) {
    for (const std::string& a : args) {
        if (simulation != nullptr) {
            const int taken = sim::ReadSimulationOption(a, *simulation, err, "mbusctl session");
            if (taken < 0) return 2;
            if (taken > 0) continue;
        }
        if (!IsOptionWord(a)) {
            err << "mbusctl session: unexpected argument \"" << a
                << "\"; the calls come from standard input (mbusctl session --help)\n";
            return 2;
        }
        const int r = ReadOption(a, o, "session", kSessionUsage, kSessionExit, out, err);
        if (r <= 0) return r == 0 ? 0 : 2;
    }
    return -1;
}

constexpr const char* kPrompt = "mbus> ";

// `prompt`: the lines come from a terminal; a prompt before each goes to
// `err`, so that what `out` carries is the results alone.
int RunLines(com::IDispatch* control, const Options& o, std::istream& in, std::ostream& out, std::ostream& err,
             bool prompt = false) {
    Session session(control, o, out, err, "session");
    bool failed = false;
    std::string text;
    if (prompt) err << "mbusctl session: one call per line; help lists the members, Ctrl-D ends\n";
    for (int number = 1;; ++number) {
        if (prompt) err << kPrompt << std::flush;
        if (!std::getline(in, text)) break;
        if (!session.Run(number, "line " + std::to_string(number) + ": ", text)) failed = true;
    }
    if (prompt) err << "\n";
    return failed ? 1 : 0;
}

}  // namespace

int RunSessionWith(com::IDispatch* control, const std::vector<std::string>& options, std::istream& in,
                   std::ostream& out, std::ostream& err) {
    Options o;
    if (const int rc = ReadSessionOptions(options, o, out, err); rc >= 0) return rc;
    return RunLines(control, o, in, out, err);
}

int RunSession(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err) {
    Options o;
    sim::SimulationOptions simulation;
    if (const int rc = ReadSessionOptions(args, o, out, err, &simulation); rc >= 0) return rc;
    com::ComPtr<com::IDispatch> control;
    std::unique_ptr<sim::SimulatedDevices> devices;
    std::optional<files::RemovedOnSignal> cleanup;
    if (simulation.Any()) {
        devices = sim::SimulatedDevices::Create(simulation, &control, err, "mbusctl session");
        if (!devices) return 2;
        cleanup.emplace(devices->TemporaryFiles());
    } else if (!CreateControl("session", &control, err)) {
        return 2;
    }
    const bool terminal = &in == &std::cin && ::isatty(STDIN_FILENO) == 1;
    const int rc = RunLines(control.Get(), o, in, out, err, terminal);
    control.Reset();
    return rc;
}

int RunCall(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    std::string line;
    for (const std::string& a : args) {
        if (IsOptionWord(a)) {
            const int r = ReadOption(a, o, "call", kCallUsage, kCallExit, out, err);
            if (r <= 0) return r == 0 ? 0 : 2;
        } else {
            if (!line.empty()) line += ' ';
            line += a;
        }
    }
    // A malformed command line is bad usage, told before the control is made.
    const SessionParse parsed = ParseSessionLine(line);
    if (!parsed.error.empty()) {
        err << "mbusctl call: " << parsed.error;
        if (parsed.error.find("double quotes") != std::string::npos)
            err << " (keep the quotes from the shell: '\"text\"')";
        err << "\n";
        return 2;
    }
    if (parsed.line.kind == SessionLine::Kind::Empty) {
        err << "mbusctl call: no name given; e.g. mbusctl call APPReceiveTest (mbusctl call --help)\n";
        return 2;
    }
    com::ComPtr<com::IDispatch> control;
    if (!CreateControl("call", &control, err)) return 2;
    Session session(control.Get(), o, out, err, "call");
    return session.Run(1, "", line) ? 0 : 1;
}

}  // namespace mbus::cli
