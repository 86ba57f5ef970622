#include "configurator/devices/field_check.h"

#include <utility>

#include "configurator/shell/numbers.h"

namespace mbus::meridex {
namespace {

// The most significant digits a field's number may have: 18 fill the
// counter field and still fit an int64 scaled by the decimals below.
constexpr int kMaxDigits = 18;

constexpr int64_t kLargestCount = 999'999'999'999'999'999;  // the counter field's 18 digits

struct FieldRow {
    FieldKind kind;
    const char* name;
    FieldLimits limits;
    FieldLimits firmware0;  // the temperature parameters of firmware 0
};

// Every field a write sends, with its limits: the module's byte or word
// that takes the value (a and b of a temperature slot are nibbles under
// firmware 0, c a byte of tenths), the factor's limits as leaving the
// field clamps them, the output's 4..20 mA.
constexpr FieldRow kFields[] = {
    {FieldKind::kMeterCount, "meter count", {0, kLargestCount, 0}, {}},
    {FieldKind::kFactorNumerator, "factor numerator", {kNumeratorMin, kNumeratorMax, 0}, {}},
    {FieldKind::kFactorDenominator, "factor denominator", {kDenominatorMin, kDenominatorMax, 0}, {}},
    {FieldKind::kParameterA, "parameter a", {0, 255, 0}, {}},
    {FieldKind::kParameterB, "parameter b", {-128, 127, 0}, {}},
    {FieldKind::kParameterC, "parameter c", {-128, 127, 0}, {}},
    {FieldKind::kTemperatureA, "parameter a", {0, 255, 0}, {-8, 7, 0}},
    {FieldKind::kTemperatureB, "parameter b", {-128, 127, 0}, {-8, 7, 0}},
    {FieldKind::kTemperatureC, "parameter c", {-32768, 32767, 1}, {-128, 127, 1}},
    {FieldKind::kOutputCurrent, "output current in mA", {4000, 20000, 3}, {}},
};

const FieldRow& RowOf(FieldKind kind) {
    for (const FieldRow& row : kFields)
        if (row.kind == kind) return row;
    return kFields[0];
}

bool HasFirmware0Limits(FieldKind kind) {
    return kind == FieldKind::kTemperatureA || kind == FieldKind::kTemperatureB || kind == FieldKind::kTemperatureC;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

enum class Reading {
    kNumber,
    kEmpty,
    kNoNumber,
    kTooManyDecimals,
    kTooManyDigits,
    kSeparatorInWholeNumber,  // "1.000" in a field of whole numbers
    kTwoSeparators,           // "1.234,5"
};

Reading Read(std::string_view text, int places, DecimalNumber* out) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return Reading::kEmpty;
    std::size_t i = begin;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    DecimalNumber n;
    int digits = 0, significant = 0, decimals = 0;
    bool fraction = false;
    for (; i < end; ++i) {
        const char c = text[i];
        if (IsDecimalSeparator(c)) {
            if (fraction) return Reading::kTwoSeparators;
            if (places == 0) return Reading::kSeparatorInWholeNumber;
            fraction = true;
            continue;
        }
        if (c < '0' || c > '9') return Reading::kNoNumber;
        ++digits;
        if (fraction) ++decimals;
        if (significant == 0 && c == '0') {
            if (fraction) ++n.places;
            continue;
        }
        if (++significant > kMaxDigits) return Reading::kTooManyDigits;
        n.scaled = n.scaled * 10 + (c - '0');
        if (fraction) ++n.places;
    }
    if (digits == 0) return Reading::kNoNumber;
    if (decimals > places) return Reading::kTooManyDecimals;
    if (negative) n.scaled = -n.scaled;
    *out = n;
    return Reading::kNumber;
}

std::string Accepted(const FieldEntry& f, int languageId) {
    const FieldLimits& l = f.limits;
    std::string text = std::string(l.places == 0 ? "a whole number" : "a number") + " from " +
                       ScaledText(l.lo, l.places, languageId) + " to " + ScaledText(l.hi, l.places, languageId);
    if (l.places > 0)
        text += " with at most " + std::to_string(l.places) + (l.places == 1 ? " decimal" : " decimals") +
                " after \",\" or \".\"";
    if (!f.because.empty()) text += " (" + f.because + ")";
    return text;
}

std::string Label(const FieldEntry& f) {
    std::string name = RowOf(f.kind).name;
    if (!f.input.empty()) return f.input + " " + name;
    name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

FieldEntry Entry(FieldKind kind, std::string input, std::string text, int firmwareNumber = 1) {
    return FieldEntry{kind, std::move(input), std::move(text), LimitsOf(kind, firmwareNumber), {}};
}

// The value of a field that passes its check, as a whole number.
std::optional<int64_t> WholeValue(const FieldEntry& f) {
    const std::optional<DecimalNumber> n = FieldNumber(f.text, 0);
    if (!n || !n->Within(f.limits.lo, f.limits.hi, 0)) return std::nullopt;
    return n->Truncated(0);
}

}  // namespace

FieldLimits LimitsOf(FieldKind kind, int firmwareNumber) {
    const FieldRow& row = RowOf(kind);
    return HasFirmware0Limits(kind) && firmwareNumber <= 0 ? row.firmware0 : row.limits;
}

std::optional<DecimalNumber> FieldNumber(std::string_view text, int places) {
    DecimalNumber n;
    if (Read(text, places, &n) != Reading::kNumber) return std::nullopt;
    return n;
}

std::optional<std::string> RefusedField(const std::vector<FieldEntry>& fields, int languageId) {
    for (const FieldEntry& f : fields) {
        DecimalNumber n;
        const Reading reading = Read(f.text, f.limits.places, &n);
        std::string what;
        switch (reading) {
            case Reading::kNumber:
                if (n.Within(f.limits.lo, f.limits.hi, f.limits.places)) continue;
                what = "is out of range";
                break;
            case Reading::kEmpty: what = "is empty"; break;
            case Reading::kNoNumber: what = "is not a number"; break;
            case Reading::kTooManyDecimals: what = "has too many decimals"; break;
            case Reading::kTooManyDigits: what = "is out of range"; break;
            case Reading::kSeparatorInWholeNumber:
                what = "has a separator; the field takes no decimals and no thousands separator";
                break;
            case Reading::kTwoSeparators:
                what = "has two separators; a thousands separator is not accepted";
                break;
        }
        return Label(f) + ": \"" + f.text + "\" " + what + "; give " + Accepted(f, languageId) +
               ".\nNothing was written to the module.";
    }
    return std::nullopt;
}

std::vector<FieldEntry> PulseWriteAllFields(int input, const PulseInputFields& fields) {
    const std::string name = input == 2 ? "P2 / Z1" : "P1 / Z2";
    std::vector<FieldEntry> out = {Entry(FieldKind::kMeterCount, name, fields.counter),
                                   Entry(FieldKind::kFactorNumerator, name, fields.numerator),
                                   Entry(FieldKind::kFactorDenominator, name, fields.denominator)};
    // The module counts raw pulses in 48 bits: a larger count under this
    // factor would be sent cut to them.
    const std::optional<int64_t> n = WholeValue(out[1]), d = WholeValue(out[2]);
    if (n && d) {
        const int64_t largest = LargestCounter(static_cast<int>(*n), static_cast<int>(*d));
        if (largest < out[0].limits.hi) {
            out[0].limits.hi = largest;
            out[0].because = "the module keeps count x " + std::to_string(*d) + " / " + std::to_string(*n) +
                             " in 48 bits";
        }
    }
    return out;
}

std::vector<FieldEntry> AnalogParameterFields(AnalogInputKind input, const AnalogPageFields& page) {
    if (input == AnalogInputKind::kTemperature) {
        const TemperatureFields& t = page.temperature;
        const std::string name = "Temperature input";
        const int fw = page.firmwareNumber;
        return {Entry(FieldKind::kTemperatureA, name, t.a, fw), Entry(FieldKind::kTemperatureB, name, t.b, fw),
                Entry(FieldKind::kTemperatureC, name, t.c, fw)};
    }
    const bool a2 = input == AnalogInputKind::kA2;
    const AnalogInputFields& in = page.inputs[a2 ? 1 : 0];
    const std::string name = a2 ? "A2" : "A1";
    return {Entry(FieldKind::kParameterA, name, in.a), Entry(FieldKind::kParameterB, name, in.b),
            Entry(FieldKind::kParameterC, name, in.c)};
}

std::vector<FieldEntry> OutputCurrentFields(const AnalogPageFields& page) {
    return {Entry(FieldKind::kOutputCurrent, "", page.current)};
}

}  // namespace mbus::meridex
