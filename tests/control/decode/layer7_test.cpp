// Manufacturer and medium conversions.

#include "control/decode/layer7.h"
#include "control/decode/options.h"
#include "platform/text/codepage.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using Layer7Test = DecoderTest;

TEST_F(Layer7Test, ManufacturerInBothDirections) {
    MBLayer7 l7;
    uint16_t n = 0;
    l7.CalculateManufacturer("FIX", &n);
    EXPECT_EQ(n, 0x1938);
    l7.CalculateManufacturer("UNK", &n);
    EXPECT_EQ(n, 0x55CB);
    char text[4];
    l7.ExtractManufacturer(0x1938, text);
    EXPECT_STREQ(text, "FIX");
    l7.ExtractManufacturer(0x0000, text);
    EXPECT_STREQ(text, "@@@");
    // Lower case gives no valid code: the arithmetic wraps modulo 65536.
    l7.CalculateManufacturer("abc", &n);
    EXPECT_EQ(n, static_cast<uint16_t>((97 - 64) * 1024 + (98 - 64) * 32 + (99 - 64)));
}

TEST_F(Layer7Test, MediumByCodeInTheCurrentLanguage) {
    MBLayer7 l7;
    char text[32];
    MBusLanguage = 1;
    l7.ExtractMedium(1, 0x07, text);
    EXPECT_STREQ(text, "Wasser");
    MBusLanguage = 0;
    l7.ExtractMedium(1, 0x20, text);
    EXPECT_STREQ(text, "Unknown");
    l7.ExtractMedium(0, 0x10, text);
    EXPECT_STREQ(text, "Unknown");
    l7.ExtractMedium(0, 0x0A, text);
    EXPECT_STREQ(text, "Gas_M2");
    l7.ExtractMedium(1, 0x04, text);
    EXPECT_STREQ(text, "Heat_(outlet)");
}

TEST_F(Layer7Test, MediumCodeByName) {
    MBLayer7 l7;
    uint8_t code = 99;
    l7.CalculateMedium(1, "Water", &code);
    EXPECT_EQ(code, 7);
    l7.CalculateMedium(0, "Heat", &code);
    EXPECT_EQ(code, 4);
    l7.CalculateMedium(1, "water", &code);  // case-sensitive
    EXPECT_EQ(code, 0);
}

TEST_F(Layer7Test, ChangeMediumLanguage) {
    MBLayer7 l7;
    char text[32] = "Heat_(inlet)";
    l7.ChangeMediumLanguage(0, 1, text);
    EXPECT_EQ(text::ToUtf8(text, text::CodePage::Windows1252), "Wärme_(Vorlauf)");
    char fixedOnly[32] = "Heat_M2";
    l7.ChangeMediumLanguage(0, 1, fixedOnly);
    EXPECT_EQ(text::ToUtf8(fixedOnly, text::CodePage::Windows1252), "Wärme_M2");
    char unknown[32] = "Lemonade";
    l7.ChangeMediumLanguage(0, 1, unknown);
    EXPECT_STREQ(unknown, "Lemonade");
    char bad[32] = "Water";
    l7.ChangeMediumLanguage(0, 10, bad);
    EXPECT_STREQ(bad, "Water");
    char toUser[32] = "Water";
    l7.ChangeMediumLanguage(0, 9, toUser);
    EXPECT_STREQ(toUser, "Water");
}

}  // namespace
}  // namespace mbus::test
