// The result parser: finding the answer to the read request in the
// telegram log, identifying the module variant, the header fields, the
// Pulse page types, the follow-up flag of the Analog module and the version
// label of the group captions.
//
// Most answer lines are made the way the program meets them: a simulated
// module answers a REQ_UD2, the answer goes into a real telegram log behind
// its script line, and the log renders it as cooked Hex2 text. A few
// literal lines cover the edges no module produces.

#include "configurator/devices/result_parser.h"

#include <gtest/gtest.h>

#include "configurator/shell/text_table.h"
#include "tests/configurator/answer_lines.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::meridex {
namespace {

using Bytes = std::vector<uint8_t>;

// Subunit, tariff and storage of a record descriptor, all zero.
#define ZEROS "00000000" "00000000" "0000000000000000"

// The head of a log entry for "5|1||": script line, time stamp.
const std::string kHead = "5|1|||20240102030405|";

// A header as the Hex2 text has it: C field, address, CI, id, maker and
// version, access number, status, signature, medium and its name.
std::string Header(const std::string& address, const std::string& id, const std::string& makerVersion,
                   const std::string& status, const std::string& signature, const std::string& medium,
                   const std::string& name) {
    return "030101" "08" + address + "72" + id + makerVersion + "00" + status + signature + medium + name + "|";
}

// One Pulse input: counter 10000 l, factor 10/1.
const std::string kOneInput = ZEROS "060013" "|10000|" ZEROS "02008628" "|266|";

class ResultParser : public ::testing::Test, public test::AnswerLines {};

// ---------------------------------------------------------------------------
// Finding the answer

TEST_F(ResultParser, AnswerIsFoundPastTheEntriesOfOtherCommands) {
    AddSlave("module=pulse man=VND primary=1 id=11223344 firmware=13");
    Log("0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|", {}, 0);
    Log("8||Standard: 11223344,59C4,FF,FF|", Select("44 33 22 11 C4 59 95 07"));
    Log("7|253||51 01 7A FF", Send(253, "51 01 7A FF"));
    Log("5|253||", Read(253));
    Log("20|||", Exchange(sim::test::ShortFrame(0x40, 253)));
    Log("16|||", {}, 0);

    // The entries before the answer belong to other commands, each with its own tail.
    ASSERT_EQ(Entry(0).substr(0, 2), "0|");
    ASSERT_EQ(Entry(1).substr(0, 2), "8|");
    ASSERT_EQ(Entry(2).substr(0, 2), "7|");
    const std::optional<std::string> line = Find();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(*line, Entry(3));
    EXPECT_EQ(line->substr(0, 8), "5|253|||");

    const std::optional<Readout> r = ParseAnswerLine(*line);
    ASSERT_TRUE(r.has_value()) << *line;
    EXPECT_EQ(r->kind, kModulePulse);
    EXPECT_EQ(r->page, kPagePulseInput1);
    EXPECT_EQ(r->header.identification, "11223344");
}

TEST_F(ResultParser, EmptyLogHasNoAnswer) {
    EXPECT_FALSE(Find().has_value());
}

TEST_F(ResultParser, LogWithoutAReadRequestHasNoAnswer) {
    Log("0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|", {}, 0);
    Log("7|254||51 01 7A FF", {});
    Log("16|||", {}, 0);
    EXPECT_FALSE(Find().has_value());
}

TEST(FindAnswerLine, StopsAtTheFirstEmptyEntry) {
    const std::vector<std::string> entries = {"0||COM1,2400|20240102030405|0", "", "5|1|||20240102030405|0301"};
    std::vector<int> asked;
    const auto line = FindAnswerLine([&](int i) {
        asked.push_back(i);
        return i < static_cast<int>(entries.size()) ? entries[i] : std::string();
    });
    EXPECT_FALSE(line.has_value());
    EXPECT_EQ(asked, (std::vector<int>{0, 1}));
}

TEST(FindAnswerLine, TakesTheFirstEntryBeginningWith5) {
    const struct {
        std::vector<std::string> entries;
        std::optional<std::string> line;
    } rows[] = {
        {{"5|5|||s|only"}, "5|5|||s|only"},
        {{"8||Standard: x|s|", "7|5||51|s|", "5|5|||s|first", "5|5|||s|second"}, "5|5|||s|first"},
        {{"1|10|||s|0", "5|254|||s|", "16||||s|0"}, "5|254|||s|"},
        {{"0||COM1|s|0", "7|5||51|s|", "16||||s|0"}, std::nullopt},
    };
    for (const auto& r : rows) {
        const auto line = FindAnswerLine([&](int i) {
            return i < static_cast<int>(r.entries.size()) ? r.entries[i] : std::string();
        });
        EXPECT_EQ(line, r.line) << r.entries.front();
    }
}

// ---------------------------------------------------------------------------
// Identification and header

TEST_F(ResultParser, EachOfTheSixVariantsIsIdentified) {
    const struct {
        const char* slave;
        uint8_t address;
        const char* code;
        ModuleKind kind;
        PageType page;
        const char* firmware;
    } rows[] = {
        {"module=pulse man=VND primary=1", 1, "VND95", kModulePulse, kPagePulseBoth, "VND149"},
        {"module=pulse man=KTR primary=1", 1, "KTR05", kModulePulse, kPagePulseBoth, "KTR005"},
        {"module=analog man=VND primary=3", 3, "VND96", kModuleAnalog, kPageAnalog, "VND150"},
        {"module=analog man=KTR primary=3", 3, "KTR15", kModuleAnalog, kPageAnalog, "KTR021"},
        {"module=control man=VND primary=2", 2, "VND97", kModuleControl, kPageControl, "VND151"},
        {"module=control man=KTR primary=2", 2, "KTR35", kModuleControl, kPageControl, "KTR053"},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        const std::string line = AnswerOf(r.slave, r.address);
        const std::optional<Readout> out = ParseAnswerLine(line);
        ASSERT_TRUE(out.has_value()) << line;
        ASSERT_NE(out->variant, nullptr);
        EXPECT_STREQ(out->variant->code, r.code) << r.slave;
        EXPECT_EQ(out->kind, r.kind) << r.slave;
        EXPECT_EQ(out->page, r.page) << r.slave;
        EXPECT_EQ(FirmwareName(*out->variant), r.firmware) << r.slave;
    }
}

TEST_F(ResultParser, HeaderFieldsComeFromTheirPositions) {
    const struct {
        const char* slave;
        uint8_t address;
        const char* primary;
        const char* id;
        const char* maker;
        const char* version;
        const char* signatureHigh;
        const char* versionText;
        int firmwareNumber;
        const char* medium;
    } rows[] = {
        {"module=pulse man=VND primary=1 id=11223344 firmware=13", 1, "1", "11223344", "VND", "95", "00", "1.3", 13,
         "07"},
        {"module=pulse man=KTR primary=17 id=00000042 signature=4221 medium=02", 17, "17", "00000042", "KTR", "05", "42",
         "2.1", 21, "02"},
        {"module=analog man=VND primary=250 id=33445566 firmware=11", 250, "250", "33445566", "VND", "96", "00", "1.1", 11,
         "19"},
        {"module=control man=KTR primary=0 id=22334455 firmware=00", 0, "0", "22334455", "KTR", "35", "00", "0.0", 0,
         "0E"},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        const std::string line = AnswerOf(r.slave, r.address);
        const std::optional<Readout> out = ParseAnswerLine(line);
        ASSERT_TRUE(out.has_value()) << line;
        const AnswerHeader& h = out->header;
        EXPECT_EQ(h.primaryAddress, r.primary) << r.slave;
        EXPECT_EQ(h.identification, r.id) << r.slave;
        EXPECT_EQ(h.manufacturer, r.maker) << r.slave;
        EXPECT_EQ(h.version, r.version) << r.slave;
        EXPECT_EQ(h.signatureHigh, r.signatureHigh) << r.slave;
        EXPECT_EQ(h.versionText, r.versionText) << r.slave;
        EXPECT_EQ(h.firmwareNumber, r.firmwareNumber) << r.slave;
        EXPECT_EQ(h.medium, r.medium) << r.slave;
    }
}

TEST_F(ResultParser, AnotherMakerFailsEvenWithAModulesVersion) {
    const char* const slaves[] = {
        "primary=5 id=12345678 man=QXA version=95 medium=07 records=0413D2040000",
        "primary=5 id=12345678 man=QXA version=96 medium=19 records=0413D2040000",
        "primary=5 id=12345678 man=QXA version=97 medium=0E records=0413D2040000",
        // The maker's own codes with the other code's version byte.
        "primary=5 id=12345678 man=KTR version=95 medium=07 records=0413D2040000",
        "primary=5 id=12345678 man=VND version=15 medium=19 records=0413D2040000",
        "primary=5 id=12345678 man=VND version=98 medium=0E records=0413D2040000",
    };
    for (const char* slave : slaves) {
        bus_.ClearSlaves();
        const std::string line = AnswerOf(slave, 5);
        ASSERT_GT(line.size(), 60u) << line;  // a whole answer, not a missing one
        EXPECT_FALSE(ParseAnswerLine(line).has_value()) << line;
    }
}

// ---------------------------------------------------------------------------
// Why a read failed

TEST_F(ResultParser, AFailedReadIsExplainedWhereTheLogTells) {
    const auto reason = [this](int manufacturerCode) {
        return ReadFailureReason([this](int i) { return Entry(i); }, manufacturerCode);
    };
    const std::string port = "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|";
    EXPECT_EQ(reason(0), "") << "an empty log tells nothing";

    // A port that did not open for the script, though it passed the port test.
    Log(port, {}, 2);
    Log("5|9||", {});
    EXPECT_EQ(reason(0), "COM1 did not open for the script (line status 2).");
    log_.Reset();

    // A read request without an answer, at each kind of address.
    Log(port, {}, 0);
    Log("5|9||", {});
    EXPECT_EQ(reason(0), "No valid answer from primary address 9.");
    log_.Reset();
    Log("5|254||", {});
    EXPECT_EQ(reason(0), "No valid answer from address 254 (optical head or broadcast).");

    // A selection that no module acknowledged: the module may be of the other maker code.
    log_.Reset();
    Log("8||Standard: 11223344,59C4,FF,FF|", {});
    Log("5|253||", {});
    EXPECT_EQ(reason(0),
              "No module acknowledged the selection of 11223344 under maker code VND; a KTR module answers only under "
              "KTR: change it in Settings.");
    EXPECT_NE(reason(1).find("under maker code KTR; a VND module answers only under VND"), std::string::npos);
    // An acknowledged selection without a valid answer to the read: most
    // likely several modules answering at once.
    AddSlave("module=pulse man=VND primary=1 id=11223344 firmware=13");
    log_.Reset();
    Log("8||Standard: 11223344,59C4,FF,FF|", Select("44 33 22 11 C4 59 95 07"));
    Log("5|253||", {});
    EXPECT_EQ(reason(0),
              "No valid answer from the selected module, though the selection was acknowledged: several modules may "
              "answer to it.");

    // An answer, but not a module's.
    bus_.ClearSlaves();
    log_.Reset();
    AnswerOf("primary=7 id=11220000 man=QXA version=01 medium=07 records=0C1378563412", 7);
    EXPECT_EQ(reason(0),
              "The answer from primary address 7 comes from QXA version 01, no module of this program (VND or KTR "
              "95/05, 96/15, 97/35).");
}

TEST_F(ResultParser, KtrAnalogShowsTheAnalogPageWithItsCaptions) {
    const std::string line = AnswerOf("module=analog man=KTR primary=3 firmware=21", 3);
    const std::optional<Readout> r = ParseAnswerLine(line);
    ASSERT_TRUE(r.has_value()) << line;
    EXPECT_EQ(r->kind, kModuleAnalog);
    EXPECT_EQ(r->page, kPageAnalog);
    const TextTable texts;
    EXPECT_EQ(CaptionWithVersion(texts.Utf8(109, kEnglish), r->header.versionText), "MERIDEX Analog V:2.1  Input A1");
    EXPECT_EQ(CaptionWithVersion(texts.Utf8(112, kEnglish), r->header.versionText), "MERIDEX Analog V:2.1");
}

TEST(ParseAnswerLine, ShortLinesAndHeadersFail) {
    // An Analog header of exactly 40 characters with nothing after it (the
    // parameter telegram is then still to be read).
    const std::string header40 = "030101" "08" "01" "72" "22334455" "VND96" "00" "00" "0012" "0E" "Bus/S";
    ASSERT_EQ(header40.size(), 40u);
    const struct {
        std::string line;
        bool ok;
    } rows[] = {
        {"", false},
        {"5|1||", false},
        {"5|1|||20240102030405|0301010801722233445", false},  // 40 characters
        {std::string(40, '|'), false},
        {std::string(60, '5'), false},                            // no fifth "|"
        {kHead + header40.substr(0, 39), false},                 // header one short
        {kHead + header40, true},
        {"|||||" + header40, true},                              // 45 characters, the shortest that can pass
        {"|||||" + header40.substr(0, 35), false},               // 40 characters
    };
    for (const auto& r : rows) EXPECT_EQ(ParseAnswerLine(r.line).has_value(), r.ok) << '"' << r.line << '"';
}

TEST(ParseAnswerLine, AControlAnswerWithoutRecordsFails) {
    const std::string control = kHead + Header("02", "22334455", "VND97", "00", "0012", "0E", "Bus/System");
    const struct {
        const char* name;
        std::string line;
        bool ok;
    } rows[] = {
        {"header alone", control, false},
        {"header and its end", control + "|", false},
        {"one record", control + ZEROS "0100FD1B|1|", true},
    };
    for (const auto& r : rows) EXPECT_EQ(ParseAnswerLine(r.line).has_value(), r.ok) << r.name;
}

TEST(ParseAnswerLine, VariantCodesAreComparedExactly) {
    const struct {
        const char* makerVersion;
        bool ok;
    } rows[] = {
        {"VND95", true},  {"KTR05", true},  {"VND96", true},  {"KTR15", true},  {"VND97", true},  {"KTR35", true},
        {"vnd95", false}, {"KTR95", false}, {"VND05", false}, {"KTR96", false}, {"VND35", false}, {"VNX95", false},
        {"VND9A", false}, {"ABC97", false},
    };
    for (const auto& r : rows) {
        const std::string line = kHead + Header("01", "11223344", r.makerVersion, "00", "0013", "07", "Water") + kOneInput;
        EXPECT_EQ(ParseAnswerLine(line).has_value(), r.ok) << r.makerVersion;
    }
}

// ---------------------------------------------------------------------------
// Pulse page types

TEST_F(ResultParser, PulseReadAtItsAddressCarriesBothInputs) {
    const std::string line = AnswerOf(
        "module=pulse man=VND primary=1 id=11223344 unit1=13 count1=1000 factor1=10/1 id2=55667788 medium2=02", 1);
    const std::optional<Readout> r = ParseAnswerLine(line);
    ASSERT_TRUE(r.has_value()) << line;
    EXPECT_EQ(r->page, kPagePulseBoth);
    ASSERT_EQ(r->records.size(), 5u);
    EXPECT_EQ(r->records[0].descriptor, ZEROS "060013");
    EXPECT_EQ(r->records[0].value, "10000");
    EXPECT_EQ(r->records[1].value, "266");  // numerator 10 + 256 x denominator 1
    EXPECT_EQ(r->header.identification, "11223344");
    EXPECT_FALSE(r->followUp);
}

TEST_F(ResultParser, PulseSelectedByOneInputShowsThatInputAlone) {
    AddSlave("module=pulse man=VND primary=1 id=11223344 id2=55667788 medium2=02");
    const struct {
        const char* selection;
        PageType page;
        const char* id;
        const char* medium;
    } rows[] = {
        {"44 33 22 11 C4 59 95 07", kPagePulseInput1, "11223344", "07"},
        {"88 77 66 55 C4 59 95 02", kPagePulseInput2, "55667788", "02"},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(Select(r.selection), Bytes{0xE5}) << r.selection;
        Log("5|253||", Read(253));
        const std::string line = Entry(log_.UpperBound());
        const std::optional<Readout> out = ParseAnswerLine(line);
        ASSERT_TRUE(out.has_value()) << line;
        EXPECT_EQ(out->page, r.page) << line;
        EXPECT_EQ(out->header.identification, r.id);
        EXPECT_EQ(out->header.medium, r.medium);
        EXPECT_EQ(out->records.size(), 2u);
        Exchange(sim::test::ShortFrame(0x40, 253));  // deselect
    }
}

TEST_F(ResultParser, PulseWithInput2DisabledShowsInput1) {
    const std::string line = AnswerOf("module=pulse man=KTR primary=4 medium2=1F", 4);
    const std::optional<Readout> r = ParseAnswerLine(line);
    ASSERT_TRUE(r.has_value()) << line;
    EXPECT_EQ(r->page, kPagePulseInput1);
}

TEST(ParseAnswerLine, PulsePageByStatusByteAndTheTextAfterRecord2) {
    // Text after record 2 of exactly n characters, shaped like a record.
    auto rest = [](std::size_t n) {
        std::string r = "00000001" "00000000" "0000000000000000" "060006" "|";
        r += std::string(n - r.size() - 1, '7');
        return r + "|";
    };
    const struct {
        const char* name;
        std::string status;
        std::string records;
        std::optional<PageType> page;
    } rows[] = {
        {"input 1", "00", kOneInput, kPagePulseInput1},
        {"status 01: input 2", "01", kOneInput, kPagePulseInput2},
        {"other status: input 1", "10", kOneInput, kPagePulseInput1},
        {"60 characters after record 2: one input", "00", kOneInput + rest(60), kPagePulseInput1},
        {"61 characters after record 2: both inputs", "00", kOneInput + rest(61), kPagePulseBoth},
        {"status 01 with both inputs", "01", kOneInput + rest(61), kPagePulseBoth},
        {"status 01, 60 characters after record 2", "01", kOneInput + rest(60), kPagePulseInput2},
        {"records of 40 characters", "00", ZEROS "060013" "|5", kPagePulseInput1},
        {"records of 39 characters", "00", ZEROS "060013" "|", std::nullopt},
        {"no records", "00", "", std::nullopt},
    };
    for (const auto& r : rows) {
        const std::string line = kHead + Header("01", "11223344", "VND95", r.status, "0013", "07", "Water") + r.records;
        const std::optional<Readout> out = ParseAnswerLine(line);
        ASSERT_EQ(out.has_value(), r.page.has_value()) << r.name;
        if (out) {
            EXPECT_EQ(out->page, *r.page) << r.name;
        }
    }
}

// ---------------------------------------------------------------------------
// The Analog module's follow-up read

TEST_F(ResultParser, AnalogMeasurementTelegramAsksForTheFollowUpItsParameterTelegramDoesNot) {
    AddSlave("module=analog man=VND primary=3 firmware=11 x1=1000 unit1=3B a1=1/2/4 sensor=pt1000 current=12000");
    Log("5|3||", Read(3));
    const std::string measurement = Entry(log_.UpperBound());
    const std::optional<Readout> first = ParseAnswerLine(measurement);
    ASSERT_TRUE(first.has_value()) << measurement;
    ASSERT_FALSE(first->records.empty());
    EXPECT_NE(first->records.front().descriptor, kParameterSetDescriptor);
    EXPECT_TRUE(first->followUp);
    // The same line read as the answer of the follow-up itself asks for nothing more.
    EXPECT_FALSE(ParseAnswerLine(measurement, true)->followUp);

    // The follow-up read: application reset with subcode 08, then the read.
    Log("7|3||50 08", Send(3, "50 08"));
    Log("5|3||", Read(3));
    const std::string parameters = Entry(log_.UpperBound());
    const std::optional<Readout> second = ParseAnswerLine(parameters, true);
    ASSERT_TRUE(second.has_value()) << parameters;
    EXPECT_EQ(second->page, kPageAnalog);
    ASSERT_FALSE(second->records.empty());
    EXPECT_EQ(second->records.front().descriptor, kParameterSetDescriptor);
    EXPECT_FALSE(second->followUp);
    EXPECT_FALSE(ParseAnswerLine(parameters)->followUp) << "the parameter telegram never asks for another read";
}

TEST(ParseAnswerLine, FollowUpOnlyForAnAnalogAnswerWithoutTheParameterSetFirst) {
    const std::string analog = kHead + Header("03", "33445566", "VND96", "00", "0011", "19", "A/D_Converter");
    const std::string control = kHead + Header("02", "22334455", "KTR35", "00", "0012", "0E", "Bus/System");
    const struct {
        const char* name;
        std::string line;
        bool followUp;
    } rows[] = {
        {"parameter set first", analog + "000000000000000000000000000000000100FD0B|1|" ZEROS "0300FE28|0|", false},
        {"other VIFE", analog + "000000000000000000000000000000000100FD0C|1|", true},
        {"parameter set second", analog + ZEROS "05003B|12.5|000000000000000000000000000000000100FD0B|1|", true},
        {"no records", analog, true},
        {"Control", control + ZEROS "0100FD1B|1|", false},
        {"Pulse", kHead + Header("01", "11223344", "VND95", "00", "0013", "07", "Water") + kOneInput, false},
    };
    for (const auto& r : rows) {
        const std::optional<Readout> out = ParseAnswerLine(r.line);
        ASSERT_TRUE(out.has_value()) << r.name;
        EXPECT_EQ(out->followUp, r.followUp) << r.name;
    }
}

// ---------------------------------------------------------------------------
// Records

TEST(SplitRecords, PairsOfDescriptorAndValue) {
    EXPECT_TRUE(SplitRecords("").empty());
    EXPECT_TRUE(SplitRecords("descriptor only|").empty());
    const std::vector<RecordText> records = SplitRecords("d1|v1|d2||d3|v3|tail");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].descriptor, "d1");
    EXPECT_EQ(records[0].value, "v1");
    EXPECT_EQ(records[1].descriptor, "d2");
    EXPECT_EQ(records[1].value, "");
    EXPECT_EQ(records[2].value, "v3");
}

// ---------------------------------------------------------------------------
// Version label of the captions

TEST(CaptionWithVersion, MarkerBecomesTheVersionLabelOrGoes) {
    const struct {
        const char* text;
        const char* version;
        const char* caption;
    } rows[] = {
        {"MERIDEX Pulse <!!> Input P1 / Z2", "1.3", "MERIDEX Pulse V:1.3  Input P1 / Z2"},
        {"MERIDEX Pulse <!!> Input P1 / Z2", "", "MERIDEX Pulse Input P1 / Z2"},
        {"MERIDEX Analog <!!>", "1.1", "MERIDEX Analog V:1.1"},
        {"MERIDEX Analog <!!>", "", "MERIDEX Analog"},
        {"MERIDEX Control <!!> Relay R2", "0.0", "MERIDEX Control V:0.0  Relay R2"},
        {"MERIDEX Address", "1.3", "MERIDEX Address"},
        {"", "1.3", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(CaptionWithVersion(r.text, r.version), r.caption) << r.text;
}

TEST(CaptionWithVersion, EveryModuleGroupCaptionInEveryLanguage) {
    const TextTable texts;
    for (int row : {28, 29, 89, 90, 91, 109, 110, 111, 112})
        for (int column = 0; column < kColumnCount; ++column) {
            const std::string text = texts.Utf8(row, column);
            ASSERT_NE(text.find("<!!>"), std::string::npos) << row << "/" << column;
            const std::string with = CaptionWithVersion(text, "1.3");
            const std::string without = CaptionWithVersion(text, "");
            EXPECT_EQ(with.find("<!!>"), std::string::npos) << with;
            EXPECT_EQ(with.rfind("MERIDEX ", 0), 0u) << with;
            EXPECT_NE(with.find(" V:1.3"), std::string::npos) << with;
            EXPECT_EQ(with.find("   "), std::string::npos) << with;
            EXPECT_NE(with.back(), ' ') << with;
            EXPECT_EQ(without.find("V:"), std::string::npos) << without;
            EXPECT_EQ(without.find("  "), std::string::npos) << without;
            EXPECT_NE(without.back(), ' ') << without;
            EXPECT_EQ(without.find("<!!>"), std::string::npos) << without;
        }
}

}  // namespace
}  // namespace mbus::meridex
