// The Analog module's parameter calculation: the straight line through two
// points, the nearest fraction, the three calculations, the reset values and
// the limits of the OK check on both sides of every bound.

#include "configurator/devices/analog_parameters.h"

#include <gtest/gtest.h>

#include <cmath>

namespace mbus::meridex {
namespace {

constexpr int kEnglish = 1;
constexpr int kGerman = 49;
constexpr int kSwedish = 46;
constexpr int kRussian = 7;

AnalogParameterContext Context(AnalogInputKind input, int firmware = 1, int sensor = kSensorPt100,
                               int languageId = kEnglish) {
    AnalogParameterContext c;
    c.input = input;
    c.firmwareNumber = firmware;
    c.sensorEntry = sensor;
    c.languageId = languageId;
    return c;
}

// ---------------------------------------------------------------------------
// Line and fraction

TEST(AnalogLine, ThroughTwoPointsAndFlatWhenTheRawValuesAgree) {
    const Line l = LineThrough(0, 0, 1000, 500);
    EXPECT_DOUBLE_EQ(l.slope, 0.5);
    EXPECT_DOUBLE_EQ(l.offset, 0.0);
    const Line m = LineThrough(1, 0, 3, 5);
    EXPECT_DOUBLE_EQ(m.slope, 2.5);
    EXPECT_DOUBLE_EQ(m.offset, -2.5);
    for (const Line& same : {LineThrough(7, 1, 7, 900), LineThrough(0, -5, 0, 5)}) {
        EXPECT_EQ(same.slope, 0.0);
        EXPECT_EQ(same.offset, 0.0);
    }
}

TEST(AnalogFraction, NearestFractionAndTheFirstOfEqualOnesWins) {
    const struct {
        double s;
        Fraction f;
    } rows[] = {
        {0.5, {1, 2}},       // before 2/4, 3/6, ...
        {-0.5, {1, -2}},     // a is never negative: the sign goes to b
        {0.0, {0, -128}},    // every 0/b is exact; b starts at -128
        {0.0039, {0, -128}}, // 0 is nearer than 1/127
        {0.75, {3, 4}},
        {1.0, {1, 1}},
        {-1.0, {1, -1}},
        {100.5, {201, 2}},
        {255.0, {255, 1}},
        {1000.0, {255, 1}},   // the largest numerator over the smallest denominator
        {-1000.0, {255, -1}},
        {M_PI, {245, 78}},
        {1.0 / 3.0, {1, 3}},
    };
    for (const auto& r : rows) EXPECT_EQ(BestFraction(r.s), r.f) << r.s;
}

TEST(AnalogFraction, TemperatureFactorPerSensor) {
    EXPECT_EQ(TemperatureFactor(kSensorPt100), 42);
    EXPECT_EQ(TemperatureFactor(kSensorPt500), 50);
    EXPECT_EQ(TemperatureFactor(kSensorPt1000), 150);
    EXPECT_EQ(TemperatureFactor(kSensorRawPt100), 42);
    EXPECT_EQ(TemperatureFactor(kSensorRawPt500Pt1000), 50);
}

// ---------------------------------------------------------------------------
// The three calculations

TEST(AnalogCalculation, AnalogInput) {
    const struct {
        const char* name;
        CalibrationTexts points;
        ParameterTexts expected;
    } rows[] = {
        {"(0, 0) and (1000, 500)", {"0", "1000", "0", "500"}, {"1", "2", "0"}},
        {"X1 = X2", {"300", "300", "10", "90"}, {"0", "-128", "0"}},
        {"negative offset rounds down", {"1", "3", "0", "5"}, {"5", "2", "-3"}},
        {"positive offset rounds down", {"1", "3", "5", "10"}, {"5", "2", "2"}},
        {"falling line", {"0", "100", "50", "0"}, {"1", "-2", "50"}},
        {"integers only", {"0.9", "1000.7", "0.5", "500.9"}, {"1", "2", "0"}},
        {"empty points", {"", "", "", ""}, {"0", "-128", "0"}},
    };
    for (AnalogInputKind input : {AnalogInputKind::kA1, AnalogInputKind::kA2})
        for (const auto& r : rows) {
            const CalculationResult out = CalculateParameters(Context(input), r.points);
            EXPECT_EQ(out.parameters, r.expected) << r.name;
            EXPECT_EQ(out.points, r.points) << r.name;  // shown as typed
        }
}

TEST(AnalogCalculation, TemperatureWithFirmwareAboveZeroWorksInTenths) {
    const struct {
        int languageId;
        CalibrationTexts points;
        ParameterTexts expected;
        CalibrationTexts shown;
    } rows[] = {
        {kEnglish, {"100", "1100", "0", "100"}, {"1", "1", "-10.0"}, {"100", "1100", "0.0", "100.0"}},
        {kGerman, {"100", "1100", "0", "100"}, {"1", "1", "-10,0"}, {"100", "1100", "0,0", "100,0"}},
        // Slope 10 x (30.5 - 20.5) / 100 = 1: the decimals of Y count.
        {kGerman, {"0", "100", "20,5", "30,5"}, {"1", "1", "20,5"}, {"0", "100", "20,5", "30,5"}},
        {kEnglish, {"0", "200", "20.5", "30.5"}, {"1", "2", "20.5"}, {"0", "200", "20.5", "30.5"}},
        {kEnglish, {"100.4", "300", "1", "2"}, {"1", "20", "0.5"}, {"100", "300", "1.0", "2.0"}},
        // Text 118's example typed in Swedish and Russian; the other separator is read too.
        {kSwedish, {"0", "100", "123,4", "133,4"}, {"1", "1", "123,4"}, {"0", "100", "123,4", "133,4"}},
        {kRussian, {"0", "100", "123,4", "133,4"}, {"1", "1", "123,4"}, {"0", "100", "123,4", "133,4"}},
        {kRussian, {"0", "100", "123.4", "133.4"}, {"1", "1", "123,4"}, {"0", "100", "123,4", "133,4"}},
        {kEnglish, {"0", "100", "123,4", "133,4"}, {"1", "1", "123.4"}, {"0", "100", "123.4", "133.4"}},
    };
    for (const auto& r : rows) {
        const CalculationResult out =
            CalculateParameters(Context(AnalogInputKind::kTemperature, 13, kSensorPt100, r.languageId), r.points);
        EXPECT_EQ(out.parameters, r.expected) << r.points.x1 << " " << r.points.y1;
        EXPECT_EQ(out.points, r.shown) << r.points.x1 << " " << r.points.y1;
    }
}

TEST(AnalogCalculation, TemperatureWithFirmwareZeroScalesBySensor) {
    const struct {
        int sensor;
        CalibrationTexts points;
        const char* a;
        const char* c;
    } rows[] = {
        // Slope 1.5: a = 0.5 m.
        {kSensorPt100, {"0", "2", "0", "3"}, "21", "0.0"},
        {kSensorPt500, {"0", "2", "0", "3"}, "25", "0.0"},
        {kSensorPt1000, {"0", "2", "0", "3"}, "75", "0.0"},
        {kSensorRawPt100, {"0", "2", "0", "3"}, "21", "0.0"},
        {kSensorRawPt500Pt1000, {"0", "2", "0", "3"}, "25", "0.0"},
        // Slope 0.5: a = -0.5 m.
        {kSensorPt1000, {"0", "2", "0", "1"}, "-75", "0.0"},
        // 0.25 x 42 = 10.5 and -0.25 x 42 = -10.5 round down.
        {kSensorPt100, {"0", "4", "0", "5"}, "10", "0.0"},
        {kSensorPt100, {"0", "4", "0", "3"}, "-11", "0.0"},
        // Offset with one decimal.
        {kSensorPt500, {"0", "2", "1.5", "4.5"}, "25", "1.5"},
        // X1 = X2: slope 0, so a = -m.
        {kSensorPt500, {"5", "5", "1", "2"}, "-50", "0.0"},
    };
    for (int firmware : {0, -1}) {
        for (const auto& r : rows) {
            const CalculationResult out =
                CalculateParameters(Context(AnalogInputKind::kTemperature, firmware, r.sensor), r.points);
            EXPECT_EQ(out.parameters, (ParameterTexts{r.a, "0", r.c})) << r.sensor << " " << r.points.y2;
            EXPECT_EQ(out.points, r.points);
        }
    }
    const CalculationResult german = CalculateParameters(
        Context(AnalogInputKind::kTemperature, 0, kSensorPt500, kGerman), {"0", "2", "1,5", "4,5"});
    EXPECT_EQ(german.parameters, (ParameterTexts{"25", "0", "1,5"}));
}

TEST(AnalogCalculation, ResetValues) {
    EXPECT_EQ(ResetParameters(Context(AnalogInputKind::kA1)), (ParameterTexts{"1", "1", "0"}));
    EXPECT_EQ(ResetParameters(Context(AnalogInputKind::kA2, 1, 0, kGerman)), (ParameterTexts{"1", "1", "0"}));
    EXPECT_EQ(ResetParameters(Context(AnalogInputKind::kTemperature)), (ParameterTexts{"0", "0", "0.0"}));
    EXPECT_EQ(ResetParameters(Context(AnalogInputKind::kTemperature, 0, 0, kGerman)), (ParameterTexts{"0", "0", "0,0"}));
}

// ---------------------------------------------------------------------------
// The OK check

TEST(AnalogCheck, LimitsOnBothSidesOfEveryBound) {
    const AnalogParameterContext analog = Context(AnalogInputKind::kA1);
    const AnalogParameterContext analog2 = Context(AnalogInputKind::kA2, 0);  // firmware plays no part
    const AnalogParameterContext temperature = Context(AnalogInputKind::kTemperature, 13);
    const AnalogParameterContext temperature0 = Context(AnalogInputKind::kTemperature, 0);
    const AnalogParameterContext german0 = Context(AnalogInputKind::kTemperature, 0, kSensorPt100, kGerman);
    const struct {
        const AnalogParameterContext* context;
        ParameterTexts p;
        bool ok;
    } rows[] = {
        {&analog, {"0", "-128", "-128"}, true},
        {&analog, {"255", "127", "127"}, true},
        {&analog, {"-1", "1", "0"}, false},
        {&analog, {"256", "1", "0"}, false},
        {&analog, {"1", "-129", "0"}, false},
        {&analog, {"1", "128", "0"}, false},
        {&analog, {"1", "1", "-129"}, false},
        {&analog, {"1", "1", "128"}, false},
        {&analog, {"1", "1", "127.5"}, false},
        {&analog2, {"200", "-100", "-5"}, true},
        {&analog2, {"1", "1", "-12.9"}, true},  // not the temperature input's limits
        {&temperature, {"0", "-128", "-3276.8"}, true},
        {&temperature, {"255", "127", "3276.7"}, true},
        {&temperature, {"-1", "1", "0"}, false},
        {&temperature, {"256", "1", "0"}, false},
        {&temperature, {"1", "-129", "0"}, false},
        {&temperature, {"1", "128", "0"}, false},
        {&temperature, {"1", "1", "-3276.9"}, false},
        {&temperature, {"1", "1", "3276.8"}, false},
        {&temperature, {"1", "1", "3276.75"}, false},
        {&temperature, {"1", "1", "200"}, true},
        {&temperature0, {"-8", "-8", "-12.8"}, true},
        {&temperature0, {"7", "7", "12.7"}, true},
        {&temperature0, {"-9", "0", "0"}, false},
        {&temperature0, {"8", "0", "0"}, false},
        {&temperature0, {"0", "-9", "0"}, false},
        {&temperature0, {"0", "8", "0"}, false},
        {&temperature0, {"0", "0", "-12.9"}, false},
        {&temperature0, {"0", "0", "12.8"}, false},
        {&temperature0, {"0", "0", "12.75"}, false},
        {&temperature0, {"0", "0", "13"}, false},
        {&german0, {"-8", "7", "12,7"}, true},
        {&german0, {"-8", "7", "-12,9"}, false},
        {&analog, {"a", "1", "0"}, false},
        {&analog, {"1", "1", "-"}, false},
    };
    for (const auto& r : rows) {
        ParameterTexts p = r.p;
        EXPECT_EQ(CheckParameters(*r.context, p), r.ok)
            << r.p.a << " " << r.p.b << " " << r.p.c << " input " << static_cast<int>(r.context->input)
            << " firmware " << r.context->firmwareNumber;
        EXPECT_EQ(p, r.p) << "filled fields stay as they are";
    }
}

TEST(AnalogCheck, AnEmptyFieldTurnsAllThreeInto9999AndFails) {
    for (const ParameterTexts& empty :
         {ParameterTexts{"", "1", "0"}, ParameterTexts{"1", "", "0"}, ParameterTexts{"1", "1", ""}, ParameterTexts{}}) {
        for (AnalogInputKind input : {AnalogInputKind::kA1, AnalogInputKind::kTemperature}) {
            ParameterTexts p = empty;
            EXPECT_FALSE(CheckParameters(Context(input), p));
            EXPECT_EQ(p, (ParameterTexts{"9999", "9999", "9999"}));
            // And the marks fail again.
            EXPECT_FALSE(CheckParameters(Context(input), p));
        }
    }
}

}  // namespace
}  // namespace mbus::meridex
