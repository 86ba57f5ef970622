// The connection lines of every communication type, address type, baud
// index, FIFO setting, optical head and port, and the dial and hang-up
// scripts.

#include "configurator/shell/connection_lines.h"

#include <gtest/gtest.h>

#include "configurator/shell/phone_scripts.h"

namespace mbus::meridex {
namespace {

using Lines = std::vector<std::string>;

// The parameter strings written out as the program must send them, in
// their FIFO-on form, by baud index 0 to 4.
const char* const kConverter[5] = {
    "300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=300,TB=20,PartWait,Retries=40,DT=11,HS=0|",
    "2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|",
    "9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
    "19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
    "38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|",
};
const char* const kHead[5] = {
    "300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
    "38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|",
};
const char* const kRadioRate[5] = {
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 30 FF", "13|||FE FE FE 42 4C 55 45 30 38 45 31 33 FF",
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 35 FF", "13|||FE FE FE 42 4C 55 45 30 38 45 31 36 FF",
    "13|||FE FE FE 42 4C 55 45 30 38 45 31 37 FF",
};
const char* const kRadio =
    "57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|";
const char* const kSir = "38400,8,1,E,RTS_Set,DTR_Set,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|";
const char* const kTransceiverSetup =
    "9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|";
const char* const kTransceiver =
    "38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|";

// The expected lines of one choice, from the strings above: with the FIFO
// off every port line but the radio head's ends in ",FF=0|".
Lines Expected(const ConnectionChoice& c) {
    const std::string com = "COM" + std::to_string(c.port) + ",";
    auto fifo = [&](std::string s) { return c.fifoBuffer ? s : s.substr(0, s.size() - 1) + ",FF=0|"; };
    const bool baudValid = c.baudIndex >= 0 && c.baudIndex <= 4;
    switch (c.communicationType) {
        case 2: return {"2||" + com + fifo(kSir)};
        case 3: return {"0||" + com + fifo(kTransceiverSetup), "7|251||51 0F 48 08", "0||" + com + fifo(kTransceiver)};
        default: break;
    }
    if (c.addressType != 0) return baudValid ? Lines{"0||" + com + fifo(kConverter[c.baudIndex])} : Lines{};
    if (c.btOpto) {
        Lines lines{"0||" + com + kRadio, "14||5|"};
        if (baudValid) lines.push_back(kRadioRate[c.baudIndex]);
        return lines;
    }
    return baudValid ? Lines{"0||" + com + fifo(kHead[c.baudIndex])} : Lines{};
}

TEST(ConnectionLines, FollowTheTableForEveryTypeAddressBaudFifoHeadAndPort) {
    int cases = 0;
    for (int port : {1, 17, 32})
        for (int type = 0; type <= 3; ++type)
            for (int address = 0; address <= 4; ++address)
                for (int baud = 0; baud <= 5; ++baud)
                    for (int fifo = 0; fifo <= 1; ++fifo)
                        for (int opto = 0; opto <= 1; ++opto) {
                            ConnectionChoice c;
                            c.communicationType = type;
                            c.addressType = address;
                            c.baudIndex = baud;
                            c.port = port;
                            c.fifoBuffer = fifo == 1;
                            c.btOpto = opto == 1;
                            EXPECT_EQ(ConnectionLines(c), Expected(c))
                                << "COM" << port << " type " << type << " address " << address << " baud " << baud
                                << " fifo " << fifo << " opto " << opto;
                            ++cases;
                        }
    EXPECT_EQ(cases, 3 * 4 * 5 * 6 * 2 * 2);
}

// A few choices with their lines written out whole, independent of the
// table builder above.
TEST(ConnectionLines, WrittenOutWhole) {
    struct Row {
        int type, address, baud, port;
        bool fifo, opto;
        Lines lines;
    } rows[] = {
        {0, 1, 1, 1, true, false,
         {"0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,DT=11,HS=0|"}},
        {1, 4, 0, 32, false, true,
         {"0||COM32,300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=300,TB=20,PartWait,Retries=40,DT=11,HS=0,FF=0|"}},
        {0, 3, 2, 17, false, false,
         {"0||COM17,9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0,FF=0|"}},
        {0, 0, 4, 1, false, false,
         {"0||COM1,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0,FF=0|"}},
        {1, 0, 3, 17, true, false,
         {"0||COM17,19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|"}},
        // The radio head's port line carries FF=0 whatever the FIFO setting says.
        {0, 0, 2, 32, true, true,
         {"0||COM32,57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|",
          "14||5|", "13|||FE FE FE 42 4C 55 45 30 38 45 31 35 FF"}},
        {0, 0, 0, 32, false, true,
         {"0||COM32,57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|",
          "14||5|", "13|||FE FE FE 42 4C 55 45 30 38 45 31 30 FF"}},
        // The radio head serves the optical-head address only; the other types keep the converter.
        {0, 1, 4, 1, true, true,
         {"0||COM1,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,DT=11,HS=0|"}},
        {2, 3, 0, 17, true, false,
         {"2||COM17,38400,8,1,E,RTS_Set,DTR_Set,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|"}},
        {2, 0, 1, 32, false, true,
         {"2||COM32,38400,8,1,E,RTS_Set,DTR_Set,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0,FF=0|"}},
        {3, 2, 0, 17, false, false,
         {"0||COM17,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0,FF=0|",
          "7|251||51 0F 48 08",
          "0||COM17,38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0,FF=0|"}},
        {3, 0, 5, 1, true, true,
         {"0||COM1,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|",
          "7|251||51 0F 48 08",
          "0||COM1,38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|"}},
    };
    for (const Row& r : rows) {
        ConnectionChoice c;
        c.communicationType = r.type;
        c.addressType = r.address;
        c.baudIndex = r.baud;
        c.port = r.port;
        c.fifoBuffer = r.fifo;
        c.btOpto = r.opto;
        EXPECT_EQ(ConnectionLines(c), r.lines) << "type " << r.type << " address " << r.address << " baud " << r.baud;
    }
}

TEST(ConnectionLines, IrdaTypesRunAt38400WhateverTheBaudBoxShows) {
    for (int type : {2, 3})
        for (int baud : {0, 1, 2, 3, 4, 5, 7, -1}) {
            ConnectionChoice c;
            c.communicationType = type;
            c.baudIndex = baud;
            const Lines lines = ConnectionLines(c);
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines.back().find(",38400,"), std::string::npos) << lines.back();
        }
}

TEST(ConnectionLines, EveryPortFromCom1ToCom32IsWrittenAsItself) {
    for (int port = 1; port <= 32; ++port) {
        const std::string n = std::to_string(port);
        ConnectionChoice c;
        c.port = port;
        EXPECT_EQ(ConnectionLines(c).at(0).rfind("0||COM" + n + ",2400,", 0), 0u) << port;
        c.communicationType = 2;
        EXPECT_EQ(ConnectionLines(c).at(0).rfind("2||COM" + n + ",38400,", 0), 0u) << port;
        c.communicationType = 3;
        const Lines transceiver = ConnectionLines(c);
        EXPECT_EQ(transceiver.at(0).rfind("0||COM" + n + ",9600,", 0), 0u) << port;
        EXPECT_EQ(transceiver.at(2).rfind("0||COM" + n + ",38400,", 0), 0u) << port;
        const Lines dial = DialScriptLines(port, 1, "", "0123");
        EXPECT_EQ(dial.at(0), "30|COM" + n + "|2400|ATX3");
        EXPECT_EQ(dial.at(1), "31|COM" + n + "|2400|0123");
    }
}

TEST(ConnectionLines, BaudIndexOutsideTheBoxAddsNoPortLine) {
    for (int baud : {-1, 5, 99})
        for (int address = 0; address <= 4; ++address) {
            ConnectionChoice c;
            c.baudIndex = baud;
            c.addressType = address;
            EXPECT_TRUE(ConnectionLines(c).empty()) << baud << " " << address;
        }
}

TEST(ConnectionLines, RadioHeadWithoutAValidBaudKeepsItsPortLineButSendsNoRate) {
    // The radio head's port line runs at 57600 whatever the baud box says;
    // only its rate command depends on the index.
    ConnectionChoice c;
    c.addressType = kOpticalHead;
    c.btOpto = true;
    c.baudIndex = 5;
    EXPECT_EQ(ConnectionLines(c),
              (Lines{"0||COM1,57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,"
                     "FF=0|",
                     "14||5|"}));
}

TEST(ConnectionLines, StandingModemConnectionOnlySetsTheRetries) {
    for (int type = 0; type <= 3; ++type)
        for (int address = 0; address <= 4; ++address)
            for (int baud : {0, 4, 5}) {
                ConnectionChoice c;
                c.communicationType = type;
                c.addressType = address;
                c.baudIndex = baud;
                c.btOpto = true;
                c.phoneConnected = true;
                EXPECT_EQ(ConnectionLines(c), Lines{"1|10||"}) << type << " " << address << " " << baud;
            }
}

TEST(ConnectionLines, FifoOffAddsFf0OnlyToStringsEndingInHs0) {
    EXPECT_EQ(WithFifo("2400,8,1,E,HS=0|", false), "2400,8,1,E,HS=0,FF=0|");
    EXPECT_EQ(WithFifo("2400,8,1,E,HS=0|", true), "2400,8,1,E,HS=0|");
    EXPECT_EQ(WithFifo("HS=0,FF=0|", false), "HS=0,FF=0|");
    EXPECT_EQ(WithFifo("", false), "");
}

TEST(ConnectionLines, ScriptLinesEndInCarriageReturnAndLineFeed) {
    EXPECT_EQ(JoinScript({"5|254||", "16|||"}), "5|254||\r\n16|||\r\n");
    EXPECT_EQ(JoinScript({}), "");
}

TEST(PhoneScripts, DialFollowsTheThreeInitStringForms) {
    struct Row {
        int port, baud;
        const char* init;
        Lines lines;
    } rows[] = {
        {2, 2, "", {"30|COM2|9600|ATX3", "31|COM2|9600|0301234", "1|10||"}},
        {17, 0, "", {"30|COM17|300|ATX3", "31|COM17|300|0301234", "1|10||"}},
        // A dial prefix the modem takes in the same command as the number.
        {2, 2, "<ATX4>", {"30|COM2|9600|ATX3", "31|COM2|9600|<ATX4>0301234", "1|10||"}},
        {32, 4, "<at&d2>", {"30|COM32|38400|ATX3", "31|COM32|38400|<at&d2>0301234", "1|10||"}},
        {1, 1, "<AT", {"30|COM1|2400|ATX3", "31|COM1|2400|<AT0301234", "1|10||"}},
        // Any other init string is a command of its own, then a wait.
        {2, 2, "AT&F&C1",
         {"30|COM2|9600|ATX3", "30|COM2|9600|AT&F&C1", "14||16|", "31|COM2|9600|0301234", "1|10||"}},
        {17, 3, "<A", {"30|COM17|19200|ATX3", "30|COM17|19200|<A", "14||16|", "31|COM17|19200|0301234", "1|10||"}},
        {32, 1, "<At&F", {"30|COM32|2400|ATX3", "30|COM32|2400|<At&F", "14||16|", "31|COM32|2400|0301234", "1|10||"}},
        {1, 1, " <AT", {"30|COM1|2400|ATX3", "30|COM1|2400| <AT", "14||16|", "31|COM1|2400|0301234", "1|10||"}},
    };
    for (const Row& r : rows) EXPECT_EQ(DialScriptLines(r.port, r.baud, r.init, "0301234"), r.lines) << r.init;
}

TEST(PhoneScripts, DialWritesTheBaudTextOfEachIndex) {
    const char* const baud[] = {"300", "2400", "9600", "19200", "38400"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(DialScriptLines(1, i, "", "1").front(), std::string("30|COM1|") + baud[i] + "|ATX3");
    EXPECT_TRUE(DialScriptLines(1, 5, "", "1").empty());
    EXPECT_TRUE(DialScriptLines(1, -1, "", "1").empty());
}

TEST(PhoneScripts, TextsThatWouldChangeTheDialScriptAreRefused) {
    const struct {
        const char* text;
        const char* holds;  // nullptr: taken
    } rows[] = {
        {"0301234", nullptr},
        {"T0301234,,5", nullptr},
        {"AT&F&C1 <>", nullptr},
        {"", nullptr},
        {"0301|234", "\"|\""},
        {"|", "\"|\""},
        {"0301\r\n16|||", "\"|\" and a line break"},
        {"ATZ\nATDT5", "a line break"},
        {"ATZ\r", "a line break"},
    };
    for (const auto& r : rows) {
        const std::optional<std::string> refusal = ScriptTextRefusal(kInitStringName, r.text);
        ASSERT_EQ(refusal.has_value(), r.holds != nullptr) << r.text;
        if (r.holds) {
            EXPECT_NE(refusal->find(std::string(" holds ") + r.holds + ","), std::string::npos) << *refusal;
        }
    }
    EXPECT_EQ(*ScriptTextRefusal(kPhoneNumberName, "12\r\n|3"),
              "Phone number \"12\\r\\n|3\" holds \"|\" and a line break, which would change the dial script; "
              "give it without \"|\" and line breaks.");
}

TEST(PhoneScripts, HangUpSendsHangUpThenClose) {
    EXPECT_EQ(HangUpScriptLines(), (Lines{"32|||", "16|||"}));
    EXPECT_EQ(JoinScript(HangUpScriptLines()), "32|||\r\n16|||\r\n");
}

}  // namespace
}  // namespace mbus::meridex
