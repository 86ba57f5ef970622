// The connection lines of every communication type, address type, baud
// index, FIFO setting and optical head, and the dial and hang-up scripts.

#include "configurator/shell/connection_lines.h"

#include <gtest/gtest.h>

#include "configurator/shell/phone_scripts.h"

namespace mbus::meridex {
namespace {

// Written out as the program must send them (FIFO on).
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
const std::string kRadio =
    "57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,FullWait,Retries=1,DT=11,HS=0,FF=0|";

std::string NoFifo(std::string s) { return s.substr(0, s.size() - 1) + ",FF=0|"; }

// The expected lines, built from the written-out strings above.
std::vector<std::string> Expected(const ConnectionChoice& c) {
    const std::string prefix = "0||COM" + std::to_string(c.port) + ",";
    auto fifo = [&](std::string s) { return c.fifoBuffer ? s : NoFifo(s); };
    if (c.communicationType == 2)
        return {"2||COM" + std::to_string(c.port) + "," +
                fifo("38400,8,1,E,RTS_Set,DTR_Set,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|")};
    if (c.communicationType == 3)
        return {prefix + fifo("9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|"),
                "7|251||51 0F 48 08",
                prefix + fifo("38400,8,1,E,RTS_Reset,DTR_Reset,TA=6000,TO=1000,TB=1000,PartWait,Retries=10,DT=11,HS=0|")};
    if (c.addressType != 0) return {prefix + fifo(kConverter[c.baudIndex])};
    if (c.btOpto) return {prefix + kRadio, "14||5|", kRadioRate[c.baudIndex]};
    return {prefix + fifo(kHead[c.baudIndex])};
}

TEST(ConnectionLines, EveryTypeAddressBaudFifoAndHead) {
    int cases = 0;
    for (int type = 0; type <= 3; ++type)
        for (int address = 0; address <= 4; ++address)
            for (int baud = 0; baud <= 4; ++baud)
                for (int fifo = 0; fifo <= 1; ++fifo)
                    for (int opto = 0; opto <= 1; ++opto) {
                        ConnectionChoice c;
                        c.communicationType = type;
                        c.addressType = address;
                        c.baudIndex = baud;
                        c.port = 1 + (cases % 32);
                        c.fifoBuffer = fifo == 1;
                        c.btOpto = opto == 1;
                        EXPECT_EQ(ConnectionLines(c), Expected(c))
                            << "type " << type << " address " << address << " baud " << baud << " fifo " << fifo
                            << " opto " << opto;
                        ++cases;
                    }
    EXPECT_EQ(cases, 400);
}

TEST(ConnectionLines, SpotChecksWrittenOutWhole) {
    ConnectionChoice c;  // serial cable, broadcast, 2400, COM1, FIFO on
    EXPECT_EQ(ConnectionLines(c), std::vector<std::string>{
                                      "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=40,"
                                      "DT=11,HS=0|"});
    c.fifoBuffer = false;
    c.port = 17;
    c.baudIndex = 2;
    EXPECT_EQ(ConnectionLines(c), std::vector<std::string>{
                                      "0||COM17,9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=40,"
                                      "DT=11,HS=0,FF=0|"});
    c.addressType = kOpticalHead;
    c.btOpto = true;
    c.port = 32;
    // The radio head's port line carries FF=0 whatever the FIFO setting says.
    for (bool fifo : {false, true}) {
        c.fifoBuffer = fifo;
        EXPECT_EQ(ConnectionLines(c),
                  (std::vector<std::string>{"0||COM32,57600,8,1,N,RTS_Reset,DTR_Reset,TA=25000,TO=500,TB=9999,"
                                            "FullWait,Retries=1,DT=11,HS=0,FF=0|",
                                            "14||5|", "13|||FE FE FE 42 4C 55 45 30 38 45 31 35 FF"}));
    }
}

TEST(ConnectionLines, IrdaTypesRunAt38400WhateverTheBaudBoxShows) {
    for (int type : {2, 3})
        for (int baud : {0, 1, 2, 3, 4, 7, -1}) {
            ConnectionChoice c;
            c.communicationType = type;
            c.baudIndex = baud;
            const auto lines = ConnectionLines(c);
            ASSERT_FALSE(lines.empty());
            EXPECT_NE(lines.back().find(",38400,"), std::string::npos) << lines.back();
        }
}

TEST(ConnectionLines, EveryPortIsWrittenAsItself) {
    for (int port = 1; port <= 32; ++port) {
        ConnectionChoice c;
        c.port = port;
        const std::string expected = "0||COM" + std::to_string(port) + ",2400,";
        EXPECT_EQ(ConnectionLines(c).at(0).rfind(expected, 0), 0u) << port;
        c.communicationType = 2;
        EXPECT_EQ(ConnectionLines(c).at(0).rfind("2||COM" + std::to_string(port) + ",38400,", 0), 0u) << port;
        const auto dial = DialScriptLines(port, 1, "", "0123");
        EXPECT_EQ(dial.at(0), "30|COM" + std::to_string(port) + "|2400|ATX3");
        EXPECT_EQ(dial.at(1), "31|COM" + std::to_string(port) + "|2400|0123");
    }
}

TEST(ConnectionLines, BaudIndexOutsideTheBoxAddsNoPortLine) {
    for (int baud : {-1, 5, 99}) {
        ConnectionChoice c;
        c.baudIndex = baud;
        EXPECT_TRUE(ConnectionLines(c).empty());
        c.addressType = kOpticalHead;
        EXPECT_TRUE(ConnectionLines(c).empty());
    }
}

TEST(ConnectionLines, StandingModemConnectionOnlySetsTheRetries) {
    for (int type = 0; type <= 3; ++type) {
        ConnectionChoice c;
        c.communicationType = type;
        c.phoneConnected = true;
        EXPECT_EQ(ConnectionLines(c), std::vector<std::string>{"1|10||"});
    }
}

TEST(ConnectionLines, ScriptLinesEndInCarriageReturnAndLineFeed) {
    EXPECT_EQ(JoinScript({"5|254||", "16|||"}), "5|254||\r\n16|||\r\n");
    EXPECT_EQ(JoinScript({}), "");
}

TEST(PhoneScripts, TheThreeInitStringForms) {
    struct Case {
        const char* init;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {"30|COM2|9600|ATX3", "31|COM2|9600|0301234", "1|10||"}},
        {"<ATX4>", {"30|COM2|9600|ATX3", "31|COM2|9600|<ATX4>0301234", "1|10||"}},
        {"<at&d2>", {"30|COM2|9600|ATX3", "31|COM2|9600|<at&d2>0301234", "1|10||"}},
        {"AT&F&C1", {"30|COM2|9600|ATX3", "30|COM2|9600|AT&F&C1", "14||16|", "31|COM2|9600|0301234", "1|10||"}},
        // "<A" alone is not the dial-prefix form.
        {"<A", {"30|COM2|9600|ATX3", "30|COM2|9600|<A", "14||16|", "31|COM2|9600|0301234", "1|10||"}},
    };
    for (const Case& c : cases) EXPECT_EQ(DialScriptLines(2, 2, c.init, "0301234"), c.lines) << c.init;
}

TEST(PhoneScripts, BaudTextsAndHangUp) {
    const char* const baud[] = {"300", "2400", "9600", "19200", "38400"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(DialScriptLines(1, i, "", "1").front(), std::string("30|COM1|") + baud[i] + "|ATX3");
    EXPECT_TRUE(DialScriptLines(1, 5, "", "1").empty());
    EXPECT_EQ(HangUpScriptLines(), (std::vector<std::string>{"32|||", "16|||"}));
}

}  // namespace
}  // namespace mbus::meridex
