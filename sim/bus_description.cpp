#include "sim/bus_description.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <utility>

#include "control/decode/layer7.h"
#include "platform/files/read_file.h"
#include "sim/modules.h"

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

bool ParseDecimal(std::string_view text, long long* out, std::size_t maxDigits = 12) {
    if (text.empty() || text.size() > maxDigits || !AllDecimal(text)) return false;
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

std::string SetWildcards(std::string_view value, VirtualSlave* s) {
    if (value != "digits" && value != "bytes") return "wildcards must be digits or bytes, e.g. wildcards=bytes";
    s->byteWildcards = value == "bytes";
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

// Which lines a field belongs to: meters, or the kinds of module.
enum KindBits : unsigned {
    kMeters = 1,
    kPulseLine = 2,
    kAnalogLine = 4,
    kControlLine = 8,
    kConverterLine = 16,
    kTransceiverLine = 32,
    kModuleLines = kPulseLine | kAnalogLine | kControlLine,
    kAllButTransceiver = kMeters | kModuleLines | kConverterLine,
};

unsigned KindBit(std::optional<ModuleKind> kind) {
    if (!kind) return kMeters;
    switch (*kind) {
        case ModuleKind::kPulse: return kPulseLine;
        case ModuleKind::kAnalog: return kAnalogLine;
        case ModuleKind::kControl: return kControlLine;
        case ModuleKind::kConverter: return kConverterLine;
        case ModuleKind::kTransceiver: return kTransceiverLine;
    }
    return kMeters;
}

struct KindName {
    std::string_view name;
    ModuleKind kind;
};
constexpr KindName kKindNames[] = {{"pulse", ModuleKind::kPulse},
                                   {"analog", ModuleKind::kAnalog},
                                   {"control", ModuleKind::kControl},
                                   {"converter", ModuleKind::kConverter},
                                   {"transceiver", ModuleKind::kTransceiver}};

std::optional<ModuleKind> ParseKind(std::string_view value) {
    for (const KindName& k : kKindNames)
        if (k.name == value) return k.kind;
    return std::nullopt;
}

std::string LineText(unsigned bit) {
    if (bit == kMeters) return "meters";
    for (const KindName& k : kKindNames)
        if (KindBit(k.kind) == bit) return "module=" + std::string(k.name);
    return {};
}

// "module=pulse or module=analog" for the kinds of a field.
std::string LinesText(unsigned mask) {
    std::string text;
    for (unsigned bit = 1; bit <= kTransceiverLine; bit <<= 1) {
        if ((mask & bit) == 0) continue;
        if (!text.empty()) text += " or ";
        text += LineText(bit);
    }
    return text;
}

std::string SetModule(std::string_view value, VirtualSlave*) {
    // The line was set up from the kind before its fields were read.
    if (!ParseKind(value)) return "module must be pulse, analog, control, converter or transceiver, e.g. module=pulse";
    return {};
}

std::string SetFirmware(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v)) return "firmware must be a hexadecimal byte, e.g. firmware=13 (version 1.3)";
    s->values.signature = static_cast<int32_t>((static_cast<uint32_t>(s->values.signature) & 0xFF00u) | v);
    return {};
}

// Identification number: 1..8 decimal digits as BCD.
bool ParseId(std::string_view value, uint32_t* id) {
    return !value.empty() && value.size() <= 8 && AllDecimal(value) && ParseHexNumber(value, 8, id);
}

std::string SetId2(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseId(value, &v)) return "identification number of input 2 must be 1 to 8 decimal digits, e.g. id2=87654321";
    s->module.As<PulseModule>()->Input(2).id = v;
    return {};
}

std::string SetMedium2(std::string_view value, VirtualSlave* s) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v)) return "not a hexadecimal byte; give one or two hex digits, e.g. medium2=07 (1F disables input 2)";
    s->module.As<PulseModule>()->Input(2).medium = static_cast<uint8_t>(v);
    return {};
}

std::string SetUnit(std::string_view value, VirtualSlave* s, int input) {
    uint32_t v = 0;
    if (!ParseHexNumber(value, 2, &v) || !UsableUnit(static_cast<uint8_t>(v)))
        return "unit must be a VIF 00..7F other than 7C (plain text), e.g. unit" + std::to_string(input) + "=13";
    if (auto* pulse = s->module.As<PulseModule>()) pulse->Input(input).unit = static_cast<uint8_t>(v);
    if (auto* analog = s->module.As<AnalogModule>()) analog->AnalogInput(input).unit = static_cast<uint8_t>(v);
    return {};
}
std::string SetUnit1(std::string_view value, VirtualSlave* s) { return SetUnit(value, s, 1); }
std::string SetUnit2(std::string_view value, VirtualSlave* s) { return SetUnit(value, s, 2); }

std::string SetCount(std::string_view value, VirtualSlave* s, int input) {
    long long v = 0;
    if (!ParseDecimal(value, &v, 15) || v > (1LL << 48) - 1)
        return "raw count must be a decimal number 0..281474976710655 (48 bits), e.g. count" + std::to_string(input) +
               "=1000";
    s->module.As<PulseModule>()->Input(input).raw = static_cast<uint64_t>(v);
    return {};
}
std::string SetCount1(std::string_view value, VirtualSlave* s) { return SetCount(value, s, 1); }
std::string SetCount2(std::string_view value, VirtualSlave* s) { return SetCount(value, s, 2); }

std::string SetFactor(std::string_view value, VirtualSlave* s, int input) {
    const std::size_t slash = value.find('/');
    long long n = 0, d = 0;
    if (slash == std::string_view::npos || !ParseDecimal(value.substr(0, slash), &n) ||
        !ParseDecimal(value.substr(slash + 1), &d) || n < 1 || n > 255 || d < 1 || d > 127)
        return "factor must be N/D with N 1..255 and D 1..127, e.g. factor" + std::to_string(input) + "=10/1";
    PulseInput& in = s->module.As<PulseModule>()->Input(input);
    in.numerator = static_cast<uint8_t>(n);
    in.denominator = static_cast<uint8_t>(d);
    return {};
}
std::string SetFactor1(std::string_view value, VirtualSlave* s) { return SetFactor(value, s, 1); }
std::string SetFactor2(std::string_view value, VirtualSlave* s) { return SetFactor(value, s, 2); }

bool ParseBit(std::string_view value, bool* on) {
    if (value != "0" && value != "1") return false;
    *on = value == "1";
    return true;
}

std::string SetP(std::string_view value, VirtualSlave* s, int input) {
    bool on = false;
    if (!ParseBit(value, &on)) return "input state must be 0 or 1, e.g. p" + std::to_string(input) + "=1";
    s->module.As<ControlModule>()->SetInput(input, on);
    return {};
}
std::string SetP1(std::string_view value, VirtualSlave* s) { return SetP(value, s, 1); }
std::string SetP2(std::string_view value, VirtualSlave* s) { return SetP(value, s, 2); }

std::string SetR(std::string_view value, VirtualSlave* s, int relay) {
    bool on = false;
    if (!ParseBit(value, &on)) return "relay state must be 0 or 1, e.g. r" + std::to_string(relay) + "=1";
    s->module.As<ControlModule>()->Command(relay, on);
    return {};
}
std::string SetR1(std::string_view value, VirtualSlave* s) { return SetR(value, s, 1); }
std::string SetR2(std::string_view value, VirtualSlave* s) { return SetR(value, s, 2); }

std::string SetLogic(std::string_view value, VirtualSlave* s, int relay) {
    long long v = 0;
    if (!ParseDecimal(value, &v) || v > 15)
        return "logic code must be 0..15 (0 M-Bus; 1 AND, 2 OR, 3 XOR, +4 P1 inverted, +8 P2 inverted), e.g. r" +
               std::to_string(relay) + "logic=3";
    ControlModule& c = *s->module.As<ControlModule>();
    const uint8_t configuration = c.RelayState(relay).configuration;
    c.SetConfiguration(relay, static_cast<uint8_t>(ControlModule::PowerFailCode(configuration) * 100 + v));
    return {};
}
std::string SetLogic1(std::string_view value, VirtualSlave* s) { return SetLogic(value, s, 1); }
std::string SetLogic2(std::string_view value, VirtualSlave* s) { return SetLogic(value, s, 2); }

std::string SetFail(std::string_view value, VirtualSlave* s, int relay) {
    long long v = 0;
    if (!ParseDecimal(value, &v) || v > 2)
        return "power-fail code must be 0 (keep), 1 (switch to 1) or 2 (switch to 0), e.g. r" + std::to_string(relay) +
               "fail=2";
    ControlModule& c = *s->module.As<ControlModule>();
    const uint8_t configuration = c.RelayState(relay).configuration;
    c.SetConfiguration(relay, static_cast<uint8_t>(v * 100 + ControlModule::LogicCode(configuration)));
    return {};
}
std::string SetFail1(std::string_view value, VirtualSlave* s) { return SetFail(value, s, 1); }
std::string SetFail2(std::string_view value, VirtualSlave* s) { return SetFail(value, s, 2); }

std::string SetX(std::string_view value, VirtualSlave* s, int input) {
    long long v = 0;
    if (!ParseDecimal(value, &v) || v > 65535)
        return "raw A/D value must be a decimal number 0..65535, e.g. x" + std::to_string(input) + "=1000";
    s->module.As<AnalogModule>()->AnalogInput(input).raw = static_cast<int32_t>(v);
    return {};
}
std::string SetX1(std::string_view value, VirtualSlave* s) { return SetX(value, s, 1); }
std::string SetX2(std::string_view value, VirtualSlave* s) { return SetX(value, s, 2); }

bool ParseSigned(std::string_view text, long long* out) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    if (!ParseDecimal(text, out, 6)) return false;
    if (negative) *out = -*out;
    return true;
}

std::string SetParameters(std::string_view value, VirtualSlave* s, int input) {
    const std::size_t first = value.find('/');
    const std::size_t second = first == std::string_view::npos ? first : value.find('/', first + 1);
    long long a = 0, b = 0, c = 0;
    if (second == std::string_view::npos || !ParseDecimal(value.substr(0, first), &a) ||
        !ParseSigned(value.substr(first + 1, second - first - 1), &b) || !ParseSigned(value.substr(second + 1), &c) ||
        a > 255 || b < -128 || b > 127 || c < -128 || c > 127)
        return "parameters must be A/B/C with A 0..255, B and C -128..127, e.g. a" + std::to_string(input) + "=1/2/-5";
    AnalogModule::Input& in = s->module.As<AnalogModule>()->AnalogInput(input);
    in.a = static_cast<uint8_t>(a);
    in.b = static_cast<int8_t>(b);
    in.c = static_cast<int8_t>(c);
    return {};
}
std::string SetA1(std::string_view value, VirtualSlave* s) { return SetParameters(value, s, 1); }
std::string SetA2(std::string_view value, VirtualSlave* s) { return SetParameters(value, s, 2); }

std::string SetTemperature(std::string_view value, VirtualSlave* s) {
    double t = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), t, std::chars_format::fixed);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || !(t >= -200.0 && t <= 850.0))
        return "temperature must be a number of °C -200..850, e.g. temp=21.5";
    s->module.As<AnalogModule>()->SetTemperature(t);
    return {};
}

std::string SetSensor(std::string_view value, VirtualSlave* s) {
    static constexpr std::pair<std::string_view, uint8_t> kSensors[] = {
        {"pt500", AnalogModule::kPt500},       {"pt1000", AnalogModule::kPt1000},     {"pt100", AnalogModule::kPt100},
        {"rawpt100", AnalogModule::kRawPt100}, {"rawpt500", AnalogModule::kRawPt500},
    };
    for (const auto& [name, code] : kSensors) {
        if (name != value) continue;
        AnalogModule& m = *s->module.As<AnalogModule>();
        m.SetMode(static_cast<uint8_t>((m.Mode() & 0xC0) | code));
        return {};
    }
    return "sensor must be pt500, pt1000, pt100, rawpt100 or rawpt500, e.g. sensor=pt1000";
}

std::string SetMinMax(std::string_view value, VirtualSlave* s) {
    uint8_t bits = 0;
    if (value == "a2") bits = AnalogModule::kMinMaxA2;
    else if (value == "temp") bits = AnalogModule::kMinMaxTemperature;
    else if (value != "a1") return "minmax must be a1, a2 or temp, e.g. minmax=a2";
    AnalogModule& m = *s->module.As<AnalogModule>();
    m.SetMode(static_cast<uint8_t>((m.Mode() & 0x3F) | bits));
    return {};
}

std::string SetCurrent(std::string_view value, VirtualSlave* s) {
    long long v = 0;
    if (!ParseDecimal(value, &v) || v < 4000 || v > 20000)
        return "current output must be 4000..20000 (µA), e.g. current=12000";
    s->module.As<AnalogModule>()->SetCurrent(static_cast<uint16_t>(v));
    return {};
}

std::string SetCalibration(std::string_view value, VirtualSlave* s, int which) {
    uint64_t v = 0;
    bool ok = !value.empty() && value.size() <= 12;
    for (char c : value) {
        const int d = HexValue(c);
        ok = ok && d >= 0;
        v = v << 4 | static_cast<uint64_t>(d < 0 ? 0 : d);
    }
    if (!ok) return "calibration value must be 1 to 12 hexadecimal digits, e.g. v" + std::to_string(which) + "=00000000D213";
    AnalogModule& m = *s->module.As<AnalogModule>();
    if (which == 1) m.SetCalibration(v, m.V2());
    else m.SetCalibration(m.V1(), v);
    return {};
}
std::string SetV1(std::string_view value, VirtualSlave* s) { return SetCalibration(value, s, 1); }
std::string SetV2(std::string_view value, VirtualSlave* s) { return SetCalibration(value, s, 2); }

struct Key {
    std::string_view name;
    Setter set;
    bool repeatable;
    unsigned lines;  // the lines it belongs to (KindBits)
};

constexpr unsigned kMakerOrMeter = kMeters | kModuleLines;

constexpr Key kKeys[] = {
    {"primary", SetPrimary, false, kAllButTransceiver},
    {"id", SetId, false, kAllButTransceiver},
    {"man", SetManufacturer, false, kAllButTransceiver},
    {"version", SetVersion, false, kMeters},
    {"medium", SetMedium, false, kMakerOrMeter},
    {"status", SetStatus, false, kMeters},
    {"signature", SetSignature, false, kMakerOrMeter},
    {"access", SetAccess, false, kMakerOrMeter},
    {"records", SetRecords, true, kMeters},
    {"part", SetPart, false, kMeters},
    {"fab", SetFab, false, kAllButTransceiver},
    {"customer", SetCustomer, false, kAllButTransceiver},
    {"location", SetLocation, false, kAllButTransceiver},
    {"selci", SetSelectionCI, false, kAllButTransceiver},
    {"c", SetAnswerC, false, kMakerOrMeter},
    {"ci", SetAnswerCI, false, kMeters},
    {"baud", SetBaud, false, kMakerOrMeter},
    {"wildcards", SetWildcards, false, kMeters},
    {"module", SetModule, false, kModuleLines | kConverterLine | kTransceiverLine},
    {"firmware", SetFirmware, false, kModuleLines},
    {"id2", SetId2, false, kPulseLine},
    {"medium2", SetMedium2, false, kPulseLine},
    {"unit1", SetUnit1, false, kPulseLine | kAnalogLine},
    {"unit2", SetUnit2, false, kPulseLine | kAnalogLine},
    {"count1", SetCount1, false, kPulseLine},
    {"count2", SetCount2, false, kPulseLine},
    {"factor1", SetFactor1, false, kPulseLine},
    {"factor2", SetFactor2, false, kPulseLine},
    {"p1", SetP1, false, kControlLine},
    {"p2", SetP2, false, kControlLine},
    {"r1", SetR1, false, kControlLine},
    {"r2", SetR2, false, kControlLine},
    {"r1logic", SetLogic1, false, kControlLine},
    {"r2logic", SetLogic2, false, kControlLine},
    {"r1fail", SetFail1, false, kControlLine},
    {"r2fail", SetFail2, false, kControlLine},
    {"x1", SetX1, false, kAnalogLine},
    {"x2", SetX2, false, kAnalogLine},
    {"a1", SetA1, false, kAnalogLine},
    {"a2", SetA2, false, kAnalogLine},
    {"temp", SetTemperature, false, kAnalogLine},
    {"sensor", SetSensor, false, kAnalogLine},
    {"minmax", SetMinMax, false, kAnalogLine},
    {"current", SetCurrent, false, kAnalogLine},
    {"v1", SetV1, false, kAnalogLine},
    {"v2", SetV2, false, kAnalogLine},
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

// The blank-separated fields of a line.
std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = 0;
    while (i < text.size()) {
        if (blank(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !blank(text[end])) ++end;
        fields.push_back(text.substr(i, end - i));
        i = end;
    }
    return fields;
}

}  // namespace

bool ParseSlave(std::string_view text, VirtualSlave* slave, std::vector<std::string>& errors) {
    const std::size_t errorsBefore = errors.size();
    text = text.substr(0, text.find('#'));
    const std::vector<std::string_view> fields = Fields(text);

    // The kind of module decides which fields the line takes and their
    // defaults, so it is read first, wherever it stands.
    std::optional<ModuleKind> kind;
    for (std::string_view field : fields) {
        if (field.rfind("module=", 0) != 0) continue;
        kind = ParseKind(field.substr(7));
        break;
    }
    if (kind) *slave = ModuleSlave(*kind);
    const unsigned line = KindBit(kind);

    std::set<std::string_view> seen;
    for (std::string_view field : fields) {
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
        if ((key->lines & line) == 0) {
            // A bad module= itself is told by its setter; the line is then a meter's.
            if (key->name != "module") {
                errors.push_back(Quoted(field) + ": " + std::string(name) + " does not apply to " + LineText(line) +
                                 "; it is a field of " + LinesText(key->lines));
                continue;
            }
        }
        const std::string error = key->set(value, slave);
        if (!error.empty()) errors.push_back(Quoted(field) + ": " + error);
    }

    if (kind) {
        if (seen.count("firmware") && seen.count("signature"))
            errors.push_back("firmware and signature are both given; give signature=HHHH or firmware=HH");
        if (*kind != ModuleKind::kTransceiver) {
            const std::optional<Maker> maker = MakerOf(slave->values.manufacturer);
            if (!maker)
                errors.push_back("\"man=" + std::string(slave->values.manufacturerText) +
                                 "\": the maker of a module is VND or KTR, e.g. man=KTR");
            else
                slave->values.version = ModuleVersion(*kind, *maker);
        }
        slave->module.SyncFrom(slave->values);
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
    if (const std::string module = slave.module.Describe(v); !module.empty()) text += ", " + module;
    return text;
}

std::vector<VirtualSlave> ReadBusDescriptionFile(const std::string& path, std::vector<std::string>& errors) {
    std::string text;
    std::string problem;
    if (files::ReadTextFile(path, &text, &problem) != files::ReadStatus::kOk) {
        errors.push_back(path + ": " + problem);
        return {};
    }
    std::vector<std::string> found;
    std::vector<VirtualSlave> slaves = ParseBusDescription(text, found);
    for (const std::string& e : found) errors.push_back(path + ": " + e);
    return slaves;
}

}  // namespace mbus::sim
