#include "tools/mbusctl/session_line.h"

#include <algorithm>
#include <cstdio>

#include "control/com/dispatch_table.h"
#include "platform/text/ascii.h"

namespace mbus::cli {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr auto& SameIgnoringCase = text::EqualsIgnoringAsciiCase;

// A character for a message: 'c' when printable ASCII, else its byte value.
std::string Shown(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7F) return std::string("'") + c + "'";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "byte 0x%02X", b);
    return buffer;
}

// A piece of the line for a message: non-printable bytes become '?', long
// pieces are cut.
std::string Quoted(std::string_view text) {
    std::string s = "\"";
    for (std::size_t i = 0; i < text.size() && i < 24; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        s += (b >= 0x20 && b < 0x7F) ? text[i] : '?';
    }
    if (text.size() > 24) s += "...";
    return s + "\"";
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Parser {
public:
    explicit Parser(std::string_view text) : s_(text) {}

    SessionParse Parse();

private:
    std::string Column(std::size_t p) const { return "column " + std::to_string(p + 1); }
    char Peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }
    void SkipBlanks() {
        while (pos_ < s_.size() && IsBlank(s_[pos_])) ++pos_;
    }
    // The end of the line, or a comment where a token could start.
    bool AtEnd() const { return pos_ >= s_.size() || s_[pos_] == '#'; }
    // What may follow a token directly.
    bool AtDelimiter() const { return AtEnd() || IsBlank(s_[pos_]) || s_[pos_] == ',' || s_[pos_] == '='; }
    bool Fail(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    bool ReadValue(SessionValue* value);
    bool ReadNumber(SessionValue* value);
    bool ReadString(SessionValue* value);
    bool CheckVerb(SessionLine& line);
    bool ReadHelp(SessionLine& line);

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string error_;
};

bool Parser::ReadValue(SessionValue* value) {
    const char c = Peek();
    if (c == '"') return ReadString(value);
    if (IsDigit(c) || c == '+' || c == '-') return ReadNumber(value);
    return Fail("unexpected " + Shown(c) + " at " + Column(pos_) +
                ": an argument is a number or a string in double quotes");
}

bool Parser::ReadNumber(SessionValue* value) {
    const std::size_t start = pos_;
    while (!AtDelimiter()) ++pos_;
    const std::string_view token = s_.substr(start, pos_ - start);
    std::size_t i = 0;
    const bool negative = token[0] == '-';
    if (token[0] == '+' || token[0] == '-') ++i;
    const std::string where = Quoted(token) + " at " + Column(start);
    if (i + 1 < token.size() && token[i] == '0' && (token[i + 1] == 'x' || token[i + 1] == 'X')) {
        if (i != 0) return Fail("bad number " + where + ": a hex number takes no sign");
        i += 2;
        if (i == token.size()) return Fail("bad number " + where + ": hex digits missing after 0x");
        std::uint64_t v = 0;
        for (; i < token.size(); ++i) {
            const int d = HexDigit(token[i]);
            if (d < 0) return Fail("bad number " + where + ": " + Shown(token[i]) + " is no hex digit");
            v = v * 16 + static_cast<unsigned>(d);
            if (v > 0xFFFFFFFFu) return Fail("number " + where + " is out of range (0x0..0xFFFFFFFF)");
        }
        value->kind = SessionValue::Kind::Integer;
        value->integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        return true;
    }
    if (i == token.size()) return Fail("bad number " + where + ": digits missing after the sign");
    std::int64_t v = 0;
    for (; i < token.size(); ++i) {
        if (!IsDigit(token[i])) return Fail("bad number " + where + ": " + Shown(token[i]) + " is no digit");
        v = v * 10 + (token[i] - '0');
        if (v > 2147483648LL) break;
    }
    if (i < token.size()) {
        // Out of range already; say so only when the rest are digits too.
        for (std::size_t k = i; k < token.size(); ++k)
            if (!IsDigit(token[k])) return Fail("bad number " + where + ": " + Shown(token[k]) + " is no digit");
    }
    if (negative) v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
        return Fail("number " + where + " is out of range (-2147483648..2147483647)");
    value->kind = SessionValue::Kind::Integer;
    value->integer = static_cast<std::int32_t>(v);
    return true;
}

bool Parser::ReadString(SessionValue* value) {
    const std::size_t start = pos_++;
    std::string text;
    for (;;) {
        if (pos_ >= s_.size()) return Fail("unterminated string starting at " + Column(start));
        const char c = s_[pos_];
        if (c == '"') {
            ++pos_;
            break;
        }
        if (c != '\\') {
            text += c;
            ++pos_;
            continue;
        }
        if (pos_ + 1 >= s_.size()) return Fail("unterminated string starting at " + Column(start));
        const char e = s_[pos_ + 1];
        switch (e) {
        case '\\': text += '\\'; break;
        case '"': text += '"'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'x': {
            const int hi = pos_ + 2 < s_.size() ? HexDigit(s_[pos_ + 2]) : -1;
            const int lo = pos_ + 3 < s_.size() ? HexDigit(s_[pos_ + 3]) : -1;
            if (hi < 0 || lo < 0) return Fail("bad escape at " + Column(pos_) + ": \\x takes two hex digits");
            AppendUtf8(text, static_cast<unsigned>(hi * 16 + lo));
            pos_ += 2;
            break;
        }
        default:
            return Fail("bad escape \\" + std::string(e > 0x20 && e < 0x7F ? std::string(1, e) : "?") + " at " +
                        Column(pos_) + ": use \\\\ \\\" \\n \\r \\t or \\xHH");
        }
        pos_ += 2;
    }
    if (!AtDelimiter())
        return Fail("unexpected " + Shown(s_[pos_]) + " at " + Column(pos_) + " after the string");
    value->kind = SessionValue::Kind::String;
    value->text = std::move(text);
    return true;
}

// `wait [MS]` and `sleep MS`: the verbs of the session itself.
bool Parser::CheckVerb(SessionLine& line) {
    const bool wait = SameIgnoringCase(line.name, "wait");
    if (!wait && !SameIgnoringCase(line.name, "sleep")) return true;
    const char* verb = wait ? "wait" : "sleep";
    const char* usage = wait ? "wait [MS] (a timeout in ms, default 60000)" : "sleep MS";
    if (line.kind == SessionLine::Kind::Put) return Fail(std::string(verb) + " takes no value; use " + usage);
    if (line.args.size() > 1 || (!wait && line.args.empty()))
        return Fail(std::string(verb) + " takes " + (wait ? "at most one argument" : "one argument") + "; use " +
                    usage);
    if (!line.args.empty() &&
        (line.args[0].kind != SessionValue::Kind::Integer || line.args[0].integer < 0))
        return Fail(std::string("the argument of ") + verb + " is a number of milliseconds >= 0");
    line.milliseconds = line.args.empty() ? kDefaultWaitMs : line.args[0].integer;
    line.args.clear();
    line.kind = wait ? SessionLine::Kind::Wait : SessionLine::Kind::Sleep;
    return true;
}

// `help [NAME]`: the name is a bare word, not a value.
bool Parser::ReadHelp(SessionLine& line) {
    line.kind = SessionLine::Kind::Help;
    SkipBlanks();
    if (AtEnd()) return true;
    const std::size_t start = pos_;
    if (IsNameStart(Peek()))
        while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    line.topic = std::string(s_.substr(start, pos_ - start));
    SkipBlanks();
    if (line.topic.empty() || !AtEnd()) {
        line.topic.clear();
        return Fail("help takes at most one member name, e.g. help APPValueDec (unexpected " + Shown(Peek()) +
                    " at " + Column(pos_) + ")");
    }
    return true;
}

SessionParse Parser::Parse() {
    SessionParse result;
    SessionLine& line = result.line;
    SkipBlanks();
    if (AtEnd()) return result;
    if (!IsNameStart(Peek())) {
        Fail("expected a name at " + Column(pos_) + ", found " + Shown(Peek()));
        result.error = error_;
        return result;
    }
    const std::size_t nameStart = pos_;
    while (pos_ < s_.size() && IsNameChar(s_[pos_])) ++pos_;
    line.name = std::string(s_.substr(nameStart, pos_ - nameStart));
    bool ok = true;
    if (SameIgnoringCase(line.name, "help") && (AtEnd() || IsBlank(Peek()))) {
        if (!ReadHelp(line)) {
            result.error = error_;
            line.kind = SessionLine::Kind::Empty;
        }
        return result;
    }
    if (!AtEnd() && !IsBlank(Peek()) && Peek() != '=')
        ok = Fail("unexpected " + Shown(Peek()) + " at " + Column(pos_) +
                  " after the name (names are letters, digits and _)");
    while (ok) {
        SkipBlanks();
        if (AtEnd() || Peek() == '=') break;
        if (Peek() == ',') {
            if (line.args.empty()) {
                ok = Fail("unexpected ',' at " + Column(pos_) + " before the first argument");
                break;
            }
            const std::size_t comma = pos_++;
            SkipBlanks();
            if (AtEnd() || Peek() == '=' || Peek() == ',') {
                ok = Fail("argument missing after the ',' at " + Column(comma));
                break;
            }
        }
        SessionValue v;
        ok = ReadValue(&v);
        if (ok) line.args.push_back(std::move(v));
    }
    if (ok && Peek() == '=') {
        const std::size_t equals = pos_++;
        SkipBlanks();
        if (AtEnd()) {
            ok = Fail("missing value after the '=' at " + Column(equals));
        } else {
            ok = ReadValue(&line.value);
            SkipBlanks();
            if (ok && !AtEnd())
                ok = Fail("unexpected " + Shown(Peek()) + " at " + Column(pos_) + " after the value");
        }
        line.kind = SessionLine::Kind::Put;
    } else {
        line.kind = SessionLine::Kind::Call;
    }
    if (ok) ok = CheckVerb(line);
    if (!ok) {
        result.error = error_;
        line.kind = SessionLine::Kind::Empty;
        line.args.clear();
        line.value = {};
    }
    return result;
}

}  // namespace

SessionParse ParseSessionLine(std::string_view text) { return Parser(text).Parse(); }

namespace {

using control::Kind;
using control::Member;
using control::Type;

const char* KindName(Kind k) {
    switch (k) {
    case Kind::Get: return "get";
    case Kind::GetPut: return "get/put";
    case Kind::Method: return "method";
    }
    return "?";
}

const char* TypeName(Type t) {
    switch (t) {
    case Type::Long: return "long";
    case Type::String: return "string";
    case Type::None: break;
    }
    return "-";
}

// The group of a member: the first three characters of its name (COM,
// APP, ML1, SP4, ...), which every name of the interface starts with.
std::string_view GroupOf(const Member& m) { return std::string_view(m.name).substr(0, 3); }

std::string Signature(const Member& m) {
    std::string s = m.name;
    if (*m.arguments != '\0') s += std::string("(") + m.arguments + ")";
    return s;
}

// `s` followed by blanks up to `width`, and at least two.
std::string Padded(std::string s, std::size_t width) {
    s.append(s.size() + 2 < width ? width - s.size() : 2, ' ');
    return s;
}

}  // namespace

std::string SessionHelpListing() {
    const auto members = control::Members();
    std::size_t width = 0;
    for (const Member& m : members) width = std::max(width, Signature(m).size() + 2);
    // The few very long argument lists push their row's columns further.
    width = std::min<std::size_t>(width, 48);
    // Groups in the order their first member comes in the table.
    std::vector<std::string_view> groups;
    for (const Member& m : members)
        if (std::find(groups.begin(), groups.end(), GroupOf(m)) == groups.end()) groups.push_back(GroupOf(m));
    std::string s = "Members of the control (help NAME for one; kind, then the type of the value):\n";
    for (std::string_view group : groups) {
        s += "\n";
        s += group;
        s += "\n";
        for (const Member& m : members) {
            if (GroupOf(m) != group) continue;
            s += "  " + Padded(Signature(m), width) + Padded(KindName(m.kind), 9) + TypeName(m.value);
            if (!m.Built()) s += "  (not in this build)";
            s += "\n";
        }
    }
    s += "\nVerbs of the session: wait [MS], sleep MS, help [NAME]; # starts a comment.\n";
    return s;
}

SessionHelp SessionHelpFor(std::string_view name) {
    SessionHelp help;
    const Member* m = control::FindMember(name);
    if (m == nullptr) {
        // Near names: few edits away, or containing what was asked.
        const std::string lowered = text::AsciiLowered(name);
        std::vector<std::pair<std::size_t, const char*>> near;
        for (const Member& candidate : control::Members()) {
            const std::size_t d = text::EditDistanceIgnoringAsciiCase(name, candidate.name);
            const bool contains = lowered.size() >= 3 && text::AsciiLowered(candidate.name).find(lowered) != std::string::npos;
            if (d <= std::max<std::size_t>(2, name.size() / 4) || contains) near.emplace_back(d, candidate.name);
        }
        std::stable_sort(near.begin(), near.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        help.error = "help: no member named \"" + std::string(name) + "\"";
        if (near.empty()) {
            help.error += "; help lists them all";
        } else {
            help.error += "; near names:";
            for (std::size_t i = 0; i < near.size() && i < 6; ++i) help.error += (i == 0 ? " " : ", ") + std::string(near[i].second);
        }
        return help;
    }
    std::string& s = help.text;
    s = m->name;
    s += "\n  kind:        ";
    s += KindName(m->kind);
    s += m->kind == Kind::Get ? " (read-only property)" : m->kind == Kind::GetPut ? " (property)" : "";
    s += "\n  arguments:   ";
    s += *m->arguments != '\0' ? m->arguments : "none";
    s += "\n  ";
    s += m->kind == Kind::Method ? "result:      " : "type:        ";
    s += TypeName(m->value);
    s += "\n  dispatch id: " + std::to_string(m->id) + "\n  usage:       ";
    std::string call = m->name;
    for (const control::Parameter& p : control::ParametersOf(*m)) call += " " + p.name;
    s += call;
    if (m->kind == Kind::GetPut) s += "\n               " + call + " = VALUE";
    s += "\n";
    if (!m->Built()) s += "  not available in this build of the control\n";
    return help;
}

std::string FormatPlain(const SessionValue& value, bool raw) {
    switch (value.kind) {
    case SessionValue::Kind::None: return {};
    case SessionValue::Kind::Integer: return std::to_string(value.integer);
    case SessionValue::Kind::String: break;
    }
    if (raw) return value.text;
    std::string s;
    s.reserve(value.text.size());
    for (const char c : value.text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\r') {
            s += "\\r";
        } else if (c == '\n') {
            s += "\\n";
        } else if ((b < 0x20 && c != '\t') || b == 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", b);
            s += buffer;
        } else {
            s += c;
        }
    }
    return s;
}

std::string JsonString(std::string_view text) {
    std::string s = "\"";
    s.reserve(text.size() + 2);
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (b == '"' || b == '\\') {
                s += '\\';
                s += static_cast<char>(b);
            } else if (b < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04X", b);
                s += buffer;
            } else {
                s += static_cast<char>(b);
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence is kept; anything else is U+FFFD.
        std::size_t length = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) length = 2;
        else if (b == 0xE0) length = 3, lo = 0xA0;
        else if (b == 0xED) length = 3, hi = 0x9F;
        else if (b >= 0xE1 && b <= 0xEF) length = 3;
        else if (b == 0xF0) length = 4, lo = 0x90;
        else if (b == 0xF4) length = 4, hi = 0x8F;
        else if (b >= 0xF1 && b <= 0xF3) length = 4;
        bool good = length != 0 && i + length <= text.size();
        for (std::size_t k = 1; good && k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            good = k == 1 ? (c >= lo && c <= hi) : (c >= 0x80 && c <= 0xBF);
        }
        if (good) {
            s.append(text.substr(i, length));
            i += length;
        } else {
            s += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return s + "\"";
}

std::string JsonValue(const SessionValue& value) {
    switch (value.kind) {
    case SessionValue::Kind::Integer: return std::to_string(value.integer);
    case SessionValue::Kind::String: return JsonString(value.text);
    case SessionValue::Kind::None: break;
    }
    return "null";
}

std::string FormatJson(int lineNumber, std::string_view call, const SessionOutcome& outcome) {
    std::string s = "{\"line\":" + std::to_string(lineNumber) + ",\"call\":";
    s += call.empty() ? "null" : JsonString(call);
    switch (outcome.kind) {
    case SessionOutcome::Kind::Result: s += ",\"result\":" + JsonValue(outcome.value); break;
    case SessionOutcome::Kind::Put: s += ",\"put\":" + JsonValue(outcome.value); break;
    case SessionOutcome::Kind::Error: s += ",\"error\":" + JsonString(outcome.error); break;
    }
    return s + "}";
}

}  // namespace mbus::cli
