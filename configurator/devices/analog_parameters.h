// The parameter calculation of the Analog module: from two calibration
// points (raw value X, measured value Y) the integer parameters a, b, c of
// an input's linear rule value = a / b * x + c, the reset values and the
// check that decides whether a parameter set may be copied to the page.
//
// Three cases:
// - an analog input (A1, A2): a / b is the fraction nearest to the slope
//   with a in 0..255 and b in -128..127, c the offset rounded down;
// - the temperature input of a module with firmware number above 0: the
//   same in tenths of a degree (c keeps one decimal);
// - the temperature input of firmware 0: one 4-bit correction a from the
//   slope scaled by a factor of the sensor, b = 0.
//
// Numbers are texts as the user types them (ParseNumber: the leading
// number, with a comma or a point before its decimals; what follows is
// ignored) and as the program shows them (FixedText: the language's
// separator and the decimals of the quantity).

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "configurator/shell/numbers.h"

namespace mbus::meridex {

// The inputs of the Analog module that have parameters.
enum class AnalogInputKind { kA1, kA2, kTemperature };

// Entries of the temperature input's sensor box.
enum SensorEntry : int {
    kSensorPt100 = 0,
    kSensorPt500 = 1,
    kSensorPt1000 = 2,
    kSensorRawPt100 = 3,
    kSensorRawPt500Pt1000 = 4,
};
inline constexpr int kSensorCount = 5;

// Text number of the message shown when the check fails.
inline constexpr int kTextParametersOutOfRange = 117;
// What an empty parameter field becomes on OK (and fails the check with).
inline constexpr std::string_view kEmptyParameterMark = "9999";

// ---- The calculation --------------------------------------------------------

// Which parameter set the dialog computes, and in what notation.
struct AnalogParameterContext {
    AnalogInputKind input = AnalogInputKind::kA1;
    int sensorEntry = kSensorPt100;  // the temperature input's sensor
    int firmwareNumber = 1;          // the module's firmware version number
    int languageId = 1;

    // The temperature input of a module with firmware number 0 (or none known).
    bool TemperatureFirmware0() const { return input == AnalogInputKind::kTemperature && firmwareNumber <= 0; }
};

// The calibration points as texts (raw values X1, X2, measured Y1, Y2).
struct CalibrationTexts {
    std::string x1, x2, y1, y2;

    bool AnyFilled() const { return !x1.empty() || !x2.empty() || !y1.empty() || !y2.empty(); }
    bool operator==(const CalibrationTexts&) const = default;
};

struct ParameterTexts {
    std::string a, b, c;
    bool operator==(const ParameterTexts&) const = default;
};

// The straight line through (x1, y1) and (x2, y2): slope and the value at
// x = 0. Both are 0 when x1 equals x2.
struct Line {
    double slope = 0;
    double offset = 0;
};
Line LineThrough(double x1, double y1, double x2, double y2);

// The fraction a / b nearest to s with a in 0..255 and b in -128..127,
// b != 0. Numerators are tried in ascending order, for each the
// denominators in ascending order; only a strictly smaller error replaces
// the best so far, so the first best pair wins.
struct Fraction {
    int a = 0;
    int b = 0;
    bool operator==(const Fraction&) const = default;
};
Fraction BestFraction(double s);

// The factor m of the firmware-0 temperature rule: 50 for PT500 and raw
// PT500 / PT1000, 150 for PT1000, 42 for PT100 and raw PT100 (and for an
// entry out of range).
int TemperatureFactor(int sensorEntry);

// Parameters from the calibration points, and the points as the dialog
// shows them afterwards (the temperature input of firmware above 0 shows
// X without and Y with one decimal; the others keep the texts). c of the
// temperature input has one decimal, in the language's notation.
struct CalculationResult {
    ParameterTexts parameters;
    CalibrationTexts points;
};
CalculationResult CalculateParameters(const AnalogParameterContext& context, const CalibrationTexts& points);

// "Reset Values": a = 1, b = 1, c = 0 for an analog input; a = 0, b = 0,
// c = 0.0 (in the language's notation) for the temperature input.
ParameterTexts ResetParameters(const AnalogParameterContext& context);

// Whether a parameter set may be used. Empty fields are first replaced by
// "9999" each (all three when any is empty), which fails. The limits:
// temperature input with firmware 0: a and b in -8..7, c in -12.8..12.7;
// otherwise a in 0..255, b in -128..127 and c in -128..127, for the
// temperature input with firmware above 0 instead 10 c in -32768..32767.
// A text that holds no number fails.
bool CheckParameters(const AnalogParameterContext& context, ParameterTexts& parameters);

}  // namespace mbus::meridex
