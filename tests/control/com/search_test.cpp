// The slave search on simulated buses: the masks, primary and secondary
// searches on empty, single, colliding and crowded buses, breaks, and the
// list texts.

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "control/com/library.h"
#include "control/com/script_runner.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/control/engine/engine_test_support.h"

namespace mbus::control::test {
namespace {

using namespace std::chrono_literals;

TEST(SearchMask, DescendAndAdvance) {
    SearchMask m{"0FFFFFFFFFFFFFFF", 16, true};
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "1FFFFFFFFFFFFFFF");
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "10FFFFFFFFFFFFFF");
    m.text = "19FFFFFFFFFFFFFF";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "2FFFFFFFFFFFFFFF") << "9 opens again and carries";
    m.text = "9FFFFFFFFFFFFFFF";
    EXPECT_FALSE(m.Advance());
    EXPECT_TRUE(m.Ended());
    // With the identification number fixed, manufacturer, version and
    // medium open digit by digit, 0 to E (an F is the wildcard): the low
    // digits of medium and version first, the manufacturer's first letter
    // last.
    m.text = "12345678FFFFFFFF";
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "12345678FFFFFFF0");
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345678FFFFFFF1");
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "12345678FFFFF0F1") << "the version's low digit next";
    m.text = "12345678FFFFFEF7";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345678FFFFFFF8") << "a digit past E opens and carries";
    m.text = "12345678FFFFFFFE";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345679FFFFFFFF");
    m.text = "12345678FF41F1F7";
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "12345678FF41F107") << "the medium's high digit before the version's";
    // A manufacturer digit takes only values that a code of three letters
    // A..Z (five bits each) holds: the first digit is 0 to 6, and with the
    // low byte 01h the second letter is H, P or X, so the second digit is
    // not 0.
    m.text = "1234567857010107";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "1234567867010107");
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345678F9010107") << "no code begins with 7, none holds 8 beside 01h";
    m.text = "12345678FF010107";
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "12345678F1010107");
    m.text = "1234567800000000";
    EXPECT_FALSE(SearchMask(m).Descend()) << "no wildcard left";
    // A byte marked whole opens as one byte, 00 to FE; past FE it opens
    // again, carries and is digit by digit from then on. A manufacturer's
    // first byte starts where a code of letters A..Z can (0501h: "AHA").
    m.text = "12345678FFFFFFFF";
    m.wholeBytes = 1u << 3;
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "12345678FFFFFF00");
    m.text = "12345678FFFFFF0E";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345678FFFFFF0F") << "a value with an F digit is a value of its own";
    m.text = "12345678FFFFFFFE";
    EXPECT_TRUE(m.Advance());
    EXPECT_EQ(m.text, "12345679FFFFFFFF");
    EXPECT_EQ(m.wholeBytes, 0u);
    m.text = "12345678FF010107";
    m.wholeBytes = 1u;
    EXPECT_TRUE(m.Descend());
    EXPECT_EQ(m.text, "1234567805010107");
    // The extension of the primary variant is not part of the search.
    SearchMask ext{"9FFFFFFFFFFFFFFF05", 16, true};
    EXPECT_FALSE(ext.Advance());
    EXPECT_EQ(ext.text.substr(16), "05");
}

class Search : public ::testing::Test {
protected:
    void SetUp() override {
        Bus().bus->SetDefaultBaud(38400);
        c_.Put("LOGMaxEntries", 100000);
        c_.Put("COMPort", 1);
        c_.Put("COMBaudrate", 38400);
        c_.Put("COMTimeoutOffset", 5);
        c_.Put("SCRSlaveSearchDelay", 0);
        // One transmission: the answers come 4 ms after the request, past
        // the dead time, and are heard every time.
        c_.Put("COMRetries", 1);
        Bus().bus->SetReplyDelay(std::chrono::milliseconds(4));
        c_.Call("COMOpen");
        ASSERT_EQ(c_.Long("COMIsOpen"), 0);
        Library::Instance().CurrentRecord()->script.pollPeriod.store(2);
    }
    engine::test::RecordingBus& Bus() { return ports_.Bus(1); }
    void AddSlave(int primary, const std::string& id, const std::string& man = "QXA") {
        Bus().AddSlave("primary=" + std::to_string(primary) + " id=" + id + " man=" + man +
                       " version=01 medium=07 records=0413D2040000");
    }
    // One transmission a probe, as mbusctl scan sends them. The answers
    // come 15 ms after the request, in a window of 60 ms, so that a busy
    // host still hears them: a lost answer would be silence, which is not
    // what the tests that use this are about.
    void OneTransmission() {
        Bus().bus->SetReplyDelay(std::chrono::milliseconds(15));
        c_.Put("COMTimeoutOffset", 50);
        c_.Put("COMRetries", 1);
        c_.Put("SCRSlaveSearchDelay", 60);  // late bytes of a collision end before the next probe
        c_.Call("COMOpen");  // takes the timing over
    }
    bool Wait(std::chrono::seconds limit = 120s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (c_.Long("SCRStatus") != 0) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // The identification numbers of the slave list.
    std::multiset<std::string> Found() {
        const std::string list = c_.Text("SCRRetrieveSlaveListDec");
        EXPECT_EQ(list.size() % 51, 0u);
        std::multiset<std::string> ids;
        for (std::size_t at = 0; at + 51 <= list.size(); at += 51) ids.insert(list.substr(at + 3, 8));
        return ids;
    }
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        const int upper = c_.Long("LOGUpperBound");
        for (int i = 0; i <= upper; ++i) {
            const std::string e = c_.Text("LOGRetrieveRawDataHex", {i, 0});
            lines.push_back(e.substr(0, e.find("|20")));  // up to the time stamp
        }
        return lines;
    }

    engine::test::SimulatedPorts ports_{1, "search-test-"};
    DispatchClient c_ = NewInProcessControl();
};

TEST_F(Search, PrimaryOnAnEmptyBus) {
    c_.Call("SCRSlaveSearchPrimary");
    EXPECT_EQ(c_.Text("SCRSlaveSearchCurAddress").size(), 3u);
    ASSERT_TRUE(Wait());
    EXPECT_EQ(c_.Text("SCRRetrieveSlaveListDec"), "");
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 251u);
    EXPECT_EQ(lines.front(), "3|0||");
    EXPECT_EQ(lines.back(), "3|250||");
    EXPECT_EQ(Bus().Frames().size(), 251u) << "one transmission each with COMRetries 1";
    EXPECT_EQ(c_.Text("SCRSlaveSearchCurAddress"), "");
}

TEST_F(Search, PrimaryFindsSlavesAndListsThem) {
    AddSlave(5, "12345678");
    AddSlave(12, "87654321", "QXB");
    c_.Put("SCRSlaveSearchListWithErrorMessages", 1);
    c_.Call("SCRSlaveSearchPrimary");
    ASSERT_TRUE(Wait());
    const std::string list = c_.Text("SCRRetrieveSlaveListDec");
    ASSERT_EQ(list.size(), 102u) << list;
    EXPECT_EQ(list.substr(0, 51), "00512345678QXA00107FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
    EXPECT_EQ(list.substr(51, 3), "012");
    const std::string hex = c_.Text("SCRRetrieveSlaveListHex");
    EXPECT_EQ(hex.substr(0, 3), "005");
    EXPECT_EQ(hex.substr(51, 3), "00C");
    EXPECT_EQ(hex.substr(17, 2), "07");
    EXPECT_EQ(c_.Text("SCRRetrieveSlaveListDec1", {0}), list);
    EXPECT_EQ(c_.Text("SCRRetrieveSlaveListDec1", {1}), "");
    // Each found address was probed and then read.
    const std::vector<std::string> lines = LogLines();
    EXPECT_EQ(lines.size(), 253u);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "5|12||"), lines.end());
}

TEST_F(Search, ListBlocksOutsideTheListAreEmpty) {
    AddSlave(5, "12345678");
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    ASSERT_EQ(c_.Text("SCRRetrieveSlaveListDec").size(), 51u);
    for (const char* getter :
         {"SCRRetrieveSlaveListDec1", "SCRRetrieveSlaveListHex1", "SP1RetrieveSlaveListDec1", "SP1RetrieveSlaveListHex1"}) {
        SCOPED_TRACE(getter);
        EXPECT_EQ(c_.Text(getter, {0}).size(), 51u);
        for (int block : {-1, -2, INT32_MIN, 1, INT32_MAX}) EXPECT_EQ(c_.Text(getter, {block}), "") << block;
    }
}

TEST_F(Search, SecondaryWithOneSlave) {
    AddSlave(1, "12345678");
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), std::multiset<std::string>{"12345678"});
    const std::vector<std::string> expected = {
        "8||Standard: 0FFFFFFF,FFFF,FF,FF|", "8||Standard: 1FFFFFFF,FFFF,FF,FF|", "5|253||",
        "8||Standard: 2FFFFFFF,FFFF,FF,FF|", "8||Standard: 3FFFFFFF,FFFF,FF,FF|", "8||Standard: 4FFFFFFF,FFFF,FF,FF|",
        "8||Standard: 5FFFFFFF,FFFF,FF,FF|", "8||Standard: 6FFFFFFF,FFFF,FF,FF|", "8||Standard: 7FFFFFFF,FFFF,FF,FF|",
        "8||Standard: 8FFFFFFF,FFFF,FF,FF|", "8||Standard: 9FFFFFFF,FFFF,FF,FF|", "20|||"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(Search, SecondaryDescendsOnACollision) {
    AddSlave(1, "12345678");
    AddSlave(2, "19999999", "QXB");
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), (std::multiset<std::string>{"12345678", "19999999"}));
    const std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 3u);
    // Both acknowledge 1FFFFFFF with the same E5h; their answers to the read
    // collide, and the next probe goes one digit deeper.
    EXPECT_EQ(lines[1], "8||Standard: 1FFFFFFF,FFFF,FF,FF|");
    EXPECT_EQ(lines[2], "5|253||");
    EXPECT_EQ(lines[3], "8||Standard: 10FFFFFF,FFFF,FF,FF|");
}

TEST_F(Search, EmptyBusAndSameNumberOfDifferentMakers) {
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    EXPECT_TRUE(Found().empty());
    EXPECT_EQ(LogLines().size(), 11u);
    // The same identification number at two makers: found by manufacturer.
    AddSlave(1, "55555555", "QXA");
    AddSlave(2, "55555555", "QXB");
    c_.Call("LOGReset");
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), (std::multiset<std::string>{"55555555", "55555555"}));

}

TEST_F(Search, TwentyFiveRandomSlaves) {
    std::mt19937 random(20261207);
    std::multiset<std::string> ids;
    while (ids.size() < 25) {
        char id[9];
        std::snprintf(id, sizeof id, "%08u", static_cast<unsigned>(random() % 100000000));
        if (ids.count(id) != 0) continue;
        ids.insert(id);
        AddSlave(static_cast<int>(ids.size()), id, ids.size() % 2 ? "QXA" : "ZZW");
    }
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait(300s));
    EXPECT_EQ(Found(), ids);
    c_.Call("SCRSlaveSearchPrimary");
    ASSERT_TRUE(Wait(300s));
    EXPECT_EQ(Found(), ids);
}

TEST_F(Search, BreakKeepsWhatWasFound) {
    AddSlave(1, "12345678");
    AddSlave(200, "87654321");
    c_.Call("SCRSlaveSearchPrimary");
    // Stop once address 1 has been read.
    while (c_.Long("LOGUpperBound") < 5) std::this_thread::sleep_for(1ms);
    c_.Call("SCRBreak");
    ASSERT_TRUE(Wait(20s));
    EXPECT_EQ(Found(), std::multiset<std::string>{"12345678"});
    EXPECT_LT(c_.Long("LOGUpperBound"), 200);
}

TEST_F(Search, RangeSearch) {
    AddSlave(1, "12345678");
    AddSlave(2, "22345678");
    AddSlave(3, "32345678");
    c_.Call("SCRSlaveSearchSecondarySpecial",
            {0, std::string("2"), std::string("2999"), std::string("4701"), std::string("01"), std::string("07")});
    EXPECT_EQ(c_.Text("SCRSlaveSearchCurAddress"), "2FFFFFFF47010107");
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), std::multiset<std::string>{"22345678"});
}

// The look-alike bus of sim/demo/lookalike.txt: fourteen meters with one
// identification number. Each is found once and none invented, and the
// search does not sweep what no real address holds.
TEST_F(Search, LookAlikeMetersAreFoundOnceEach) {
    std::ifstream file(MBUS_SOURCE_DIR "/sim/demo/lookalike.txt");
    std::multiset<std::string> expected;
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        Bus().AddSlave(line);
        const std::size_t man = line.find("man="), at = line.find("version="), medium = line.find("medium=");
        char version[8];
        std::snprintf(version, sizeof version, "%03d", std::stoi(line.substr(at + 8, 2), nullptr, 16));
        expected.insert(line.substr(man + 4, 3) + version + "/" + line.substr(medium + 7, 2));
    }
    ASSERT_EQ(expected.size(), 14u);
    OneTransmission();
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait(300s));
    const std::string list = c_.Text("SCRRetrieveSlaveListDec");
    std::multiset<std::string> found;
    for (std::size_t at = 0; at + 51 <= list.size(); at += 51) {
        EXPECT_EQ(list.substr(at + 3, 8), "31415926");
        char medium[8];
        std::snprintf(medium, sizeof medium, "%02X", std::stoi(list.substr(at + 17, 2)));
        found.insert(list.substr(at + 11, 6) + "/" + medium);
    }
    EXPECT_EQ(found, expected);
    // The probes and reads: the identification number's digits, then a
    // few sweeps of 15 digits for manufacturer, version and medium (whole
    // bytes swept took about 3900, digits in their natural order 625).
    const std::size_t probes = LogLines().size();
    EXPECT_LT(probes, 300u);
}

// A line that garbles one answer in five: with one transmission a probe,
// garbled receptions are probed or read again (or the search goes deeper)
// and no meter is lost, in the secondary search and in the primary one.
TEST_F(Search, GarbledAnswersLoseNoMeter) {
    const std::multiset<std::string> ids = {"12345678", "12349999", "12000001", "87654321", "66600001"};
    int primary = 0;
    for (const std::string& id : ids) AddSlave(++primary, id);
    OneTransmission();
    for (uint32_t seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        Bus().bus->SetRandomFaults(0.2, seed, sim::SimBus::RandomFaults::kGarbled);
        c_.Call("LOGReset");
        c_.Call("SCRSlaveSearchSecondary", {0});
        ASSERT_TRUE(Wait(300s));
        EXPECT_EQ(Found(), ids) << "secondary";

        c_.Call("SCRSlaveSearchPrimary");
        ASSERT_TRUE(Wait(300s));
        EXPECT_EQ(Found(), ids) << "primary";
    }
}

// Slaves that take only FFh as a wildcard in manufacturer, version and
// medium answer no probe of a single digit there: the byte is then swept
// whole, and each is found once (also one whose medium holds an F digit).
TEST_F(Search, SlavesWithWholeByteWildcardsAreFound) {
    Bus().AddSlave("primary=1 id=55555555 man=QXA version=01 medium=07 wildcards=bytes");
    Bus().AddSlave("primary=2 id=55555555 man=QXA version=01 medium=0F wildcards=bytes");
    OneTransmission();
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    const std::string list = c_.Text("SCRRetrieveSlaveListDec");
    ASSERT_EQ(list.size(), 2 * 51u) << list;
    EXPECT_EQ(list.substr(3, 16), "55555555QXA00107");
    EXPECT_EQ(list.substr(51 + 3, 16), "55555555QXA00115");
}

TEST_F(Search, GarbledReceptionIsProbedAgainNotPassedOver) {
    AddSlave(5, "12345678");
    OneTransmission();
    // Secondary: the acknowledgement of 1FFFFFFF comes garbled; the same
    // mask goes out again before the search goes deeper.
    Bus().bus->QueueFault(sim::Fault::Flip(0, 0x10));
    c_.Call("SCRSlaveSearchSecondary", {0});
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), std::multiset<std::string>{"12345678"});
    std::vector<std::string> lines = LogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "8||Standard: 1FFFFFFF,FFFF,FF,FF|");
    EXPECT_EQ(lines[2], "8||Standard: 1FFFFFFF,FFFF,FF,FF|");
    EXPECT_EQ(lines[3], "5|253||");
    // Primary: the SND_NKE is acknowledged, the reading comes garbled and
    // then not at all; the address is read until an answer comes.
    c_.Call("LOGReset");
    Bus().bus->QueueFault(sim::Fault::None());
    Bus().bus->QueueFault(sim::Fault::Parity(3));
    Bus().bus->QueueFault(sim::Fault::Silence());
    c_.Call("SCRSlaveSearchPrimary");
    ASSERT_TRUE(Wait());
    EXPECT_EQ(Found(), std::multiset<std::string>{"12345678"});
    lines = LogLines();
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.begin() + 9),
              (std::vector<std::string>{"3|5||", "5|5||", "5|5||", "5|5||"}));
    EXPECT_EQ(lines[9], "3|6||");
}

}  // namespace
}  // namespace mbus::control::test
