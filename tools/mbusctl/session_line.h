// The lines of `mbusctl session` and `mbusctl call`: one call of the
// control's dispatch interface per line, and the printed forms of what a
// call gave back. Nothing here knows the component runtime, so the parser
// can be fed arbitrary text; `help` reads the control's dispatch table.
//
//   # a comment (so is a blank line)
//   COMPort = 1                  property put
//   APPReceiveTest               property get or method without arguments
//   APPValueDec 3                with arguments: blanks (or one comma) between
//   APPHexAscToLong "1F"         strings in double quotes ("a \"b\"\r\n")
//   wait [MS]                    until the control has a result (default 60000 ms)
//   sleep MS                     pause
//   help [NAME]                  the members by group, or one member
//
// Numbers are decimal with an optional sign in the range of a 32-bit signed
// long, or 0x followed by hex digits up to 0xFFFFFFFF (taken as the 32-bit
// pattern: 0xFFFFFFFF is -1). String escapes: \\ \" \n \r \t and \xHH, the
// character U+00HH. A # where an argument could start ends the line.

#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbus::cli {

// An argument, a value to put or a result.
struct SessionValue {
    enum class Kind { None, Integer, String } kind = Kind::None;
    std::int32_t integer = 0;
    std::string text;  // UTF-8

    static SessionValue Integer(std::int32_t v) { return {Kind::Integer, v, {}}; }
    static SessionValue String(std::string s) { return {Kind::String, 0, std::move(s)}; }
    friend bool operator==(const SessionValue&, const SessionValue&) = default;
};

struct SessionLine {
    enum class Kind {
        Empty,  // blank or comment
        Call,   // method or property get: name and arguments
        Put,    // property put: name, arguments and the value
        Wait,   // milliseconds = the timeout
        Sleep,  // milliseconds = the pause
        Help,   // topic = the member asked about, empty for the listing
    } kind = Kind::Empty;
    std::string name;  // as written (also "wait" / "sleep" / "help")
    std::string topic;
    std::vector<SessionValue> args;
    SessionValue value;
    std::int32_t milliseconds = 0;
};

inline constexpr std::int32_t kDefaultWaitMs = 60000;

struct SessionParse {
    SessionLine line;
    // Empty when the line was well formed; else what is wrong, with the
    // column (counted in bytes from 1) where it matters. line.name holds the
    // name when the line got that far.
    std::string error;
};

SessionParse ParseSessionLine(std::string_view text);

// The plain form of a result: the decimal number, or the string as it is
// when `raw`, else with CR, LF and the other control characters but tab
// written \r, \n, \xHH so that a result stays on one line. Empty for None.
std::string FormatPlain(const SessionValue& value, bool raw);

// What `help` prints: every member of the dispatch interface grouped by
// the prefix of its name (COM, APP, ML1, ..., SCR) with its arguments,
// kind and type, then the session's own verbs.
std::string SessionHelpListing();

// `help NAME`: one member (found in any case) with its kind, arguments,
// result type, dispatch id and how a line calls it. For an unknown name
// `error` says so and offers the nearest names.
struct SessionHelp {
    std::string text;
    std::string error;
};
SessionHelp SessionHelpFor(std::string_view name);

// `text` as a JSON string literal with its quotes: control characters as
// \u00XX, non-ASCII kept as UTF-8 (malformed bytes become U+FFFD).
std::string JsonString(std::string_view text);
// A value as JSON: a number, a string literal, or null for None.
std::string JsonValue(const SessionValue& value);

// What a line gave, for the --json form: a result (None for a method
// without value, wait and sleep), a put value, or an error.
struct SessionOutcome {
    enum class Kind { Result, Put, Error } kind = Kind::Result;
    SessionValue value;
    std::string error;
};

// {"line":3,"call":"APPReceiveTest","result":3}, {"line":5,"call":"COMPort","put":1},
// {"line":6,"call":"FOO","error":"..."}; "call" is null when the line had
// no readable name.
std::string FormatJson(int lineNumber, std::string_view call, const SessionOutcome& outcome);

}  // namespace mbus::cli
