// The Control page's logic: the logic-operator and power-fail boxes and
// their codes, the configuration byte, the six relay texts byte for byte,
// the readout of answers of the simulated Control module through the real
// telegram log, and configurations and commands written to the module and
// read back.

#include "configurator/devices/control_page.h"

#include <gtest/gtest.h>

#include <iterator>
#include <optional>

#include "sim/bus_description.h"
#include "sim/modules.h"
#include "tests/configurator/answer_lines.h"

namespace mbus::meridex {
namespace {

// ---------------------------------------------------------------------------
// Boxes and codes

TEST(ControlBoxes, LogicEntriesTextsAndCodes) {
    const struct {
        int entry;
        const char* text;
        int code;
    } rows[] = {
        {0, "M-BUS", 0},
        {1, "   P1 AND   P2", 1},
        {2, "   P1 XOR   P2", 3},
        {3, "   P1  OR    P2", 2},
        {4, " #P1 AND   P2", 5},
        {5, " #P1 XOR   P2", 7},
        {6, " #P1  OR    P2", 6},
        {7, "   P1 AND #P2", 9},
        {8, "   P1 XOR #P2", 11},
        {9, "   P1  OR  #P2", 10},
        {10, " #P1 AND #P2", 13},
        {11, " #P1 XOR #P2", 15},
        {12, " #P1  OR  #P2", 14},
    };
    ASSERT_EQ(std::size(rows), kLogicTexts.size());
    for (const auto& r : rows) {
        EXPECT_EQ(kLogicTexts[static_cast<std::size_t>(r.entry)], r.text) << r.entry;
        EXPECT_EQ(LogicEntryToCode(r.entry), r.code) << r.entry;
        EXPECT_EQ(LogicCodeToEntry(r.code), r.entry) << r.code;
    }
}

TEST(ControlBoxes, LogicCodesWithoutAnEntryShowMBus) {
    for (int code : {4, 8, 12, 16, 17, 99, 255, -1}) EXPECT_EQ(LogicCodeToEntry(code), 0) << code;
    for (int entry : {-1, 13, 100}) EXPECT_EQ(LogicEntryToCode(entry), 0) << entry;
}

TEST(ControlBoxes, PowerFailEntriesTextsAndCodes) {
    const struct {
        int entry;
        const char* text;
        int code;
    } rows[] = {
        {0, "--------", 0},
        {1, "      0", 2},
        {2, "      1", 1},
    };
    ASSERT_EQ(std::size(rows), kPowerFailTexts.size());
    for (const auto& r : rows) {
        EXPECT_EQ(kPowerFailTexts[static_cast<std::size_t>(r.entry)], r.text) << r.entry;
        EXPECT_EQ(PowerFailEntryToCode(r.entry), r.code) << r.entry;
        EXPECT_EQ(PowerFailCodeToEntry(r.code), r.entry) << r.code;
    }
    for (int code : {3, 9, -1}) EXPECT_EQ(PowerFailCodeToEntry(code), 0) << code;
    for (int entry : {-1, 3}) EXPECT_EQ(PowerFailEntryToCode(entry), 0) << entry;
}

TEST(ControlBoxes, ConfigurationByteIsHundredTimesPowerFailPlusLogic) {
    const struct {
        int logicEntry;
        int powerFailEntry;
        int byte;
    } rows[] = {
        {11, 1, 215},  // " #P1 XOR #P2", "      0": 100 x 2 + 15
        {0, 0, 0},     {0, 2, 100}, {0, 1, 200}, {2, 0, 3}, {12, 2, 114}, {3, 1, 202}, {-1, -1, 0},
    };
    for (const auto& r : rows)
        EXPECT_EQ(ConfigurationByte(r.logicEntry, r.powerFailEntry), r.byte) << r.logicEntry << "/" << r.powerFailEntry;
}

TEST(ControlBoxes, SetButtonsOnlyWhileTheRelayIsDrivenOverTheMBus) {
    EXPECT_TRUE(SetButtonsEnabled(0));
    for (int entry = 1; entry < kLogicEntries; ++entry) EXPECT_FALSE(SetButtonsEnabled(entry)) << entry;
}

// ---------------------------------------------------------------------------
// Record texts

TEST(ControlTexts, SetTextsByteForByte) {
    const struct {
        int relay;
        int state;
        const char* text;
    } rows[] = {
        {1, 0, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A 00 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF"},
        {1, 1, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A 01 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A FF"},
        {2, 0, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A 00 81 41 FD 1A FF"},
        {2, 1, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A 01 81 41 FD 1A FF"},
    };
    for (const auto& r : rows) EXPECT_EQ(RelaySetText(r.relay, r.state), r.text) << r.relay << "/" << r.state;
}

TEST(ControlTexts, WriteTextsByteForByte) {
    const struct {
        int relay;
        int logicEntry;
        int powerFailEntry;
        const char* text;
    } rows[] = {
        {1, 11, 1, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A D7 C1 40 FD 1A FF 81 41 FD 1A FF"},
        {2, 11, 1, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A D7"},
        {1, 0, 0, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A 00 C1 40 FD 1A FF 81 41 FD 1A FF"},
        {2, 12, 0, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A 0E"},
        {2, 3, 2, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A FF C1 40 FD 1A FF 81 41 FD 1A 66"},
        {1, 8, 1, "01 7A FF 07 79 FF FF FF FF FF FF FF FF 41 FD 1A FF 81 01 FD 1A D3 C1 40 FD 1A FF 81 41 FD 1A FF"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(RelayWriteText(r.relay, r.logicEntry, r.powerFailEntry), r.text)
            << "R" << r.relay << " " << r.logicEntry << "/" << r.powerFailEntry;
}

// ---------------------------------------------------------------------------
// Readout

// A Control answer's records with the eight values given, descriptors as the
// module sends them.
Readout ControlAnswer(const std::vector<std::string>& values) {
    static const char* const kDescriptors[] = {
        "000000000000000000000000000000000100FD1B", "000000000000000000000000000000000100FD1A",
        "000000000000000000000000000000010100FD1A", "000000000000000000000000000000020200FD1A",
        "000000010000000000000000000000000100FD1B", "000000010000000000000000000000000100FD1A",
        "000000010000000000000000000000010100FD1A", "000000010000000000000000000000020200FD1A",
    };
    Readout r;
    r.kind = kModuleControl;
    r.page = kPageControl;
    for (std::size_t i = 0; i < values.size() && i < std::size(kDescriptors); ++i)
        r.records.push_back({kDescriptors[i], values[i]});
    return r;
}

struct RelayShown {
    const char* state;
    bool error;
    int logicEntry;
    int powerFailEntry;
};

void ExpectRelay(const RelayReadout& relay, const RelayShown& s, const std::string& what) {
    EXPECT_EQ(relay.state, s.state) << what;
    EXPECT_EQ(relay.error, s.error) << what;
    EXPECT_EQ(relay.logicEntry, s.logicEntry) << what;
    EXPECT_EQ(relay.powerFailEntry, s.powerFailEntry) << what;
}

TEST(ReadControl, LiteralAnswers) {
    const struct {
        const char* name;
        std::vector<std::string> values;
        const char* p1;
        const char* p2;
        RelayShown r1;
        RelayShown r2;
    } rows[] = {
        {"all off", {"0", "0", "0", "0", "0", "0", "0", "0"}, "0", "0", {"0", false, 0, 0}, {"0", false, 0, 0}},
        {"logic and power fail", {"1", "1", "1", "215", "0", "0", "0", "101"}, "1", "0", {"1", false, 11, 1},
         {"0", false, 1, 2}},
        // 204: logic code 4 has no entry, power-fail code 2 is entry 1.
        {"configuration 204", {"0", "0", "0", "204", "0", "0", "0", "0"}, "0", "0", {"0", false, 0, 1},
         {"0", false, 0, 0}},
        {"R2 readings differ", {"0", "1", "1", "0", "1", "1", "0", "0"}, "0", "1", {"1", false, 0, 0},
         {"Err 1", true, 0, 0}},
        {"R1 readings differ", {"0", "0", "1", "3", "1", "0", "0", "0"}, "0", "1", {"Err 0", true, 2, 0},
         {"0", false, 0, 0}},
        // Codes 16 and above give entry 0; power-fail codes above 2 give entry 0.
        {"logic 16, power fail 3", {"0", "0", "0", "16", "0", "0", "0", "315"}, "0", "0", {"0", false, 0, 0},
         {"0", false, 11, 0}},
        {"logic 12, code 8", {"0", "0", "0", "112", "0", "0", "0", "8"}, "0", "0", {"0", false, 0, 2},
         {"0", false, 0, 0}},
        {"a signed byte", {"0", "0", "0", "-52", "0", "0", "0", "x"}, "0", "0", {"0", false, 0, 0},
         {"0", false, 0, 0}},
        {"states cut to three characters", {"1.000", "1", "1", "0", "12", "0", "0", "0"}, "1.0", "12",
         {"1", false, 0, 0}, {"0", false, 0, 0}},
        {"four records", {"1", "0", "0", "1"}, "1", "", {"0", false, 1, 0}, {"", false, 0, 0}},
        {"no records", {}, "", "", {"", false, 0, 0}, {"", false, 0, 0}},
    };
    for (const auto& r : rows) {
        const ControlReadout out = ReadControl(ControlAnswer(r.values));
        EXPECT_EQ(out.p1, r.p1) << r.name;
        EXPECT_EQ(out.p2, r.p2) << r.name;
        ExpectRelay(out.relay[0], r.r1, std::string(r.name) + ", R1");
        ExpectRelay(out.relay[1], r.r2, std::string(r.name) + ", R2");
    }
}

class ControlPage : public ::testing::Test, public test::AnswerLines {
protected:
    ControlReadout ControlAt(uint8_t A) {
        const std::string line = ReadLine(A);
        const std::optional<Readout> r = ParseAnswerLine(line);
        EXPECT_TRUE(r.has_value()) << line;
        if (!r) return {};
        EXPECT_EQ(r->page, kPageControl) << line;
        return ReadControl(*r);
    }
    // The module of the first slave on the bus.
    template <class F>
    void WithModule(F&& f) {
        ASSERT_TRUE(bus_.WithSlave(0, [&](sim::VirtualSlave& s) { f(*s.module.As<sim::ControlModule>()); }));
    }
};

TEST_F(ControlPage, AnswersOfTheModule) {
    const struct {
        const char* slave;
        const char* p1;
        const char* p2;
        RelayShown r1;
        RelayShown r2;
    } rows[] = {
        {"module=control man=VND primary=2", "0", "0", {"0", false, 0, 0}, {"0", false, 0, 0}},
        // #P1 XOR #P2 with P1 on: R1 on; R2 commanded on over the M-Bus.
        {"module=control man=VND primary=2 p1=1 r1logic=15 r1fail=2 r2=1", "1", "0", {"1", false, 11, 1},
         {"1", false, 0, 0}},
        // Configuration 204 read back: logic entry 0, power-fail entry 1.
        {"module=control man=KTR primary=2 r1logic=4 r1fail=2 p2=1 r2logic=10 r2fail=1", "0", "1",
         {"0", false, 0, 1}, {"0", false, 9, 2}},
    };
    for (const auto& r : rows) {
        bus_.ClearSlaves();
        AddSlave(r.slave);
        const ControlReadout out = ControlAt(2);
        EXPECT_EQ(out.p1, r.p1) << r.slave;
        EXPECT_EQ(out.p2, r.p2) << r.slave;
        ExpectRelay(out.relay[0], r.r1, std::string(r.slave) + ", R1");
        ExpectRelay(out.relay[1], r.r2, std::string(r.slave) + ", R2");
    }
}

TEST_F(ControlPage, StuckRelayShowsErrBeforeTheFirstReading) {
    AddSlave("module=control man=VND primary=2");
    WithModule([](sim::ControlModule& m) { m.SetStuck(2, true); });
    ControlReadout out = ControlAt(2);
    ExpectRelay(out.relay[0], {"0", false, 0, 0}, "R1");
    ExpectRelay(out.relay[1], {"Err 1", true, 0, 0}, "R2 stuck on, commanded off");

    WithModule([](sim::ControlModule& m) { m.SetStuck(2, std::nullopt); });
    out = ControlAt(2);
    ExpectRelay(out.relay[1], {"0", false, 0, 0}, "R2 working again");
}

// ---------------------------------------------------------------------------
// Round trips

TEST_F(ControlPage, EveryConfigurationWrittenReadsBackAsItsEntries) {
    AddSlave("module=control man=VND primary=7");
    for (int relay = 1; relay <= 2; ++relay)
        for (int logic = 0; logic < kLogicEntries; ++logic)
            for (int powerFail = 0; powerFail < kPowerFailEntries; ++powerFail) {
                const std::string what = "R" + std::to_string(relay) + " " + std::to_string(logic) + "/" +
                                         std::to_string(powerFail);
                ASSERT_EQ(Write(7, RelayWriteText(relay, logic, powerFail)), Bytes{0xE5}) << what;
                const ControlReadout out = ControlAt(7);
                const RelayReadout& written = out.relay[relay - 1];
                EXPECT_EQ(written.logicEntry, logic) << what;
                EXPECT_EQ(written.powerFailEntry, powerFail) << what;
                EXPECT_EQ(written.configuration, ConfigurationByte(logic, powerFail)) << what;
                EXPECT_FALSE(written.error) << what;
            }
    // Each relay's write leaves the other alone: R1 keeps the last value written to it.
    const ControlReadout out = ControlAt(7);
    EXPECT_EQ(out.relay[0].logicEntry, kLogicEntries - 1);
    EXPECT_EQ(out.relay[0].powerFailEntry, kPowerFailEntries - 1);
}

TEST_F(ControlPage, SetZeroAndSetOneSwitchARelayDrivenOverTheMBus) {
    AddSlave("module=control man=KTR primary=7");
    const struct {
        int relay;
        int state;
        const char* r1;
        const char* r2;
    } rows[] = {
        {1, 1, "1", "0"},
        {2, 1, "1", "1"},
        {1, 0, "0", "1"},
        {2, 0, "0", "0"},
    };
    for (const auto& r : rows) {
        ASSERT_EQ(Write(7, RelaySetText(r.relay, r.state)), Bytes{0xE5});
        const ControlReadout out = ControlAt(7);
        EXPECT_EQ(out.relay[0].state, r.r1) << r.relay << "/" << r.state;
        EXPECT_EQ(out.relay[1].state, r.r2) << r.relay << "/" << r.state;
    }
}

}  // namespace
}  // namespace mbus::meridex
