// The Analog page's logic: sensor codes, mode byte, unit byte, every record
// text byte for byte, the calibration slots of V1 and V2, the readout of
// both telegrams of the simulated Analog module through the real telegram
// log, and writes applied to the module and read back.

#include "configurator/devices/analog_page.h"

#include <gtest/gtest.h>

#include "tests/configurator/answer_lines.h"

namespace mbus::meridex {
namespace {

constexpr int kEnglish = 1;
constexpr int kGerman = 49;

const std::string kAddresses = "01 7A FF 07 79 FF FF FF FF FF FF FF FF ";

// ---------------------------------------------------------------------------
// Boxes and the mode byte

TEST(AnalogBoxes, SensorEntriesTextsCodesAndSlots) {
    const struct {
        int entry;
        const char* text;
        int code;
        int slot;
    } rows[] = {
        {0, "  PT100", 2, 0},
        {1, "  PT500", 0, 1},
        {2, "  PT1000", 1, 2},
        {3, "  Rohwerte PT100", 3, 0},
        {4, "  Rohwerte PT500 / PT1000", 4, 1},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(kSensorTexts[static_cast<std::size_t>(r.entry)], r.text);
        EXPECT_EQ(SensorCode(r.entry), r.code) << r.text;
        EXPECT_EQ(SensorEntryOfCode(r.code), r.entry) << r.text;
        EXPECT_EQ(CalibrationSlot(r.entry), r.slot) << r.text;
    }
    EXPECT_EQ(SensorEntryOfCode(5), std::nullopt);
    EXPECT_EQ(SensorEntryOfCode(0x3F), std::nullopt);
    EXPECT_EQ(SensorCode(-1), 2);  // no selection counts as the first entry
}

TEST(AnalogBoxes, ModeByteAddsTheMinMaxChoice) {
    const struct {
        int sensor;
        MinMaxChoice choice;
        uint8_t mode;
    } rows[] = {
        {kSensorPt100, MinMaxChoice::kNone, 0x02},        {kSensorPt100, MinMaxChoice::kA1, 0x02},
        {kSensorPt500, MinMaxChoice::kA2, 0x40},          {kSensorPt1000, MinMaxChoice::kTemperature, 0x81},
        {kSensorRawPt500Pt1000, MinMaxChoice::kA2, 0x44}, {kSensorRawPt100, MinMaxChoice::kTemperature, 0x83},
    };
    for (const auto& r : rows) EXPECT_EQ(ModeByte(r.sensor, r.choice), r.mode) << r.sensor;
    EXPECT_EQ(MinMaxOfMode(0x02), MinMaxChoice::kA1);
    EXPECT_EQ(MinMaxOfMode(0x44), MinMaxChoice::kA2);
    EXPECT_EQ(MinMaxOfMode(0x81), MinMaxChoice::kTemperature);
    EXPECT_EQ(MinMaxOfMode(0xC1), MinMaxChoice::kTemperature);
}

TEST(AnalogBoxes, MinMaxBoxesActAsOneChoice) {
    using K = AnalogInputKind;
    // Checking A2's box clears A1's and the temperature input's, and the mode byte gets 40h.
    MinMaxChoice choice = ToggleMinMax(MinMaxChoice::kA1, K::kA2, true);
    EXPECT_EQ(choice, MinMaxChoice::kA2);
    EXPECT_FALSE(MinMaxChecked(choice, K::kA1));
    EXPECT_TRUE(MinMaxChecked(choice, K::kA2));
    EXPECT_FALSE(MinMaxChecked(choice, K::kTemperature));
    EXPECT_EQ(ModeByte(kSensorPt500, choice), 0x40);

    choice = ToggleMinMax(choice, K::kTemperature, true);
    EXPECT_EQ(choice, MinMaxChoice::kTemperature);
    EXPECT_FALSE(MinMaxChecked(choice, K::kA2));
    // Clearing a box that is not the choice changes nothing; clearing the choice leaves none.
    EXPECT_EQ(ToggleMinMax(choice, K::kA1, false), MinMaxChoice::kTemperature);
    EXPECT_EQ(ToggleMinMax(choice, K::kTemperature, false), MinMaxChoice::kNone);
}

TEST(AnalogBoxes, UnitByteIsTheVifWith80hAndFEForWhatIsNoUnit) {
    const struct {
        int entry;
        uint8_t byte;
    } rows[] = {
        {-1, 0x80}, {-5, 0x80}, {0, 0x80},   {2, 0x82},   {0x13, 0x93}, {0x3B, 0xBB}, {122, 0xFA},
        {123, 0xFE}, {124, 0xFE}, {125, 0xFE}, {126, 0xFE}, {127, 0xFE},  {128, 0xFE},  {300, 0xFE},
    };
    for (const auto& r : rows) EXPECT_EQ(UnitByte(r.entry), r.byte) << r.entry;
    EXPECT_EQ(UnitEntryOfVif(0x3B), 0x3B);
    EXPECT_EQ(UnitEntryOfVif(0xBB), 0x3B);
}

// ---------------------------------------------------------------------------
// Record texts

AnalogPageFields Page(int sensor, MinMaxChoice choice) {
    AnalogPageFields p;
    p.temperature.sensorEntry = sensor;
    p.minMax = choice;
    return p;
}

AnalogPageFields WithInput(AnalogPageFields p, int input, int unit, const char* a, const char* b, const char* c) {
    AnalogInputFields& in = p.inputs[static_cast<std::size_t>(input)];
    in.unitEntry = unit;
    in.a = a;
    in.b = b;
    in.c = c;
    return p;
}

TEST(AnalogWrites, InputTextsByteForByte) {
    const struct {
        const char* name;
        int input;  // 0 A1, 1 A2
        AnalogPageFields page;
        std::string text;
    } rows[] = {
        {"A1", 0, WithInput(Page(kSensorPt1000, MinMaxChoice::kA2), 0, 0x3B, "1", "-2", "-5"),
         kAddresses + "01 FD 0B 41 03 BB 28 01 FE FB 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF "},
        {"A1 limits", 0, WithInput(Page(kSensorPt100, MinMaxChoice::kNone), 0, 0x13, "255", "127", "-128"),
         kAddresses + "01 FD 0B 02 03 93 28 FF 7F 80 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF "},
        {"A1 no unit, no numbers", 0, WithInput(Page(kSensorPt500, MinMaxChoice::kA1), 0, -1, "", "x", " 7"),
         kAddresses + "01 FD 0B 00 03 80 28 00 00 07 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF "},
        {"A2", 1, WithInput(Page(kSensorRawPt500Pt1000, MinMaxChoice::kTemperature), 1, 127, "255", "127", "-128"),
         kAddresses + "01 FD 0B 84 03 FE 28 00 00 00 83 40 FE 28 FF 7F 80  82 C0 40 FD 56 FF FF "},
        {"A2 min/max", 1, WithInput(Page(kSensorPt100, MinMaxChoice::kA2), 1, 0x5B, "3", "-7", "-1"),
         kAddresses + "01 FD 0B 42 03 FE 28 00 00 00 83 40 DB 28 03 F9 FF  82 C0 40 FD 56 FF FF "},
    };
    for (const auto& r : rows) EXPECT_EQ(r.input == 0 ? WriteA1Text(r.page) : WriteA2Text(r.page), r.text) << r.name;
}

TEST(AnalogWrites, CurrentInMicroamperesLowByteFirst) {
    const struct {
        const char* current;
        const char* bytes;
    } rows[] = {
        {"20", "20 4E"},     {"20.000", "20 4E"}, {"4", "A0 0F"},
        {"12,5", "D4 30"},   {"12.5", "D4 30"},   // either separator, in every language
        {"4.0009", "A0 0F"},  // truncated
        {"70", "FF FF"},     {"-1", "00 00"},     {"", "00 00"},
    };
    for (const auto& r : rows) {
        AnalogPageFields p = Page(kSensorPt100, MinMaxChoice::kNone);
        p.current = r.current;
        EXPECT_EQ(WriteCurrentText(p),
                  kAddresses + "01 FD 0B 02 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 " + r.bytes + " ")
            << r.current;
    }
}

TEST(AnalogWrites, TemperatureQueuesCalibrationAndParameterSet) {
    const std::string set = "01 FD 0B 81 03 FE 28 00 00 00 83 40 FE 28 00 00 00 82 C0 40 FD 56 FF FF ";
    const struct {
        const char* name;
        int sensor;
        int firmware;
        const char *a, *b, *c;
        std::string records2;
    } rows[] = {
        // V1 = 0123456789ABh, V2 = 0A0B0C0D0E0Fh; PT1000 owns bytes 4-5.
        {"PT1000, firmware 1.1", kSensorPt1000, 11, "200", "-100", "-123.4",
         "86 80 40 E6 28 AB 89 67 45 8C 2E C6 80 40 E6 28 0F 0E 0D 0C C9 FB "},
        {"PT1000, firmware 0", kSensorPt1000, 0, "-3", "-5", "-12.3",
         "86 80 40 E6 28 AB 89 67 45 DB 85 "},
        {"PT1000, firmware unknown", kSensorPt1000, -1, "-3", "-5", "-12,3",
         "86 80 40 E6 28 AB 89 67 45 DB 85 "},
        // t is the integer part of 10 c: -12.35 gives -123 as -12.3 does.
        {"PT1000, c with two decimals", kSensorPt1000, 0, "-3", "-5", "-12.35",
         "86 80 40 E6 28 AB 89 67 45 DB 85 "},
        {"PT1000, positive", kSensorPt1000, 11, "1", "2", "0.5",
         "86 80 40 E6 28 AB 89 67 45 12 05 C6 80 40 E6 28 0F 0E 0D 0C 00 00 "},
    };
    for (const auto& r : rows) {
        AnalogPageFields p = Page(r.sensor, MinMaxChoice::kTemperature);
        p.firmwareNumber = r.firmware;
        p.v1 = 0x0123456789AB;
        p.v2 = 0x0A0B0C0D0E0F;
        p.temperature.a = r.a;
        p.temperature.b = r.b;
        p.temperature.c = r.c;
        const TemperatureWrite w = WriteTemperature(p);
        EXPECT_EQ(w.pendingRecords2, r.records2) << r.name;
        EXPECT_EQ(w.pendingRecords1, kAddresses + set) << r.name;
    }
}

TEST(AnalogWrites, EachSensorWritesItsOwnSlot) {
    const struct {
        int sensor;
        const char* mode;
        std::string v1;  // bytes after 86 80 40 E6 28
    } rows[] = {
        {kSensorPt100, "02", "DB 85 67 45 23 01 "},
        {kSensorPt500, "00", "AB 89 DB 85 23 01 "},
        {kSensorPt1000, "01", "AB 89 67 45 DB 85 "},
        {kSensorRawPt100, "03", "DB 85 67 45 23 01 "},
        {kSensorRawPt500Pt1000, "04", "AB 89 DB 85 23 01 "},
    };
    for (const auto& r : rows) {
        AnalogPageFields p = Page(r.sensor, MinMaxChoice::kA1);
        p.firmwareNumber = 0;
        p.v1 = 0x0123456789AB;
        p.temperature.a = "-3";
        p.temperature.b = "-5";
        p.temperature.c = "-12.3";
        const TemperatureWrite w = WriteTemperature(p);
        EXPECT_EQ(w.pendingRecords2, "86 80 40 E6 28 " + r.v1) << r.sensor;
        EXPECT_EQ(w.pendingRecords1.substr(kAddresses.size(), 12), std::string("01 FD 0B ") + r.mode + " ") << r.sensor;
    }
}

// ---------------------------------------------------------------------------
// Calibration slots

TEST(AnalogCalibration, SlotValuesDivideTowardMinusInfinity) {
    const struct {
        TemperatureParameters p;
        uint16_t slot1, slot2;
    } rows[] = {
        {{0, 0, 0}, 0x0000, 0x0000},
        {{1, 2, 5}, 0x0512, 0x0000},
        {{-3, -5, -123}, 0x85DB, 0xFFFF},  // -123 = -1 x 256 + 133; -3 = -1 x 16 + 13
        {{200, -100, -1234}, 0x2E8C, 0xFBC9},
        {{-8, 7, -128}, 0x8087, 0xFFF0},
        {{255, -128, 32767}, 0xFFF0, 0x7FF8},
        {{0, 0, -32768}, 0x0000, 0x8000},
        {{16, -16, 256}, 0x0000, 0x011F},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(CalibrationSlotValue1(r.p), r.slot1) << r.p.a << " " << r.p.b << " " << r.p.t;
        EXPECT_EQ(CalibrationSlotValue2(r.p), r.slot2) << r.p.a << " " << r.p.b << " " << r.p.t;
    }
}

TEST(AnalogCalibration, PackingAndUnpackingRoundTripForEverySensor) {
    const TemperatureParameters wide[] = {{200, -100, -1234}, {0, -128, -32768}, {255, 127, 32767}, {17, -1, 1}};
    const TemperatureParameters narrow[] = {{-8, 7, -128}, {7, -8, 127}, {-1, -1, -1}, {0, 0, 0}, {3, -2, 45}};
    for (int sensor = 0; sensor < kSensorCount; ++sensor) {
        const int slot = CalibrationSlot(sensor);
        for (const TemperatureParameters& p : wide) {
            const uint64_t v1 = WithSlot(0x0123456789AB, slot, CalibrationSlotValue1(p));
            const uint64_t v2 = WithSlot(0xBA9876543210, slot, CalibrationSlotValue2(p));
            EXPECT_EQ(UnpackTemperature(v1, v2, sensor, 11), p) << sensor << " " << p.t;
            // The other slots keep their bytes.
            for (int other = 0; other < 3; ++other) {
                if (other == slot) continue;
                EXPECT_EQ(SlotOf(v1, other), SlotOf(0x0123456789AB, other));
                EXPECT_EQ(SlotOf(v2, other), SlotOf(0xBA9876543210, other));
            }
        }
        for (const TemperatureParameters& p : narrow) {
            const uint64_t v1 = WithSlot(0xFFFFFFFFFFFF, slot, CalibrationSlotValue1(p));
            // Firmware 0 reads V1 alone, whatever V2 holds.
            EXPECT_EQ(UnpackTemperature(v1, 0x123456789ABC, sensor, 0), p) << sensor << " " << p.t;
        }
    }
}

TEST(AnalogCalibration, RecordsCarrySixBytesLeastSignificantFirst) {
    EXPECT_EQ(CalibrationRecord(false, 0x0123456789AB), "86 80 40 E6 28 AB 89 67 45 23 01 ");
    EXPECT_EQ(CalibrationRecord(true, 0xFEDCBA987654), "C6 80 40 E6 28 54 76 98 BA DC FE ");
    EXPECT_EQ(WithSlot(0xFFFFFFFFFFFF, 1, 0x1234), 0xFFFF1234FFFFu);
    EXPECT_EQ(SlotOf(0x0123456789AB, 2), 0x0123);
}

TEST(AnalogCalibration, SelectingASensorShowsItsParameters) {
    AnalogPageFields p;
    p.firmwareNumber = 11;
    // PT100 slot: a 1, b 2, t 205; PT500 slot: 200, -100, -1234; PT1000 slot: 0.
    p.v1 = WithSlot(WithSlot(0, 0, CalibrationSlotValue1({1, 2, 205})), 1, CalibrationSlotValue1({200, -100, -1234}));
    p.v2 = WithSlot(WithSlot(0, 0, CalibrationSlotValue2({1, 2, 205})), 1, CalibrationSlotValue2({200, -100, -1234}));
    const struct {
        int sensor;
        int languageId;
        const char *a, *b, *c;
    } rows[] = {
        {kSensorPt100, kEnglish, "1", "2", "20.5"},       {kSensorRawPt100, kGerman, "1", "2", "20,5"},
        {kSensorPt500, kEnglish, "200", "-100", "-123.4"}, {kSensorRawPt500Pt1000, kEnglish, "200", "-100", "-123.4"},
        {kSensorPt1000, kEnglish, "0", "0", "0.0"},
    };
    for (const auto& r : rows) {
        SelectSensor(p, r.sensor, r.languageId);
        EXPECT_EQ(p.temperature.sensorEntry, r.sensor);
        EXPECT_EQ(p.temperature.a, r.a) << r.sensor;
        EXPECT_EQ(p.temperature.b, r.b) << r.sensor;
        EXPECT_EQ(p.temperature.c, r.c) << r.sensor;
    }
}

// ---------------------------------------------------------------------------
// Readout of the simulated module's telegrams

class AnalogPage : public ::testing::Test, public test::AnswerLines {
protected:
    static constexpr uint8_t kAddress = 3;

    Readout Measurement(bool duringFollowUp = false) {
        const std::string line = ReadLine(kAddress);
        std::optional<Readout> r = ParseAnswerLine(line, duringFollowUp);
        EXPECT_TRUE(r.has_value()) << line;
        return r.value_or(Readout{});
    }
    // The follow-up read: parameter telegram on, read, back to the measurement telegram.
    Readout Parameters() {
        Log("7|3||50 08", Send(kAddress, "50 08"));
        const std::string line = ReadLine(kAddress);
        Log("7|3||50 00", Send(kAddress, "50 00"));
        std::optional<Readout> r = ParseAnswerLine(line, true);
        EXPECT_TRUE(r.has_value()) << line;
        return r.value_or(Readout{});
    }
    // Applies a record text as the script line "7|3||51 " + text does.
    void Apply(const std::string& text) {
        if (text.empty()) return;
        EXPECT_EQ(Write(kAddress, text), Bytes{0xE5}) << text;
    }
    // Reads both telegrams into a fresh page.
    AnalogPageFields ReadBack(int languageId = kEnglish) {
        AnalogPageFields page;
        EXPECT_TRUE(ReadAnalogAnswer(Measurement(), languageId, page).has_value());
        EXPECT_TRUE(ReadAnalogAnswer(Parameters(), languageId, page).has_value());
        return page;
    }
};

// A page whose parameter fields hold something, to see them cleared.
AnalogPageFields Filled() {
    AnalogPageFields p;
    for (std::string* f : {&p.inputs[0].a, &p.inputs[0].b, &p.inputs[0].c, &p.inputs[1].a, &p.inputs[1].b,
                           &p.inputs[1].c, &p.temperature.a, &p.temperature.b, &p.temperature.c})
        *f = "9";
    p.current = "9.000";
    return p;
}

TEST_F(AnalogPage, MeasurementTelegramFillsValuesUnitsAndTheMinMaxInput) {
    const struct {
        const char* minmax;
        MinMaxChoice choice;
        int filled;  // 0 A1, 1 A2, 2 temperature
    } rows[] = {
        {"a1", MinMaxChoice::kA1, 0},
        {"a2", MinMaxChoice::kA2, 1},
        {"temp", MinMaxChoice::kTemperature, 2},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        AddSlave(std::string("module=analog man=VND primary=3 firmware=11 x1=1000 unit1=3B a1=1/2/4 x2=333 unit2=5B "
                             "a2=3/-7/-5 temp=-12.5 minmax=") +
                 r.minmax);
        AnalogPageFields page = Filled();
        const std::optional<AnalogReadoutResult> out = ReadAnalogAnswer(Measurement(), kEnglish, page);
        ASSERT_TRUE(out.has_value()) << r.minmax;
        EXPECT_EQ(out->telegram, AnalogTelegram::kMeasurement);
        EXPECT_TRUE(out->followUp);
        // The control renders the values "5.040000e+02", "-1.477143e+02" and "-1.250000e+01".
        EXPECT_EQ(page.inputs[0].value, "504.00");  // 1 / 2 x 1000 + 4
        EXPECT_EQ(page.inputs[1].value, "-147.71");  // 3 / -7 x 333 - 5
        EXPECT_EQ(page.temperature.value, "-12.5");
        EXPECT_EQ(page.inputs[0].unitEntry, 0x3B);
        EXPECT_EQ(page.inputs[1].unitEntry, 0x5B);
        EXPECT_EQ(page.minMax, r.choice);
        EXPECT_EQ(page.firmwareNumber, 11);

        const std::string values[] = {"504.00", "-147.71", "-12.5"};
        const std::string* fields[][3] = {
            {&page.inputs[0].min, &page.inputs[0].max, &page.inputs[0].average},
            {&page.inputs[1].min, &page.inputs[1].max, &page.inputs[1].average},
            {&page.temperature.min, &page.temperature.max, &page.temperature.average},
        };
        for (int input = 0; input < 3; ++input)
            for (const std::string* f : fields[input])
                EXPECT_EQ(*f, input == r.filled ? values[input] : "") << r.minmax << " input " << input;

        for (const AnalogInputFields& in : page.inputs) EXPECT_EQ(in.a + in.b + in.c, "");
        EXPECT_EQ(page.temperature.a + page.temperature.b + page.temperature.c, "");
        EXPECT_EQ(page.current, "");
    }
}

TEST_F(AnalogPage, MeasurementAnsweringTheFollowUpAsksForNothingMore) {
    AddSlave("module=analog man=KTR primary=3");
    AnalogPageFields page;
    const std::optional<AnalogReadoutResult> out = ReadAnalogAnswer(Measurement(true), kEnglish, page);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->telegram, AnalogTelegram::kMeasurement);
    EXPECT_FALSE(out->followUp);
}

// Every number a German page shows has the decimal comma, none a point;
// values and parameters typed with either separator are read alike.
TEST_F(AnalogPage, AGermanPageShowsOneSeparator) {
    AddSlave("module=analog man=VND primary=3 firmware=11 x1=1000 a1=1/2/4 x2=333 a2=3/-7/-5 temp=-12.5 minmax=temp "
             "sensor=pt1000 current=12000 v1=2E8C00000000 v2=FBC900000000");
    AnalogPageFields page;
    ASSERT_TRUE(ReadAnalogAnswer(Measurement(), kGerman, page).has_value());
    ASSERT_TRUE(ReadAnalogAnswer(Parameters(), kGerman, page).has_value());
    const TemperatureFields& t = page.temperature;
    const struct {
        const char* field;
        const std::string& shown;
        const char* expected;
    } rows[] = {
        {"A1 value", page.inputs[0].value, "504,00"},  {"A2 value", page.inputs[1].value, "-147,71"},
        {"temperature", t.value, "-12,5"},             {"temperature min", t.min, "-12,5"},
        {"temperature max", t.max, "-12,5"},           {"temperature average", t.average, "-12,5"},
        {"temperature c", t.c, "-123,4"},              {"output current", page.current, "12,000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.shown, r.expected) << r.field;
        EXPECT_EQ(r.shown.find('.'), std::string::npos) << r.field;
    }
}

// A record of a literal answer line: descriptor (subunit, tariff 0, storage,
// data field, function field, VIF) and value.
std::string Record(const std::string& subunit, const char* storage, const char* dataFunctionVif, const char* value) {
    return subunit + "00000000" + storage + dataFunctionVif + "|" + value + "|";
}
constexpr const char* kStorage0 = "0000000000000000";
constexpr const char* kStorage1 = "0000000000000001";

TEST(AnalogReadout, SubunitOfTheFourthRecordChoosesTheMinMaxInput) {
    // Literal answers: the descriptor's first 8 characters decide, not the record's VIF.
    const std::string head = "5|3|||20240102030405|03010108037212345678VND960000001119A/D_Converter|";
    const std::string three = Record("00000000", kStorage0, "05003B", "1") + Record("00000001", kStorage0, "05005B", "2") +
                              Record("00000002", kStorage0, "050067", "3");
    const struct {
        const char* subunit;
        MinMaxChoice choice;
    } rows[] = {
        {"00000001", MinMaxChoice::kA2},
        {"00000002", MinMaxChoice::kTemperature},
        {"00000000", MinMaxChoice::kA1},
        {"00000003", MinMaxChoice::kA1},
        {"00000010", MinMaxChoice::kA1},
    };
    for (const auto& r : rows) {
        const std::string rest = Record(r.subunit, kStorage0, "050267", "4") + Record(r.subunit, kStorage0, "050167", "5") +
                                 Record(r.subunit, kStorage1, "050067", "6");
        const std::optional<Readout> readout = ParseAnswerLine(head + three + rest);
        ASSERT_TRUE(readout.has_value());
        AnalogPageFields page;
        ASSERT_TRUE(ReadAnalogAnswer(*readout, kEnglish, page).has_value()) << r.subunit;
        EXPECT_EQ(page.minMax, r.choice) << r.subunit;
        EXPECT_EQ(page.inputs[0].value + " " + page.inputs[1].value + " " + page.temperature.value,
                  "1.00 2.00 3.0");
        const AnalogInputFields& a1 = page.inputs[0];
        const AnalogInputFields& a2 = page.inputs[1];
        const TemperatureFields& t = page.temperature;
        const std::string shown[] = {a1.min + " " + a1.max + " " + a1.average,
                                     a2.min + " " + a2.max + " " + a2.average, t.min + " " + t.max + " " + t.average};
        // Min, max and average with the decimals of their input: two for A1 and A2, one for °C.
        const int filled = r.choice == MinMaxChoice::kA2 ? 1 : r.choice == MinMaxChoice::kTemperature ? 2 : 0;
        const std::string expected = filled == 2 ? "4.0 5.0 6.0" : "4.00 5.00 6.00";
        for (int input = 0; input < 3; ++input)
            EXPECT_EQ(shown[input], input == filled ? expected : "  ") << r.subunit << " input " << input;
    }
    // Fewer than six records are no measurement telegram.
    const std::optional<Readout> shortAnswer = ParseAnswerLine(head + three);
    ASSERT_TRUE(shortAnswer.has_value());
    AnalogPageFields page;
    EXPECT_FALSE(ReadAnalogAnswer(*shortAnswer, kEnglish, page).has_value());
}

TEST_F(AnalogPage, ParameterTelegramFillsParametersAndKeepsTheValues) {
    // PT1000 slot (bytes 4-5): a 200, b -100, t -1234 with firmware 1.1.
    const struct {
        const char* firmware;
        int languageId;
        const char *ta, *tb, *tc, *current;
    } rows[] = {
        {"11", kEnglish, "200", "-100", "-123.4", "12.000"},
        {"11", kGerman, "200", "-100", "-123,4", "12,000"},
        // Firmware 0 reads V1 alone: t 2Eh = 46, a 8h = -8, b Ch = -4.
        {"00", kEnglish, "-8", "-4", "4.6", "12.000"},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        AddSlave(std::string("module=analog man=VND primary=3 a1=1/2/4 a2=3/-7/-5 sensor=pt1000 minmax=temp "
                             "current=12000 v1=2E8C00000000 v2=FBC900000000 firmware=") +
                 r.firmware);
        AnalogPageFields page;
        ASSERT_TRUE(ReadAnalogAnswer(Measurement(), r.languageId, page).has_value());
        const AnalogPageFields measured = page;

        const Readout readout = Parameters();
        ASSERT_FALSE(readout.records.empty());
        EXPECT_EQ(readout.records.front().descriptor, kParameterSetDescriptor);
        const std::optional<AnalogReadoutResult> out = ReadAnalogAnswer(readout, r.languageId, page);
        ASSERT_TRUE(out.has_value());
        EXPECT_EQ(out->telegram, AnalogTelegram::kParameters);
        EXPECT_FALSE(out->followUp);

        EXPECT_EQ(page.temperature.sensorEntry, kSensorPt1000);
        EXPECT_EQ(page.minMax, MinMaxChoice::kTemperature);
        EXPECT_EQ(page.inputs[0].a, "1");
        EXPECT_EQ(page.inputs[0].b, "2");
        EXPECT_EQ(page.inputs[0].c, "4");
        EXPECT_EQ(page.inputs[1].a, "3");
        EXPECT_EQ(page.inputs[1].b, "-7");
        EXPECT_EQ(page.inputs[1].c, "-5");
        EXPECT_EQ(page.current, r.current);
        EXPECT_EQ(page.v1, 0x2E8C00000000u);
        EXPECT_EQ(page.v2, 0xFBC900000000u);
        EXPECT_EQ(page.temperature.a, r.ta) << r.firmware;
        EXPECT_EQ(page.temperature.b, r.tb) << r.firmware;
        EXPECT_EQ(page.temperature.c, r.tc) << r.firmware;
        // Values, units and min/max of the measurement stay.
        EXPECT_EQ(page.inputs[0].value, measured.inputs[0].value);
        EXPECT_EQ(page.temperature.min, measured.temperature.min);
        EXPECT_EQ(page.inputs[1].unitEntry, measured.inputs[1].unitEntry);
    }
}

TEST_F(AnalogPage, ModeByteOfTheParameterTelegramSelectsSensorAndMinMax) {
    const struct {
        const char* sensor;
        const char* minmax;
        int entry;
        MinMaxChoice choice;
    } rows[] = {
        {"pt100", "a1", kSensorPt100, MinMaxChoice::kA1},
        {"pt500", "a2", kSensorPt500, MinMaxChoice::kA2},
        {"pt1000", "temp", kSensorPt1000, MinMaxChoice::kTemperature},
        {"rawpt100", "a2", kSensorRawPt100, MinMaxChoice::kA2},
        {"rawpt500", "temp", kSensorRawPt500Pt1000, MinMaxChoice::kTemperature},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        AddSlave(std::string("module=analog man=KTR primary=3 sensor=") + r.sensor + " minmax=" + r.minmax);
        AnalogPageFields page;
        ASSERT_TRUE(ReadAnalogAnswer(Parameters(), kEnglish, page).has_value());
        EXPECT_EQ(page.temperature.sensorEntry, r.entry) << r.sensor;
        EXPECT_EQ(page.minMax, r.choice) << r.minmax;
    }
}

// ---------------------------------------------------------------------------
// Writes applied to the module and read back

TEST_F(AnalogPage, InputWritesReadBack) {
    AddSlave("module=analog man=VND primary=3 firmware=11 x1=1000 x2=1000 sensor=pt500");
    AnalogPageFields page = WithInput(Page(kSensorPt1000, MinMaxChoice::kA2), 0, 0x3B, "1", "-2", "-5");
    Apply(WriteA1Text(page));
    AnalogPageFields back = ReadBack();
    EXPECT_EQ(back.inputs[0].unitEntry, 0x3B);
    EXPECT_EQ(back.inputs[0].a + "/" + back.inputs[0].b + "/" + back.inputs[0].c, "1/-2/-5");
    EXPECT_EQ(back.inputs[0].value, "-505.00");  // 1 / -2 x 1000 - 5
    EXPECT_EQ(back.temperature.sensorEntry, kSensorPt1000);
    EXPECT_EQ(back.minMax, MinMaxChoice::kA2);
    EXPECT_EQ(back.inputs[1].a + "/" + back.inputs[1].b + "/" + back.inputs[1].c, "1/1/0") << "A2 unchanged";

    page = WithInput(Page(kSensorRawPt100, MinMaxChoice::kTemperature), 1, 0x5B, "255", "127", "-128");
    Apply(WriteA2Text(page));
    back = ReadBack();
    EXPECT_EQ(back.inputs[1].unitEntry, 0x5B);
    EXPECT_EQ(back.inputs[1].a + "/" + back.inputs[1].b + "/" + back.inputs[1].c, "255/127/-128");
    EXPECT_EQ(back.inputs[0].a + "/" + back.inputs[0].b + "/" + back.inputs[0].c, "1/-2/-5") << "A1 unchanged";
    EXPECT_EQ(back.inputs[0].unitEntry, 0x3B);
    EXPECT_EQ(back.temperature.sensorEntry, kSensorRawPt100);
    EXPECT_EQ(back.minMax, MinMaxChoice::kTemperature);

    // A unit entry the module cannot take keeps its unit.
    page = WithInput(Page(kSensorRawPt100, MinMaxChoice::kTemperature), 1, 124, "2", "1", "0");
    Apply(WriteA2Text(page));
    back = ReadBack();
    EXPECT_EQ(back.inputs[1].unitEntry, 0x5B);
    EXPECT_EQ(back.inputs[1].a + "/" + back.inputs[1].b, "2/1");
}

TEST_F(AnalogPage, CurrentWriteReadsBack) {
    AddSlave("module=analog man=VND primary=3 firmware=11 current=4000");
    for (const auto& [written, language, read] :
         {std::tuple{"20", kEnglish, "20.000"}, std::tuple{"12,345", kGerman, "12,345"},
          std::tuple{"7.5", kEnglish, "7.500"}}) {
        AnalogPageFields page = Page(kSensorPt100, MinMaxChoice::kA1);
        page.current = written;
        Apply(WriteCurrentText(page));
        EXPECT_EQ(ReadBack(language).current, read) << written;
    }
}

TEST_F(AnalogPage, TemperatureWriteReadsBackForEachSensorAndFirmware) {
    const struct {
        const char* firmware;
        int sensor;
        const char *a, *b, *c;
    } rows[] = {
        {"11", kSensorPt100, "200", "-100", "-123.4"},
        {"11", kSensorPt500, "1", "2", "20.5"},
        {"11", kSensorPt1000, "255", "127", "3276.7"},
        {"11", kSensorRawPt100, "0", "-128", "-3276.8"},
        {"11", kSensorRawPt500Pt1000, "17", "-1", "0.1"},
        {"00", kSensorPt100, "-8", "7", "-12.8"},
        {"00", kSensorPt500, "7", "-8", "12.7"},
        {"00", kSensorPt1000, "-3", "-5", "-0.5"},
        {"00", kSensorRawPt100, "0", "0", "0.0"},
        {"00", kSensorRawPt500Pt1000, "2", "-1", "1.5"},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        AddSlave(std::string("module=analog man=VND primary=3 v1=0123456789AB v2=BA9876543210 firmware=") + r.firmware);
        // The page holds V1 and V2 of a readout before the write.
        AnalogPageFields page = ReadBack();
        page.temperature.sensorEntry = r.sensor;
        page.minMax = MinMaxChoice::kA2;
        page.temperature.a = r.a;
        page.temperature.b = r.b;
        page.temperature.c = r.c;
        const TemperatureWrite w = WriteTemperature(page);
        Apply(w.pendingRecords2);
        Apply(w.pendingRecords1);

        const AnalogPageFields back = ReadBack();
        EXPECT_EQ(back.temperature.sensorEntry, r.sensor) << r.firmware << " " << r.sensor;
        EXPECT_EQ(back.minMax, MinMaxChoice::kA2);
        EXPECT_EQ(back.temperature.a, r.a) << r.firmware << " " << r.sensor;
        EXPECT_EQ(back.temperature.b, r.b) << r.firmware << " " << r.sensor;
        EXPECT_EQ(back.temperature.c, r.c) << r.firmware << " " << r.sensor;
        // Only the sensor's slot changed; firmware 0 leaves V2 alone.
        const int slot = CalibrationSlot(r.sensor);
        for (int other = 0; other < 3; ++other) {
            if (other == slot) continue;
            EXPECT_EQ(SlotOf(back.v1, other), SlotOf(0x0123456789AB, other));
            EXPECT_EQ(SlotOf(back.v2, other), SlotOf(0xBA9876543210, other));
        }
        if (std::string(r.firmware) == "00") {
            EXPECT_EQ(back.v2, 0xBA9876543210u);
        }
    }
}

}  // namespace
}  // namespace mbus::meridex
