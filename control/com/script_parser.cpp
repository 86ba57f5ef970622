#include "control/com/script_parser.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

#include "control/engine/channel.h"
#include "control/engine/selection.h"

namespace mbus::control {
namespace {

using engine::ConnectionParameters;

constexpr std::size_t kFieldLimit = 30;

// The confirmation code that a data logger's delete command carries; the
// value is the device's, so this stands in until a device says otherwise.
constexpr const char* kDeleteConfirmationCode = "000";

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

// The number of the digit characters of a text (others skipped); -1 when
// there are none; saturates well above every accepted range.
int64_t Digits(std::string_view s) {
    int64_t n = -1;
    for (char c : s) {
        if (c < '0' || c > '9') continue;
        n = (n < 0 ? 0 : n) * 10 + (c - '0');
        if (n > 100000000000LL) n = 100000000000LL;
    }
    return n;
}

int32_t DigitsOr(std::string_view s, int32_t otherwise) {
    const int64_t n = Digits(s);
    return n < 0 ? otherwise : static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
}

// A line as the parser reads it: fields one after another.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}
    // A field up to its "|" (at most 30 characters); empty on failure.
    std::optional<std::string_view> Field() {
        const std::size_t bar = line_.find('|', at_);
        if (bar == std::string_view::npos || bar - at_ >= kFieldLimit) return std::nullopt;
        const std::string_view f = line_.substr(at_, bar - at_);
        at_ = bar + 1;
        return f;
    }
    std::string_view Rest() {
        const std::string_view r = line_.substr(std::min(at_, line_.size()));
        at_ = line_.size();
        return r;
    }
    std::string_view Remaining() const { return line_.substr(std::min(at_, line_.size())); }
    void Skip(std::size_t n) { at_ = std::min(line_.size(), at_ + n); }

private:
    std::string_view line_;
    std::size_t at_ = 0;
};

// Data of commands 7, 13, 107, 113: hexadecimal pairs, or decimal triples
// (each byte the number modulo 256).
std::vector<uint8_t> DataBytes(std::string_view text, bool decimal) {
    std::string digits;
    for (char c : text)
        if (decimal ? (c >= '0' && c <= '9') : IsHex(c)) digits += c;
    std::vector<uint8_t> bytes;
    if (decimal) {
        for (std::size_t i = 0; i + 2 < digits.size(); i += 3)
            bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 3)) % 256));
    } else {
        for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
            bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The comma-separated digit fields of a selection: hexadecimal digits are
// collected in upper case, a field ends at ",", "|", the line's end or after
// 13 characters. `bar` receives whether the closing "|" was found.
std::vector<std::string> SelectionFields(LineReader& r, int count, bool* bar) {
    std::vector<std::string> fields(static_cast<std::size_t>(count));
    const std::string_view rest = r.Remaining();
    std::size_t i = 0;
    *bar = false;
    for (int f = 0; f < count && i < rest.size() && !*bar; ++f) {
        std::size_t taken = 0;
        while (i < rest.size() && rest[i] != ',' && rest[i] != '|') {
            if (taken < 13 && IsHex(rest[i])) fields[static_cast<std::size_t>(f)] += Upper(rest[i]);
            ++taken;
            ++i;
        }
        if (i < rest.size() && rest[i] == '|') *bar = true;
        ++i;  // past the comma or bar
    }
    if (!*bar) {
        const std::size_t close = rest.find('|', std::min(i, rest.size()));
        *bar = close != std::string_view::npos;
        if (*bar) i = close + 1;
    }
    r.Skip(std::min(i, rest.size()));
    return fields;
}

// The label of a selection up to its colon; the kind is its last character.
std::optional<int> SelectionMode(LineReader& r) {
    const std::string_view rest = r.Remaining();
    const std::size_t colon = rest.find(':');
    if (colon == std::string_view::npos || colon > kFieldLimit || rest.substr(0, colon).find('|') != std::string_view::npos)
        return std::nullopt;
    const char kind = colon > 0 ? rest[colon - 1] : ' ';
    r.Skip(colon + 1);
    return kind == '1' ? 1 : kind == '2' ? 2 : kind == '3' ? 3 : 0;
}

std::string Padded(std::string digits, std::size_t length) {
    if (digits.size() > length) digits.resize(length);
    digits.append(length - digits.size(), 'F');
    return digits;
}

std::optional<ScriptItem> Selection(int command, LineReader& r) {
    const std::optional<int> mode = SelectionMode(r);
    if (!mode) return std::nullopt;
    const bool tunnel = command >= 100;
    bool bar = false;
    engine::Selection s;
    if (command % 100 == 8) {
        const std::vector<std::string> f = SelectionFields(r, 5, &bar);
        const std::string id = Padded(f[0], 8), man = Padded(f[1], 4), gen = Padded(f[2], 2), med = Padded(f[3], 2);
        const engine::SecondaryAddress a{id, man, gen, med};
        const std::string& ext = f[4];
        if (ext.empty()) {
            s = engine::BuildSelect(*mode, a, tunnel);
        } else if (ext.size() <= 2) {
            s = engine::BuildSelectPrim(*mode, a, std::stoi(ext, nullptr, 16), tunnel);
        } else if (ext.size() <= 8) {
            s = engine::BuildSelectFab(*mode, a, Padded(ext, 8), tunnel);
        } else {
            s = engine::BuildSelectSp(*mode, a, Padded(ext, 12), tunnel);
        }
    } else {
        const std::vector<std::string> f = SelectionFields(r, 2, &bar);
        s = engine::BuildSelectCustom(*mode, Padded(f[0], 12), Padded(f[1], 12), tunnel);
    }
    if (!bar) return std::nullopt;
    ScriptItem item;
    item.command = command;
    item.argument = *mode;
    item.data.push_back(s.ci);
    item.data.insert(item.data.end(), s.data.begin(), s.data.end());
    item.line = s.logLine;
    return item;
}

std::optional<ScriptItem> Connection(int command, LineReader& r, int32_t fifo) {
    std::size_t used = 0;
    std::optional<ConnectionParameters> p = ParseConnectionString(r.Remaining(), fifo, &used);
    if (!p) return std::nullopt;
    r.Skip(used);
    ScriptItem item;
    item.command = command;
    item.parameters = p;
    item.line = CanonicalConnectionText(command, *p);
    return item;
}

// Field 1 as an address 0..255 (empty counts as 0).
std::optional<int32_t> Address(std::string_view field) {
    const int64_t n = Digits(field);
    if (n > 255) return std::nullopt;
    return static_cast<int32_t>(std::max<int64_t>(n, 0));
}

void AppendLE32(std::vector<uint8_t>& data, uint32_t v) {
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// The two numbers of commands 323 and 324.
std::vector<uint8_t> TwoNumbers(std::string_view text, uint8_t vife) {
    uint32_t first = 0, second = 0;
    if (text.size() < 100) {
        const std::size_t cut = text.find_first_of(",.:;");
        first = static_cast<uint32_t>(std::max<int64_t>(Digits(text.substr(0, cut)), 0));
        if (cut != std::string_view::npos) second = static_cast<uint32_t>(std::max<int64_t>(Digits(text.substr(cut + 1)), 0));
    }
    std::vector<uint8_t> data = {0x51, 0x04, 0xFD, vife};
    AppendLE32(data, first);
    data.insert(data.end(), {0x04, 0xFD, 0x16});
    AppendLE32(data, second);
    return data;
}

std::string Escape(std::initializer_list<uint8_t> tail) {
    std::string s = "\x1B\x1B\x1B";
    for (uint8_t b : tail) s += static_cast<char>(b);
    return s;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Parses one line into `items`.
void ParseLine(std::string_view text, const ParseSettings& settings, std::vector<ScriptItem>& items) {
    LineReader r(text);
    const std::optional<std::string_view> commandField = r.Field();
    if (!commandField) return;
    const int64_t number = Digits(*commandField);
    if (number < 0) return;
    const int command = static_cast<int>(number);
    ScriptItem item;
    item.command = command;
    auto addressLine = [&](int shown) -> bool {
        const auto f1 = r.Field();
        if (!f1 || !r.Field()) return false;
        const auto address = Address(*f1);
        if (!address) return false;
        item.argument = *address;
        item.line = std::to_string(shown) + "|" + std::to_string(*address) + "||";
        return true;
    };
    auto plain = [&](const char* line) -> bool {
        if (!r.Field() || !r.Field()) return false;
        item.line = line;
        return true;
    };
    auto numberField2 = [&]() -> std::optional<int32_t> {
        if (!r.Field()) return std::nullopt;
        const auto f2 = r.Field();
        if (!f2) return std::nullopt;
        return DigitsOr(*f2, 0);
    };
    switch (command) {
        case 0:
        case 2:
        case 100: {
            if (!r.Field()) return;
            std::optional<ScriptItem> c = Connection(command == 100 ? 0 : command, r, settings.fifo);
            if (!c) return;
            if (command == 100) {
                const int32_t baud = c->parameters->baud;
                const int code = baud == 600 ? 1 : baud == 1200 ? 2 : baud == 2400 ? 3 : baud == 4800 ? 4 : baud == 9600 ? 5 : 0;
                static const char* kRates[] = {"300", "600", "1200", "2400", "4800", "9600"};
                item.argument = baud;
                item.data = Bytes(Escape({0x31, static_cast<uint8_t>(code)}));
                item.line = std::string("100||COM1,") + kRates[code] +
                            ",8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=4,NoWait,Retries=3,DT=11,HS=0";
            } else {
                item = std::move(*c);
            }
            break;
        }
        case 1: {
            const auto f1 = r.Field();
            if (!f1 || !r.Field()) return;
            item.argument = DigitsOr(*f1, 0);
            break;
        }
        case 3: case 4: case 5: case 28: case 103: case 104: case 105: case 329:
            if (!addressLine(command)) return;
            break;
        case 6: if (!plain("6|||")) return; break;
        case 16: if (!plain("16|||")) return; break;
        case 20: if (!plain("20|||")) return; break;
        case 120: if (!plain("120|||")) return; break;
        case 32: if (!plain("32|||")) return; break;
        case 121: if (!plain("121|||")) return; item.data = Bytes(Escape({0x03, 0x0D})); break;
        case 122: if (!plain("122|||")) return; item.data = Bytes(Escape({0x20})); break;
        case 124: if (!plain("124|||")) return; item.data = {0x08, 0x08, 0x08}; break;
        case 127:
            if (!plain("127|||")) return;
            item.data = DeleteAllDataBytes();
            break;
        case 128: if (!plain("128|||")) return; break;  // the time is taken when the item runs
        case 7: case 13: case 107: case 113: {
            const auto f1 = r.Field();
            const auto f2 = r.Field();
            if (!f1 || !f2) return;
            const auto address = Address(*f1);
            if (!address) return;
            const bool decimal = f2->find_first_of("Dd") != std::string_view::npos;
            item.argument = *address;
            item.mode = decimal ? 1 : 0;
            item.data = DataBytes(r.Rest(), decimal);
            if (item.data.empty()) return;  // no CI, no bytes: nothing to send
            const std::string echo = engine::DataEcho(item.data, decimal);
            if (command % 100 == 7) {
                item.line = std::to_string(command) + "|" + std::to_string(*address) + "||" + echo;
            } else {
                item.line = std::to_string(command) + "|||" + echo;
                const bool macro = command == 13 && item.data.size() == 5 && item.data[0] == 0xAA &&
                                   item.data[1] == 0x55 && item.data[2] == 0xAA && item.data[3] == 0x55;
                if (macro && (item.data[4] == 1 || item.data[4] == 2)) {
                    auto read = [] {
                        ScriptItem i;
                        i.command = 5;
                        i.argument = 253;
                        i.line = "5|253||";
                        return i;
                    };
                    auto write = [](std::vector<uint8_t> data) {
                        ScriptItem i;
                        i.command = 7;
                        i.argument = 253;
                        i.line = "7|253||" + engine::DataEcho(data, false);
                        i.data = std::move(data);
                        return i;
                    };
                    if (item.data[4] == 1) {
                        items.push_back(read());
                        items.push_back(write({0x51, 0xC8, 0x40, 0xFD, 0x20, 0x88, 0x41, 0xFD, 0x21}));
                        items.push_back(read());
                        items.push_back(write({0x51, 0xC8, 0x40, 0xFD, 0x20, 0x88, 0x42, 0xFD, 0x21}));
                    } else {
                        items.push_back(write({0x50, 0x00}));
                        items.push_back(read());
                        items.push_back(write({0x51, 0x0F, 0x33}));
                        items.push_back(read());
                        items.push_back(write({0x51, 0x0F, 0x34}));
                    }
                    return;
                }
            }
            break;
        }
        case 8: case 9: case 108: case 109: {
            if (!r.Field()) return;
            std::optional<ScriptItem> s = Selection(command, r);
            if (!s) return;
            item = std::move(*s);
            break;
        }
        case 14: case 15: {
            const auto n = numberField2();
            if (!n) return;
            item.argument = *n;
            break;
        }
        case 30: case 31: {
            const auto f1 = r.Field();
            const auto f2 = r.Field();
            if (!f1 || !f2) return;
            item.argument = DigitsOr(*f1, 0);
            item.mode = DigitsOr(*f2, 0);
            const std::string_view text = r.Rest();
            item.data.assign(text.begin(), text.end());
            item.line = std::to_string(command) + "|COM" + std::to_string(item.argument) + "|" +
                        std::to_string(item.mode) + "|" + std::string(text);
            break;
        }
        case 123: {
            if (!r.Field() || !r.Field()) return;
            const std::string_view text = r.Rest();
            item.data = Bytes(Escape({0x02}) + std::string(text) + "\r");
            item.line = "123|||" + std::string(text);
            break;
        }
        case 125: case 129: case 229: {
            const auto f1 = r.Field();
            if (!f1 || !r.Field()) return;
            item.argument = DigitsOr(*f1, 0);
            item.line = std::to_string(command) + "|" + std::to_string(item.argument) + "||";
            if (command == 125) item.data = Bytes(Escape({0x14, static_cast<uint8_t>(item.argument)}));
            if (command == 129) item.data = Bytes(Escape({0x13}));
            break;
        }
        case 126: {
            if (!r.Field()) return;
            const auto f2 = r.Field();
            if (!f2) return;
            std::string digits;
            for (char c : *f2)
                if ((c >= '0' && c <= '9') || c == 'F' || c == 'f') digits += Upper(c);
            digits = Padded(digits, 8);
            item.data = Bytes(Escape({0x15}) + digits);
            item.line = "126||" + digits + "|";
            break;
        }
        case 323: case 324: {
            const auto f1 = r.Field();
            if (!f1 || !r.Field()) return;
            const auto address = Address(*f1);
            if (!address) return;
            const std::string_view text = r.Rest();
            item.argument = *address;
            item.data = TwoNumbers(text, command == 323 ? 0x12 : 0x15);
            item.line = std::to_string(command) + "|" + std::to_string(*address) + "||" + std::string(text);
            break;
        }
        default: return;  // not a command of the language
    }

    // Before a later connection line (or interface baud switch) the devices
    // hear of the new rate at the old one.
    const bool connection = command == 0 || command == 2 || command == 100;
    if (connection && settings.autoBaudSwitch != 0 && !items.empty()) {
        const int32_t baud = command == 100 ? item.argument : item.parameters->baud;
        ScriptItem sw;
        sw.command = command == 100 ? 107 : 7;
        sw.argument = 255;
        sw.data = {BaudSwitchCI(baud)};
        sw.line = std::to_string(sw.command) + "|255||" + engine::DataEcho(sw.data, false);
        items.push_back(std::move(sw));
    }
    items.push_back(std::move(item));
}

}  // namespace

// The bytes of command 128: 1B 1B 1B 33, "hh:mm:ss%dd.mm.yy%w", CR.
std::vector<uint8_t> InterfaceClockBytes() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    char text[64];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d%%%02d.%02d.%02d%%%d", t.tm_hour, t.tm_min, t.tm_sec, t.tm_mday,
                  t.tm_mon + 1, t.tm_year % 100, t.tm_wday + 1);
    std::vector<uint8_t> data = {0x1B, 0x1B, 0x1B, 0x33};
    data.insert(data.end(), text, text + std::strlen(text));
    data.push_back(0x0D);
    return data;
}

std::vector<uint8_t> DeleteAllDataBytes() {
    std::vector<uint8_t> bytes = Bytes(Escape({0x41}) + kDeleteConfirmationCode + "\x45");
    return bytes;
}

uint8_t BaudSwitchCI(int32_t baud) {
    switch (baud) {
        case 300: return 0xB8;
        case 600: return 0xB9;
        case 1200: return 0xBA;
        case 2400: return 0xBB;
        case 4800: return 0xBC;
        case 9600: return 0xBD;
        case 19200: return 0xBE;
        case 38400: return 0xBF;
        default: return 0xFF;
    }
}

std::vector<ScriptItem> ParseScript(std::string_view text, const ParseSettings& settings) {
    if (text.size() > kMaxScriptLength) text = text.substr(0, kMaxScriptLength);
    std::vector<ScriptItem> items;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && (text[at] == '\r' || text[at] == '\n' || text[at] == ' ')) ++at;
        if (at >= text.size()) break;
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        ParseLine(text.substr(at, end - at), settings, items);
        at = end;
    }
    return items;
}

// ---- Connection strings ------------------------------------------------------------

std::optional<ConnectionParameters> ParseConnectionString(std::string_view text, int32_t fifo, std::size_t* consumed) {
    ConnectionParameters p;
    p.port = 1;
    p.baud = 300;
    p.TB = 4;
    p.fifo = fifo;
    std::size_t at = 0;
    // Fields 1 to 13: only a comma ends them.
    for (int field = 1; field <= 13; ++field) {
        const std::size_t comma = text.find(',', at);
        if (comma == std::string_view::npos || text.substr(at, comma - at).find('|') != std::string_view::npos)
            return std::nullopt;
        std::string_view f = text.substr(at, std::min(comma - at, kFieldLimit));
        at = comma + 1;
        std::string word;
        for (char c : f)
            if (c != ' ') word += c;
        const int32_t n = DigitsOr(f, -1);
        switch (field) {
            case 1: if (n >= 0) p.port = n; break;
            case 2: if (n >= 0) p.baud = n; break;
            case 3: if (n >= 0) p.dataBits = n; break;
            case 4: if (n >= 0) p.stopBits = n; break;
            case 5:
                if (!word.empty()) {
                    const char c = Upper(word[0]);
                    if (c == 'N') p.parity = 0;
                    if (c == 'E') p.parity = 1;
                    if (c == 'O') p.parity = 2;
                    if (c == 'X') p.parity = 0, p.zeroPreamble = 1;
                }
                break;
            case 6:
                if (SameText(word, "RTS_Reset")) p.rts = 0;
                if (SameText(word, "RTS_Set")) p.rts = 1;
                if (SameText(word, "RTS_Handshake")) p.rts = 2;
                if (SameText(word, "RTS_Toggle")) p.rts = 3;
                break;
            case 7:
                if (SameText(word, "DTR_Reset")) p.dtr = 0;
                if (SameText(word, "DTR_Set")) p.dtr = 1;
                if (SameText(word, "DTR_Handshake")) p.dtr = 2;
                break;
            case 8: if (n >= 0) p.TA = n; break;
            case 9: if (n >= 0) p.TO = n; break;
            case 10: if (n >= 0) p.TB = n; break;
            case 11:
                if (SameText(word, "NoWait")) p.waitMode = 0;
                if (SameText(word, "FullWait")) p.waitMode = 1;
                if (SameText(word, "PartWait")) p.waitMode = 2;
                break;
            case 12: if (n >= 0) p.retries = n; break;
            case 13: if (n >= 0) p.DT = n; break;
        }
    }
    // Field 14 (HS) ends at "," or "|"; field 15 (FF) follows a comma and ends at "|".
    auto flag = [&](std::string_view f, int32_t* v) {
        for (char c : f)
            if (c >= '0' && c <= '9') {
                *v = c == '0' ? 0 : 1;
                return;
            }
    };
    std::size_t end = text.find_first_of(",|", at);
    if (end == std::string_view::npos) end = text.size();
    flag(text.substr(at, std::min(end - at, kFieldLimit)), &p.highSpeed);
    if (end < text.size() && text[end] == ',') {
        const std::size_t bar = text.find('|', end + 1);
        const std::size_t stop = bar == std::string_view::npos ? text.size() : bar;
        flag(text.substr(end + 1, std::min(stop - end - 1, kFieldLimit)), &p.fifo);
        end = stop;
    }
    *consumed = std::min(end + 1, text.size());
    return p;
}

std::string CanonicalConnectionText(int command, const ConnectionParameters& p) {
    static const char* kRts[] = {"RTS_Reset,", "RTS_Set,", "RTS_Handshake,", "RTS_Toggle,"};
    static const char* kDtr[] = {"DTR_Reset,TA=", "DTR_Set,TA=", "DTR_Handshake,TA="};
    static const char* kWait[] = {",NoWait,Retries=", ",FullWait,Retries=", ",PartWait,Retries="};
    std::string s = std::to_string(command) + "||COM" + std::to_string(p.port) + "," + std::to_string(p.baud) + "," +
                    std::to_string(p.dataBits) + "," + std::to_string(p.stopBits);
    s += p.zeroPreamble != 0 ? ",X," : p.parity == 0 ? ",N," : p.parity == 2 ? ",O," : ",E,";
    s += kRts[std::clamp(p.rts, 0, 3)];
    s += kDtr[std::clamp(p.dtr, 0, 2)];
    s += std::to_string(p.TA) + ",TO=" + std::to_string(p.TO) + ",TB=" + std::to_string(p.TB);
    s += kWait[std::clamp(p.waitMode, 0, 2)];
    s += std::to_string(p.retries) + ",DT=" + std::to_string(p.DT) + ",HS=" + std::to_string(p.highSpeed) + "|";
    return s;
}

}  // namespace mbus::control
