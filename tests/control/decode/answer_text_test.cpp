// Cooked and raw texts and the field accessors.

#include "control/decode/options.h"
#include "control/decode/text_tables.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using AnswerTextTest = DecoderTest;

// The header of the standard CI 72h answer (C 08h, A 01h) in hex.
const std::string kHexHeader = "030101" "080172" "12345678" "QXA" "01" "2A" "00" "0000" "07" "Water|";
const std::string kDecHeader = "003001001" "008001114" "12345678" "QXA" "001" "042" "000" "00000" "007" "Water|";

TEST_F(AnswerTextTest, NoAnswerGivesEmptyTextsAndMinusOne) {
    AnswerView none;
    for (CookedVariant v : kAllCookedVariants) EXPECT_EQ(CookedData(none, v), "");
    EXPECT_EQ(RawData(none, true), "");
    EXPECT_EQ(answer::CField(none), -1);
    EXPECT_EQ(answer::DeviceID(none), -1);
    EXPECT_EQ(answer::DataRecordNumber(none), -1);
    EXPECT_EQ(answer::ValueDec(none, 1), "");
    EXPECT_EQ(answer::ManufacturerIDAsc(none), "");
}

TEST_F(AnswerTextTest, AcknowledgeHeader) {
    const auto t = Decode(Hex("E5"));
    EXPECT_EQ(CookedData(AnswerView::Of(*t), CookedVariant::Hex2), "00FE01000000" "00000000" "UNK" "000000000000Unknown|");
    EXPECT_EQ(CookedData(AnswerView::Of(*t), CookedVariant::Dec),
              "000254001000000000" "00000000" "UNK" "000000000" "00000" "000Unknown|");
    EXPECT_EQ(RawData(AnswerView::Of(*t), true), "00FE01000000E5");
    EXPECT_EQ(RawData(AnswerView::Of(*t), false), "000254001000000000229");
}

TEST_F(AnswerTextTest, NeverInterpretedTelegramShowsXXX) {
    MBTelegram t;
    AnswerView v;
    v.frameType = 4;
    v.telegram = &t;
    EXPECT_EQ(CookedData(v, CookedVariant::Hex2).substr(20, 3), "XXX");
}

TEST_F(AnswerTextTest, AllVariantsOfOneRecord) {
    const auto t = DecodeRecords(Hex("04 13 D2 04 00 00"));
    const AnswerView v = AnswerView::Of(*t);
    const std::string zeroesHex = "00000000" "00000000" "0000000000000000";
    const std::string zeroesDec = "0000000000" "0000000000" "0000000000000000";
    EXPECT_EQ(CookedData(v, CookedVariant::Hex2), kHexHeader + zeroesHex + "040013" "|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Dec2), kDecHeader + zeroesDec + "004000019" "|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Hex), kHexHeader + zeroesHex + "INT4 Inst Volume [l]|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Dec), kDecHeader + zeroesDec + "INT4 Inst Volume [l]|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Hex3), kHexHeader + zeroesHex + "0400Volume [l]|13|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Dec3), kDecHeader + zeroesDec + "004000Volume [l]|019|1234|");
    EXPECT_EQ(CookedData(v, CookedVariant::Hex4), kHexHeader + zeroesHex + "Inst Volume [m3]|1.234000e+00|");
    EXPECT_EQ(CookedData(v, CookedVariant::Dec4), kDecHeader + zeroesDec + "Inst Volume [m3]|1.234000e+00|");
}

TEST_F(AnswerTextTest, AddressingFieldsAndManufacturerRest) {
    // Storage 67, tariff 5, subunit 2; then a manufacturer rest.
    const auto t = DecodeRecords(Hex("C4 91 52 13 01 00 00 00 0F 0A 0B"));
    const std::string hex2 = CookedData(AnswerView::Of(*t), CookedVariant::Hex2);
    EXPECT_EQ(hex2, kHexHeader + "00000002" "00000005" "0000000000000043" "0400" "13" "|1|" +
                        "00000000" "00000000" "0000000000000000" "0F00" "|0A0B|");
    const std::string dec2 = CookedData(AnswerView::Of(*t), CookedVariant::Dec2);
    EXPECT_EQ(dec2.substr(kDecHeader.size()), "0000000002" "0000000005" "0000000000000067" "004000019|1|"
                                              "0000000000" "0000000000" "0000000000000000" "015000|010011|");
}

TEST_F(AnswerTextTest, SpecialFunctionRecordShowsItsZeroByte) {
    const auto t = DecodeRecords(Hex("8F 00 13 02 5B 14 00"));
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(answer::ValueHex(AnswerView::Of(*t), 1), "00");
    const auto msb = DecodeRecords(Hex("8F 00 13 02 5B 14 00"), 0x76);
    EXPECT_EQ(answer::ValueHex(AnswerView::Of(*msb), 1), "");
}

TEST_F(AnswerTextTest, RecordWithoutValueShowsNothing) {
    MBusOption.OPTValueAfterErrorVIFE = 0;
    const auto t = DecodeRecords(Hex("04 93 15"));
    ASSERT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(CookedData(AnswerView::Of(*t), CookedVariant::Hex2).substr(kHexHeader.size()),
              "00000000" "00000000" "0000000000000000" "040093" "15" "||");
    EXPECT_EQ(answer::ValueDec4(AnswerView::Of(*t), 1), "");
}

TEST_F(AnswerTextTest, UserMediumNameIsShownWithUnderscores) {
    MBusLanguage = 9;
    WriteUserCell(TextTable::MediumVar, 7, 9, "Cold tap water");
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00"));
    const std::string hex2 = CookedData(AnswerView::Of(*t), CookedVariant::Hex2);
    EXPECT_EQ(hex2.substr(0, hex2.find('|') + 1), kHexHeader.substr(0, kHexHeader.size() - 6) + "Cold_tap_water|");
    EXPECT_EQ(answer::MediumAsc(AnswerView::Of(*t)), "Cold_tap_water");
}

TEST_F(AnswerTextTest, TextsLeaveAsUnicodeInEveryLanguage) {
    MBusLanguage = 4;  // Russian, code page 1251
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00"));
    const std::string hex = CookedData(AnswerView::Of(*t), CookedVariant::Hex);
    EXPECT_NE(hex.find(texts::kRussian.mediumVar[7]), std::string::npos);
    EXPECT_NE(hex.find(texts::kRussian.vifVar[0x13]), std::string::npos);
    MBusLanguage = 1;
    EXPECT_EQ(answer::VIBAsc(AnswerView::Of(*t), 1), texts::kGerman.vifVar[0x13]);
}

TEST_F(AnswerTextTest, HeaderAccessors) {
    const auto t = DecodeRecords(Hex("04 13 D2 04 00 00 0C 78 21 43 65 87"));
    const AnswerView v = AnswerView::Of(*t);
    EXPECT_EQ(answer::CField(v), 0x08);
    EXPECT_EQ(answer::AField(v), 0x01);
    EXPECT_EQ(answer::CIField(v), 0x72);
    EXPECT_EQ(answer::DeviceID(v), 0x12345678);
    EXPECT_EQ(answer::DeviceIDDec(v), 12345678);
    EXPECT_EQ(answer::ManufacturerID(v), 0x4701);
    EXPECT_EQ(answer::ManufacturerIDAsc(v), "QXA");
    EXPECT_EQ(answer::GenerationNo(v), 1);
    EXPECT_EQ(answer::TransmissionCount(v), 0x2A);
    EXPECT_EQ(answer::TelegramStatus(v), 0);
    EXPECT_EQ(answer::Signature(v), 0);
    EXPECT_EQ(answer::Medium(v), 7);
    EXPECT_EQ(answer::MediumAsc(v), "Water");
    EXPECT_EQ(answer::DataRecordNumber(v), 2);
    EXPECT_EQ(answer::LongFrameType(v), 1);

    AnswerView shortFrame = v;
    shortFrame.frameType = 1;
    EXPECT_EQ(answer::CField(shortFrame), 0x08);
    EXPECT_EQ(answer::CIField(shortFrame), -1);
    EXPECT_EQ(answer::DeviceID(shortFrame), -1);
    AnswerView control = v;
    control.frameType = 2;
    EXPECT_EQ(answer::CIField(control), 0x72);
    EXPECT_EQ(answer::Medium(control), -1);
}

TEST_F(AnswerTextTest, RecordAccessors) {
    const auto t = DecodeRecords(Hex("C4 91 52 13 D2 04 00 00 12 5B 14 00 04 6D 1E 12 18 1C 0F AB"));
    const AnswerView v = AnswerView::Of(*t);
    EXPECT_EQ(answer::UnitNo(v, 1), 2);
    EXPECT_EQ(answer::TariffNo(v, 1), 5);
    EXPECT_EQ(answer::StorageNo(v, 1), 67);
    EXPECT_EQ(answer::StorageNoAsc(v, 1), "67");
    EXPECT_EQ(answer::DataField(v, 1), 4);
    EXPECT_EQ(answer::DataFieldAsc(v, 1), "INT4 ");
    EXPECT_EQ(answer::FunctionField(v, 2), 1);
    EXPECT_EQ(answer::FunctionFieldAsc(v, 2), "Max  ");
    EXPECT_EQ(answer::VIBAsc(v, 1), "Volume [l]");
    EXPECT_EQ(answer::VIBAsc4(v, 1), "Volume [m3]");
    EXPECT_EQ(answer::VIBUnitAsc(v, 1), "l");
    EXPECT_EQ(answer::VIBUnitAsc4(v, 1), "m3");
    EXPECT_EQ(answer::VIBUnitAsc(v, 3), "Date+Time");
    EXPECT_EQ(answer::ValueDec(v, 1), "1234");
    EXPECT_EQ(answer::ValueHex4(v, 1), "1.234000e+00");
    EXPECT_EQ(answer::ValueDec4(v, 2), "2.000000e+01");
    EXPECT_EQ(answer::ValueDec(v, 3), "24.12.2008 18:30");
    EXPECT_EQ(answer::ValueDT(v, 3), "24.12.08 18:30");
    EXPECT_EQ(answer::ValueDat(v, 3), "30.02.08");  // the low word read as a date
    EXPECT_EQ(answer::ValueHex(v, 4), "AB");
    EXPECT_EQ(answer::ValueDec(v, 4), "171");
    EXPECT_EQ(answer::ValueDat(v, 4), "");  // manufacturer rest: not numeric
    EXPECT_EQ(answer::VIB(v, 1, 1), 0x13);
    EXPECT_EQ(answer::VIB(v, 1, 2), -1);
    EXPECT_EQ(answer::VIB(v, 0, 1), -1);
    EXPECT_EQ(answer::DataField(v, 5), -1);
    EXPECT_EQ(answer::VIBAsc(v, 5), "");
}

TEST_F(AnswerTextTest, DateOfARealRecordUsesItsBits) {
    // REAL4 whose bit pattern is the type G date 24.12.2008 in its low word.
    const auto t = DecodeRecords(Hex("05 13 18 1C 00 00"));
    EXPECT_EQ(answer::ValueDat(AnswerView::Of(*t), 1), "24.12.08");
}

TEST_F(AnswerTextTest, NormalisedVariantsHonourCorrectionVIFEsAndInvalidDigits) {
    const std::string zeroesHex = "00000000" "00000000" "0000000000000000";
    const struct {
        const char* record;
        const char* hex4;
        const char* hex;
    } cases[] = {
        // 1234 l x 10^-2 are 1.234e-2 m3.
        {"04 93 74 D2 04 00 00", "Inst Volume [m3]->*10E-2|1.234000e-02|", "INT4 Inst Volume [l]->*10E-2|1234|"},
        // BCD digits of an error state are shown as received, not as a number.
        {"0C 13 AB 00 00 00", "Inst Volume [m3]|000000AB|", "BCD8 Inst Volume [l]|000000AB|"},
        {"0C 13 12 00 00 1A", "Inst Volume [m3]|1A000012|", "BCD8 Inst Volume [l]|1A000012|"},
        // Six-byte date and time.
        {"06 6D 0F 1E 12 18 1C 00", "Inst Time Point [Date+Time]|24.12.2008 18:30:15|",
         "INT6 Inst Time Point [Date+Time]|24.12.2008 18:30:15|"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.record);
        const auto t = DecodeRecords(Hex(c.record));
        const AnswerView v = AnswerView::Of(*t);
        EXPECT_EQ(CookedData(v, CookedVariant::Hex4), kHexHeader + zeroesHex + c.hex4);
        EXPECT_EQ(CookedData(v, CookedVariant::Hex), kHexHeader + zeroesHex + c.hex);
    }
}

TEST_F(AnswerTextTest, CookedVariantNames) {
    CookedVariant v;
    EXPECT_TRUE(ParseCookedVariant("hex2", &v));
    EXPECT_EQ(v, CookedVariant::Hex2);
    EXPECT_TRUE(ParseCookedVariant("DEC4", &v));
    EXPECT_EQ(v, CookedVariant::Dec4);
    EXPECT_FALSE(ParseCookedVariant("hex5", &v));
    for (CookedVariant c : kAllCookedVariants) {
        ASSERT_TRUE(ParseCookedVariant(CookedVariantName(c), &v));
        EXPECT_EQ(v, c);
    }
}

}  // namespace
}  // namespace mbus::test
