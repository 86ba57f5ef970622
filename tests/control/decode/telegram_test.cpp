// Header decoding and the data-record walk.

#include "control/decode/options.h"
#include "tests/control/decode/test_support.h"

namespace mbus::test {
namespace {

using TelegramTest = DecoderTest;

TEST_F(TelegramTest, SingleCharacterHasNoHeaderAndNoRecords) {
    const auto t = Decode(Hex("E5"));
    EXPECT_EQ(t->structureKind, kSingleCharacter);
    EXPECT_EQ(t->RecordCount(), 0);
    EXPECT_STREQ(t->manufacturerText, "UNK");
    EXPECT_EQ(t->identNumber, 0);
}

TEST_F(TelegramTest, LongHeaderFieldsAreReadLeastSignificantFirst) {
    const auto t = DecodeRecords(Hex("04 13 D2 04 00 00"));
    EXPECT_EQ(t->structureKind, kVariableLsbFirst);
    EXPECT_EQ(t->identNumber, 0x12345678);
    EXPECT_EQ(t->manufacturer, 0x4701);
    EXPECT_STREQ(t->manufacturerText, "QXA");
    EXPECT_EQ(t->version, 1);
    EXPECT_EQ(t->medium, 7);
    EXPECT_STREQ(t->mediumText, "Water");
    EXPECT_EQ(t->accessNumber, 0x2A);
    ASSERT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(t->records[0].value, 1234);
}

TEST_F(TelegramTest, CI78HasNoHeaderAndRecordsStartAfterCI) {
    const auto t = DecodeRecords(Hex("04 13 D2 04 00 00"), 0x78);
    EXPECT_EQ(t->structureKind, kVariableLsbFirst);
    EXPECT_STREQ(t->manufacturerText, "UNK");
    EXPECT_EQ(t->manufacturer, 0x55CB);
    EXPECT_EQ(t->identNumber, 0);
    ASSERT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(ValueOf(*t, 0), "1234");
}

TEST_F(TelegramTest, CI7ATakesAccessStatusAndSignatureFromShortHeader) {
    const auto t = Decode(LongFrame(0x08, 0x01, 0x7A, Hex("11 22 34 12 04 13 01 00 00 00")));
    EXPECT_EQ(t->manufacturer, 0x55CB);
    EXPECT_EQ(t->accessNumber, 0x11);
    EXPECT_EQ(t->status, 0x22);
    EXPECT_EQ(t->signature, 0x1234u);
    ASSERT_EQ(t->RecordCount(), 1);
    EXPECT_EQ(t->records[0].value, 1);
}

TEST_F(TelegramTest, ExtendedLongFrameDecodesLikeLongFrame) {
    const Bytes payload = Cat({Header72(), Hex("04 13 D2 04 00 00 0C 06 78 56 34 12 0F 01 02")});
    const auto plain = Decode(LongFrame(0x08, 0x01, 0x72, payload));
    const auto extended = Decode(ExtendedFrame(0x08, 0x01, 0x72, payload));
    EXPECT_EQ(extended->structureKind, kVariableLsbFirst);
    EXPECT_EQ(extended->identNumber, plain->identNumber);
    ASSERT_EQ(extended->RecordCount(), 3);
    const AnswerView a = AnswerView::Of(*plain), b = AnswerView::Of(*extended);
    EXPECT_EQ(CookedData(a, CookedVariant::Hex2), CookedData(b, CookedVariant::Hex2));
}

TEST_F(TelegramTest, FixedStructureOf25BytesHasTwoCountersAndOneMoreByteAThird) {
    // id 01234567, access 11h, status 0, units: energy kWh (05h) and volume m3 (2Ch)
    const Bytes head = Hex("67 45 23 01 11 00 45 2C");
    const Bytes counters = Hex("34 12 00 00 78 56 00 00");
    const auto t = Decode(LongFrame(0x08, 0x01, 0x73, Cat({head, counters})));
    ASSERT_EQ(t->TelegramLength(), 25);
    EXPECT_EQ(t->structureKind, kFixedLsbFirst);
    EXPECT_STREQ(t->manufacturerText, "FIX");
    EXPECT_EQ(t->manufacturer, 0x1938);
    EXPECT_EQ(t->version, 0);
    EXPECT_EQ(t->identNumber, 0x01234567);
    EXPECT_EQ(t->medium, 1);  // bits 6..7 of byte 13 are 01b, of byte 14 00b
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->records[0].VIB()[0], 0x05);
    EXPECT_EQ(t->records[0].dataField, 0x0C);
    EXPECT_EQ(t->records[0].value, 1234);
    EXPECT_EQ(t->records[1].VIB()[0], 0x2C);
    EXPECT_EQ(t->records[1].value, 5678);

    const auto longer = Decode(LongFrame(0x08, 0x01, 0x73, Cat({head, counters, Hex("AB")})));
    ASSERT_EQ(longer->RecordCount(), 3);
    EXPECT_EQ(longer->records[2].specialDIF, 0x0F);
    EXPECT_EQ(longer->records[2].dataField, 0x0F);
    EXPECT_EQ(ValueOf(*longer, 2), "AB");
}

TEST_F(TelegramTest, FixedStructureStatusBit0MakesCountersBinary) {
    const auto t = Decode(LongFrame(0x08, 0x01, 0x73, Hex("01 00 00 00 00 01 05 2C FF FF FF FF 10 00 00 00")));
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->records[0].dataField, 0x04);
    EXPECT_EQ(t->records[0].value, -1);
    EXPECT_EQ(ValueOf(*t, 0), "-1");
    EXPECT_EQ(t->records[1].value, 16);
}

TEST_F(TelegramTest, FixedStructureScalesByUnitMultiplierAndHistoricCounterFollowsFirst) {
    // Unit 06h is "10 [kWh]": value x10, unit lowered to 05h; 3Eh "historic" takes counter 1's multiplier.
    const auto t = Decode(LongFrame(0x08, 0x01, 0x73, Hex("01 00 00 00 00 00 06 3E 12 00 00 00 34 00 00 00")));
    EXPECT_EQ(t->records[0].VIB()[0], 0x05);
    EXPECT_EQ(t->records[0].value, 120);
    EXPECT_EQ(t->records[1].VIB()[0], 0x3E);
    EXPECT_EQ(t->records[1].value, 340);
}

TEST_F(TelegramTest, FixedStructureMostSignificantFirst) {
    const auto t = Decode(LongFrame(0x08, 0x01, 0x77, Hex("01 23 45 67 00 00 05 2C 00 00 12 34 00 00 00 01")));
    EXPECT_EQ(t->structureKind, kFixedMsbFirst);
    EXPECT_EQ(t->identNumber, 0x01234567);
    EXPECT_EQ(t->records[0].value, 1234);
    EXPECT_EQ(t->records[1].value, 1);
}

TEST_F(TelegramTest, FixedStructureInAnExtendedFrameIsShiftedByTwo) {
    const Bytes payload = Hex("67 45 23 01 11 00 45 2C 34 12 00 00 78 56 00 00 AB");
    const auto plain = Decode(LongFrame(0x08, 0x01, 0x73, payload));
    const auto extended = Decode(ExtendedFrame(0x08, 0x01, 0x73, payload));
    EXPECT_EQ(extended->identNumber, 0x01234567);
    ASSERT_EQ(extended->RecordCount(), 3);
    EXPECT_EQ(CookedData(AnswerView::Of(*extended), CookedVariant::Hex2),
              CookedData(AnswerView::Of(*plain), CookedVariant::Hex2));
}

TEST_F(TelegramTest, ShortFixedStructureReadsNoCounterBeyondTheTelegram) {
    // 19 bytes: header complete, no counter fits.
    const auto t = Decode(LongFrame(0x08, 0x01, 0x73, Hex("01 00 00 00 00 00 05 2C 12 34")));
    EXPECT_EQ(t->structureKind, kFixedLsbFirst);
    for (const MBDataRecord& r : t->records) EXPECT_FALSE(r.hasValueText && r.dataField != 0x0F);
}

TEST_F(TelegramTest, UnitMultiplierIsMovedIntoTheValue) {
    // VIF 07h "Energy 10 [kWh]" with 123 becomes VIF 06h with 1230.
    const auto t = DecodeRecords(Hex("04 07 7B 00 00 00"));
    EXPECT_EQ(t->records[0].VIB()[0], 0x06);
    EXPECT_EQ(t->records[0].value, 1230);

    MBusOption.OPTOnlyVIFUnitsWithoutMultiplier = 0;
    const auto kept = DecodeRecords(Hex("04 07 7B 00 00 00"));
    EXPECT_EQ(kept->records[0].VIB()[0], 0x07);
    EXPECT_EQ(kept->records[0].value, 123);
}

TEST_F(TelegramTest, Dif1FEndsTheListAndSetsMoreRecordsFollow) {
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00 1F AA BB CC"));
    EXPECT_EQ(t->moreRecordsFollow, 1);
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(t->records[1].specialDIF, 0x1F);
    EXPECT_EQ(ValueOf(*t, 1), "AABBCC");
}

TEST_F(TelegramTest, IdleFillersAndGlobalReadoutAreRecordsWithoutValue) {
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00 2F 2F 7F"));
    ASSERT_EQ(t->RecordCount(), 4);
    for (int i : {1, 2}) {
        EXPECT_EQ(t->records[i].specialDIF, 0x2F);
        EXPECT_EQ(t->records[i].vibLength, 0);
        EXPECT_FALSE(t->records[i].hasValueText);
    }
    EXPECT_EQ(t->records[3].specialDIF, 0x7F);
}

TEST_F(TelegramTest, ErrorVIFECarriesValueOnlyWhenOptionSays) {
    // VIF 93h VIFE 15h "No Data Available", then 4 value bytes, then another record.
    const Bytes records = Hex("04 93 15 05 00 00 00 02 5B 14 00");
    const auto withValue = DecodeRecords(records);
    ASSERT_EQ(withValue->RecordCount(), 2);
    EXPECT_EQ(withValue->records[0].value, 5);
    EXPECT_EQ(withValue->records[1].value, 20);

    MBusOption.OPTValueAfterErrorVIFE = 0;
    const auto noValue = DecodeRecords(Hex("04 93 15 02 5B 14 00"));
    ASSERT_EQ(noValue->RecordCount(), 2);
    EXPECT_FALSE(noValue->records[0].hasValueText);
    EXPECT_EQ(noValue->records[1].VIB()[0], 0x5B);
    EXPECT_EQ(noValue->records[1].value, 20);
}

TEST_F(TelegramTest, DateAndTimeRecordsAreShownAsCalendarDates) {
    const auto t = DecodeRecords(Hex("04 6D 1E 12 18 1C 02 6C 18 1C"));
    EXPECT_EQ(ValueOf(*t, 0), "24.12.2008 18:30");
    EXPECT_EQ(ValueOf(*t, 1), "24.12.2008 ");
}

TEST_F(TelegramTest, DateVIFEsAndStartOfTariffAreDatesToo) {
    // FD 30h start of tariff; VIFE 6Ah "Begin of First" after a primary VIF.
    const auto t = DecodeRecords(Hex("04 FD 30 1E 12 18 1C 04 A2 6A 1E 12 18 1C 04 A2 20 1E 12 18 1C"));
    EXPECT_EQ(ValueOf(*t, 0), "24.12.2008 18:30");
    EXPECT_EQ(ValueOf(*t, 1), "24.12.2008 18:30");
    EXPECT_EQ(ValueOf(*t, 2), std::to_string(0x1C18121E));  // "per second" is no date
}

TEST_F(TelegramTest, SelectionTextsComeFromTheirRecords) {
    const auto t = DecodeRecords(Hex("0C 78 21 43 65 87 0E FD 10 12 90 78 56 34 12 0E FD 11 01 00 00 00 00 00"));
    EXPECT_STREQ(t->fabricationNumber, "87654321");
    EXPECT_STREQ(t->customerLocation, "123456789012");
    EXPECT_STREQ(t->customer, "000000000001");
    const auto none = DecodeRecords(Hex("04 13 01 00 00 00"));
    EXPECT_STREQ(none->fabricationNumber, "FFFFFFFF");
    EXPECT_STREQ(none->customer, "FFFFFFFFFFFF");
}

TEST_F(TelegramTest, StorageTariffAndSubunitComeFromDIFEs) {
    // DIF C4h: storage bit 1; DIFE 91h: storage 1, tariff 1; DIFE 52h: storage 2, tariff 1, subunit 1.
    const auto t = DecodeRecords(Hex("C4 91 52 13 01 00 00 00"));
    const MBDataRecord& r = t->records.at(0);
    EXPECT_EQ(r.storageNumber, 1 | 1 << 1 | 2 << 5);
    EXPECT_EQ(r.tariff, 1 | 1 << 2);
    EXPECT_EQ(r.subunit, 2);
}

TEST_F(TelegramTest, EleventhDIFEEndsTheRecordAndStartsTheNext) {
    // DIF 84h and ten DIFEs that all announce another; the eleventh byte (04h) starts the next record.
    const auto t = DecodeRecords(Hex("84 80 80 80 80 80 80 80 80 80 80 04 13 07 00 00 00"));
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_FALSE(t->records[0].hasValueText);
    EXPECT_EQ(t->records[1].value, 7);
}

TEST_F(TelegramTest, EleventhVIFEEndsTheRecordWithoutValue) {
    const auto t = DecodeRecords(Hex("04 93 A0 A0 A0 A0 A0 A0 A0 A0 A0 A0 02 5B 14 00"));
    ASSERT_GE(t->RecordCount(), 1);
    EXPECT_EQ(t->records[0].vibLength, 11);
    EXPECT_FALSE(t->records[0].hasValueText);
}

TEST_F(TelegramTest, TruncatedLastRecordIsNotCounted) {
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00 04 13 01 00"));
    EXPECT_EQ(t->RecordCount(), 1);
}

TEST_F(TelegramTest, PlainTextUnitIsStoredInReadingOrder) {
    // "kPa" arrives reversed ("aPk") in a least-significant-first telegram.
    const auto t = DecodeRecords(Hex("02 7C 03 61 50 6B F5 03"));
    ASSERT_EQ(t->RecordCount(), 1);
    const MBDataRecord& r = t->records[0];
    ASSERT_TRUE(r.IsPlainTextVIB());
    EXPECT_EQ(r.vibLength, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.VIB()) + 2, 3), "kPa");
    EXPECT_EQ(r.value, 1013);
    EXPECT_EQ(RecordDescription(*t, r), "kPa");
}

TEST_F(TelegramTest, PlainTextUnitWithVIFEBeforeOrAfterTheText) {
    // Default layout: VIF FCh, VIFE 22h (per hour), length, text.
    const auto before = DecodeRecords(Hex("02 FC 22 02 61 62 05 00"));
    ASSERT_EQ(before->RecordCount(), 1);
    EXPECT_EQ(RecordDescription(*before, before->records[0]), "ba->per hour");
    EXPECT_EQ(before->records[0].value, 5);

    MBusOption.plainTextVIFEsAfterText = 1;
    const auto after = DecodeRecords(Hex("02 FC 02 61 62 22 05 00"));
    ASSERT_EQ(after->RecordCount(), 1);
    EXPECT_EQ(RecordDescription(*after, after->records[0]), "ba->per hour");
    EXPECT_EQ(after->records[0].value, 5);
}

TEST_F(TelegramTest, MostSignificantFirstTelegramReversesValues) {
    const auto t = DecodeRecords(Hex("04 13 00 00 04 D2 0D FD 0C 03 61 62 63"), 0x76);
    EXPECT_EQ(t->structureKind, kVariableMsbFirst);
    EXPECT_EQ(t->identNumber, 0x12345678);  // the header stays least significant first
    EXPECT_EQ(t->records[0].value, 1234);
    EXPECT_EQ(ValueOf(*t, 1), "abc");
}

TEST_F(TelegramTest, AccessDemandAndResultFollowTheCField) {
    MBTelegram t;
    const Bytes frame = LongFrame(0x28, 0x01, 0x72, Cat({Header72(), Hex("04 13 01 00 00 00")}));
    EXPECT_EQ(t.InterpretAnswer(3, 0x28, 0x01, 0x72, frame.data(), static_cast<int>(frame.size())), 1);
    EXPECT_EQ(t.accessDemand, 1);
    EXPECT_EQ(t.InterpretAnswer(3, 0x53, 0x01, 0x72, frame.data(), static_cast<int>(frame.size())), 0);
}

TEST_F(TelegramTest, UnknownCIAndShortFramesLeaveNothingInterpreted) {
    for (uint8_t ci : {0x51, 0x7B, 0xFF}) {
        const auto t = Decode(LongFrame(0x08, 0x01, ci, Cat({Header72(), Hex("04 13 01 00 00 00")})));
        EXPECT_EQ(t->structureKind, kNothing) << int(ci);
        EXPECT_EQ(t->RecordCount(), 0);
    }
    const auto alarm = Decode(LongFrame(0x08, 0x01, 0x71, Hex("02")));
    EXPECT_EQ(alarm->structureKind, kAlarm);
    const auto error = Decode(LongFrame(0x08, 0x01, 0x70, Hex("01")));
    EXPECT_EQ(error->structureKind, kApplicationError);
    const auto tooShort = Decode(LongFrame(0x08, 0x01, 0x72, Hex("01 02")));
    EXPECT_EQ(tooShort->structureKind, kNothing);
}

TEST_F(TelegramTest, NoDataLeavesTheObjectReset) {
    MBTelegram t;
    EXPECT_EQ(t.InterpretAnswer(3, 8, 1, 0x72, nullptr, 5), 0);
    EXPECT_EQ(t.structureKind, kNothing);
    EXPECT_STREQ(t.manufacturerText, "UNK");
    EXPECT_EQ(t.TelegramLength(), 0);
}

TEST_F(TelegramTest, ReinterpretingNeverMixesTwoAnswers) {
    MBTelegram t;
    const Bytes first = LongFrame(0x08, 0x01, 0x72, Cat({Header72(), Hex("04 13 01 00 00 00 0C 78 21 43 65 87")}));
    const Bytes second = Hex("E5");
    t.InterpretAnswer(3, 8, 1, 0x72, first.data(), static_cast<int>(first.size()));
    t.InterpretAnswer(0, 0, 0, 0, second.data(), 1);
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_EQ(t.identNumber, 0);
    EXPECT_EQ(t.structureKind, kSingleCharacter);

    // Records are reused from answer to answer: a shorter answer after a
    // longer one keeps nothing of the earlier records.
    const Bytes third = LongFrame(0x08, 0x01, 0x72, Cat({Header72(), Hex("84 11 13 01 00 00 00 0C 78 21 43 65 87")}));
    const Bytes fourth = LongFrame(0x08, 0x01, 0x72, Cat({Header72(), Hex("02 13 2C 01")}));
    t.InterpretAnswer(3, 8, 1, 0x72, third.data(), static_cast<int>(third.size()));
    ASSERT_EQ(t.RecordCount(), 2);
    EXPECT_EQ(t.records[0].tariff, 1);
    t.InterpretAnswer(3, 8, 1, 0x72, fourth.data(), static_cast<int>(fourth.size()));
    ASSERT_EQ(t.RecordCount(), 1);
    EXPECT_EQ(t.records[0].tariff, 0);
    EXPECT_EQ(t.records[0].storageNumber, 0);
    EXPECT_EQ(t.records[0].value, 300);
    EXPECT_EQ(t.records[0].VIB()[0], 0x13);
}

TEST_F(TelegramTest, IsStartOfDRFindsEveryRecordStart) {
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00 02 5B 14 00 0F 01 02"));
    // Records start at 19, 25 and 29; the checksum sits at length - 2.
    for (int p = 0; p < t->TelegramLength(); ++p) {
        const bool expected = p == 19 || p == 25 || p == 29 || p == t->TelegramLength() - 2;
        EXPECT_EQ(t->IsStartOfDR(p), expected ? 1 : 0) << p;
    }
    const auto fixed = Decode(LongFrame(0x08, 0x01, 0x73, Hex("01 00 00 00 00 00 05 2C 12 00 00 00 34 00 00 00 AA")));
    EXPECT_EQ(fixed->IsStartOfDR(15), 1);
    EXPECT_EQ(fixed->IsStartOfDR(19), 1);
    EXPECT_EQ(fixed->IsStartOfDR(23), 1);
    EXPECT_EQ(fixed->IsStartOfDR(16), 0);
    MBTelegram empty;
    EXPECT_EQ(empty.IsStartOfDR(0), 0);
}

// A room sensor: "ppm" as a plain-text unit with VIFE 75h (x10^-1), then
// "%RH" as a plain-text unit without VIFE, then VIF 65h (external
// temperature, 10 m°C). Texts stand reversed on the line.
constexpr const char* kSensorVIFEsAfterText = "02 FC 03 6D 70 70 75 D0 07  02 7C 03 48 52 25 9B 01  02 65 66 08";
constexpr const char* kSensorVIFEsBeforeText = "02 FC 75 03 6D 70 70 D0 07  02 7C 03 48 52 25 9B 01  02 65 66 08";

TEST_F(TelegramTest, PlainTextUnitWithVIFEIsReadInBothLayoutsWhateverTheSetting) {
    for (const char* records : {kSensorVIFEsAfterText, kSensorVIFEsBeforeText}) {
        for (int setting : {0, 1}) {
            SCOPED_TRACE(std::string(records) + " setting " + std::to_string(setting));
            MBusOption.plainTextVIFEsAfterText = setting;
            const auto t = DecodeRecords(Hex(records));
            ASSERT_EQ(t->RecordCount(), 3);
            const MBDataRecord& co2 = t->records[0];
            ASSERT_TRUE(co2.IsPlainTextVIB());
            // VIF, length, text, zero, VIFE; the length leaves the zero out.
            EXPECT_EQ(co2.vibLength, 6);
            EXPECT_EQ(Bytes(co2.VIB(), co2.VIB() + 7), Hex("FC 03 70 70 6D 00 75"));
            EXPECT_EQ(RecordDescription(*t, co2), "ppm->*10E-1");
            EXPECT_EQ(co2.value, 2000);
            EXPECT_EQ(RecordDescription(*t, t->records[1]), "%RH");
            EXPECT_EQ(t->records[1].value, 411);
            EXPECT_EQ(t->records[2].VIB()[0], 0x64);  // 10 m°C moved into the value
            EXPECT_EQ(t->records[2].value, 21500);
            const bool asSet = (records == kSensorVIFEsAfterText) == (setting == 1);
            EXPECT_EQ(t->warnings.size(), asSet ? 0u : 1u);
            if (!asSet) {
                EXPECT_NE(t->warnings[0].find("record 1: plain-text unit"), std::string::npos) << t->warnings[0];
            }
        }
    }
}

TEST_F(TelegramTest, PlainTextUnitWithAVIFEChainBehindTheText) {
    // "ab" reversed, VIFE A2h (per hour, chain goes on), VIFE 74h (x10^-2).
    const auto t = DecodeRecords(Hex("02 FC 02 62 61 A2 74 05 00 02 5B 14 00"));
    ASSERT_EQ(t->RecordCount(), 2);
    EXPECT_EQ(RecordDescription(*t, t->records[0]), "ab->per hour->*10E-2");
    EXPECT_EQ(t->records[0].vibLength, 6);
    EXPECT_EQ(t->records[0].vibReceived, Hex("FC 02 62 61 A2 74"));
    EXPECT_EQ(t->records[0].value, 5);
    EXPECT_EQ(t->records[1].value, 20);
}

TEST_F(TelegramTest, PlainTextUnitThatFitsNeitherLayoutKeepsTheSetting) {
    // The length byte 40h runs past the data in both layouts: the record is
    // truncated and not counted, the walk says so.
    const auto t = DecodeRecords(Hex("04 13 01 00 00 00 02 FC 40 61 62 05 00"));
    EXPECT_EQ(t->RecordCount(), 1);
    ASSERT_EQ(t->warnings.size(), 1u);
    EXPECT_NE(t->warnings[0].find("record 2:"), std::string::npos) << t->warnings[0];
}

TEST_F(TelegramTest, ReceivedVIBKeepsTheBytesAsTheyStood) {
    // VIF 94h "Volume 10 [l]" is lowered to 93h in the VIB; the received copy keeps it.
    const auto t = DecodeRecords(Hex("04 94 3D 05 00 00 00 02 7C 03 61 50 6B F5 03 0C 13 01 00 00 00 2F"));
    ASSERT_EQ(t->RecordCount(), 4);
    EXPECT_EQ(t->records[0].VIB()[0], 0x93);
    EXPECT_EQ(t->records[0].vibReceived, Hex("94 3D"));
    EXPECT_EQ(t->records[1].vibReceived, Hex("7C 03 61 50 6B"));
    EXPECT_EQ(t->records[2].vibReceived, Hex("13"));
    EXPECT_TRUE(t->records[3].vibReceived.empty());
}

// Sixteen to sixty-four binary bytes: 00h, 01h, ... on the line.
Bytes Counting(int n) {
    Bytes b;
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(i));
    return b;
}

// The hexadecimal text of Counting(n), last byte first.
std::string CountingHex(int n) {
    static const char* kHex = "0123456789ABCDEF";
    std::string s;
    for (int i = n - 1; i >= 0; --i) s += {kHex[i >> 4], kHex[i & 0x0F]};
    return s;
}

TEST_F(TelegramTest, LongBinaryLVARsHaveTheirStandardLengths) {
    const struct {
        uint8_t lvar;
        int bytes;
    } cases[] = {{0xF0, 16}, {0xF1, 20}, {0xF2, 24}, {0xF3, 28}, {0xF4, 32}, {0xF5, 48}, {0xF6, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.lvar));
        const auto t = DecodeRecords(Cat({Hex("0D FD 0F"), {c.lvar}, Counting(c.bytes), Hex("02 65 66 08")}));
        ASSERT_EQ(t->RecordCount(), 2);
        EXPECT_EQ(ValueOf(*t, 0), CountingHex(c.bytes));
        EXPECT_EQ(t->records[1].value, 21500);
        EXPECT_TRUE(t->warnings.empty());
    }
    // Most significant byte first: the bytes in received order.
    const auto msb = DecodeRecords(Cat({Hex("0D FD 0F F0"), Counting(16), Hex("02 65 08 66")}), 0x76);
    ASSERT_EQ(msb->RecordCount(), 2);
    EXPECT_EQ(ValueOf(*msb, 0), "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(msb->records[1].value, 21500);
}

TEST_F(TelegramTest, ReservedLVAREndsTheWalkWithAWarning) {
    for (uint8_t lvar : {0xF7, 0xFA, 0xFB}) {
        const auto t = DecodeRecords(Cat({Hex("02 5B 14 00 0D FD 0F"), {lvar}, Hex("01 02 03 04 02 65 66 08")}));
        ASSERT_EQ(t->RecordCount(), 2) << int(lvar);
        EXPECT_EQ(t->records[0].value, 20);
        EXPECT_FALSE(t->records[1].hasValueText);
        ASSERT_EQ(t->warnings.size(), 1u);
        EXPECT_NE(t->warnings[0].find("record 2: reserved LVAR"), std::string::npos) << t->warnings[0];
    }
}

TEST_F(TelegramTest, UserDataTooShortForTheHeaderGivesNoHeaderAndNoRecords) {
    const struct {
        uint8_t CI;
        const char* userData;
        bool extended;
    } cases[] = {
        {0x72, "78 56 34 12 01", false},                       // 5 of 12 header bytes
        {0x72, "78 56 34 12 01 47 01 07 2A 00 00", false},     // 11 of 12
        {0x76, "78 56 34 12 01 47 01 07 2A 00 00", false},
        {0x72, "78 56 34 12 01 47 01 07 2A 00 00", true},
        {0x7A, "2A 00 00", false},                             // 3 of 4
        {0x73, "67 45 23 01 11 00 45 2C 34", false},           // fixed: 9 bytes
        {0x77, "67 45 23 01 11 00 45 2C 34", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.userData) + " CI " + std::to_string(c.CI));
        const Bytes frame = c.extended ? ExtendedFrame(0x08, 0x01, c.CI, Hex(c.userData))
                                       : LongFrame(0x08, 0x01, c.CI, Hex(c.userData));
        MBTelegram t;
        EXPECT_EQ(t.InterpretAnswer(3, 0x08, 0x01, c.CI, frame.data(), static_cast<int>(frame.size())),
                  kDecodeShortHeader);
        EXPECT_EQ(t.structureKind, kNothing);
        EXPECT_EQ(t.identNumber, 0);
        EXPECT_EQ(t.manufacturer, 0);
        EXPECT_STREQ(t.manufacturerText, "UNK");
        EXPECT_EQ(t.version, 0);
        EXPECT_EQ(t.status, 0);
        EXPECT_EQ(t.signature, 0u);
        EXPECT_EQ(t.RecordCount(), 0);
        ASSERT_EQ(t.warnings.size(), 1u);
        EXPECT_NE(t.warnings[0].find("too short for the header"), std::string::npos) << t.warnings[0];
    }
}

TEST_F(TelegramTest, HeaderThatJustFitsIsRead) {
    MBTelegram t;
    const Bytes full = LongFrame(0x08, 0x01, 0x72, Header72());
    EXPECT_EQ(t.InterpretAnswer(3, 0x08, 0x01, 0x72, full.data(), static_cast<int>(full.size())), 1);
    EXPECT_EQ(t.structureKind, kVariableLsbFirst);
    EXPECT_EQ(t.medium, 7);
    EXPECT_EQ(t.signature, 0u);
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_TRUE(t.warnings.empty());

    const Bytes shortHeader = LongFrame(0x08, 0x01, 0x7A, Hex("2A 10 34 12"));
    EXPECT_EQ(t.InterpretAnswer(3, 0x08, 0x01, 0x7A, shortHeader.data(), static_cast<int>(shortHeader.size())), 1);
    EXPECT_EQ(t.status, 0x10);
    EXPECT_EQ(t.signature, 0x1234u);

    // No header at all: two idle fillers right after the CI.
    const Bytes none = LongFrame(0x08, 0x01, 0x78, Hex("2F 2F"));
    EXPECT_EQ(t.InterpretAnswer(3, 0x08, 0x01, 0x78, none.data(), static_cast<int>(none.size())), 1);
    EXPECT_EQ(t.structureKind, kVariableLsbFirst);
    EXPECT_EQ(t.RecordCount(), 2);
}

TEST_F(TelegramTest, WalkWarnsOfWhatItSurvives) {
    const struct {
        const char* records;
        const char* warning;
    } cases[] = {
        {"04 13 01 00 00 00 04 13 01 00", "record 2: value runs past the end of the data (needs 4 bytes, 2 left)"},
        {"0D FD 0F 06 61 62", "record 1: value runs past the end of the data (needs 7 bytes, 3 left)"},
        {"84 80 80 80 80 80 80 80 80 80 80 04 13 07 00 00 00", "record 1: more than 10 DIFEs; the record has no value"},
        {"04 93 A0 A0 A0 A0 A0 A0 A0 A0 A0 A0 02 5B 14 00", "record 1: more than 10 VIFEs; the record has no value"},
        {"02 5B 14 00 7F AA BB", "2 bytes left over after the last record"},
        {"02 5B 14 00 04 93 A0", "record 2: VIFE chain runs past the end of the data"},
    };
    for (const auto& c : cases) {
        const auto t = DecodeRecords(Hex(c.records));
        ASSERT_FALSE(t->warnings.empty()) << c.records;
        EXPECT_EQ(t->warnings[0], c.warning);
        EXPECT_EQ(t->warnings.size(), 1u) << c.records;
    }
    const auto clean = DecodeRecords(Hex("04 13 01 00 00 00 02 5B 14 00 0F 01 02"));
    EXPECT_TRUE(clean->warnings.empty());
    // A new answer starts without the warnings of the last one.
    MBTelegram t;
    const Bytes bad = LongFrame(0x08, 0x01, 0x72, Cat({Header72(), Hex("04 13 01 00")}));
    t.InterpretAnswer(3, 0x08, 0x01, 0x72, bad.data(), static_cast<int>(bad.size()));
    EXPECT_EQ(t.warnings.size(), 1u);
    const Bytes good = Hex("E5");
    t.InterpretAnswer(0, 0, 0, 0, good.data(), 1);
    EXPECT_TRUE(t.warnings.empty());
}

}  // namespace
}  // namespace mbus::test
