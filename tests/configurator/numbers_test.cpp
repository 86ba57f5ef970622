// Numbers as MERIDEX shows and reads them: one separator per language,
// fixed decimals without the C library's locale, typed numbers with either
// separator.

#include "configurator/shell/numbers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>

#include "configurator/shell/languages.h"

namespace mbus::meridex {
namespace {

constexpr int kEnglish = 1;
constexpr int kGerman = 49;

// Every language's notation of one number, in the order of the language
// buttons (English, German, French, Portuguese, Swedish, Russian), and an
// id without a column of its own.
TEST(Numbers, EachLanguageShowsItsOneSeparator) {
    const struct {
        int languageId;
        const char* shown;  // 12 mA with three decimals
    } rows[] = {
        {1, "12.000"}, {49, "12,000"}, {33, "12,000"}, {55, "12,000"}, {46, "12,000"}, {7, "12,000"}, {44, "12.000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(FixedText(12.0, 3, r.languageId), r.shown) << r.languageId;
        EXPECT_EQ(ScaledText(12000, 3, r.languageId), r.shown) << r.languageId;
    }
}

TEST(Numbers, FixedDecimalsForTheValuesThePagesShow) {
    const struct {
        double value;
        int decimals;
        const char* english;
        const char* german;
    } rows[] = {
        {12.0, 3, "12.000", "12,000"},        // output current, mA
        {10.0, 3, "10.000", "10,000"},        // pulse factor 10 / 1
        {1.0 / 3, 3, "0.333", "0,333"},       // pulse factor 1 / 3
        {0.0, 1, "0.0", "0,0"},               // temperature parameter c
        {504.0, 2, "504.00", "504,00"},       // a measured value the control renders "5.040000e+02"
        {-147.7142857, 2, "-147.71", "-147,71"},
        {-12.5, 1, "-12.5", "-12,5"},         // a temperature
        {-0.04, 1, "0.0", "0,0"},             // no "-0,0"
        {-0.4, 0, "0", "0"},
        {2.5, 0, "2", "2"},                   // to nearest, ties to even
        {1e20, 0, "100000000000000000000", "100000000000000000000"},  // no exponent form
        {1e-7, 2, "0.00", "0,00"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(FixedText(r.value, r.decimals, kEnglish), r.english) << r.english;
        EXPECT_EQ(FixedText(r.value, r.decimals, kGerman), r.german) << r.german;
    }
}

TEST(Numbers, ScaledValuesAreExact) {
    const struct {
        int64_t scaled;
        int places;
        const char* german;
    } rows[] = {
        {-128, 1, "-12,8"},
        {5, 3, "0,005"},
        {-5, 3, "-0,005"},
        {20000, 3, "20,000"},
        {0, 1, "0,0"},
        {255, 0, "255"},
        {std::numeric_limits<int64_t>::min(), 0, "-9223372036854775808"},
    };
    for (const auto& r : rows) EXPECT_EQ(ScaledText(r.scaled, r.places, kGerman), r.german) << r.german;
}

// Qt takes LC_NUMERIC from the environment; the texts must not follow it.
TEST(Numbers, TheCLocaleDoesNotChangeTheText) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    int tried = 0;
    for (const char* name : {"de_DE.UTF-8", "de_DE", "sv_SE.UTF-8", "ru_RU.UTF-8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name) == nullptr) continue;
        ++tried;
        EXPECT_EQ(FixedText(12.5, 1, kEnglish), "12.5") << name;
        EXPECT_EQ(FixedText(12.5, 1, kGerman), "12,5") << name;
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
    if (tried == 0) GTEST_SKIP() << "no locale with a decimal comma is installed";
}

TEST(Numbers, TypedNumbersTakeEitherSeparator) {
    const struct {
        const char* text;
        bool number;
        int64_t scaled;
        int places;
    } rows[] = {
        {"123,4", true, 1234, 1},  // text 118's example as Swedish and Russian write it
        {"123.4", true, 1234, 1},
        {"-12,8", true, -128, 1},
        {"4,0005", true, 40005, 4},
        {"12.34", true, 1234, 2},
        {"0", true, 0, 0},
        {"-128", true, -128, 0},
        {"+7", true, 7, 0},
        {"  42", true, 42, 0},
        {"-0.5", true, -5, 1},
        {",5", true, 5, 1},
        {"7.", true, 7, 0},
        {"3abc", true, 3, 0},
        {"1.2.3", true, 12, 1},    // the leading number ends at a second separator
        {"1.234,5", true, 1234, 3},
        {"9999", true, 9999, 0},
        {"", false, 0, 0},
        {"-", false, 0, 0},
        {".", false, 0, 0},
        {",", false, 0, 0},
        {"abc", false, 0, 0},
    };
    for (const auto& r : rows) {
        const std::optional<DecimalNumber> n = ParseNumber(r.text);
        ASSERT_EQ(n.has_value(), r.number) << r.text;
        if (!n) continue;
        EXPECT_EQ(n->scaled, r.scaled) << r.text;
        EXPECT_EQ(n->places, r.places) << r.text;
    }
    EXPECT_DOUBLE_EQ(ParseNumber("123,4")->Value(), 123.4);
    EXPECT_EQ(ParseInteger("12,7"), 12);
    EXPECT_EQ(ParseInteger("-12.7"), -12);
    EXPECT_EQ(ParseInteger("x"), std::nullopt);
}

TEST(Numbers, TruncationAndBoundsAreExact) {
    // 10 x 2.3 in doubles is 22.999999999999996; the text's digits are not.
    EXPECT_EQ(ParseNumber("2.3")->Truncated(1), 23);
    EXPECT_EQ(ParseNumber("-12,35")->Truncated(1), -123);
    EXPECT_EQ(ParseNumber("20")->Truncated(3), 20000);
    EXPECT_EQ(ParseNumber("4.0009")->Truncated(3), 4000);
    EXPECT_EQ(ParseNumber("-0.05")->Truncated(1), 0);

    const struct {
        const char* text;
        bool within;  // -12.8 .. 12.7
    } rows[] = {
        {"-12.8", true}, {"-12.80", true}, {"-12.81", false}, {"-12.9", false}, {"-13", false},
        {"12.7", true},  {"12,70", true},  {"12.71", false},  {"12.75", false}, {"12.8", false},
        {"0", true},     {"-0.0", true},   {"12", true},      {"-12", true},
    };
    for (const auto& r : rows) EXPECT_EQ(ParseNumber(r.text)->Within(-128, 127, 1), r.within) << r.text;
}

}  // namespace
}  // namespace mbus::meridex
