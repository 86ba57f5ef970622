#include "configurator/devices/pulse_page.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "configurator/devices/field_check.h"
#include "configurator/shell/numbers.h"

namespace mbus::meridex {
namespace {

constexpr uint64_t kMask48 = (uint64_t{1} << 48) - 1;
// A Pulse answer that carries both inputs has this much text after record 2.
constexpr std::size_t kBothInputsRest = 61;
constexpr std::size_t kMinRecordText = 40;
// The factor result's decimals: a factor of up to 255 / 127 is read to
// the thousandth.
constexpr int kFactorDecimals = 3;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two hex digits as a byte; -1 when they are not two hex digits.
int HexByte(std::string_view text) {
    if (text.size() != 2) return -1;
    const int high = HexDigit(text[0]), low = HexDigit(text[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

// Skips leading blanks and reads an optional sign; returns the position of
// the first digit.
std::size_t SignedStart(std::string_view text, bool* negative) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    *negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) *negative = text[i++] == '-';
    return i;
}

// The leading decimal number of a text, saturated at the limits of int64.
int64_t LeadingInt64(std::string_view text) {
    bool negative = false;
    std::size_t i = SignedStart(text, &negative);
    // The magnitude may reach 2^63 (the most negative value).
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{std::numeric_limits<int64_t>::max()};
    uint64_t magnitude = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            break;
        }
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<int64_t>(magnitude);
    return magnitude == (uint64_t{1} << 63) ? std::numeric_limits<int64_t>::min() : -static_cast<int64_t>(magnitude);
}

// A record value read as a 64-bit integer: optional sign and decimal
// digits, taken modulo 2^64 (a negative value as its two's complement, so
// that the bytes of a record shown as signed come back as they were sent).
// Empty when the text holds no digits.
std::optional<uint64_t> RecordUint64(std::string_view text) {
    bool negative = false;
    std::size_t i = SignedStart(text, &negative);
    if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
    uint64_t value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    return negative ? ~value + 1 : value;
}

std::string Hex2(unsigned byte) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte & 0xFFu);
    return text;
}

// The serial as the four bytes of a secondary address, least significant
// first: digits 7-8, 5-6, 3-4, 1-2, without separators.
std::string SerialBytes(std::string_view serialText) {
    const std::string s = NormalisedSerial(serialText);
    return s.substr(6, 2) + s.substr(4, 2) + s.substr(2, 2) + s.substr(0, 2);
}

// The six counter bytes, least significant first, without separators.
std::string CounterBytes(uint64_t raw) {
    std::string out;
    for (int i = 0; i < 6; ++i) out += Hex2(static_cast<unsigned>(raw >> (8 * i)));
    return out;
}

int Clamp(int value, int low, int high) { return std::clamp(value, low, high); }

int ClampedNumerator(const PulseInputFields& f) {
    return Clamp(FactorFieldValue(f.numerator), kNumeratorMin, kNumeratorMax);
}
int ClampedDenominator(const PulseInputFields& f) {
    return Clamp(FactorFieldValue(f.denominator), kDenominatorMin, kDenominatorMax);
}

// The text that remains after the first n records ("descriptor|value|").
std::string_view AfterRecords(std::string_view text, int n) {
    std::size_t pos = 0;
    for (int i = 0; i < 2 * n; ++i) {
        pos = text.find('|', pos);
        if (pos == std::string_view::npos) return {};
        ++pos;
    }
    return text.substr(pos);
}

const RecordText* RecordAt(const Readout& r, std::size_t n) {
    return n < r.records.size() ? &r.records[n] : nullptr;
}

// Counter and unit from a counter record, numerator and denominator from a
// factor record (N + 256 x D).
void ReadCounterAndFactor(const RecordText* counter, const RecordText* factor, int languageId,
                          PulseInputReadout& in) {
    if (counter != nullptr) {
        in.counter = counter->value;
        const std::string& d = counter->descriptor;
        const int vif = d.size() >= 2 ? HexByte(std::string_view(d).substr(d.size() - 2)) : -1;
        in.unitEntry = vif < 0 ? -1 : VifToUnitEntry(vif);
    }
    if (factor != nullptr) {
        const uint64_t w = RecordUint64(factor->value).value_or(0);
        const int n = static_cast<int>(w % 256), d = static_cast<int>(w / 256 % 256);
        in.numerator = std::to_string(n);
        in.denominator = std::to_string(d);
        in.factorResult = FactorResultText(n, d, languageId);
    }
}

}  // namespace

std::string NormalisedSerial(std::string_view text) {
    std::string digits;
    for (char c : text)
        if (IsDigit(c) && digits.size() < kPulseSerialLength) digits += c;
    digits.resize(kPulseSerialLength, '0');
    return digits;
}

std::string LimitedCounter(std::string_view text) { return std::string(text.substr(0, kPulseCounterLength)); }

int FactorFieldValue(std::string_view text) {
    const int64_t v = LeadingInt64(text);
    return static_cast<int>(std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::string FactorResultText(int numerator, int denominator, int languageId) {
    if (denominator == 0) return {};
    return FixedText(static_cast<double>(numerator) / denominator, kFactorDecimals, languageId);
}

void ClampFactor(PulseInputFields& fields, int languageId) {
    const bool numerator = FieldNumber(fields.numerator, 0).has_value();
    const bool denominator = FieldNumber(fields.denominator, 0).has_value();
    const int n = ClampedNumerator(fields);
    const int d = ClampedDenominator(fields);
    if (numerator) fields.numerator = std::to_string(n);
    if (denominator) fields.denominator = std::to_string(d);
    fields.factorResult = numerator && denominator ? FactorResultText(n, d, languageId) : std::string();
}

int UnitEntryToVif(int entry) {
    switch (entry) {
        case 0: return 0x03;
        case 1: return 0x06;
        case 2: return 0x13;
        case 3: return 0x16;
        // VIFs 7B, 7C (plain text), 7D and 7F are written as 7E.
        case 127: case 128: case 129: case 131: return 0x7E;
        default: return Clamp(entry - kPulseNamedUnits, 0x00, 0x7F);
    }
}

int VifToUnitEntry(int vif) {
    switch (vif) {
        case 0x03: return 0;
        case 0x06: return 1;
        case 0x13: return 2;
        case 0x16: return 3;
        default: return vif + kPulseNamedUnits;
    }
}

int MediumByte(int mediumEntry) { return Clamp(mediumEntry, 0, kPulseMediumEntries - 1); }

uint64_t RawCounter(std::string_view counter, int numerator, int denominator) {
    const __int128 value = LeadingInt64(counter);
    const __int128 raw = value * std::max(denominator, 1) / std::max(numerator, 1);
    return static_cast<uint64_t>(static_cast<unsigned __int128>(raw)) & kMask48;
}

int64_t LargestCounter(int numerator, int denominator) {
    // floor(c x d / n) < 2^48  <=>  c x d < 2^48 x n.
    const int64_t n = std::max(numerator, 1), d = std::max(denominator, 1);
    return ((int64_t{1} << 48) * n - 1) / d;
}

std::string PulseWriteSerialText(int input, const PulseInputFields& f) {
    const std::string S = SerialBytes(f.serial);
    const std::string M = Hex2(static_cast<unsigned>(MediumByte(f.mediumEntry)));
    const std::string U = Hex2(static_cast<unsigned>(UnitEntryToVif(f.unitEntry)));
    if (input == 2)
        return "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 " + S + " C4 59 95 " + M +
               " 02 86 28 00 00 82 40 86 28 00 00 06 06 FF FF FF FF FF FF 86 40 " + U + " FF FF FF FF FF FF";
    return "01 7A FF 07 79 " + S + " C4 59 95 " + M +
           " 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 " + U +
           " FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF";
}

std::string PulseWriteAllText(int input, const PulseInputFields& f) {
    const int n = ClampedNumerator(f), d = ClampedDenominator(f);
    const std::string S = SerialBytes(f.serial);
    const std::string M = Hex2(static_cast<unsigned>(MediumByte(f.mediumEntry)));
    const std::string U = Hex2(static_cast<unsigned>(UnitEntryToVif(f.unitEntry)));
    const std::string ND = Hex2(static_cast<unsigned>(n)) + Hex2(static_cast<unsigned>(d));
    const std::string C = CounterBytes(RawCounter(LimitedCounter(f.counter), n, d));
    if (input == 2)
        return "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 " + S + " C4 59 95 " + M +
               " 02 86 28 00 00 82 40 86 28" + ND + " 06 06 FF FF FF FF FF FF 86 40" + U + C;
    return "01 7A FF 07 79 " + S + " C4 59 95 " + M + " 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 " + ND +
           " 82 40 86 28 00 00 06 " + U + C + " 86 40 06 FF FF FF FF FF FF";
}

std::optional<PulseReadout> ReadPulse(const Readout& r, int languageId) {
    if (r.kind != kModulePulse || r.recordText.size() < kMinRecordText) return std::nullopt;
    PulseReadout out;
    const bool both = AfterRecords(r.recordText, 2).size() >= kBothInputsRest;
    const int first = !both && r.header.status == "01" ? 1 : 0;  // index of the first input in the answer
    out.page = both ? kPagePulseBoth : first == 1 ? kPagePulseInput2 : kPagePulseInput1;

    PulseInputReadout& in = out.input[first];
    in.filled = true;
    in.serial = r.header.identification;
    in.mediumEntry = HexByte(r.header.medium);
    ReadCounterAndFactor(RecordAt(r, 0), RecordAt(r, 1), languageId, in);

    if (both) {
        PulseInputReadout& second = out.input[1];
        second.filled = true;
        ReadCounterAndFactor(RecordAt(r, 2), RecordAt(r, 3), languageId, second);
        // Record 5: input 2's secondary address as one number (id, maker,
        // version, medium from the lowest byte up).
        if (const RecordText* address = RecordAt(r, 4)) {
            if (const std::optional<uint64_t> w = RecordUint64(address->value)) {
                char serial[16];
                std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(*w & 0xFFFFFFFFu));
                second.serial = serial;
                second.mediumEntry = static_cast<int>(*w >> 56);
            }
        }
    }
    return out;
}

}  // namespace mbus::meridex
