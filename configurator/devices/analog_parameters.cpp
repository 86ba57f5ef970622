#include "configurator/devices/analog_parameters.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "configurator/devices/field_check.h"
#include "configurator/shell/languages.h"

namespace mbus::meridex {
namespace {

// Digits a number text may carry; the fields hold at most ten characters.
constexpr int kMaxDigits = 15;

constexpr int kMaxNumerator = 255;
constexpr int kMinDenominator = -128, kMaxDenominator = 127;

int64_t Power10(int n) {
    int64_t p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}

// value x 10^n for n >= 0, held at the int64 range.
int64_t ScaleUp(int64_t value, int n) {
    for (int i = 0; i < n; ++i) {
        if (value > std::numeric_limits<int64_t>::max() / 10) return std::numeric_limits<int64_t>::max();
        if (value < std::numeric_limits<int64_t>::min() / 10) return std::numeric_limits<int64_t>::min();
        value *= 10;
    }
    return value;
}

// An integer as text without a detour through an integer type (a slope
// of two nearly equal raw values can exceed every integer type).
std::string IntegerText(double value) {
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", value + 0.0);  // + 0.0: no "-0"
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

double DecimalNumber::Value() const { return static_cast<double>(scaled) / static_cast<double>(Power10(places)); }

int64_t DecimalNumber::Truncated(int toPlaces) const {
    if (toPlaces >= places) return ScaleUp(scaled, toPlaces - places);
    return scaled / Power10(places - toPlaces);  // C++ division truncates toward zero
}

bool DecimalNumber::Within(int64_t lo, int64_t hi, int boundPlaces) const {
    // value x 10^boundPlaces = q + r with q its integer part and r a
    // fraction of the sign of the value.
    const int64_t q = Truncated(boundPlaces);
    int64_t r = 0;
    if (places > boundPlaces) r = scaled % Power10(places - boundPlaces);
    const bool aboveLo = q > lo || (q == lo && r >= 0);
    const bool belowHi = q < hi || (q == hi && r <= 0);
    return aboveLo && belowHi;
}

char DecimalSeparator(int languageId) { return UsesDecimalComma(languageId) ? ',' : '.'; }

std::optional<DecimalNumber> ParseNumber(std::string_view text, int languageId) {
    const char separator = DecimalSeparator(languageId);
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    DecimalNumber n;
    int digits = 0;
    bool fraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == separator && !fraction) {
            fraction = true;
            continue;
        }
        if (c < '0' || c > '9' || digits == kMaxDigits) break;
        n.scaled = n.scaled * 10 + (c - '0');
        ++digits;
        if (fraction) ++n.places;
    }
    if (digits == 0) return std::nullopt;
    if (negative) n.scaled = -n.scaled;
    return n;
}

std::optional<int64_t> ParseInteger(std::string_view text, int languageId) {
    const std::optional<DecimalNumber> n = ParseNumber(text, languageId);
    if (!n) return std::nullopt;
    return n->Truncated(0);
}

std::string FormatNumber(double value, const char* format, int languageId) {
    char text[400];
    std::snprintf(text, sizeof text, format, value);
    std::string out = text;
    if (UsesDecimalComma(languageId))
        for (char& c : out)
            if (c == '.') c = ',';
    return out;
}

Line LineThrough(double x1, double y1, double x2, double y2) {
    if (x1 == x2) return {};
    return {(y2 - y1) / (x2 - x1), (x2 * y1 - x1 * y2) / (x2 - x1)};
}

Fraction BestFraction(double s) {
    Fraction best{0, kMinDenominator};
    double bestError = std::numeric_limits<double>::infinity();
    for (int a = 0; a <= kMaxNumerator; ++a)
        for (int b = kMinDenominator; b <= kMaxDenominator; ++b) {
            if (b == 0) continue;
            const double error = std::fabs(s - static_cast<double>(a) / b);
            if (error < bestError) {
                bestError = error;
                best = {a, b};
            }
        }
    return best;
}

int TemperatureFactor(int sensorEntry) {
    switch (sensorEntry) {
        case kSensorPt500:
        case kSensorRawPt500Pt1000: return 50;
        case kSensorPt1000: return 150;
        default: return 42;  // PT100 and raw PT100
    }
}

CalculationResult CalculateParameters(const AnalogParameterContext& context, const CalibrationTexts& points) {
    CalculationResult result;
    result.points = points;
    const int lang = context.languageId;
    auto number = [lang](const std::string& text) {
        const std::optional<DecimalNumber> n = ParseNumber(text, lang);
        return n ? n->Value() : 0.0;
    };

    if (context.input != AnalogInputKind::kTemperature) {
        // Raw and measured values of an analog input are integers.
        auto integer = [lang](const std::string& text) {
            return static_cast<double>(ParseInteger(text, lang).value_or(0));
        };
        const Line line = LineThrough(integer(points.x1), integer(points.y1), integer(points.x2), integer(points.y2));
        const Fraction f = BestFraction(line.slope);
        result.parameters = {std::to_string(f.a), std::to_string(f.b), IntegerText(std::floor(line.offset))};
        return result;
    }

    const double x1 = number(points.x1), x2 = number(points.x2), y1 = number(points.y1), y2 = number(points.y2);
    if (context.TemperatureFirmware0()) {
        // One correction value: the slope's deviation from 1, scaled by the sensor's factor.
        const Line line = LineThrough(x1, y1, x2, y2);
        const int m = TemperatureFactor(context.sensorEntry);
        const double s = line.slope * m - m;
        result.parameters = {IntegerText(std::floor(s)), "0", FormatNumber(line.offset, "%#.1f", lang)};
        return result;
    }

    // In tenths of a degree.
    result.points = {FormatNumber(x1, "%.0f", lang), FormatNumber(x2, "%.0f", lang), FormatNumber(y1, "%#.1f", lang),
                     FormatNumber(y2, "%#.1f", lang)};
    const Line line = LineThrough(x1, 10 * y1, x2, 10 * y2);
    const Fraction f = BestFraction(line.slope);
    result.parameters = {std::to_string(f.a), std::to_string(f.b), FormatNumber(line.offset / 10, "%#.1f", lang)};
    return result;
}

ParameterTexts ResetParameters(const AnalogParameterContext& context) {
    if (context.input == AnalogInputKind::kTemperature)
        return {"0", "0", FormatNumber(0.0, "%#.1f", context.languageId)};
    return {"1", "1", "0"};
}

bool CheckParameters(const AnalogParameterContext& context, ParameterTexts& parameters) {
    if (parameters.a.empty() || parameters.b.empty() || parameters.c.empty()) {
        parameters = {std::string(kEmptyParameterMark), std::string(kEmptyParameterMark),
                      std::string(kEmptyParameterMark)};
        return false;
    }
    const int lang = context.languageId;
    const std::optional<DecimalNumber> a = ParseNumber(parameters.a, lang);
    const std::optional<DecimalNumber> b = ParseNumber(parameters.b, lang);
    const std::optional<DecimalNumber> c = ParseNumber(parameters.c, lang);
    if (!a || !b || !c) return false;
    // The limits of the page's fields, which a write checks again.
    const bool temperature = context.input == AnalogInputKind::kTemperature;
    auto within = [&](const DecimalNumber& n, FieldKind analog, FieldKind temperatureKind) {
        const FieldLimits l = LimitsOf(temperature ? temperatureKind : analog, context.firmwareNumber);
        return n.Within(l.lo, l.hi, l.places);
    };
    return within(*a, FieldKind::kParameterA, FieldKind::kTemperatureA) &&
           within(*b, FieldKind::kParameterB, FieldKind::kTemperatureB) &&
           within(*c, FieldKind::kParameterC, FieldKind::kTemperatureC);
}

}  // namespace mbus::meridex
