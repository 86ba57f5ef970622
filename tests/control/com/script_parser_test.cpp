// The script language: which lines make items, with which bytes and
// result lines.

#include <gtest/gtest.h>

#include "control/com/script_parser.h"

namespace mbus::control {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<ScriptItem> Parse(std::string_view text, int autoBaud = 0) {
    ParseSettings s;
    s.autoBaudSwitch = autoBaud;
    return ParseScript(text, s);
}

TEST(ScriptParser, LinesAndDroppedLines) {
    EXPECT_EQ(Parse("16|||").size(), 1u);
    EXPECT_EQ(Parse("16|||")[0].line, "16|||");
    EXPECT_TRUE(Parse("50|||").empty()) << "command 50 is not in the language";
    EXPECT_TRUE(Parse("|||").empty());
    EXPECT_TRUE(Parse("16||").empty()) << "a separator is missing";
    EXPECT_TRUE(Parse("5|256||").empty());
    EXPECT_TRUE(Parse("5|" + std::string(30, '1') + "||").empty()) << "a field of 30 characters";
    // Line ends, blanks between lines, numbers read from their digits.
    const auto items = Parse("\r\n  5|COM1||\n\n 4|7||\r3|250||");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].command, 5);
    EXPECT_EQ(items[0].argument, 1);
    EXPECT_EQ(items[0].line, "5|1||");
    EXPECT_EQ(items[1].line, "4|7||");
    EXPECT_EQ(items[2].line, "3|250||");
}

TEST(ScriptParser, SendUserData) {
    const auto hex = Parse("7|251||51 0F 48 08");
    ASSERT_EQ(hex.size(), 1u);
    EXPECT_EQ(hex[0].argument, 251);
    EXPECT_EQ(hex[0].data, (Bytes{0x51, 0x0F, 0x48, 0x08}));
    EXPECT_EQ(hex[0].line, "7|251||510F4808");
    const auto dec = Parse("7|1|D|081015");
    ASSERT_EQ(dec.size(), 1u);
    EXPECT_EQ(dec[0].data, (Bytes{0x51, 0x0F}));
    EXPECT_EQ(dec[0].line, "7|1||081015");
    EXPECT_TRUE(Parse("7|1||5").empty()) << "an odd last digit is dropped, and no CI remains";
    EXPECT_EQ(Parse("7|1||51 0")[0].data, Bytes{0x51});
    EXPECT_TRUE(Parse("7|1||").empty()) << "no CI to send";
    const auto raw = Parse("113|||10 5B 01 5C 16");
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0].line, "113|||105B015C16");
    EXPECT_EQ(Parse("13|||" + std::string(1000, 'A'))[0].line.size(), 5u + 802u) << "echo of at most 401 bytes";
}

TEST(ScriptParser, Selections) {
    const auto plain = Parse("8||Standard: FFFFFFFF,59C4,90,0E|");
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].data, (Bytes{0x52, 0xFF, 0xFF, 0xFF, 0xFF, 0xC4, 0x59, 0x90, 0x0E}));
    EXPECT_EQ(plain[0].line, "8||Standard: FFFFFFFF,59C4,90,0E|");
    const auto written = Parse("8||Standard1: FFFFFFFF,59C4,90,0E|");
    EXPECT_EQ(written[0].data, (Bytes{0x56, 0xFF, 0xFF, 0xFF, 0xFF, 0x59, 0xC4, 0x90, 0x0E}));
    EXPECT_EQ(written[0].line, "8||Standard1: FFFFFFFF,59C4,90,0E|");
    const auto prim = Parse("8||Standard: 12345678,59C4,90,0E,12|");
    EXPECT_EQ(prim[0].data.size(), 12u);
    EXPECT_EQ(Bytes(prim[0].data.end() - 3, prim[0].data.end()), (Bytes{0x01, 0x7A, 0x12}));
    const auto fab = Parse("108||x3: 12345678,59C4,90,0E,1234|");
    EXPECT_EQ(fab[0].data[0], 0x55);
    EXPECT_EQ(fab[0].data.size(), 15u);
    EXPECT_EQ(fab[0].line, "108||Standard3: 12345678,59C4,90,0E,1234FFFF|");
    const auto fixed = Parse("8||Standard: 12345678,1938,90,0E|");
    EXPECT_EQ(fixed[0].line, "8||Standard: 12345678,FFFF,FF,FF|");
    // Lower case, blanks and missing fields.
    const auto loose = Parse("8||S2: 1234 56ab|");
    EXPECT_EQ(loose[0].line, "8||Standard2: 123456AB,FFFF,FF,FF|");
    EXPECT_TRUE(Parse("8||no colon here|").empty());

    const auto customer = Parse("9||Customer: 123456789012,00000000000|");
    ASSERT_EQ(customer.size(), 1u);
    EXPECT_EQ(customer[0].data.size(), 27u);
    EXPECT_EQ(customer[0].line, "9||Customer: 123456789012,00000000000F|");
}

TEST(ScriptParser, Connections) {
    const std::string line = "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=200,TB=500,PartWait,Retries=40,DT=1002,HS=0|";
    const auto items = Parse(line);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].line, line);
    const engine::ConnectionParameters& p = *items[0].parameters;
    EXPECT_EQ(p.port, 1);
    EXPECT_EQ(p.baud, 2400);
    EXPECT_EQ(p.rts, 1);
    EXPECT_EQ(p.TA, 660);
    EXPECT_EQ(p.retries, 40);
    EXPECT_EQ(p.DT, 1002);

    // Defaults for empty or unknown fields; X is no parity with the preamble.
    const auto other = Parse("2||COM3,,7,2,x,rts_toggle,bogus,,,,nowait,,,|");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].line,
              "2||COM3,300,7,2,X,RTS_Toggle,DTR_Reset,TA=330,TO=50,TB=4,NoWait,Retries=3,DT=11,HS=0|");
    EXPECT_EQ(other[0].parameters->zeroPreamble, 1);
    // The first thirteen fields must all be there.
    EXPECT_TRUE(Parse("0||COM1,2400,8,1,E|").empty());
    // FF after HS and a comma.
    const auto ff = Parse("0||COM1,9600,8,1,N,RTS_Reset,DTR_Reset,TA=1,TO=2,TB=3,FullWait,Retries=4,DT=5,HS=7,FF=0|");
    ASSERT_EQ(ff.size(), 1u);
    EXPECT_EQ(ff[0].parameters->highSpeed, 1);
    EXPECT_EQ(ff[0].parameters->fifo, 0);
    EXPECT_EQ(ff[0].line, "0||COM1,9600,8,1,N,RTS_Reset,DTR_Reset,TA=1,TO=2,TB=3,FullWait,Retries=4,DT=5,HS=1|");
}

TEST(ScriptParser, AutomaticBaudSwitch) {
    const std::string a = "0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=4,DT=11,HS=0|\r\n";
    const std::string b = "0||COM1,9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=4,DT=11,HS=0|\r\n";
    const auto items = Parse(a + b, 1);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].command, 7);
    EXPECT_EQ(items[1].argument, 255);
    EXPECT_EQ(items[1].data, Bytes{0xBD});
    EXPECT_EQ(items[1].line, "7|255||BD");
    EXPECT_EQ(Parse(a + b, 0).size(), 2u);
    EXPECT_EQ(BaudSwitchCI(1234), 0xFF);
}

TEST(ScriptParser, MacrosAndDeviceCommands) {
    const auto macro = Parse("13|||AA 55 AA 55 01");
    ASSERT_EQ(macro.size(), 4u);
    EXPECT_EQ(macro[0].line, "5|253||");
    EXPECT_EQ(macro[1].line, "7|253||51C840FD208841FD21");
    EXPECT_EQ(Parse("13|||AA 55 AA 55 02").size(), 5u);
    EXPECT_EQ(Parse("13|||AA 55 AA 55 03").size(), 1u);

    EXPECT_EQ(Parse("121|||")[0].data, (Bytes{0x1B, 0x1B, 0x1B, 0x03, 0x0D}));
    EXPECT_EQ(Parse("125|7||")[0].data, (Bytes{0x1B, 0x1B, 0x1B, 0x14, 0x07}));
    const auto ids = Parse("126||12f-34|");
    EXPECT_EQ(ids[0].line, "126||12F34FFF|");
    EXPECT_EQ(ids[0].data.size(), 12u);
    const auto numbers = Parse("323|5||1200,34");
    ASSERT_EQ(numbers.size(), 1u);
    EXPECT_EQ(numbers[0].data, (Bytes{0x51, 0x04, 0xFD, 0x12, 0xB0, 0x04, 0, 0, 0x04, 0xFD, 0x16, 34, 0, 0, 0}));
    EXPECT_EQ(numbers[0].line, "323|5||1200,34");
    const auto interface = Parse("100||COM1,9600,8,1,E|");
    ASSERT_EQ(interface.size(), 0u) << "a connection string needs its thirteen fields";
    const auto rate = Parse("100||COM1,9600,8,1,E,RTS_Reset,DTR_Reset,TA=1,TO=1,TB=1,NoWait,Retries=1,DT=1,HS=0|");
    ASSERT_EQ(rate.size(), 1u);
    EXPECT_EQ(rate[0].data, (Bytes{0x1B, 0x1B, 0x1B, 0x31, 0x05}));
    EXPECT_EQ(rate[0].line,
              "100||COM1,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=4,NoWait,Retries=3,DT=11,HS=0");
    const auto dial = Parse("31|COM2|1002400|<ATX3>P0123");
    ASSERT_EQ(dial.size(), 1u);
    EXPECT_EQ(dial[0].argument, 2);
    EXPECT_EQ(dial[0].mode, 1002400);
    EXPECT_EQ(dial[0].line, "31|COM2|1002400|<ATX3>P0123");
}

}  // namespace
}  // namespace mbus::control
