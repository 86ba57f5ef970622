// The Pulse page's logic: the field-exit rules, the unit box, the raw
// counter, the four record texts byte for byte, the readout of answers of
// the simulated Pulse module through the real telegram log, and write texts
// applied to the module and read back.

#include "configurator/devices/pulse_page.h"

#include <gtest/gtest.h>

#include "tests/configurator/answer_lines.h"

namespace mbus::meridex {
namespace {

constexpr int kEnglishId = 1;
constexpr int kGermanId = 49;

// Subunit, tariff and storage of a record descriptor, all zero.
#define ZEROS "00000000" "00000000" "0000000000000000"

const std::string kHead = "5|1|||20240102030405|";

// A Pulse header as the Hex2 text has it, with identification 11223344,
// medium 07 and the status byte given.
std::string PulseHeader(const std::string& status) {
    return "030101" "08" "01" "72" "11223344" "VND95" "00" + status + "0013" "07" "Water" "|";
}

// The fields of an input as a test gives them.
PulseInputFields Fields(const char* serial, int medium, int unit, const char* counter, const char* numerator,
                        const char* denominator) {
    PulseInputFields f;
    f.serial = serial;
    f.mediumEntry = medium;
    f.unitEntry = unit;
    f.counter = counter;
    f.numerator = numerator;
    f.denominator = denominator;
    return f;
}

// What one input of a readout is expected to show.
struct Shown {
    bool filled;
    const char* serial;
    int medium;
    int unit;
    const char* counter;
    const char* numerator;
    const char* denominator;
    const char* factor;
};
const Shown kNotShown = {false, "", -1, -1, "", "", "", ""};

void ExpectShown(const PulseInputReadout& in, const Shown& s, const std::string& what) {
    EXPECT_EQ(in.filled, s.filled) << what;
    EXPECT_EQ(in.serial, s.serial) << what;
    EXPECT_EQ(in.mediumEntry, s.medium) << what;
    EXPECT_EQ(in.unitEntry, s.unit) << what;
    EXPECT_EQ(in.counter, s.counter) << what;
    EXPECT_EQ(in.numerator, s.numerator) << what;
    EXPECT_EQ(in.denominator, s.denominator) << what;
    EXPECT_EQ(in.factorResult, s.factor) << what;
}

// ---------------------------------------------------------------------------
// Field exit

TEST(PulseFields, SerialKeepsDigitsOnlyAndIsFilledUpTo8) {
    const struct {
        const char* typed;
        const char* shown;
    } rows[] = {
        {"1234", "12340000"},         {"12345678", "12345678"}, {"", "00000000"},
        {"12-34 56", "12345600"},     {"abc", "00000000"},      {"123456789", "12345678"},
        {"00000042", "00000042"},     {" 9x8y7", "98700000"},
    };
    for (const auto& r : rows) EXPECT_EQ(NormalisedSerial(r.typed), r.shown) << '"' << r.typed << '"';
}

TEST(PulseFields, LeavingAFactorFieldClampsBothAndRecomputesTheResult) {
    const struct {
        const char* numerator;
        const char* denominator;
        const char* n;
        const char* d;
        const char* result;
    } rows[] = {
        {"0", "0", "1", "1", "1.000"},
        {"300", "300", "255", "127", "2.008"},
        {"0", "300", "1", "127", "0.008"},
        {"300", "0", "255", "1", "255.000"},
        {"10", "3", "10", "3", "3.333"},
        {"255", "127", "255", "127", "2.008"},
        {"1", "1", "1", "1", "1.000"},
        {"256", "128", "255", "127", "2.008"},
        // A sign and blanks around the number are read.
        {"-5", "-1", "1", "1", "1.000"},
        {" 7", "+2 ", "7", "2", "3.500"},
        {"99999999999", "2", "255", "2", "127.500"},
        // A field that is no whole number stays as typed (a write refuses
        // it); the other is clamped, and no result is shown.
        {"", "", "", "", ""},
        {"abc", "x1", "abc", "x1", ""},
        {"12a", "5b", "12a", "5b", ""},
        {"300", "5b", "255", "5b", ""},
        {"2.5", "0", "2.5", "1", ""},
        {"", "300", "", "127", ""},
    };
    for (const auto& r : rows) {
        PulseInputFields f = Fields("12345678", 7, 2, "1000", r.numerator, r.denominator);
        ClampFactor(f, kEnglishId);
        const std::string what = std::string(r.numerator) + "/" + r.denominator;
        EXPECT_EQ(f.numerator, r.n) << what;
        EXPECT_EQ(f.denominator, r.d) << what;
        EXPECT_EQ(f.factorResult, r.result) << what;
        EXPECT_EQ(f.counter, "1000") << what;  // other fields stay
    }
    // The result in the language's notation.
    for (const auto& [languageId, result] :
         {std::pair{kGermanId, "3,333"}, std::pair{7, "3,333"}, std::pair{44, "3.333"}}) {
        PulseInputFields f = Fields("12345678", 7, 2, "1000", "10", "3");
        ClampFactor(f, languageId);
        EXPECT_EQ(f.factorResult, result) << languageId;
    }
}

// ---------------------------------------------------------------------------
// Unit box

TEST(PulseUnits, UnitEntryToVifOnWriting) {
    const struct {
        int entry;
        int vif;
    } rows[] = {
        {0, 0x03},   {1, 0x06},   {2, 0x13},   {3, 0x16},   {4, 0x00},   {5, 0x01},   {7, 0x03},
        {23, 0x13},  {126, 0x7A}, {127, 0x7E}, {128, 0x7E}, {129, 0x7E}, {130, 0x7E}, {131, 0x7E},
        {132, 0x7F}, {-1, 0x00},
    };
    for (const auto& r : rows) EXPECT_EQ(UnitEntryToVif(r.entry), r.vif) << "entry " << r.entry;
}

TEST(PulseUnits, VifToUnitEntryOnReading) {
    const struct {
        int vif;
        int entry;
    } rows[] = {
        {0x03, 0}, {0x06, 1}, {0x13, 2}, {0x16, 3}, {0x00, 4}, {0x02, 6}, {0x14, 24}, {0x7E, 130}, {0x7F, 131},
    };
    for (const auto& r : rows) EXPECT_EQ(VifToUnitEntry(r.vif), r.entry) << "VIF " << r.vif;
}

TEST(PulseUnits, EveryUnitThatCanBeWrittenReadsBackAsItsEntry) {
    for (int entry = 0; entry < kPulseUnitEntries; ++entry) {
        const int vif = UnitEntryToVif(entry);
        ASSERT_GE(vif, 0x00);
        ASSERT_LE(vif, 0x7F);
        const int back = VifToUnitEntry(vif);
        if (entry == 127 || entry == 128 || entry == 129 || entry == 131) {
            EXPECT_EQ(back, 130) << entry;  // written as 7E
        } else if (vif == 0x03 || vif == 0x06 || vif == 0x13 || vif == 0x16) {
            EXPECT_LT(back, kPulseNamedUnits) << entry;  // the named unit of the same VIF
        } else {
            EXPECT_EQ(back, entry);
        }
    }
}

// ---------------------------------------------------------------------------
// Raw counter

TEST(PulseRawCounter, MultiplyFirstThenDivideAndKeep48Bits) {
    const struct {
        const char* counter;
        int numerator;
        int denominator;
        uint64_t raw;
    } rows[] = {
        {"1000", 10, 1, 100},
        {"1000", 1, 10, 10000},
        {"7", 2, 1, 3},                     // truncated
        {"10", 3, 3, 10},                   // multiplied first: 10 x 3 / 3, not 10 / 3 x 3
        {"123456789", 255, 127, 61486322},
        {"281474976710655", 1, 1, 281474976710655},
        {"281474976710656", 1, 1, 0},       // bit 48 is cut
        {"281474976710657", 1, 1, 1},
        // 999999999999999999 x 127 does not fit 64 bits: the exact quotient's low
        // 48 bits (a 64-bit product would give 243115782596185).
        {"999999999999999999", 10, 127, 130525791911923},
        {"999999999999999999", 1, 127, 179358012276609},
        {"", 1, 1, 0},
        {"abc", 1, 1, 0},
        {"12abc", 1, 1, 12},
        {" 42", 1, 1, 42},
        {"-1", 1, 1, 0xFFFFFFFFFFFF},
        {"5", 0, 0, 5},                     // factor fields not yet clamped count as 1
        {"99999999999999999999", 1, 1, 0xFFFFFFFFFFFF},  // saturates at 2^63 - 1
    };
    for (const auto& r : rows)
        EXPECT_EQ(RawCounter(r.counter, r.numerator, r.denominator), r.raw)
            << r.counter << " x " << r.denominator << " / " << r.numerator;
}

// ---------------------------------------------------------------------------
// Record texts

TEST(PulseWriteTexts, EveryTextByteForByte) {
    const PulseInputFields a = Fields("12345678", 7, 2, "1000", "10", "1");
    // Serial 1234, medium "Disabled", unit entry 131 (VIF 7F), an 18-digit
    // counter, factor fields 0 and 300 not yet clamped.
    const PulseInputFields b = Fields("1234", 31, 131, "999999999999999999", "0", "300");
    const PulseInputFields c = Fields("87654321", 0, 0, "123456789", "255", "127");
    const struct {
        const char* name;
        bool all;
        int input;
        PulseInputFields fields;
        const char* text;
    } rows[] = {
        {"serial, input 1", false, 1, a,
         "01 7A FF 07 79 78563412 C4 59 95 07 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 13 "
         "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF"},
        {"all, input 1", true, 1, a,
         "01 7A FF 07 79 78563412 C4 59 95 07 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 0A01 82 40 86 28 00 00 06 "
         "13640000000000 86 40 06 FF FF FF FF FF FF"},
        {"serial, input 2", false, 2, a,
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 78563412 C4 59 95 07 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 13 FF FF FF FF FF FF"},
        {"all, input 2", true, 2, a,
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 78563412 C4 59 95 07 02 86 28 00 00 82 40 86 280A01 06 06 "
         "FF FF FF FF FF FF 86 4013640000000000"},
        {"serial, input 1, edges", false, 1, b,
         "01 7A FF 07 79 00003412 C4 59 95 1F 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 00 00 82 40 86 28 00 00 06 7E "
         "FF FF FF FF FF FF 86 40 06 FF FF FF FF FF FF"},
        {"all, input 1, edges", true, 1, b,
         "01 7A FF 07 79 00003412 C4 59 95 1F 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 017F 82 40 86 28 00 00 06 "
         "7E81FF9B0A20A3 86 40 06 FF FF FF FF FF FF"},
        {"serial, input 2, edges", false, 2, b,
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 00003412 C4 59 95 1F 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 7E FF FF FF FF FF FF"},
        {"all, input 2, edges", true, 2, b,
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 00003412 C4 59 95 1F 02 86 28 00 00 82 40 86 28017F 06 06 "
         "FF FF FF FF FF FF 86 407E81FF9B0A20A3"},
        {"all, input 1, Wh", true, 1, c,
         "01 7A FF 07 79 21436587 C4 59 95 00 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 FF7F 82 40 86 28 00 00 06 "
         "03F234AA030000 86 40 06 FF FF FF FF FF FF"},
        {"serial, input 2, Wh", false, 2, c,
         "01 7A FF 07 79 FF FF FF FF FF FF FF FF 87 40 79 21436587 C4 59 95 00 02 86 28 00 00 82 40 86 28 00 00 06 06 "
         "FF FF FF FF FF FF 86 40 03 FF FF FF FF FF FF"},
        {"any other input number is input 1", true, 0, a,
         "01 7A FF 07 79 78563412 C4 59 95 07 87 40 79 FF FF FF FF FF FF FF FF 02 86 28 0A01 82 40 86 28 00 00 06 "
         "13640000000000 86 40 06 FF FF FF FF FF FF"},
    };
    for (const auto& r : rows) {
        const std::string text = r.all ? PulseWriteAllText(r.input, r.fields) : PulseWriteSerialText(r.input, r.fields);
        EXPECT_EQ(text, r.text) << r.name;
    }
}

// ---------------------------------------------------------------------------
// Readout of answers of the simulated module

class PulsePage : public ::testing::Test, public test::AnswerLines {
protected:
    // Parses an answer line and reads it as the Pulse page does; the page
    // type must agree with the result parser's.
    std::optional<PulseReadout> PulseOf(const std::string& line) {
        const std::optional<Readout> r = ParseAnswerLine(line);
        EXPECT_TRUE(r.has_value()) << line;
        if (!r) return std::nullopt;
        std::optional<PulseReadout> out = ReadPulse(*r, kEnglishId);
        EXPECT_TRUE(out.has_value()) << line;
        if (out) {
            EXPECT_EQ(out->page, r->page) << line;
        }
        return out;
    }
    // A read at A as the Pulse page shows it.
    std::optional<PulseReadout> PulseAt(uint8_t A) { return PulseOf(ReadLine(A)); }
};

TEST_F(PulsePage, AnswerWithBothInputsFillsBoth) {
    const std::string line = AnswerOf(
        "module=pulse man=VND primary=1 id=11223344 unit1=06 count1=1000 factor1=10/3 id2=55667788 medium2=02 "
        "unit2=16 count2=123456789012 factor2=255/127",
        1);
    const std::optional<PulseReadout> out = PulseOf(line);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->page, kPagePulseBoth);
    // Counters are raw x N / D: 1000 x 10 / 3 and 123456789012 x 255 / 127.
    ExpectShown(out->input[0], {true, "11223344", 0x07, 1, "3333", "10", "3", "3.333"}, "input 1");
    ExpectShown(out->input[1], {true, "55667788", 0x02, 3, "247885678724", "255", "127", "2.008"}, "input 2");
}

TEST_F(PulsePage, AnswerSelectedByInput2CarriesInput2Alone) {
    AddSlave("module=pulse man=KTR primary=1 id=11223344 unit1=13 count1=5 id2=55667788 medium2=03 unit2=3B "
             "count2=77 factor2=2/1");
    ASSERT_EQ(Select("88 77 66 55 92 2E 05 03"), Bytes{0xE5});  // input 2's secondary address
    const std::optional<PulseReadout> out = PulseAt(253);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->page, kPagePulseInput2);
    ExpectShown(out->input[0], kNotShown, "input 1");
    ExpectShown(out->input[1], {true, "55667788", 0x03, 0x3B + 4, "154", "2", "1", "2.000"}, "input 2");
}

TEST_F(PulsePage, AnswerSelectedByInput1OrWithInput2DisabledCarriesInput1Alone) {
    AddSlave("module=pulse man=VND primary=1 id=11223344 unit1=7F count1=1000 factor1=1/4 medium2=1F");
    const struct {
        const char* name;
        std::string selection;
        uint8_t address;
    } rows[] = {
        {"read at the primary address", "", 1},
        {"selected by input 1", "44 33 22 11 C4 59 95 07", 253},
    };
    for (const auto& r : rows) {
        if (!r.selection.empty()) {
            ASSERT_EQ(Select(r.selection), Bytes{0xE5}) << r.name;
        }
        const std::optional<PulseReadout> out = PulseAt(r.address);
        ASSERT_TRUE(out.has_value()) << r.name;
        EXPECT_EQ(out->page, kPagePulseInput1) << r.name;
        ExpectShown(out->input[0], {true, "11223344", 0x07, 131, "250", "1", "4", "0.250"}, r.name);
        ExpectShown(out->input[1], kNotShown, r.name);
    }
}

// Text of exactly n characters after record 2: one counter record of input 2.
std::string Rest(std::size_t n) {
    std::string r = "00000001" "00000000" "0000000000000000" "060016" "|";
    r += std::string(n - r.size() - 1, '7');
    return r + "|";
}

TEST(ReadPulse, LiteralAnswersAtTheEdges) {
    const std::string input1 = ZEROS "060013" "|10000|" ZEROS "02008628" "|266|";
    const std::string input2 = "00000001" "00000000" "0000000000000000" "060016" "|42|"
                               "00000001" "00000000" "0000000000000000" "02008628" "|1282|";
    const struct {
        const char* name;
        std::string status;
        std::string records;
        std::optional<PageType> page;
        Shown first;
        Shown second;
    } rows[] = {
        {"one input", "00", input1, kPagePulseInput1, {true, "11223344", 7, 2, "10000", "10", "1", "10.000"},
         kNotShown},
        {"one input, status 01", "01", input1, kPagePulseInput2, kNotShown,
         {true, "11223344", 7, 2, "10000", "10", "1", "10.000"}},
        // Record 5 signed as the decoder may show it: medium FF, serial FFFFFFFF.
        {"both inputs, negative address", "00", input1 + input2 + "00000001" "00000000" "0000000000000000" "070079" "|-1|",
         kPagePulseBoth, {true, "11223344", 7, 2, "10000", "10", "1", "10.000"},
         {true, "FFFFFFFF", 0xFF, 3, "42", "2", "5", "0.400"}},
        {"both inputs, status 01 ignored", "01",
         input1 + input2 + "00000001" "00000000" "0000000000000000" "070079" "|186153659386984328|", kPagePulseBoth,
         {true, "11223344", 7, 2, "10000", "10", "1", "10.000"},
         {true, "55667788", 2, 3, "42", "2", "5", "0.400"}},
        // Enough text for both inputs but no address record: input 2 keeps no serial.
        {"both inputs, no record 5", "00", input1 + input2 + "0000000100000000", kPagePulseBoth,
         {true, "11223344", 7, 2, "10000", "10", "1", "10.000"}, {true, "", -1, 3, "42", "2", "5", "0.400"}},
        // 60 characters after record 2 are one input, 61 both.
        {"60 characters after record 2", "00", input1 + Rest(60), kPagePulseInput1,
         {true, "11223344", 7, 2, "10000", "10", "1", "10.000"}, kNotShown},
        {"61 characters after record 2", "01", input1 + Rest(61), kPagePulseBoth,
         {true, "11223344", 7, 2, "10000", "10", "1", "10.000"}, {true, "", -1, 3, "777777777777777777777", "", "", ""}},
        // Factor word 5: denominator 0, no result.
        {"denominator 0", "00", ZEROS "060013" "|10000|" ZEROS "02008628" "|5|", kPagePulseInput1,
         {true, "11223344", 7, 2, "10000", "5", "0", ""}, kNotShown},
        {"40 characters, no whole record", "00", ZEROS "060013" "|5", kPagePulseInput1,
         {true, "11223344", 7, -1, "", "", "", ""}, kNotShown},
        {"39 characters", "00", ZEROS "060013" "|", std::nullopt, kNotShown, kNotShown},
    };
    for (const auto& r : rows) {
        Readout readout;
        readout.kind = kModulePulse;
        readout.header.identification = "11223344";
        readout.header.medium = "07";
        readout.header.status = r.status;
        readout.recordText = r.records;
        readout.records = SplitRecords(r.records);
        const std::optional<PulseReadout> out = ReadPulse(readout, kEnglishId);
        ASSERT_EQ(out.has_value(), r.page.has_value()) << r.name;
        if (!out) continue;
        EXPECT_EQ(out->page, *r.page) << r.name;
        ExpectShown(out->input[0], r.first, std::string(r.name) + ", input 1");
        ExpectShown(out->input[1], r.second, std::string(r.name) + ", input 2");
        // The same records behind a real header give the parser's page.
        const std::optional<Readout> parsed = ParseAnswerLine(kHead + PulseHeader(r.status) + r.records);
        ASSERT_TRUE(parsed.has_value()) << r.name;
        EXPECT_EQ(parsed->page, *r.page) << r.name;
    }
}

TEST(ReadPulse, OnlyAPulseAnswerIsRead) {
    const std::string records = ZEROS "060013" "|10000|" ZEROS "02008628" "|266|";
    for (const ModuleKind kind : {kModuleUnknown, kModuleAnalog, kModuleControl}) {
        Readout r;
        r.kind = kind;
        r.recordText = records;
        r.records = SplitRecords(records);
        EXPECT_FALSE(ReadPulse(r, kEnglishId).has_value()) << kind;
    }
}

// ---------------------------------------------------------------------------
// Round trips: a write text applied to the module, then read back

TEST_F(PulsePage, WriteAllThenReadBackGivesTheWrittenValues) {
    AddSlave("module=pulse man=VND primary=5 id=11223344 id2=55667788 medium2=02");
    const struct {
        const char* name;
        int input;
        PulseInputFields fields;
        Shown shown;
    } rows[] = {
        {"input 1, litres", 1, Fields("1234", 3, 2, "1000", "10", "1"),
         {true, "12340000", 3, 2, "1000", "10", "1", "10.000"}},
        {"input 2, kWh", 2, Fields("87654321", 4, 1, "254", "127", "127"),
         {true, "87654321", 4, 1, "254", "127", "127", "1.000"}},
        {"input 1, VIF 7F written as 7E", 1, Fields("00000001", 0, 131, "25500", "255", "1"),
         {true, "00000001", 0, 130, "25500", "255", "1", "255.000"}},
        {"input 2, a VIF entry, clamped factor", 2, Fields("99999999", 31 - 1, 4 + 0x3B, "600", "0", "300"),
         {true, "99999999", 30, 4 + 0x3B, "600", "1", "127", "0.008"}},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(Write(5, PulseWriteAllText(r.input, r.fields)), Bytes{0xE5}) << r.name;
        const std::optional<PulseReadout> out = PulseAt(5);
        ASSERT_TRUE(out.has_value()) << r.name;
        EXPECT_EQ(out->page, kPagePulseBoth) << r.name;
        ExpectShown(out->input[r.input - 1], r.shown, r.name);
    }
}

TEST_F(PulsePage, WriteSerialChangesAddressMediumAndUnitButNotTheCounter) {
    AddSlave("module=pulse man=KTR primary=5 id=11223344 unit1=13 count1=100 factor1=10/1 id2=55667788 medium2=02 "
             "unit2=16 count2=7");
    std::optional<PulseReadout> out = PulseAt(5);
    ASSERT_TRUE(out.has_value());
    const Shown untouched1 = {true, "11223344", 7, 2, "1000", "10", "1", "10.000"};
    ExpectShown(out->input[0], untouched1, "input 1 before");
    ExpectShown(out->input[1], {true, "55667788", 2, 3, "7", "1", "1", "1.000"}, "input 2 before");

    ASSERT_EQ(Write(5, PulseWriteSerialText(2, Fields("246", 6, 0, "999", "9", "9"))), Bytes{0xE5});
    out = PulseAt(5);
    ASSERT_TRUE(out.has_value());
    ExpectShown(out->input[0], untouched1, "input 1 after writing input 2");
    ExpectShown(out->input[1], {true, "24600000", 6, 0, "7", "1", "1", "1.000"}, "input 2");

    ASSERT_EQ(Write(5, PulseWriteSerialText(1, Fields("13572468", 9, 3, "999", "9", "9"))), Bytes{0xE5});
    out = PulseAt(5);
    ASSERT_TRUE(out.has_value());
    ExpectShown(out->input[0], {true, "13572468", 9, 3, "1000", "10", "1", "10.000"}, "input 1");
    ExpectShown(out->input[1], {true, "24600000", 6, 0, "7", "1", "1", "1.000"}, "input 2 after writing input 1");
}

TEST_F(PulsePage, Input2WrittenAsDisabledIsNoLongerRead) {
    AddSlave("module=pulse man=VND primary=5 id=11223344 id2=55667788 medium2=02");
    ASSERT_EQ(Write(5, PulseWriteSerialText(2, Fields("55667788", 31, 2, "", "1", "1"))), Bytes{0xE5});
    const std::optional<PulseReadout> out = PulseAt(5);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out->page, kPagePulseInput1);
    EXPECT_FALSE(out->input[1].filled);
}

}  // namespace
}  // namespace mbus::meridex
