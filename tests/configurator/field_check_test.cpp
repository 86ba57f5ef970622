// The check of the fields a write sends to a module: which texts are
// numbers of their field, what the refusal says, and the fields of each
// write with their limits.

#include "configurator/devices/field_check.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace mbus::meridex {
namespace {

constexpr int kEnglish = 1;
constexpr int kGerman = 49;

bool Passes(FieldKind kind, const std::string& text, int languageId = kEnglish, int firmware = 1) {
    return !RefusedField({FieldEntry{kind, "X", text, LimitsOf(kind, firmware), {}}}, languageId).has_value();
}

TEST(FieldCheck, OnlyAWholeNumberOfTheFieldsRangePasses) {
    const struct {
        FieldKind kind;
        const char* text;
        int languageId;
        int firmware;
        bool passes;
    } rows[] = {
        // The counter: 0 to 18 nines, whole numbers only.
        {FieldKind::kMeterCount, "1000", kEnglish, 1, true},
        {FieldKind::kMeterCount, " +1000 ", kEnglish, 1, true},
        {FieldKind::kMeterCount, "0", kEnglish, 1, true},
        {FieldKind::kMeterCount, "999999999999999999", kEnglish, 1, true},
        {FieldKind::kMeterCount, "0000999999999999999999", kEnglish, 1, true},  // leading zeros are no digits of value
        {FieldKind::kMeterCount, "1000000000000000000", kEnglish, 1, false},
        {FieldKind::kMeterCount, "99999999999999999999999", kEnglish, 1, false},
        {FieldKind::kMeterCount, "12ab-3.5e", kEnglish, 1, false},
        {FieldKind::kMeterCount, "12ab", kEnglish, 1, false},
        {FieldKind::kMeterCount, "", kEnglish, 1, false},
        {FieldKind::kMeterCount, "  ", kEnglish, 1, false},
        {FieldKind::kMeterCount, "-", kEnglish, 1, false},
        {FieldKind::kMeterCount, "-1", kEnglish, 1, false},
        {FieldKind::kMeterCount, "1.5", kEnglish, 1, false},
        {FieldKind::kMeterCount, "1.000", kGerman, 1, false},
        {FieldKind::kMeterCount, "1e3", kEnglish, 1, false},
        {FieldKind::kMeterCount, "1 000", kEnglish, 1, false},
        {FieldKind::kMeterCount, "0x10", kEnglish, 1, false},
        // The factor.
        {FieldKind::kFactorNumerator, "255", kEnglish, 1, true},
        {FieldKind::kFactorNumerator, "256", kEnglish, 1, false},
        {FieldKind::kFactorNumerator, "0", kEnglish, 1, false},
        {FieldKind::kFactorDenominator, "127", kEnglish, 1, true},
        {FieldKind::kFactorDenominator, "128", kEnglish, 1, false},
        // A1 and A2: bytes, a unsigned, b and c signed.
        {FieldKind::kParameterA, "255", kEnglish, 1, true},
        {FieldKind::kParameterA, "-1", kEnglish, 1, false},
        {FieldKind::kParameterB, "-128", kEnglish, 1, true},
        {FieldKind::kParameterB, "128", kEnglish, 1, false},
        {FieldKind::kParameterC, "127", kEnglish, 1, true},
        {FieldKind::kParameterC, "200", kEnglish, 1, false},
        {FieldKind::kParameterC, "12.0", kEnglish, 1, false},
        // The temperature input, by firmware: c with one decimal in the language's notation.
        {FieldKind::kTemperatureA, "200", kEnglish, 11, true},
        {FieldKind::kTemperatureA, "200", kEnglish, 0, false},
        {FieldKind::kTemperatureA, "-8", kEnglish, 0, true},
        {FieldKind::kTemperatureB, "7", kEnglish, -1, true},
        {FieldKind::kTemperatureB, "8", kEnglish, -1, false},
        {FieldKind::kTemperatureC, "3276.7", kEnglish, 11, true},
        {FieldKind::kTemperatureC, "3276.8", kEnglish, 11, false},
        {FieldKind::kTemperatureC, "-12.8", kEnglish, 0, true},
        {FieldKind::kTemperatureC, "12.8", kEnglish, 0, false},
        // A comma and a point both separate the decimals, in every language; never both.
        {FieldKind::kTemperatureC, "12,5", kGerman, 0, true},
        {FieldKind::kTemperatureC, "12,5", kEnglish, 0, true},
        {FieldKind::kTemperatureC, "12.5", kGerman, 0, true},
        {FieldKind::kTemperatureC, "1,2.5", kEnglish, 11, false},
        {FieldKind::kTemperatureC, "1,2,5", kGerman, 11, false},
        {FieldKind::kTemperatureC, "1.25", kEnglish, 11, false},
        {FieldKind::kTemperatureC, "1.", kEnglish, 11, true},
        {FieldKind::kTemperatureC, ".5", kEnglish, 11, true},
        {FieldKind::kTemperatureC, ".", kEnglish, 11, false},
        // The output current: 4 to 20 mA, three decimals.
        {FieldKind::kOutputCurrent, "4", kEnglish, 1, true},
        {FieldKind::kOutputCurrent, "20.000", kEnglish, 1, true},
        {FieldKind::kOutputCurrent, "20.001", kEnglish, 1, false},
        {FieldKind::kOutputCurrent, "3.999", kEnglish, 1, false},
        {FieldKind::kOutputCurrent, "12,345", kGerman, 1, true},
        {FieldKind::kOutputCurrent, "12.345", kGerman, 1, true},
        {FieldKind::kOutputCurrent, "12,345", kEnglish, 1, true},
        {FieldKind::kOutputCurrent, "12.3456", kEnglish, 1, false},
        {FieldKind::kOutputCurrent, "12.3000", kEnglish, 1, false},
    };
    for (const auto& r : rows)
        EXPECT_EQ(Passes(r.kind, r.text, r.languageId, r.firmware), r.passes)
            << '"' << r.text << "\" kind " << static_cast<int>(r.kind) << " language " << r.languageId
            << " firmware " << r.firmware;
}

TEST(FieldCheck, TheMessageNamesTheFieldWhatIsWrongAndWhatWouldBeTaken) {
    const struct {
        FieldEntry field;
        int languageId;
        const char* message;
    } rows[] = {
        {{FieldKind::kMeterCount, "P1 / Z2", "12ab-3.5e", LimitsOf(FieldKind::kMeterCount), {}},
         kEnglish,
         "P1 / Z2 meter count: \"12ab-3.5e\" is not a number; give a whole number from 0 to 999999999999999999."},
        {{FieldKind::kParameterB, "A1", "", LimitsOf(FieldKind::kParameterB), {}},
         kEnglish,
         "A1 parameter b: \"\" is empty; give a whole number from -128 to 127."},
        {{FieldKind::kTemperatureC, "Temperature input", "13", LimitsOf(FieldKind::kTemperatureC, 0), {}},
         kGerman,
         "Temperature input parameter c: \"13\" is out of range; give a number from -12,8 to 12,7 with at most 1 "
         "decimal after \",\" or \".\"."},
        {{FieldKind::kOutputCurrent, "", "7.1234", LimitsOf(FieldKind::kOutputCurrent), {}},
         kEnglish,
         "Output current in mA: \"7.1234\" has too many decimals; give a number from 4.000 to 20.000 with at most "
         "3 decimals after \",\" or \".\"."},
        {{FieldKind::kOutputCurrent, "", "1.012,5", LimitsOf(FieldKind::kOutputCurrent), {}},
         kGerman,
         "Output current in mA: \"1.012,5\" has two separators; a thousands separator is not accepted; give a number "
         "from 4,000 to 20,000 with at most 3 decimals after \",\" or \".\"."},
        {{FieldKind::kMeterCount, "P2 / Z1", "1.000", LimitsOf(FieldKind::kMeterCount), {}},
         kGerman,
         "P2 / Z1 meter count: \"1.000\" has a separator; the field takes no decimals and no thousands separator; "
         "give a whole number from 0 to 999999999999999999."},
    };
    for (const auto& r : rows) {
        const std::optional<std::string> m = RefusedField({r.field}, r.languageId);
        ASSERT_TRUE(m.has_value()) << r.message;
        EXPECT_EQ(*m, std::string(r.message) + "\nNothing was written to the module.");
    }
}

TEST(FieldCheck, TheFirstRefusedFieldIsReported) {
    const std::vector<FieldEntry> fields = {
        {FieldKind::kParameterA, "A2", "1", LimitsOf(FieldKind::kParameterA), {}},
        {FieldKind::kParameterB, "A2", "x", LimitsOf(FieldKind::kParameterB), {}},
        {FieldKind::kParameterC, "A2", "y", LimitsOf(FieldKind::kParameterC), {}},
    };
    const std::optional<std::string> m = RefusedField(fields, kEnglish);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->substr(0, 20), "A2 parameter b: \"x\" ");
    EXPECT_FALSE(RefusedField({fields[0]}, kEnglish).has_value());
    EXPECT_FALSE(RefusedField({}, kEnglish).has_value());
}

TEST(FieldCheck, ThePulseCounterMustFitTheModules48BitsUnderItsFactor) {
    EXPECT_EQ(LargestCounter(1, 1), 281474976710655);
    EXPECT_EQ(LargestCounter(10, 1), 2814749767106559);
    EXPECT_EQ(LargestCounter(1, 127), 2216338399296);
    EXPECT_EQ(LargestCounter(255, 127), 565166291820608);
    EXPECT_EQ(LargestCounter(0, 0), 281474976710655) << "factor fields below 1 count as 1";
    for (const auto& [n, d] : {std::pair{1, 1}, std::pair{10, 1}, std::pair{1, 127}, std::pair{255, 127},
                               std::pair{3, 7}}) {
        // The largest counter's raw count is near the top of 48 bits; one
        // more would wrap to a small one.
        const int64_t largest = LargestCounter(n, d);
        EXPECT_GE(RawCounter(std::to_string(largest), n, d), (uint64_t{1} << 48) - 1 - 127) << n << "/" << d;
        EXPECT_LT(RawCounter(std::to_string(largest + 1), n, d), 128u) << n << "/" << d;
    }

    PulseInputFields f;
    f.counter = "2814749767106559";
    f.numerator = "10";
    f.denominator = "1";
    EXPECT_FALSE(RefusedField(PulseWriteAllFields(1, f), kEnglish).has_value());
    f.counter = "2814749767106560";
    const std::optional<std::string> m = RefusedField(PulseWriteAllFields(1, f), kEnglish);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(*m, "P1 / Z2 meter count: \"2814749767106560\" is out of range; give a whole number from 0 to "
                  "2814749767106559 (the module keeps count x 1 / 10 in 48 bits).\nNothing was written to the "
                  "module.");
    // An unreadable factor is reported as such; the counter keeps its own limits.
    f.numerator = "ten";
    const std::vector<FieldEntry> fields = PulseWriteAllFields(2, f);
    EXPECT_EQ(fields[0].limits, LimitsOf(FieldKind::kMeterCount));
    EXPECT_EQ(RefusedField(fields, kEnglish)->substr(0, 27), "P2 / Z1 factor numerator: \"");
}

TEST(FieldCheck, AnalogWritesCheckTheirInputsParametersByFirmware) {
    AnalogPageFields page;
    page.inputs[1] = {{}, {}, {}, {}, 2, "255", "-128", "127"};
    page.temperature.a = "7";
    page.temperature.b = "-8";
    page.temperature.c = "12.7";
    page.current = "20";
    page.firmwareNumber = 0;
    EXPECT_FALSE(RefusedField(AnalogParameterFields(AnalogInputKind::kA2, page), kEnglish).has_value());
    EXPECT_FALSE(RefusedField(AnalogParameterFields(AnalogInputKind::kTemperature, page), kEnglish).has_value());
    EXPECT_FALSE(RefusedField(OutputCurrentFields(page), kEnglish).has_value());
    // A1 is empty: refused, named as A1.
    EXPECT_EQ(RefusedField(AnalogParameterFields(AnalogInputKind::kA1, page), kEnglish)->substr(0, 16),
              "A1 parameter a: ");
    page.temperature.a = "200";
    EXPECT_TRUE(RefusedField(AnalogParameterFields(AnalogInputKind::kTemperature, page), kEnglish).has_value());
    page.firmwareNumber = 11;
    EXPECT_FALSE(RefusedField(AnalogParameterFields(AnalogInputKind::kTemperature, page), kEnglish).has_value());
    page.current = "0";
    EXPECT_TRUE(RefusedField(OutputCurrentFields(page), kEnglish).has_value());
}

}  // namespace
}  // namespace mbus::meridex
