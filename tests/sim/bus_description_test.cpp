// The text description of a simulated bus.

#include <random>

#include "sim/bus_description.h"
#include "tests/sim/sim_test_support.h"

namespace mbus::sim::test {
namespace {

TEST(BusDescriptionTest, ParsesEveryField) {
    std::vector<std::string> errors;
    const auto slaves = ParseBusDescription(
        "primary=5 id=12345678 man=QXA version=1 medium=07 status=10 signature=0x1234 access=2Ah "
        "records=0C13785634120413D2040000 records=02FD1700 part=0:6 fab=87654321 customer=1 location=222222222222 "
        "selci=56 c=28 ci=76 baud=9600\n",
        errors);
    ASSERT_TRUE(errors.empty()) << errors.front();
    ASSERT_EQ(slaves.size(), 1u);
    const VirtualSlave& s = slaves[0];
    EXPECT_EQ(s.values.primaryAddress, 5);
    EXPECT_EQ(s.values.identNumber, 0x12345678u);
    EXPECT_EQ(s.values.manufacturer, 0x4701);
    EXPECT_STREQ(s.values.manufacturerText, "QXA");
    EXPECT_EQ(s.values.version, 1);
    EXPECT_EQ(s.values.medium, 7);
    EXPECT_STREQ(s.values.mediumText, "Water");
    EXPECT_EQ(s.values.status, 0x10);
    EXPECT_EQ(s.values.signature, 0x1234);
    EXPECT_EQ(s.values.accessNumber, 0x2A);
    ASSERT_EQ(s.blocks.size(), 2u);
    EXPECT_EQ(s.blocks[0], Hex("0C 13 78 56 34 12 04 13 D2 04 00 00"));
    EXPECT_EQ(s.blocks[1], Hex("02 FD 17 00"));
    EXPECT_EQ(s.values.userDataSize, 0x00060100u);
    EXPECT_STREQ(s.values.fabricationNumber, "87654321");
    EXPECT_STREQ(s.values.customer, "000000000001");
    EXPECT_STREQ(s.values.customerLocation, "222222222222");
    EXPECT_EQ(s.values.selectionCI, 0x56);
    EXPECT_EQ(s.values.answerC, 0x28);
    EXPECT_EQ(s.values.answerCI, 0x76);
    EXPECT_EQ(s.baud, 9600);
}

TEST(BusDescriptionTest, MissingFieldsKeepTheSlaveDefaults) {
    std::vector<std::string> errors;
    const auto slaves = ParseBusDescription("primary=3", errors);
    ASSERT_EQ(slaves.size(), 1u);
    const MBSlaveValues defaults;
    EXPECT_EQ(slaves[0].values.identNumber, defaults.identNumber);
    EXPECT_EQ(slaves[0].values.manufacturer, defaults.manufacturer);
    EXPECT_EQ(slaves[0].values.medium, defaults.medium);
    EXPECT_TRUE(slaves[0].blocks.empty());
    EXPECT_EQ(slaves[0].baud, 0);
}

TEST(BusDescriptionTest, CommentsAndBlankLinesAreSkipped) {
    std::vector<std::string> errors;
    const auto slaves = ParseBusDescription(
        "# a heat meter and two water meters\n"
        "\n"
        "primary=1 medium=04   # heat\r\n"
        "   \t\n"
        "primary=2 medium=07\n"
        "primary=3 medium=07",
        errors);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(slaves.size(), 3u);
    EXPECT_EQ(slaves[0].values.medium, 4);
    EXPECT_EQ(slaves[2].values.primaryAddress, 3);
}

TEST(BusDescriptionTest, FaultsNameTheLineTheFieldAndWhatIsAccepted) {
    const struct {
        const char* line;
        const char* expected;
    } rows[] = {
        {"primary=251", "\"primary=251\": primary address must be a decimal number 0..250"},
        {"primary=-1", "primary address must be"},
        {"primary=", "primary address must be"},
        {"id=1234567A", "identification number must be 1 to 8 decimal digits"},
        {"id=123456789", "identification number must be"},
        {"man=Q1A", "three letters A..Z"},
        {"man=QXAB", "three letters A..Z"},
        {"version=100", "not a hexadecimal byte"},
        {"medium=0G", "not a hexadecimal byte; give one or two hex digits, e.g. medium=07"},
        {"signature=12345", "signature must be 1 to 4 hexadecimal digits"},
        {"records=0C1", "odd number of hex digits (3); give whole bytes"},
        {"records=0C1X", "\"X\" at digit 4 is not a hexadecimal digit"},
        {"part=5", "give OFFSET:LENGTH"},
        {"part=0:0", "give OFFSET:LENGTH"},
        {"part=200:30", "give OFFSET:LENGTH"},
        {"fab=123456789", "give 1 to 8 decimal digits"},
        {"customer=12345678901X", "give 1 to 12 decimal digits"},
        {"selci=53", "selection CI must be 51, 52, 55 or 56"},
        {"c=09", "answer C field must be 08, 18, 28 or 38"},
        {"ci=78", "answer CI must be 72 or 76"},
        {"baud=1000", "baud rate must be 300, 600"},
        {"primary", "\"primary\": expected KEY=VALUE"},
        {"=5", "expected KEY=VALUE"},
        {"address=5", "unknown key \"address\"; known keys: primary, id, man"},
        {"primary=1 primary=2", "primary is given twice"},
    };
    for (const auto& r : rows) {
        std::vector<std::string> errors;
        const std::string text = "primary=9\n\n" + std::string(r.line) + "\nprimary=10\n";
        const auto slaves = ParseBusDescription(text, errors);
        ASSERT_EQ(errors.size(), 1u) << r.line;
        EXPECT_EQ(errors[0].rfind("line 3: ", 0), 0u) << errors[0];
        EXPECT_NE(errors[0].find(r.expected), std::string::npos) << errors[0];
        EXPECT_EQ(slaves.size(), 2u) << r.line;  // the good lines still count
    }
}

TEST(BusDescriptionTest, EveryFaultOfALineIsReported) {
    std::vector<std::string> errors;
    ParseBusDescription("primary=300 man=1 medium=XYZ", errors);
    EXPECT_EQ(errors.size(), 3u);
}

TEST(BusDescriptionTest, RecordBlocksMustFitOneTelegram) {
    const std::string big(2 * MBSlaveValues::kMaxUserData, '2');
    const std::string almost(2 * (MBSlaveValues::kMaxUserData - 1), '2');
    std::vector<std::string> errors;
    EXPECT_EQ(ParseBusDescription("records=" + big, errors).size(), 1u);
    EXPECT_TRUE(errors.empty());
    ParseBusDescription("records=" + big + " records=00", errors);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("records of telegram 1: 222 bytes; at most 221 fit a telegram that another follows"),
              std::string::npos)
        << errors[0];
    errors.clear();
    ParseBusDescription("records=" + almost + " records=00", errors);
    EXPECT_TRUE(errors.empty());
    ParseBusDescription("records=" + big + "22", errors);
    EXPECT_EQ(errors.size(), 1u);
}

TEST(BusDescriptionTest, ParseSlaveGivesMessagesWithoutLineNumbers) {
    VirtualSlave s;
    std::vector<std::string> errors;
    EXPECT_TRUE(ParseSlave("primary=4 records=", &s, errors));
    EXPECT_EQ(s.values.primaryAddress, 4);
    ASSERT_EQ(s.blocks.size(), 1u);
    EXPECT_TRUE(s.blocks[0].empty());
    EXPECT_FALSE(ParseSlave("primary=x", &s, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("\"primary=x\": ", 0), 0u) << errors[0];
}

TEST(BusDescriptionTest, ArbitraryInputNeverCrashes) {
    std::mt19937 random(3);
    const std::string alphabet = "primaryidmanversionmediumrecordspartfab=0123456789ABCDEFxyz:#@ \t\r\n\x01\xff";
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        const int n = static_cast<int>(random() % 80);
        for (int j = 0; j < n; ++j) text += alphabet[random() % alphabet.size()];
        std::vector<std::string> errors;
        ParseBusDescription(text, errors);
    }
}

TEST(BusDescriptionTest, DescribeSlaveSummarisesIt) {
    std::vector<std::string> errors;
    const auto slaves = ParseBusDescription("primary=5 id=1234 man=QXA version=1 medium=07 records=00 records=00", errors);
    ASSERT_EQ(slaves.size(), 1u);
    EXPECT_EQ(DescribeSlave(slaves[0]), "primary 5, id 00001234, QXA, version 01, medium 07 (Water), 2 telegrams");
}

}  // namespace
}  // namespace mbus::sim::test
