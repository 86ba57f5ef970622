// Number and date conversions for hosts.

#include <gtest/gtest.h>

#include "control/decode/conversions.h"

namespace mbus {
namespace {

TEST(Conversions, LongToHexAsc) {
    EXPECT_EQ(LongToHexAsc(0), "0");
    EXPECT_EQ(LongToHexAsc(26), "1A");
    EXPECT_EQ(LongToHexAsc(-1), "FFFFFFFF");
    EXPECT_EQ(LongToHexAsc(0x00ABCDEF), "ABCDEF");
}

TEST(Conversions, HexAscToLong) {
    EXPECT_EQ(HexAscToLong("1A"), 26);
    EXPECT_EQ(HexAscToLong("1a"), 26);
    EXPECT_EQ(HexAscToLong(""), 0);
    EXPECT_EQ(HexAscToLong("FFFFFFFF"), -1);
    EXPECT_EQ(HexAscToLong("123456789"), 0x23456789);     // nine characters: the last eight digits count
    EXPECT_EQ(HexAscToLong("1234567890"), 0x23456789);    // the tenth is ignored
    EXPECT_EQ(HexAscToLong("1G"), 0x1F);                  // between "0" and "f": counts as F
    EXPECT_EQ(HexAscToLong("1 "), 0x10);                  // outside: counts as 0
}

TEST(Conversions, FloatToHexAsc) {
    EXPECT_EQ(FloatToHexAsc("1.5"), "0000C03F");
    EXPECT_EQ(FloatToHexAsc("-2"), "000000C0");
    EXPECT_EQ(FloatToHexAsc("nonsense"), "00000000");
}

TEST(Conversions, DateToHexAsc) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"24.12.2008", "181C"},
        {"24.12.2008 18:30", "1E12181C"},
        {"S24.12.2008 18:30", "1E92181C"},
        {" s 24.12.2008 18:30 ", "1E92181C"},
        {"24,12,08", "181C"},
        {"1.1.1999", "61C1"},
        {"31.12.2099 23:59", "3B177FCC"},
        {"32.12.2008", ""},
        {"0.12.2008", ""},
        {"24.13.2008", ""},
        {"24.12.2100", ""},
        {"24.12.1900", ""},
        {"24.12.2008 24:00", ""},
        {"24.12.2008 12:60", ""},
        {"24.12.2008 12", "181C"},
        {"24.xx.2008", ""},
        {"", ""},
        {"24122008", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(DateToHexAsc(c.in), c.out) << c.in;
}

TEST(Conversions, CalcVIFUnitWithoutMultiplier) {
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("07"), "06");        // Energy 10 [kWh]
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("8722"), "8622");    // extension bit kept, VIFE untouched
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("02"), "00");        // Energy 100 [mWh]
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("fd03"), "FD01");    // Credit 1000 [currency]
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("FB11"), "FB11");    // FB code not lowered
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("40"), "40");
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("13"), "13");
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier("0GX714"), "13");    // bad pairs dropped; 14h "Volume 10 [l]" lowered
    EXPECT_EQ(CalcVIFUnitWithoutMultiplier(""), "");
}

// Two-digit years without hundred-year bits: 81..99 are 1981..1999, 0..80
// are 2000..2080; with the bits the century is 1900 + 100 x those bits.
TEST(Conversions, TwoDigitYearsOfRecordDates) {
    const struct {
        uint64_t bits;
        int bytes;
        const char* iso;
    } cases[] = {
        {0xC5050910, 4, "1996-05-05T09:16"},  // a heat meter's reading date
        {0xA121, 2, "1981-01-01"},            // year 81, the first of the 1900s
        {0xA101, 2, "2080-01-01"},            // year 80, the last of the 2000s
        {0xCC7F, 2, "1999-12-31"},            // year 99
        {0xC5050910 | 0x00002000, 4, "2096-05-05T09:16"},  // hundred years 1
        {0x0101, 2, "2000-01-01"},
        {0x34C50572'1E0FULL, 6, "1996-05-05T18:30:15"},  // type I
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        EXPECT_EQ(IsoDateText(DecodeRecordDate(c.bits, c.bytes)), c.iso);
    }
}

TEST(Conversions, RecordDates) {
    const struct {
        uint64_t bits;
        int bytes;
        const char* iso;  // empty: not valid
    } cases[] = {
        {0x1C18121E, 4, "2008-12-24T18:30"},
        {0x1C18521E, 4, "2108-12-24T18:30"},      // hundred years 2
        {0x1C18721E, 4, "2208-12-24T18:30"},      // hundred years 3
        {0x1C18129E, 4, ""},                      // time invalid
        {0x1C18181E, 4, ""},                      // hour 24
        {0x1C18123C, 4, ""},                      // minute 60
        {0x1F18121E, 4, ""},                      // month 15
        {0x1C00121E, 4, ""},                      // day 0
        {0x1C18, 2, "2008-12-24"},
        {0x1B1F, 2, ""},                          // 31 November
        {0x0000, 2, ""},
        {0x341C1872'1E0FULL, 6, "2008-12-24T18:30:15"},
        {0x001C1812'1E3CULL, 6, ""},              // second 60
        {0x1C18121E, 3, ""},                      // no date type of three bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const RecordDate d = DecodeRecordDate(c.bits, c.bytes);
        EXPECT_EQ(d.valid, c.iso[0] != '\0');
        EXPECT_EQ(IsoDateText(d), c.iso);
    }
    const RecordDate i = DecodeRecordDate(0x341C18721E0FULL | 0x4000, 6);
    EXPECT_TRUE(i.summerTime);
    EXPECT_EQ(i.dayOfWeek, 3);
    EXPECT_EQ(i.week, 52);
    EXPECT_TRUE(DecodeRecordDate(0x1C18129E, 4).timeInvalid);
}

TEST(Conversions, ApplicationErrorTexts) {
    EXPECT_EQ(ApplicationErrorText(0), "Unspecified error");
    EXPECT_EQ(ApplicationErrorText(1), "Unimplemented CI field");
    EXPECT_EQ(ApplicationErrorText(6), "More than 10 VIFEs");
    EXPECT_EQ(ApplicationErrorText(9), "Too many readouts");
    EXPECT_EQ(ApplicationErrorText(10), "Reserved");
    EXPECT_EQ(ApplicationErrorText(-1), "Reserved");
}

}  // namespace
}  // namespace mbus
