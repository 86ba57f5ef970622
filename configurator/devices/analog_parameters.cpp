#include "configurator/devices/analog_parameters.h"

#include <cmath>
#include <limits>

#include "configurator/devices/field_check.h"
#include "configurator/shell/languages.h"

namespace mbus::meridex {
namespace {

constexpr int kMaxNumerator = 255;
constexpr int kMinDenominator = -128, kMaxDenominator = 127;

// The decimals the dialog shows: raw values none, temperatures and the
// offset c of the temperature input one (tenths of a degree).
constexpr int kRawDecimals = 0;
constexpr int kTemperatureDecimals = 1;

// An integer as text without a detour through an integer type (a slope
// of two nearly equal raw values can exceed every integer type).
std::string IntegerText(double value) { return FixedText(value, 0, 1); }

}  // namespace

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
    auto number = [](const std::string& text) {
        const std::optional<DecimalNumber> n = ParseNumber(text);
        return n ? n->Value() : 0.0;
    };

    if (context.input != AnalogInputKind::kTemperature) {
        // Raw and measured values of an analog input are integers.
        auto integer = [](const std::string& text) {
            return static_cast<double>(ParseInteger(text).value_or(0));
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
        result.parameters = {IntegerText(std::floor(s)), "0", FixedText(line.offset, kTemperatureDecimals, lang)};
        return result;
    }

    // In tenths of a degree.
    result.points = {FixedText(x1, kRawDecimals, lang), FixedText(x2, kRawDecimals, lang),
                     FixedText(y1, kTemperatureDecimals, lang), FixedText(y2, kTemperatureDecimals, lang)};
    const Line line = LineThrough(x1, 10 * y1, x2, 10 * y2);
    const Fraction f = BestFraction(line.slope);
    result.parameters = {std::to_string(f.a), std::to_string(f.b),
                         FixedText(line.offset / 10, kTemperatureDecimals, lang)};
    return result;
}

ParameterTexts ResetParameters(const AnalogParameterContext& context) {
    if (context.input == AnalogInputKind::kTemperature)
        return {"0", "0", FixedText(0.0, kTemperatureDecimals, context.languageId)};
    return {"1", "1", "0"};
}

bool CheckParameters(const AnalogParameterContext& context, ParameterTexts& parameters) {
    if (parameters.a.empty() || parameters.b.empty() || parameters.c.empty()) {
        parameters = {std::string(kEmptyParameterMark), std::string(kEmptyParameterMark),
                      std::string(kEmptyParameterMark)};
        return false;
    }
    const std::optional<DecimalNumber> a = ParseNumber(parameters.a);
    const std::optional<DecimalNumber> b = ParseNumber(parameters.b);
    const std::optional<DecimalNumber> c = ParseNumber(parameters.c);
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
