// mbusctl session and call: the line parser, the printed forms of results,
// and sessions run against a small dispatch object of the test's own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/com/ptr.h"
#include "platform/com/types.h"
#include "sim/simulated_control.h"
#include "tests/support/scratch.h"
#include "tools/mbusctl/session_command.h"
#include "tools/mbusctl/session_line.h"

namespace mbus::cli {
namespace {

using namespace mbus::com;
using Kind = SessionLine::Kind;

// ---- The line parser -------------------------------------------------------

SessionLine Parsed(std::string_view text) {
    const SessionParse p = ParseSessionLine(text);
    EXPECT_EQ(p.error, "") << text;
    return p.line;
}

TEST(SessionLine, CommentsAndBlankLinesAreEmpty) {
    for (const char* text : {"", "   \t", "# a comment", "   # indented \"comment", "\r"})
        EXPECT_EQ(Parsed(text).kind, Kind::Empty) << text;
}

TEST(SessionLine, CallsWithNumbersAndStrings) {
    const SessionLine a = Parsed("  APPValueDec 3");
    EXPECT_EQ(a.kind, Kind::Call);
    EXPECT_EQ(a.name, "APPValueDec");
    EXPECT_EQ(a.args, std::vector<SessionValue>{SessionValue::Integer(3)});

    const SessionLine b = Parsed("Do_2 -12, +5 0x1F,\"x y\"   # trailing comment");
    EXPECT_EQ(b.name, "Do_2");
    EXPECT_EQ(b.args, (std::vector<SessionValue>{SessionValue::Integer(-12), SessionValue::Integer(5),
                                                 SessionValue::Integer(31), SessionValue::String("x y")}));

    EXPECT_EQ(Parsed("N \"a\\\\b\\\"c\\n\\r\\t\\x41\\xE4\"").args[0].text, "a\\b\"c\n\r\tA\xC3\xA4");
    EXPECT_EQ(Parsed("N \"\"").args[0], SessionValue::String(""));
    EXPECT_EQ(Parsed("N \"#, =\"").args[0].text, "#, =");
}

TEST(SessionLine, NumberRange) {
    const SessionLine l = Parsed("N -2147483648 2147483647 0xFFFFFFFF 0x7fffffff 007 0X10");
    const std::vector<SessionValue> expected{SessionValue::Integer(INT32_MIN), SessionValue::Integer(INT32_MAX),
                                             SessionValue::Integer(-1),        SessionValue::Integer(INT32_MAX),
                                             SessionValue::Integer(7),         SessionValue::Integer(16)};
    EXPECT_EQ(l.args, expected);
}

TEST(SessionLine, PutsAndVerbs) {
    const SessionLine put = Parsed("COMPort = 1");
    EXPECT_EQ(put.kind, Kind::Put);
    EXPECT_EQ(put.name, "COMPort");
    EXPECT_TRUE(put.args.empty());
    EXPECT_EQ(put.value, SessionValue::Integer(1));

    const SessionLine indexed = Parsed("UserText 2, 9=\"W\\xE4rme\"");
    EXPECT_EQ(indexed.kind, Kind::Put);
    EXPECT_EQ(indexed.args, (std::vector<SessionValue>{SessionValue::Integer(2), SessionValue::Integer(9)}));
    EXPECT_EQ(indexed.value, SessionValue::String("W\xC3\xA4rme"));

    EXPECT_EQ(Parsed("wait").kind, Kind::Wait);
    EXPECT_EQ(Parsed("wait").milliseconds, kDefaultWaitMs);
    EXPECT_EQ(Parsed("WAIT 250").milliseconds, 250);
    const SessionLine sleep = Parsed("sleep 0");
    EXPECT_EQ(sleep.kind, Kind::Sleep);
    EXPECT_EQ(sleep.milliseconds, 0);
    EXPECT_TRUE(sleep.args.empty());
}

TEST(SessionLine, MalformedLinesSayWhatAndWhere) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"Foo \"abc", "unterminated string starting at column 5"},
        {"Foo \"abc\\", "unterminated string starting at column 5"},
        {"Foo \"a\\q\"", "bad escape \\q at column 7"},
        {"Foo \"\\x4\"", "bad escape at column 6: \\x takes two hex digits"},
        {"Foo \"a\"b", "unexpected 'b' at column 8 after the string"},
        {"Foo 12a", "bad number \"12a\" at column 5: 'a' is no digit"},
        {"Foo 2147483648", "number \"2147483648\" at column 5 is out of range"},
        {"Foo -2147483649", "out of range (-2147483648..2147483647)"},
        {"Foo 99999999999999999999", "out of range"},
        {"Foo 0x100000000", "out of range (0x0..0xFFFFFFFF)"},
        {"Foo -0x10", "a hex number takes no sign"},
        {"Foo 0x", "hex digits missing after 0x"},
        {"Foo -", "digits missing after the sign"},
        {"Foo =", "missing value after the '=' at column 5"},
        {"Foo = 1 2", "unexpected '2' at column 9 after the value"},
        {"Foo = 1 = 2", "unexpected '=' at column 9 after the value"},
        {"1abc", "expected a name at column 1, found '1'"},
        {"\xFFx", "expected a name at column 1, found byte 0xFF"},
        {"Foo bar", "unexpected 'b' at column 5: an argument is a number or a string in double quotes"},
        {"Foo-1", "unexpected '-' at column 4 after the name"},
        {"Foo , 1", "unexpected ',' at column 5 before the first argument"},
        {"Foo 1, ,2", "argument missing after the ',' at column 6"},
        {"Foo 1,", "argument missing after the ','"},
        {"sleep", "sleep takes one argument"},
        {"wait 1 2", "wait takes at most one argument"},
        {"wait = 5", "wait takes no value"},
        {"wait -1", "number of milliseconds >= 0"},
        {"sleep \"x\"", "number of milliseconds >= 0"},
    };
    for (const auto& c : cases) {
        const SessionParse p = ParseSessionLine(c.text);
        EXPECT_NE(p.error.find(c.message), std::string::npos) << c.text << " -> " << p.error;
        EXPECT_EQ(p.line.kind, Kind::Empty) << c.text;
    }
    EXPECT_EQ(ParseSessionLine("Foo bar").line.name, "Foo");
}

// ---- Printed forms -----------------------------------------------------------

TEST(SessionFormat, PlainRawAndJson) {
    const SessionValue text = SessionValue::String("a\r\nb\tc\x01\x7F\xC3\xA4\\");
    EXPECT_EQ(FormatPlain(text, false), "a\\r\\nb\tc\\x01\\x7F\xC3\xA4\\");
    EXPECT_EQ(FormatPlain(text, true), text.text);
    EXPECT_EQ(FormatPlain(SessionValue::Integer(-5), false), "-5");
    EXPECT_EQ(FormatPlain({}, false), "");

    EXPECT_EQ(JsonString("q\"b\\\r\n\x1F\xE2\x82\xAC"), "\"q\\\"b\\\\\\u000D\\u000A\\u001F\xE2\x82\xAC\"");
    // Malformed UTF-8 (a lone continuation byte, a cut sequence, a surrogate) becomes U+FFFD.
    EXPECT_EQ(JsonString("\x80 \xE2\x82 \xED\xA0\x80"),
              "\"\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"");

    EXPECT_EQ(FormatJson(3, "APPReceiveTest", {SessionOutcome::Kind::Result, SessionValue::Integer(3), {}}),
              "{\"line\":3,\"call\":\"APPReceiveTest\",\"result\":3}");
    EXPECT_EQ(FormatJson(4, "APPManufacturerIDAsc", {SessionOutcome::Kind::Result, SessionValue::String("QXA"), {}}),
              "{\"line\":4,\"call\":\"APPManufacturerIDAsc\",\"result\":\"QXA\"}");
    EXPECT_EQ(FormatJson(5, "COMPort", {SessionOutcome::Kind::Put, SessionValue::Integer(1), {}}),
              "{\"line\":5,\"call\":\"COMPort\",\"put\":1}");
    EXPECT_EQ(FormatJson(6, "", {SessionOutcome::Kind::Error, {}, "bad \"x\""}),
              "{\"line\":6,\"call\":null,\"error\":\"bad \\\"x\\\"\"}");
    EXPECT_EQ(FormatJson(7, "Reset", {}), "{\"line\":7,\"call\":\"Reset\",\"result\":null}");
}

// ---- Sessions against a dispatch object ----------------------------------------
//
// Value       long property (get, put)
// Text        string, read only: "Line 1\r\nZähler €"
// Sub a b     method: a - b (long arguments)
// Echo s      method: s (string argument)
// Reset       method without value: Value = 0
// Later       not built: E_NOTIMPL
// APPReceiveTest  255 for the first `busyPolls` reads, then 3
// SCRStatus   known only when scriptPolls >= 0: 1 for that many reads, then 0

class FakeControl final : public IDispatch {
public:
    enum : DISPID { kValue = 1, kText, kSub, kEcho, kReset, kLater, kReceive, kScript };

    int value = 7;
    int busyPolls = 0, receivePolls = 0;
    int scriptPolls = -1, scriptReads = 0;
    std::vector<WORD> flags;  // of every Invoke

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *object = this;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT GetIDsOfNames(REFIID, const OLECHAR* const* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const char* name;
            DISPID id;
        } kMembers[] = {{"value", kValue}, {"text", kText},   {"sub", kSub},           {"echo", kEcho},
                        {"reset", kReset}, {"later", kLater}, {"appreceivetest", kReceive}, {"scrstatus", kScript}};
        if (count != 1) return E_INVALIDARG;
        std::string lower;
        for (const OLECHAR* c = names[0]; *c != 0; ++c)
            lower += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
        for (const auto& m : kMembers) {
            if (lower == m.name && (m.id != kScript || scriptPolls >= 0)) {
                ids[0] = m.id;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT Invoke(DISPID id, REFIID, LCID, WORD wFlags, DISPPARAMS* p, VARIANT* result, EXCEPINFO*,
                   UINT* argErr) override {
        flags.push_back(wFlags);
        const bool put = (wFlags & DISPATCH_PROPERTYPUT) != 0;
        if (put && (id != kValue || p->cNamedArgs != 1 || p->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
            return DISP_E_MEMBERNOTFOUND;
        const UINT positional = p->cArgs - p->cNamedArgs;
        auto expect = [&](UINT n) { return positional == n; };
        auto typed = [&](UINT index, VARTYPE vt) {
            if (p->rgvarg[index].vt == vt) return true;
            *argErr = index;
            return false;
        };
        switch (id) {
        case kValue:
            if (!expect(0)) return DISP_E_BADPARAMCOUNT;
            if (put) {
                if (!typed(0, VT_I4)) return DISP_E_TYPEMISMATCH;
                value = p->rgvarg[0].lVal;
            } else {
                *result = MakeVariantI4(value);
            }
            return S_OK;
        case kText:
            if (!expect(0)) return DISP_E_BADPARAMCOUNT;
            *result = MakeVariantBstr("Line 1\r\nZ\xC3\xA4hler \xE2\x82\xAC");
            return S_OK;
        case kSub:  // the last argument comes first
            if (!expect(2)) return DISP_E_BADPARAMCOUNT;
            if (!typed(0, VT_I4) || !typed(1, VT_I4)) return DISP_E_TYPEMISMATCH;
            *result = MakeVariantI4(p->rgvarg[1].lVal - p->rgvarg[0].lVal);
            return S_OK;
        case kEcho:
            if (!expect(1)) return DISP_E_BADPARAMCOUNT;
            if (!typed(0, VT_BSTR)) return DISP_E_TYPEMISMATCH;
            *result = MakeVariantBstr(BstrToUtf8(p->rgvarg[0].bstrVal));
            return S_OK;
        case kReset:
            value = 0;
            return S_OK;
        case kLater: return E_NOTIMPL;
        case kReceive: *result = MakeVariantI4(++receivePolls <= busyPolls ? 255 : 3); return S_OK;
        case kScript: *result = MakeVariantI4(scriptReads++ < scriptPolls ? 1 : 0); return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
};

struct RunResult {
    int rc;
    std::string out, err;
};

RunResult Session(FakeControl& control, const std::string& lines, std::vector<std::string> options = {}) {
    std::istringstream in(lines);
    std::ostringstream out, err;
    const int rc = RunSessionWith(&control, options, in, out, err);
    return {rc, out.str(), err.str()};
}

const char* kScript =
    "# set and read back\n"
    "value = 42\n"
    "Value\n"
    "\n"
    "Text\n"
    "Sub 10, 3\n"
    "Echo \"a\\tb\\x41\\\\\"\n"
    "Reset\n"
    "Value\n";

TEST(SessionRun, PrintsOneResultPerLine) {
    FakeControl control;
    const RunResult r = Session(control, kScript);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "42\nLine 1\\r\\nZ\xC3\xA4hler \xE2\x82\xAC\n7\na\tbA\\\n0\n");
    // The put went as a put, everything else as method-or-get.
    ASSERT_EQ(control.flags.size(), 7u);
    EXPECT_EQ(control.flags[0], DISPATCH_PROPERTYPUT);
    for (std::size_t i = 1; i < control.flags.size(); ++i)
        EXPECT_EQ(control.flags[i], DISPATCH_METHOD | DISPATCH_PROPERTYGET);
}

TEST(SessionRun, RawKeepsLineBreaks) {
    FakeControl control;
    EXPECT_EQ(Session(control, "Text\n", {"--raw"}).out, "Line 1\r\nZ\xC3\xA4hler \xE2\x82\xAC\n");
}

TEST(SessionRun, JsonGivesOneObjectPerCall) {
    FakeControl control;
    const RunResult r = Session(control, kScript + std::string("Later\n"), {"--json"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out,
              "{\"line\":2,\"call\":\"value\",\"put\":42}\n"
              "{\"line\":3,\"call\":\"Value\",\"result\":42}\n"
              "{\"line\":5,\"call\":\"Text\",\"result\":\"Line 1\\u000D\\u000AZ\xC3\xA4hler \xE2\x82\xAC\"}\n"
              "{\"line\":6,\"call\":\"Sub\",\"result\":7}\n"
              "{\"line\":7,\"call\":\"Echo\",\"result\":\"a\\u0009bA\\\\\"}\n"
              "{\"line\":8,\"call\":\"Reset\",\"result\":null}\n"
              "{\"line\":9,\"call\":\"Value\",\"result\":0}\n"
              "{\"line\":10,\"call\":\"Later\",\"error\":\"Later is not available in this version of the "
              "control\"}\n");
}

TEST(SessionRun, FailedLinesAreReportedAndTheSessionGoesOn) {
    FakeControl control;
    const RunResult r = Session(control,
                                "Nothing\n"
                                "Sub 1\n"
                                "Later\n"
                                "Sub \"x\" 1\n"
                                "Value = \"y\"\n"
                                "Text = 1\n"
                                "Sub 1 \"2\n"
                                "Value\n");
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "7\n");
    EXPECT_EQ(r.err,
              "mbusctl session: line 1: unknown name \"Nothing\"\n"
              "mbusctl session: line 2: Sub: wrong number of arguments (1 given)\n"
              "mbusctl session: line 3: Later is not available in this version of the control\n"
              "mbusctl session: line 4: Sub: argument 1 has the wrong type\n"
              "mbusctl session: line 5: Value: the value has the wrong type\n"
              "mbusctl session: line 6: Text cannot be set\n"
              "mbusctl session: line 7: unterminated string starting at column 7\n");
}

TEST(SessionRun, WaitPollsUntilTheReceptionEnds) {
    FakeControl control;
    control.busyPolls = 3;
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = Session(control, "wait 5000\nAPPReceiveTest\n");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "3\n");
    EXPECT_EQ(control.receivePolls, 5);  // 3 busy, the one that ended the wait, the call
}

TEST(SessionRun, WaitTimesOut) {
    FakeControl control;
    control.busyPolls = 1000000;
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = Session(control, "wait 40\nValue\n", {"--json"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, "mbusctl session: line 1: wait: no result within 40 ms (APPReceiveTest still 255)\n");
    EXPECT_EQ(r.out,
              "{\"line\":1,\"call\":\"wait\",\"error\":\"wait: no result within 40 ms (APPReceiveTest still "
              "255)\"}\n{\"line\":2,\"call\":\"Value\",\"result\":7}\n");
}

TEST(SessionRun, WaitFollowsARunningScript) {
    FakeControl control;
    control.scriptPolls = 3;
    control.busyPolls = 1000000;  // would time out if the wait looked at the reception
    const RunResult r = Session(control, "wait 5000\n");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(control.scriptReads, 4);
    EXPECT_EQ(control.receivePolls, 0);
}

TEST(SessionRun, Options) {
    FakeControl control;
    const RunResult help = Session(control, "", {"--help"});
    EXPECT_EQ(help.rc, 0);
    EXPECT_NE(help.out.find("usage: mbusctl session"), std::string::npos);
    EXPECT_EQ(Session(control, "", {"--bogus"}).rc, 2);
    const RunResult stray = Session(control, "Value\n", {"Value"});
    EXPECT_EQ(stray.rc, 2);
    EXPECT_NE(stray.err.find("the calls come from standard input"), std::string::npos);
    EXPECT_TRUE(control.flags.empty());
}

// ---- Creating the control ----------------------------------------------------

TEST(SessionCall, BadUsageIsToldBeforeTheControlIsCreated) {
    std::ostringstream out, err;
    EXPECT_EQ(RunCall({"--json"}, out, err), 2);
    EXPECT_NE(err.str().find("no name given"), std::string::npos);
    err.str("");
    EXPECT_EQ(RunCall({"Echo", "abc"}, out, err), 2);
    EXPECT_NE(err.str().find("keep the quotes from the shell"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("registering"), std::string::npos);
}

// The port map of a simulated session (mbusctl session --simulate, MERIDEX
// --simulate) lies in a directory of its own under $TMPDIR: a link that
// someone planted at a name the program might choose is neither written
// through nor removed, and nothing is left behind.
TEST(SessionSimulate, ThePortMapIsMadeInADirectoryOfItsOwnNeverThroughALink) {
    testsupport::ScratchDirectory tmp;
    ASSERT_TRUE(tmp.Ok());
    const std::string target = tmp.WriteFile("precious", "the user's data\n");
    const std::string planted = tmp.File("mbus-simulated-ports-" + std::to_string(::getpid()));
    ASSERT_EQ(::symlink(target.c_str(), planted.c_str()), 0);
    const testsupport::ScopedEnv tmpdir("TMPDIR", tmp.Path());
    const testsupport::ScopedEnv map("MBUS_PORT_MAP", "/the/users/own/map");
    {
        sim::SimulationOptions options;
        options.kind = "bus";
        com::ComPtr<com::IDispatch> control;
        std::ostringstream err;
        auto devices = sim::SimulatedDevices::Create(options, &control, err, "test");
        ASSERT_NE(devices, nullptr) << err.str();
        const std::string portMap = std::getenv("MBUS_PORT_MAP");
        struct stat st;
        ASSERT_EQ(::lstat(portMap.c_str(), &st), 0) << portMap;
        EXPECT_TRUE(S_ISREG(st.st_mode)) << portMap;
        const std::string directory = portMap.substr(0, portMap.rfind('/'));
        EXPECT_NE(directory, tmp.Path());
        EXPECT_EQ(directory.rfind(tmp.Path() + "/", 0), 0u) << directory;
        ASSERT_EQ(::lstat(directory.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        control.Reset();
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), "the user's data\n");
    struct stat st;
    ASSERT_EQ(::lstat(planted.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.Path())) {
        ++entries;
        EXPECT_TRUE(e.path() == target || e.path() == planted) << e.path();
    }
    EXPECT_EQ(entries, 2);
    EXPECT_STREQ(std::getenv("MBUS_PORT_MAP"), "/the/users/own/map");
}

TEST(SessionCall, AnUnregisteredControlIsRegisteredFromItsLibrary) {
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const testsupport::ScopedEnv registry("MBUS_REGISTRY", dir.File("registry"));
    const testsupport::ScopedEnv library("MBUS_CONTROL_LIBRARY", dir.File("missing.so"));
    std::ostringstream out, err;
    EXPECT_EQ(RunCall({"APPReceiveTest"}, out, err), 2);
    EXPECT_NE(err.str().find("mbusctl call: registering " + dir.File("missing.so") + "\n"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("cannot load"), std::string::npos);
    EXPECT_EQ(out.str(), "");
}

TEST(SessionCall, ARegistrationWhoseLibraryIsGoneIsReplacedByThisProgramsOwn) {
    // A registry left behind by a build tree that was removed.
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const testsupport::ScopedEnv registry("MBUS_REGISTRY", dir.File("registry"));
    const testsupport::ScopedEnv library("MBUS_CONTROL_LIBRARY", MBUS_CONTROL_LIBRARY_PATH);
    std::ostringstream out, err;
    ASSERT_EQ(RunCall({"APPReceiveTest"}, out, err), 0) << err.str();
    std::ifstream in(dir.File("registry"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string real = MBUS_CONTROL_LIBRARY_PATH, gone = dir.File("removed-build/libMBusOrlX4Ctrl.so");
    const std::size_t at = text.find(real);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, real.size(), gone);
    dir.WriteFile("registry", text);

    out.str("");
    err.str("");
    EXPECT_EQ(RunCall({"APPReceiveTest"}, out, err), 0) << err.str();
    EXPECT_NE(err.str().find("mbusctl call: the registered control library " + gone + " is gone\n"), std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("mbusctl call: registering " + real + "\n"), std::string::npos) << err.str();
    std::ifstream again(dir.File("registry"));
    const std::string now((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>());
    EXPECT_EQ(now.find(gone), std::string::npos) << now;
}

// ---- help ------------------------------------------------------------------

TEST(SessionHelp, ParsedAsAVerbWithAnOptionalName) {
    const SessionLine all = Parsed("HELP  # all of them");
    EXPECT_EQ(all.kind, Kind::Help);
    EXPECT_EQ(all.topic, "");
    const SessionLine one = Parsed("help appvaluedec");
    EXPECT_EQ(one.kind, Kind::Help);
    EXPECT_EQ(one.topic, "appvaluedec");
    for (const char* bad : {"help A B", "help 3", "help \"APPVersion\"", "help = 1"})
        EXPECT_NE(ParseSessionLine(bad).error.find("help takes at most one member name"), std::string::npos) << bad;
    // A member whose name merely starts with "help" stays a call.
    EXPECT_EQ(Parsed("helpers 1").kind, Kind::Call);
}

TEST(SessionHelp, ListingGroupsEveryMemberByPrefix) {
    FakeControl control;
    const RunResult r = Session(control, "help\n");
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(control.flags.empty());  // the control is not asked
    const std::string& out = r.out;
    // Group headings in table order, each on a line of its own.
    std::size_t last = 0;
    for (const char* group : {"\nCOM\n", "\nAPP\n", "\nML1\n", "\nML7\n", "\nOPT\n", "\nTEL\n", "\nSP1\n", "\nLOG\n",
                              "\nSCR\n", "\nSP4\n"}) {
        const std::size_t at = out.find(group);
        ASSERT_NE(at, std::string::npos) << group;
        EXPECT_GT(at, last) << group;
        last = at;
    }
    // A member sits under its group with its arguments, kind and type.
    const std::size_t app = out.find("\nAPP\n"), ml1 = out.find("\nML1\n");
    const std::size_t valueDec = out.find("  APPValueDec(long ");
    ASSERT_NE(valueDec, std::string::npos);
    EXPECT_TRUE(valueDec > app && valueDec < ml1);
    const std::string row = out.substr(valueDec, out.find('\n', valueDec) - valueDec);
    EXPECT_NE(row.find(" get "), std::string::npos) << row;
    EXPECT_TRUE(row.ends_with("string")) << row;
    EXPECT_NE(out.find("  COMPort "), std::string::npos);
    EXPECT_NE(out.find("  SCRExecute(string "), std::string::npos);
    // Every row of the interface is there once.
    std::size_t rows = 0;
    for (std::size_t at = out.find("\n  "); at != std::string::npos; at = out.find("\n  ", at + 1)) ++rows;
    EXPECT_GT(rows, 200u);
    EXPECT_NE(out.find("wait [MS], sleep MS, help [NAME]"), std::string::npos);
}

TEST(SessionHelp, OneMemberAndUnknownNames) {
    FakeControl control;
    const RunResult r = Session(control, "help comport\nhelp APPValueDec\nhelp COMOpen\nhelp COMPrt\nhelp Zzzzzzzz\n");
    EXPECT_EQ(r.rc, 1);  // the unknown names are failed lines
    const std::string& out = r.out;
    EXPECT_NE(out.find("COMPort\n  kind:        get/put (property)\n  arguments:   none\n  type:        long\n"
                       "  dispatch id: 8\n  usage:       COMPort\n               COMPort = VALUE\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("APPValueDec\n  kind:        get (read-only property)\n  arguments:   long "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("  type:        string\n"), std::string::npos);
    EXPECT_NE(out.find("COMOpen\n  kind:        method\n  arguments:   none\n  result:      -\n  dispatch id: 16\n"),
              std::string::npos)
        << out;
    EXPECT_NE(r.err.find("line 4: help: no member named \"COMPrt\"; near names: COMPort"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("line 5: help: no member named \"Zzzzzzzz\"; help lists them all"), std::string::npos)
        << r.err;
    EXPECT_TRUE(control.flags.empty());

    const RunResult json = Session(control, "help COMPort\nhelp Nope\n", {"--json"});
    EXPECT_EQ(json.out.rfind("{\"line\":1,\"call\":\"help\",\"result\":\"COMPort\\u000A  kind:", 0), 0u) << json.out;
    EXPECT_NE(json.out.find("{\"line\":2,\"call\":\"help\",\"error\":\"help: no member named \\\"Nope\\\""),
              std::string::npos)
        << json.out;
}

// ---- The prompt on a terminal ---------------------------------------------------

std::size_t Count(const std::string& text, const std::string& piece) {
    std::size_t n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++n;
    return n;
}

// Reads from `fd` until `text` has come `times` times, the end of the
// stream, or 20 s have passed.
bool ReadUntil(int fd, std::string& got, const std::string& text, std::size_t times = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (Count(got, text) < times) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return Count(got, text) >= times;
}

TEST(SessionPrompt, OnATerminalOnlyAndNeverOnStandardOutput) {
    testsupport::ScratchDirectory dir;
    ASSERT_TRUE(dir.Ok());
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    int out[2];
    ASSERT_EQ(::pipe(out), 0);

    // Standard input and error on the terminal, standard output on a pipe.
    const std::string registry = "MBUS_REGISTRY=" + dir.File("registry");
    const std::string library = "MBUS_CONTROL_LIBRARY=" MBUS_CONTROL_LIBRARY_PATH;
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "MBUS_REGISTRY=", 14) != 0 && std::strncmp(*e, "MBUS_CONTROL_LIBRARY=", 21) != 0)
            envp.push_back(*e);
    envp.push_back(const_cast<char*>(registry.c_str()));
    envp.push_back(const_cast<char*>(library.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, slave, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    posix_spawn_file_actions_addclose(&actions, master);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = MBUSCTL_PATH;
    char session[] = "session";
    char* argv[] = {program, session, nullptr};
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, program, &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(slave);
    ::close(out[1]);

    std::string terminal, output;
    EXPECT_TRUE(ReadUntil(master, terminal, "mbus> ")) << terminal;
    const std::string first = "COMPort = 3\n";
    ASSERT_EQ(::write(master, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    const std::string second = "COMPort\n";
    ASSERT_EQ(::write(master, second.data(), second.size()), static_cast<ssize_t>(second.size()));
    EXPECT_TRUE(ReadUntil(out[0], output, "3\n")) << output;
    // A prompt for each line read, then Ctrl-D at the start of a line ends.
    EXPECT_TRUE(ReadUntil(master, terminal, "mbus> ", 3)) << terminal;
    ASSERT_EQ(::write(master, "\x04", 1), 1);
    EXPECT_FALSE(ReadUntil(out[0], output, "mbus>"));  // to the end of the output
    int status = -1;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(output, "3\n");
    ::close(out[0]);
    ::close(master);
}

}  // namespace
}  // namespace mbus::cli
