// Value codings: one table row per case, decoded with ExtractValueM1/M2.

#include <cmath>

#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

struct ValueCase {
    const char* name;
    int coding;
    const char* bytes;
    int64_t multiplier;
    bool hasText;
    const char* text;
    int64_t value;
    int consumed;  // how far the position moves
};

const ValueCase kLsbFirst[] = {
    {"INT1 negative", 1, "FF", 1, true, "-1", -1, 1},
    {"INT2 FE FF", 2, "FE FF", 1, true, "-2", -2, 2},
    {"INT3", 3, "40 E2 01", 1, true, "123456", 123456, 3},
    {"INT4 times 10", 4, "7B 00 00 00", 10, true, "1230", 1230, 4},
    {"INT6", 6, "14 1A 99 BE 1C 00", 1, true, "123456789012", 123456789012LL, 6},
    {"INT8 negative", 7, "40 45 75 C3 2A 9D FB FF", 1, true, "-1234567890123456", -1234567890123456LL, 8},
    {"INT4 does not fit", 4, "01 02 03", 1, false, "", 0, 0},
    {"BCD2", 9, "42", 1, true, "42", 42, 1},
    {"BCD8", 12, "78 56 34 12", 1, true, "12345678", 12345678, 4},
    {"BCD8 times 10 has nine digits", 12, "78 56 34 12", 10, true, "123456780", 123456780, 4},
    {"BCD8 times 100 has ten digits", 12, "01 00 00 00", 100, true, "0000000100", 100, 4},
    {"BCD4 negative by top nibble F", 10, "23 F1", 1, true, "-0123", -123, 2},
    // Digits above 9 (other than the sign Fh on top) are an error state:
    // value 0, the digits as received in the text.
    {"BCD4 top nibble A", 10, "23 A1", 1, true, "A123", 0, 2},
    {"BCD2 invalid D", 9, "D5", 1, true, "D5", 0, 1},
    {"BCD2 top nibble E", 9, "E5", 1, true, "E5", 0, 1},
    {"BCD2 EE invalid", 9, "EE", 1, true, "EE", 0, 1},
    {"BCD2 low digit C", 9, "1C", 1, true, "1C", 0, 1},
    {"BCD8 hex digit below the top", 12, "78 5A 34 12", 1, true, "12345A78", 0, 4},
    {"BCD4 sign with a hex digit", 10, "2B F1", 1, true, "F12B", 0, 2},
    {"BCD4 invalid times 10 keeps its digits", 10, "2B 01", 10, true, "012B", 0, 2},
    {"BCD4 negative times 10", 10, "23 F1", 10, true, "-01230", -1230, 2},
    {"BCD12", 14, "12 90 78 56 34 12", 1, true, "123456789012", 123456789012LL, 6},
    {"BCD6 does not fit", 11, "12 34", 1, false, "", 0, 0},
    {"REAL4 1.5", 5, "00 00 C0 3F", 1, true, "1.500000e+00", 0, 4},
    {"REAL4 123.45", 5, "66 E6 F6 42", 1, true, "1.234500e+02", 0, 4},
    {"no data", 0, "", 1, true, "", 0, 0},
    {"selection", 8, "", 1, true, "", 0, 0},
    {"special function", 15, "", 1, true, "", 0, 0},
    {"variable text abc", 13, "03 63 62 61", 1, true, "abc", 0, 4},
    {"variable positive BCD", 13, "C2 34 12", 1, true, "1234", 0, 3},
    {"variable negative BCD", 13, "D2 34 12", 1, true, "-1234", 0, 3},
    {"variable binary", 13, "E2 34 12", 1, true, "1234", 0, 3},
    {"variable binary F0h: 16 bytes", 13, "F0 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F", 1, true,
     "0F0E0D0C0B0A09080706050403020100", 0, 17},
    {"variable binary F3h: 28 bytes, only 3 there", 13, "F3 EF CD AB", 1, false, "", 0, 0},
    {"variable LVAR F7h reserved", 13, "F7 01 02", 1, false, "", 0, 0},
    {"variable text does not fit", 13, "05 61 62", 1, false, "", 0, 0},
    {"variable reserved LVAR", 13, "FB 01 02", 1, false, "", 0, 0},
};

TEST(ValueDecoding, LeastSignificantFirstTable) {
    for (const ValueCase& c : kLsbFirst) {
        SCOPED_TRACE(c.name);
        const Bytes data = Hex(c.bytes);
        MBTelegram t;
        int position = 0;
        int64_t value = c.multiplier;
        float real = 0;
        std::string text = "stale";
        int textLength = -1;
        bool hasText = true;
        t.ExtractValueM1(c.coding, data.data(), static_cast<int>(data.size()), &position, &value, &real, &text,
                         &textLength, &hasText);
        EXPECT_EQ(hasText, c.hasText);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(position, c.consumed);
        if (c.hasText && text.empty()) {
            EXPECT_EQ(textLength, c.coding == 13 ? 0 : 1);
        }
    }
}

TEST(ValueDecoding, RealValueIsScaledAsFloat) {
    const Bytes data = Hex("00 00 C0 3F");
    MBTelegram t;
    int position = 0;
    int64_t value = 10;
    float real = 0;
    std::string text;
    int len = 0;
    bool has = false;
    t.ExtractValueM1(5, data.data(), 4, &position, &value, &real, &text, &len, &has);
    EXPECT_FLOAT_EQ(real, 15.0f);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(text, "1.500000e+01");
}

TEST(ValueDecoding, MostSignificantFirstReversesFixedLengthValues) {
    const struct {
        int coding;
        const char* bytes;
        const char* text;
    } cases[] = {
        {2, "FF FE", "-2"},     {4, "00 00 04 D2", "1234"},  {12, "12 34 56 78", "12345678"},
        {10, "F1 23", "-0123"}, {5, "3F C0 00 00", "1.500000e+00"}, {12, "12 34 5A 78", "12345A78"},
        {13, "03 61 62 63", "abc"}, {13, "C2 12 34", "1234"}, {13, "E2 12 34", "1234"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const Bytes data = Hex(c.bytes);
        MBTelegram t;
        int position = 0;
        int64_t value = 1;
        float real = 0;
        std::string text;
        int len = 0;
        bool has = false;
        t.ExtractValueM2(c.coding, data.data(), static_cast<int>(data.size()), &position, &value, &real, &text, &len,
                         &has);
        EXPECT_TRUE(has);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(position, static_cast<int>(data.size()));
    }
}

TEST(ValueDecoding, MostSignificantFirstSetsNothingForCodingsWithoutValue) {
    MBTelegram t;
    const Bytes data = Hex("01 02");
    for (int coding : {0, 8, 15}) {
        int position = 0;
        int64_t value = 1;
        float real = 0;
        std::string text;
        int len = 0;
        bool has = true;
        t.ExtractValueM2(coding, data.data(), 2, &position, &value, &real, &text, &len, &has);
        EXPECT_FALSE(has);
        EXPECT_EQ(position, 0);
    }
}

TEST(ValueDecoding, NumberOfValueBytes) {
    const struct {
        uint8_t dif, lvar;
        int bytes;
    } cases[] = {
        {0x00, 0, 0},    {0x01, 0, 1},    {0x02, 0, 2},    {0x03, 0, 3},    {0x04, 0, 4},  {0x05, 0, 4},
        {0x06, 0, 6},    {0x07, 0, 8},    {0x08, 0, 0},    {0x09, 0, 1},    {0x0A, 0, 2},  {0x0B, 0, 3},
        {0x0C, 0, 4},    {0x0E, 0, 6},    {0x0F, 0, 0},    {0x0D, 0x00, 1}, {0x0D, 0xBF, 0xC0},
        {0x0D, 0xC3, 4}, {0x0D, 0xD3, 4}, {0x0D, 0xE8, 9}, {0x0D, 0xF0, 17}, {0x0D, 0xF4, 33},
        {0x0D, 0xF5, 49}, {0x0D, 0xF6, 65}, {0x0D, 0xF7, -1}, {0x0D, 0xFA, -1}, {0x0D, 0xFB, -1},
        {0x0D, 0xFF, -1}, {0x84, 0, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MBTelegram::ReturnNumberOfValueBytes(c.dif, c.lvar), c.bytes) << std::hex << int(c.dif) << " "
                                                                                << int(c.lvar);
}

using IntToTimeTest = DecoderTest;

TEST_F(IntToTimeTest, CalendarTexts) {
    const struct {
        const char* record;
        const char* text;
    } cases[] = {
        {"04 6D 1E 12 18 1C", "24.12.2008 18:30"},
        {"04 6D 1E 92 18 1C", "S24.12.2008 18:30"},  // summer time bit
        {"04 6D 1E 12 00 1C", "--.12.2008 18:30"},   // day 0
        {"04 6D 1E 12 18 1F", "24.--.2008 18:30"},   // month 15
        {"04 6D 00 00 18 C0", "24.00.1996 00:00"},   // month 0, year 96
        {"04 6D 10 09 05 C5", "05.05.1996 09:16"},   // a heat meter's reading date
        {"02 6C 21 A1", "01.01.1981 "},              // year 81: the 1900s begin
        {"02 6C 01 A1", "01.01.2080 "},              // year 80: still the 2000s
        {"04 6D 00 00 78 C1", "24.01.1999 00:00"},   // year 99
        {"02 6C F8 FC", "24.12.---- "},              // year bits 127
        {"02 6C 18 1C", "24.12.2008 "},
        {"06 6D 0F 1E 72 18 1C 34", "24.12.2008 18:30:15"},    // six bytes with seconds
        {"06 6D 0F 5E 12 18 1C 00", "S24.12.2008 18:30:15"},   // summer time in the minute byte
        {"04 6D 00 00 00 00", "0"},                  // value 0 stays as it is
        {"0C 6D 01 00 00 00", ""},                   // a date VIF on a BCD record: empty text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        const auto t = DecodeRecords(Hex(c.record));
        ASSERT_EQ(t->RecordCount(), 1);
        EXPECT_TRUE(t->records[0].hasValueText);
        EXPECT_EQ(ValueOf(*t, 0), c.text);
    }
}

}  // namespace
}  // namespace mbus::test
