#include "control/engine/selection.h"

#include <algorithm>

#include "platform/text/hex.h"

namespace mbus::engine {
namespace {

using text::HexDigitValue;

void AppendHex(std::string& out, const uint8_t* bytes, std::size_t n) { out += text::HexText(bytes, n); }

void AppendHex(std::string& out, const std::vector<uint8_t>& bytes) { AppendHex(out, bytes.data(), bytes.size()); }

// Identification number and manufacturer go least significant byte first
// for the CIs of the M-Bus byte order (51h, 52h), as written for 55h, 56h.
bool LsbFirst(uint8_t ci) { return ci == 0x51 || ci == 0x52; }

void AppendOrdered(std::vector<uint8_t>& data, std::vector<uint8_t> bytes, bool reverse) {
    if (reverse) std::reverse(bytes.begin(), bytes.end());
    data.insert(data.end(), bytes.begin(), bytes.end());
}

std::string Prefix(int command, bool tunnel) { return std::to_string(tunnel ? command + 100 : command) + "||"; }

const char* ModeSuffix(int mode) {
    switch (mode) {
        case 1: return "1";
        case 2: return "2";
        case 3: return "3";
        default: return "";
    }
}

// The eight address bytes and the log line up to the last group. A plain
// selection of the manufacturer "1938" (fixed data structure) leaves
// manufacturer, version and medium open.
Selection Base(int mode, const SecondaryAddress& a, bool tunnel, bool plain = false) {
    Selection s;
    s.ci = SelectionCI(mode);
    const bool reverse = LsbFirst(s.ci);
    const std::vector<uint8_t> id = WildcardBytes(a.deviceId, 4);
    std::vector<uint8_t> man = WildcardBytes(a.manufacturer, 2);
    std::vector<uint8_t> gen = WildcardBytes(a.generation, 1);
    std::vector<uint8_t> med = WildcardBytes(a.medium, 1);
    if (plain && a.manufacturer == "1938") man = {0xFF, 0xFF}, gen = {0xFF}, med = {0xFF};
    AppendOrdered(s.data, id, reverse);
    AppendOrdered(s.data, man, reverse);
    s.data.push_back(gen[0]);
    s.data.push_back(med[0]);
    s.logLine = Prefix(8, tunnel) + "Standard" + ModeSuffix(mode) + ": ";
    AppendHex(s.logLine, id);
    s.logLine += ',';
    AppendHex(s.logLine, man);
    s.logLine += ',';
    AppendHex(s.logLine, gen);
    s.logLine += ',';
    AppendHex(s.logLine, med);
    return s;
}

}  // namespace

uint8_t SelectionCI(int mode) {
    switch (mode) {
        case 1: return 0x56;
        case 2: return 0x51;
        case 3: return 0x55;
        default: return 0x52;
    }
}

std::vector<uint8_t> WildcardBytes(std::string_view digits, int count) {
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::size_t at = static_cast<std::size_t>(i) * 2;
        const int hi = at < digits.size() ? HexDigitValue(digits[at]) : 0xF;
        const int lo = at + 1 < digits.size() ? HexDigitValue(digits[at + 1]) : 0xF;
        bytes.push_back(hi < 0 || lo < 0 ? 0xFF : static_cast<uint8_t>(hi << 4 | lo));
    }
    return bytes;
}

Selection BuildSelect(int mode, const SecondaryAddress& a, bool tunnel) {
    Selection s = Base(mode, a, tunnel, true);
    s.logLine += '|';
    return s;
}

Selection BuildSelectFab(int mode, const SecondaryAddress& a, std::string_view fabrication, bool tunnel) {
    Selection s = Base(mode, a, tunnel);
    const std::vector<uint8_t> fab = WildcardBytes(fabrication, 4);
    s.data.push_back(0x0C);
    s.data.push_back(0x78);
    AppendOrdered(s.data, fab, LsbFirst(s.ci));
    s.logLine += ',';
    AppendHex(s.logLine, fab);
    s.logLine += '|';
    return s;
}

Selection BuildSelectPrim(int mode, const SecondaryAddress& a, int primaryAddress, bool tunnel) {
    Selection s = Base(mode, a, tunnel);
    const uint8_t address = primaryAddress >= 0 && primaryAddress <= 255 ? static_cast<uint8_t>(primaryAddress) : 0xFD;
    s.data.push_back(0x01);
    s.data.push_back(0x7A);
    s.data.push_back(address);
    s.logLine += ',';
    AppendHex(s.logLine, &address, 1);
    s.logLine += '|';
    return s;
}

Selection BuildSelectSp(int mode, const SecondaryAddress& a, std::string_view special, bool tunnel) {
    Selection s = Base(mode, a, tunnel);
    const std::vector<uint8_t> extension = WildcardBytes(special, 6);
    s.data.insert(s.data.end(), extension.begin(), extension.end());
    s.logLine += ',';
    AppendHex(s.logLine, extension);
    s.logLine += '|';
    return s;
}

Selection BuildSelectCustom(int mode, std::string_view customerNo, std::string_view customerAddr, bool tunnel) {
    Selection s;
    s.ci = SelectionCI(mode);
    s.data.assign(8, 0xFF);
    s.logLine = Prefix(9, tunnel) + "Customer" + ModeSuffix(mode) + ": ";
    bool first = true;
    // A customer record: its six bytes go last pair first.
    auto record = [&](uint8_t vife, std::string_view text) {
        const std::vector<uint8_t> bytes = WildcardBytes(text, 6);
        s.data.push_back(0x06);
        s.data.push_back(0xFD);
        s.data.push_back(vife);
        AppendOrdered(s.data, bytes, true);
        if (!first) s.logLine += ',';
        first = false;
        AppendHex(s.logLine, bytes);
    };
    if (!customerNo.empty()) record(0x11, customerNo);
    if (!customerAddr.empty() || customerNo.empty()) record(0x10, customerAddr);
    s.logLine += '|';
    return s;
}

}  // namespace mbus::engine
