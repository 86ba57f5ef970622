// The device search: the search baud rate, the baud switch, the search
// script of every connection written out line by line, what the control's
// script reader makes of it, and whole searches through the control's
// script runner on a simulated bus: the baud switch reaching the level
// converter, and the special secondary search over the maker's modules
// whose slave list becomes the device list.

#include "configurator/devices/device_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "configurator/devices/device_list.h"
#include "control/com/script_parser.h"
#include "control/com/script_runner.h"
#include "control/com/telegram_log.h"
#include "tests/control/engine/engine_test_support.h"

namespace mbus::meridex {
namespace {

using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

ConnectionChoice Choice(int type, int baudIndex, int port = 1, bool fifo = true, bool phone = false) {
    ConnectionChoice c;
    c.communicationType = type;
    c.addressType = kDeviceList;
    c.baudIndex = baudIndex;
    c.port = port;
    c.fifoBuffer = fifo;
    c.phoneConnected = phone;
    return c;
}

TEST(DeviceSearch, BaudSwitchLines) {
    EXPECT_EQ(BaudSwitchLine(0), "7|253||B8");
    EXPECT_EQ(BaudSwitchLine(1), "7|253||BB");
    EXPECT_EQ(BaudSwitchLine(2), "7|253||BD");
    EXPECT_EQ(BaudSwitchLine(3), "7|253||BE");
    EXPECT_EQ(BaudSwitchLine(4), "7|253||BF");
    EXPECT_EQ(BaudSwitchLine(5), "");
    EXPECT_EQ(BaudSwitchLine(-1), "");
}

TEST(DeviceSearch, SearchBaudIndex) {
    const struct {
        const char* name;
        ConnectionChoice c;
        int dialog;
        int index;
    } rows[] = {
        {"modem, 300 chosen", Choice(1, 3, 1, true, true), 0, 0},
        {"modem, 2400 chosen", Choice(1, 3, 1, true, true), 1, 1},
        {"modem, dialog closed otherwise", Choice(1, 0, 1, true, true), 7, 1},
        {"serial cable: the baud box", Choice(0, 2), 0, 2},
        {"modem type, not connected: the baud box", Choice(1, 0), 1, 0},
        {"IrDA SIR", Choice(2, 1), 0, 4},
        {"IrDA transceiver", Choice(3, 0), 0, 4},
    };
    for (const auto& r : rows) EXPECT_EQ(SearchBaudIndex(r.c, r.dialog), r.index) << r.name;
}

TEST(DeviceSearch, ScriptOfEveryConnection) {
    const struct {
        const char* name;
        ConnectionChoice c;
        int searchBaud;
        Lines lines;
    } rows[] = {
        {"modem, 300 baud", Choice(1, 2, 1, true, true), 0,
         {"1|1||", "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||B8", "20|||", "1|1||"}},
        {"modem, 2400 baud, FIFO off: no port line", Choice(1, 2, 1, false, true), 1,
         {"1|1||", "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||BB", "20|||", "1|1||"}},
        {"serial cable, 300", Choice(0, 0), 0,
         {"0||COM1,300,8,1,E,RTS_Set,DTR_Set,TA=660,TO=300,TB=20,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"serial cable, 2400", Choice(0, 1), 1,
         {"0||COM1,2400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=100,TB=20,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"serial cable, 9600, COM17", Choice(0, 2, 17), 2,
         {"0||COM17,9600,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"serial cable, 19200, FIFO off", Choice(0, 3, 2, false), 3,
         {"0||COM2,19200,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=5,DT=11,HS=0,FF=0|", "1|1||"}},
        {"modem type not connected, 38400, COM32", Choice(1, 4, 32), 4,
         {"0||COM32,38400,8,1,E,RTS_Set,DTR_Set,TA=660,TO=400,TB=200,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"serial cable, no baud selected", Choice(0, -1), -1, {"1|1||"}},
        {"IrDA SIR", Choice(2, 4, 3), 4,
         {"2||COM3,38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0|",
          "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||BF", "20|||",
          "2||COM3,38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"IrDA SIR, FIFO off", Choice(2, 4, 3, false), 4,
         {"2||COM3,38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0,FF=0|",
          "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||BF", "20|||",
          "2||COM3,38400,8,1,E,RTS_Set,DTR_Set,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0,FF=0|", "1|1||"}},
        {"IrDA transceiver", Choice(3, 4, 4), 4,
         {"0||COM4,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0|",
          "7|251||51 0F 58 08",
          "0||COM4,38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0|",
          "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||BF", "20|||",
          "0||COM4,38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0|", "1|1||"}},
        {"IrDA transceiver, FIFO off", Choice(3, 4, 4, false), 4,
         {"0||COM4,9600,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=20,PartWait,Retries=1,DT=11,HS=0,FF=0|",
          "7|251||51 0F 58 08",
          "0||COM4,38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=3,DT=11,HS=0,FF=0|",
          "8||Standard: FFFFFFFF,59C4,90,0E|", "7|253||BF", "20|||",
          "0||COM4,38400,8,1,E,RTS_Reset,DTR_Reset,TA=12000,TO=500,TB=9999,PartWait,Retries=5,DT=11,HS=0,FF=0|",
          "1|1||"}},
    };
    for (const auto& r : rows) EXPECT_EQ(DeviceSearchLines(r.c, r.searchBaud), r.lines) << r.name;
}

TEST(DeviceSearch, TheControlReadsEveryLine) {
    // Each search script parses into one item per line; the port lines
    // carry their retries and FIFO setting, the baud switch its CI.
    const struct {
        const char* name;
        ConnectionChoice c;
        int searchBaud;
        std::vector<int> commands;
        std::vector<int> retries;  // of the port lines, in order
        int fifo;
    } rows[] = {
        {"modem", Choice(1, 0, 1, true, true), 1, {1, 8, 7, 20, 1}, {}, 1},
        {"serial cable", Choice(0, 1, 1, false), 1, {0, 1}, {5}, 0},
        {"IrDA SIR", Choice(2, 4, 1), 4, {2, 8, 7, 20, 2, 1}, {3, 5}, 1},
        {"IrDA transceiver", Choice(3, 4, 1, false), 4, {0, 7, 0, 8, 7, 20, 0, 1}, {1, 3, 5}, 0},
    };
    for (const auto& r : rows) {
        const std::vector<control::ScriptItem> items =
            control::ParseScript(JoinScript(DeviceSearchLines(r.c, r.searchBaud)), control::ParseSettings{});
        std::vector<int> commands, retries;
        for (const control::ScriptItem& item : items) {
            commands.push_back(item.command);
            if (item.parameters) {
                retries.push_back(item.parameters->retries);
                EXPECT_EQ(item.parameters->fifo, r.fifo) << r.name;
            }
            if (item.command == 7 && item.argument == 253) {
                ASSERT_EQ(item.data.size(), 1u) << r.name;
                const uint8_t ci[] = {0xB8, 0xBB, 0xBD, 0xBE, 0xBF};
                EXPECT_EQ(item.data[0], ci[r.searchBaud]) << r.name;
            }
        }
        EXPECT_EQ(commands, r.commands) << r.name;
        EXPECT_EQ(retries, r.retries) << r.name;
    }
}

TEST(DeviceSearch, SpecialSearchCallOfEachMaker) {
    const SpecialSearchCall vnd = DeviceSearchCall(0);
    EXPECT_EQ(vnd.mode, 0);
    EXPECT_EQ(vnd.start, "0FFFFFFF");
    EXPECT_EQ(vnd.end, "FFFFFFFF");
    EXPECT_EQ(vnd.manufacturer, "59C4");
    EXPECT_EQ(vnd.generation, "FF");
    EXPECT_EQ(vnd.medium, "FF");
    EXPECT_EQ(DeviceSearchCall(1).manufacturer, "2E92");
    EXPECT_EQ(kSearchTimeoutRetries, 3);
}

// ---------------------------------------------------------------------------
// Searches through the control's script runner on a simulated bus

class SearchOnTheBus : public ::testing::Test {
protected:
    void SetUp() override {
        Bus().bus->SetDefaultBaud(38400);
        Bus().bus->SetReplyDelay(4ms);
        channel_.SetLog(log_);
        // Short timeouts (an unanswered probe ends after about 60 ms) and one
        // transmission of each request: the answers, 4 ms after it, are
        // past the dead time and heard every time.
        channel_.UpdateParameters([](engine::ConnectionParameters& p) {
            p.baud = 38400;
            p.TO = 50;
            p.retries = 1;
        });
        engine::test::OpenOnPort(channel_, 1, 2);
        runner_.pollPeriod.store(2);
        runner_.searchDelay.store(0);
    }
    engine::test::RecordingBus& Bus() { return ports_.Bus(1); }
    bool Wait(std::chrono::seconds limit = 120s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (runner_.Status() != 0) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // The device search after its script: the special search and the list
    // built from the hexadecimal slave list.
    std::string Search(int manufacturerCode) {
        const SpecialSearchCall call = DeviceSearchCall(manufacturerCode);
        runner_.SearchRange(call.mode, call.start, call.end, call.manufacturer, call.generation, call.medium);
        EXPECT_TRUE(Wait());
        return control::HexSlaveList(runner_.SlaveList());
    }
    std::vector<std::string> Texts(const std::vector<DeviceEntry>& entries) {
        std::vector<std::string> texts;
        for (const DeviceEntry& e : entries) texts.push_back(e.text);
        return texts;
    }

    engine::test::SimulatedPorts ports_{1, "device-search-test-"};
    engine::Channel channel_{0};
    std::shared_ptr<engine::test::RecordingLog> log_ = std::make_shared<engine::test::RecordingLog>();
    control::ScriptRunner runner_{channel_};
};

TEST_F(SearchOnTheBus, OverAModemTheConverterIsToldTheRate) {
    Bus().AddSlave("module=converter");
    for (int dialog : {kSearchBaud300, kSearchBaud2400}) {
        const ConnectionChoice c = Choice(kModemDialUp, 4, 1, true, true);
        const int index = SearchBaudIndex(c, dialog);
        runner_.Execute(JoinScript(DeviceSearchLines(c, index)));
        ASSERT_TRUE(Wait());
        int requested = -1;
        Bus().bus->WithSlave(0, [&](sim::VirtualSlave& s) {
            if (const sim::LevelConverter* converter = s.module.As<sim::LevelConverter>())
                requested = converter->RequestedBaud();
        });
        EXPECT_EQ(requested, dialog == kSearchBaud300 ? 300 : 2400);
    }
    // The selection and the switch were acknowledged (E5h), the deselection too.
    std::vector<std::string> acknowledged;
    for (const engine::test::RecordingLog::Entry& e : log_->Entries())
        if (e.answered && e.bytes == std::vector<uint8_t>{0xE5}) acknowledged.push_back(e.line);
    EXPECT_EQ(acknowledged.size(), 6u);
    EXPECT_NE(std::find(acknowledged.begin(), acknowledged.end(), "7|253||B8"), acknowledged.end());
    EXPECT_NE(std::find(acknowledged.begin(), acknowledged.end(), "7|253||BB"), acknowledged.end());
}

TEST_F(SearchOnTheBus, TheMakersModulesBecomeTheDeviceList) {
    Bus().AddSlave("module=converter");
    Bus().AddSlave("module=pulse man=VND primary=1 id=12345678 id2=23456789");
    Bus().AddSlave("module=analog man=VND primary=2 id=34567890");
    Bus().AddSlave("module=control man=VND primary=3 id=45678901");
    Bus().AddSlave("module=analog man=KTR primary=4 id=56789012");
    Bus().AddSlave("primary=5 id=67890123 man=QXA version=01 medium=07 records=0413D2040000");

    const std::string vnd = Search(0);
    ASSERT_EQ(vnd.size(), 4 * kSlaveListEntryLength) << vnd;
    EXPECT_EQ(vnd.substr(0, 19), "00112345678VND14907");
    EXPECT_EQ(vnd.substr(51, 19), "00123456789VND14907") << "input 2 of the Pulse module";
    EXPECT_EQ(vnd.substr(102, 19), "00234567890VND15019");
    EXPECT_EQ(vnd.substr(153, 19), "0034567890" "1VND1510E");

    DeviceList list;
    EXPECT_EQ(list.AppendSlaveList(vnd, 0, 1), 4u);
    EXPECT_EQ(Texts(list.Entries(0)),
              (std::vector<std::string>{"P: 12345678, 07", "P: 23456789, 07", "A: 34567890, 19", "C: 45678901, 0E"}));
    EXPECT_EQ(list.Records()[2].substr(0, 32), "0000" "90785634" "C459" "19" "96" "FFFFFFFF01" "1F");
    EXPECT_TRUE(list.Entries(1).empty());

    // Under the other maker code the search finds the other maker's module.
    const std::string ktr = Search(1);
    ASSERT_EQ(ktr.size(), kSlaveListEntryLength) << ktr;
    list.Clear();
    EXPECT_EQ(list.AppendSlaveList(ktr, 1, 0), 1u);
    EXPECT_EQ(Texts(list.Entries(1)), std::vector<std::string>{"AN: 56789012, 19"});
    EXPECT_EQ(list.Records()[0].substr(30, 2), "FF") << "the code of 300 baud";
}

}  // namespace
}  // namespace mbus::meridex
