#include "sim/bus_description.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <set>

#include "control/decode/layer7.h"

namespace mbus::sim {
namespace {

// Reads the value of one field into the slave; returns an empty string or
// what is wrong (with what would be accepted).
using Setter = std::string (*)(std::string_view value, VirtualSlave* slave);

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool AllDecimal(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Up to `maxDigits` hexadecimal digits (with an optional 0x prefix or h suffix).
bool ParseHexNumber(std::string_view text, int maxDigits, uint32_t* out) {
    if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
    else if (text.size() > 1 && (text.back() == 'h' || text.back() == 'H')) text.remove_suffix(1);
    if (text.empty() || static_cast<int>(text.size()) > maxDigits) return false;
    uint32_t v = 0;
    for (char c : text) {
        const int d = HexValue(c);
        if (d < 0) return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

bool ParseDecimal(std::string_view text, long long* out) {
    if (text.empty() || text.size() > 12 || !AllDecimal(text)) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string HexByteField(std::string_view value, int32_t* field, std::string_view example) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v))
        return "not a hexadecimal byte; give one or two hex digits, e.g. " + std::string(example);
    *field = static_cast<int32_t>(v);
    return {};
}

// 1..`digits` decimal digits into a text field, filled with leading zeros.
std::string DigitsField(std::string_view value, int digits, char* field, std::string_view example) {
    if (value.empty() || static_cast<int>(value.size()) > digits || !AllDecimal(value))
        return "give 1 to " + std::to_string(digits) + " decimal digits, e.g. " + std::string(example);
    const std::string text = std::string(static_cast<std::size_t>(digits) - value.size(), '0') + std::string(value);
    std::memcpy(field, text.c_str(), text.size() + 1);
    return {};
}

std::string SetPrimary(std::string_view value, VirtualSlave* s) {
    long long v = 0;
    if (!ParseDecimal(value, &v) || v > 250) return "primary address must be a decimal number 0..250, e.g. primary=5";
    s->values.primaryAddress = static_cast<uint8_t>(v);
    return {};
}

std::string SetId(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (value.empty() || value.size() > 8 || !AllDecimal(value) || !ParseHexNumber(value, 8, &v))
        return "identification number must be 1 to 8 decimal digits, e.g. id=12345678";
    s->values.identNumber = v;  // the decimal digits as hexadecimal digits (BCD)
    return {};
}

std::string SetManufacturer(std::string_view value, VirtualSlave* s) {
    if (value.size() != 3) return "manufacturer must be three letters A..Z, e.g. man=QXA";
    char text[4] = {};
    for (int i = 0; i < 3; ++i) {
        char c = value[static_cast<std::size_t>(i)];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c < 'A' || c > 'Z') return "manufacturer must be three letters A..Z, e.g. man=QXA";
        text[i] = c;
    }
    s->values.manufacturer = static_cast<uint16_t>((text[0] - 64) * 1024 + (text[1] - 64) * 32 + (text[2] - 64));
    std::memcpy(s->values.manufacturerText, text, sizeof text);
    return {};
}

std::string SetVersion(std::string_view value, VirtualSlave* s) {
    return HexByteField(value, &s->values.version, "version=01");
}

std::string SetMedium(std::string_view value, VirtualSlave* s) {
    const std::string error = HexByteField(value, &s->values.medium, "medium=07");
    if (error.empty()) mbus::ExtractMedium(1, static_cast<uint8_t>(s->values.medium), s->values.mediumText);
    return error;
}

std::string SetStatus(std::string_view value, VirtualSlave* s) {
    return HexByteField(value, &s->values.status, "status=00");
}

std::string SetAccess(std::string_view value, VirtualSlave* s) {
    return HexByteField(value, &s->values.accessNumber, "access=2A");
}

std::string SetSignature(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 4, &v)) return "signature must be 1 to 4 hexadecimal digits, e.g. signature=0000";
    s->values.signature = static_cast<int32_t>(v);
    return {};
}

std::string SetRecords(std::string_view value, VirtualSlave* s) {
    if (value.size() % 2 != 0)
        return "odd number of hex digits (" + std::to_string(value.size()) +
               "); give whole bytes, e.g. records=0413D2040000";
    Bytes block;
    for (std::size_t i = 0; i < value.size(); i += 2) {
        const int hi = HexValue(value[i]), lo = HexValue(value[i + 1]);
        if (hi < 0 || lo < 0) {
            const std::size_t bad = hi < 0 ? i : i + 1;
            return "\"" + std::string(1, value[bad]) + "\" at digit " + std::to_string(bad + 1) +
                   " is not a hexadecimal digit; give digit pairs without blanks, e.g. records=0413D2040000";
        }
        block.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    s->blocks.push_back(std::move(block));
    return {};
}

std::string SetPart(std::string_view value, VirtualSlave* s) {
    const std::size_t colon = value.find(':');
    long long offset = 0, length = 0;
    if (colon == std::string_view::npos || !ParseDecimal(value.substr(0, colon), &offset) ||
        !ParseDecimal(value.substr(colon + 1), &length) || length < 1 ||
        offset + length > MBSlaveValues::kMaxUserData)
        return "give OFFSET:LENGTH in bytes, length at least 1, together at most " +
               std::to_string(MBSlaveValues::kMaxUserData) + ", e.g. part=0:6";
    s->values.SetPartialAnswer(static_cast<int>(offset), static_cast<int>(length));
    return {};
}

std::string SetFab(std::string_view value, VirtualSlave* s) {
    return DigitsField(value, 8, s->values.fabricationNumber, "fab=12345678");
}

std::string SetCustomer(std::string_view value, VirtualSlave* s) {
    return DigitsField(value, 12, s->values.customer, "customer=777777777777");
}

std::string SetLocation(std::string_view value, VirtualSlave* s) {
    return DigitsField(value, 12, s->values.customerLocation, "location=123456789012");
}

std::string SetSelectionCI(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v) || (v != 0x51 && v != 0x52 && v != 0x55 && v != 0x56))
        return "selection CI must be 51, 52, 55 or 56 (hexadecimal), e.g. selci=52";
    s->values.selectionCI = static_cast<uint8_t>(v);
    return {};
}

std::string SetAnswerC(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v) || (v & ~0x30u) != 0x08)
        return "answer C field must be 08, 18, 28 or 38 (hexadecimal), e.g. c=08";
    s->values.answerC = static_cast<uint8_t>(v);
    return {};
}

std::string SetAnswerCI(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v) || (v != 0x72 && v != 0x76))
        return "answer CI must be 72 or 76 (hexadecimal), e.g. ci=72";
    s->values.answerCI = static_cast<uint8_t>(v);
    return {};
}

std::string SetBaud(std::string_view value, VirtualSlave* s) {
    static constexpr int kRates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
    long long v = 0;
    if (!ParseDecimal(value, &v) || std::find(std::begin(kRates), std::end(kRates), v) == std::end(kRates))
        return "baud rate must be 300, 600, 1200, 2400, 4800, 9600, 19200 or 38400, e.g. baud=2400";
    s->baud = static_cast<int>(v);
    return {};
}

struct Key {
    std::string_view name;
    Setter set;
    bool repeatable;
};

constexpr Key kKeys[] = {
    {"primary", SetPrimary, false},   {"id", SetId, false},           {"man", SetManufacturer, false},
    {"version", SetVersion, false},   {"medium", SetMedium, false},   {"status", SetStatus, false},
    {"signature", SetSignature, false}, {"access", SetAccess, false}, {"records", SetRecords, true},
    {"part", SetPart, false},         {"fab", SetFab, false},         {"customer", SetCustomer, false},
    {"location", SetLocation, false}, {"selci", SetSelectionCI, false}, {"c", SetAnswerC, false},
    {"ci", SetAnswerCI, false},       {"baud", SetBaud, false},
};

std::string KnownKeys() {
    std::string text;
    for (const Key& k : kKeys) {
        if (!text.empty()) text += ", ";
        text += k.name;
    }
    return text;
}

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

}  // namespace

bool ParseSlave(std::string_view text, VirtualSlave* slave, std::vector<std::string>& errors) {
    const std::size_t errorsBefore = errors.size();
    text = text.substr(0, text.find('#'));
    std::set<std::string_view> seen;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r' && text[end] != '\n')
            ++end;
        const std::string_view field = text.substr(i, end - i);
        i = end;

        const std::size_t eq = field.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            errors.push_back(Quoted(field) + ": expected KEY=VALUE, e.g. primary=5");
            continue;
        }
        const std::string_view name = field.substr(0, eq), value = field.substr(eq + 1);
        const Key* key = nullptr;
        for (const Key& k : kKeys)
            if (k.name == name) key = &k;
        if (key == nullptr) {
            errors.push_back(Quoted(field) + ": unknown key " + Quoted(name) + "; known keys: " + KnownKeys());
            continue;
        }
        if (!key->repeatable && !seen.insert(key->name).second) {
            errors.push_back(Quoted(field) + ": " + std::string(name) + " is given twice");
            continue;
        }
        const std::string error = key->set(value, slave);
        if (!error.empty()) errors.push_back(Quoted(field) + ": " + error);
    }

    // Every block but the last carries the DIF 1Fh as well.
    for (std::size_t b = 0; b < slave->blocks.size(); ++b) {
        const bool more = b + 1 < slave->blocks.size();
        const std::size_t room = static_cast<std::size_t>(MBSlaveValues::kMaxUserData) - (more ? 1 : 0);
        if (slave->blocks[b].size() > room)
            errors.push_back("records of telegram " + std::to_string(b + 1) + ": " +
                             std::to_string(slave->blocks[b].size()) + " bytes; at most " + std::to_string(room) +
                             (more ? " fit a telegram that another follows" : " fit one telegram"));
    }
    return errors.size() == errorsBefore;
}

std::vector<VirtualSlave> ParseBusDescription(std::string_view text, std::vector<std::string>& errors) {
    std::vector<VirtualSlave> slaves;
    int lineNumber = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        ++lineNumber;
        line = line.substr(0, line.find('#'));
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        std::vector<std::string> lineErrors;
        VirtualSlave slave;
        if (ParseSlave(line, &slave, lineErrors)) {
            slaves.push_back(std::move(slave));
        } else {
            for (const std::string& e : lineErrors) errors.push_back("line " + std::to_string(lineNumber) + ": " + e);
        }
    }
    return slaves;
}

std::string DescribeSlave(const VirtualSlave& slave) {
    const MBSlaveValues& v = slave.values;
    char id[9];
    std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(v.identNumber));
    char bytes[8];
    std::snprintf(bytes, sizeof bytes, "%02X", static_cast<unsigned>(v.version & 0xFF));
    std::string text = "primary " + std::to_string(v.primaryAddress) + ", id " + id + ", " +
                       std::string(v.manufacturerText, strnlen(v.manufacturerText, sizeof v.manufacturerText)) +
                       ", version " + bytes;
    std::snprintf(bytes, sizeof bytes, "%02X", static_cast<unsigned>(v.medium & 0xFF));
    text += ", medium " + std::string(bytes) + " (" + std::string(v.mediumText, strnlen(v.mediumText, sizeof v.mediumText)) + ")";
    if (slave.blocks.size() > 1) text += ", " + std::to_string(slave.blocks.size()) + " telegrams";
    else if (slave.blocks.size() == 1) text += ", " + std::to_string(slave.blocks[0].size()) + " bytes of records";
    if (slave.baud > 0) text += ", " + std::to_string(slave.baud) + " baud";
    return text;
}

}  // namespace mbus::sim
