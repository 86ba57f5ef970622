// Modem calls through a simulated Hayes modem in front of a simulated bus:
// dial, read and hang up as one script, a call without carrier, a carrier
// lost during a call, and the TEL properties.

#include <gtest/gtest.h>

#include <regex>

#include "control/com/library.h"
#include "sim/bus_description.h"
#include "sim/hayes_modem.h"
#include "tests/control/com/dispatch_client.h"
#include "tests/support/sim_ports.h"

namespace mbus::control::test {
namespace {

using namespace std::chrono_literals;

class Modem : public ::testing::Test {
protected:
    void SetUp() override {
        bus_->SetDefaultBaud(9600);
        sim::VirtualSlave slave;
        std::vector<std::string> errors;
        ASSERT_TRUE(sim::ParseSlave("primary=1 id=12345678 man=QXA medium=07 records=0413D2040000", &slave, errors));
        bus_->AddSlave(std::move(slave));
        ports_.Attach(1, modem_);
        c_ = NewInProcessControl();
        c_.Put("LOGMaxEntries", 100);
        c_.Put("COMPort", 1);
        c_.Put("COMBaudrate", 2400);
        c_.Put("TELConnectTimeout", 5);
        Library::Instance().CurrentRecord()->script.pollPeriod.store(5);
    }

    bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    std::vector<std::string> Lines() {
        static const std::regex stamp("\\|[0-9]{14}\\|");
        std::vector<std::string> lines;
        for (int i = 0; i <= c_.Long("LOGUpperBound"); ++i)
            lines.push_back(std::regex_replace(c_.Text("LOGRetrieveRawDataHex", {i, 0}), stamp, "|",
                                               std::regex_constants::format_first_only));
        return lines;
    }

    std::shared_ptr<sim::SimBus> bus_ = std::make_shared<sim::SimBus>();
    std::shared_ptr<sim::HayesModem> modem_ = std::make_shared<sim::HayesModem>(bus_);
    testsupport::SimulatedPortMap ports_{"modem-test"};
    DispatchClient c_;
};

TEST_F(Modem, DialReadAndHangUpInOneScript) {
    c_.Call("SCRExecute", {std::string("31|COM1|9600|0123\r\n5|1||\r\n32|||\r\n")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "31|COM1|9600|0123|4");
    EXPECT_EQ(lines[1].substr(0, 2), "|0") << "the connection is logged with an empty entry";
    EXPECT_EQ(lines[2].substr(0, 12), "5|1|||030101") << "a long-frame answer over the modem";
    EXPECT_EQ(lines[3], "32||||0");
    const std::vector<std::string> commands = modem_->Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "ATDT0123");
    EXPECT_EQ(commands[1], "ATH0");
    EXPECT_FALSE(modem_->Online());
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    // Back to the settings of before the modem, port open.
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
    EXPECT_EQ(c_.Long("COMIsOpen"), 0);
}

// A host that reads over a dialled call sends its usual scripts, connection
// line included: while the call stands that line is passed over without a
// log entry, so the call survives every read until the hang-up. With the
// option off the line reopens the port, which ends the call.
TEST_F(Modem, ConnectionLinesArePassedOverWhileACallStands) {
    const std::string read = "0||COM1,2400,8,1,E,RTS_Reset,DTR_Reset,TA=330,TO=50,TB=4,PartWait,Retries=3,DT=11,HS=0|\r\n"
                             "5|1||\r\n";
    c_.Call("SCRExecute", {std::string("31|COM1|9600|0123\r\n")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    ASSERT_EQ(c_.Long("TELStatus"), 4);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        c_.Call("LOGReset");
        c_.Call("SCRExecute", {read});
        ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
        EXPECT_EQ(c_.Long("TELStatus"), 4) << "the read left the call standing";
        EXPECT_TRUE(modem_->Online());
        const std::vector<std::string> lines = Lines();
        ASSERT_EQ(lines.size(), 1u) << "the connection line leaves no entry";
        EXPECT_EQ(lines[0].substr(0, 12), "5|1|||030101") << "read over the call";
        EXPECT_EQ(c_.Long("COMBaudrate"), 9600);
    }
    c_.Call("SCRExecute", {std::string("32|||\r\n")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    EXPECT_FALSE(modem_->Online());
    const std::vector<std::string> commands = modem_->Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1], "ATH0");

    // Option off: the connection line opens the port with its own settings.
    c_.Put("SCRNoBaudChangeWhileConnected", 0);
    c_.Call("SCRExecute", {std::string("31|COM1|9600|0123\r\n")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    ASSERT_EQ(c_.Long("TELStatus"), 4);
    c_.Call("LOGReset");
    c_.Call("SCRExecute", {read});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
    EXPECT_EQ(Lines().at(0).substr(0, 6), "0||COM");
}

TEST_F(Modem, CallWithoutCarrier) {
    modem_->SetAnswer(sim::HayesModem::Answer::kNoCarrier);
    c_.Put("SCRMakeCallTrial", 200);  // one call
    c_.Call("SCRExecute", {std::string("1|1||\r\n31|COM1|9600|0123\r\n5|1||\r\n")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("SCRStatus") == 0; }));
    EXPECT_EQ(modem_->Commands().size(), 1u);
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "5|1|||040000000000") << "nobody answers through a modem without a call";
}

TEST_F(Modem, LostCarrierBringsTheDirectLineBack) {
    c_.Put("COMBaudrate", 4800);
    c_.Call("COMOpen");
    c_.Call("TELMakeCall", {1, 9600, std::string("0123")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("TELStatus") == 4; }));
    EXPECT_EQ(c_.Long("COMBaudrate"), 9600);
    EXPECT_EQ(c_.Long("COMTimeoutOffset"), 50 + 6000);
    c_.Call("APPREQUD2", {1});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("APPReceiveTest") != 255; }));
    EXPECT_EQ(c_.Long("APPDeviceID"), 0x12345678);
    modem_->DropCarrier();
    EXPECT_EQ(c_.Long("TELStatus"), 0);
    EXPECT_EQ(c_.Long("COMBaudrate"), 4800);
    EXPECT_EQ(c_.Long("COMTimeoutOffset"), 50);
    EXPECT_EQ(c_.Long("COMIsOpen"), 0);
}

TEST_F(Modem, Properties) {
    c_.Put("TELConnectTimeout", 3);
    EXPECT_EQ(c_.Long("TELConnectTimeout"), 60);
    c_.Put("TELCommandNewLineCharacter", 2);
    c_.Put("TELCommandNewLineCharacter", 7);
    EXPECT_EQ(c_.Long("TELCommandNewLineCharacter"), 2);
    c_.Put("TELAdditionalTelegramTimeout", -1);
    EXPECT_EQ(c_.Long("TELAdditionalTelegramTimeout"), 6000);
    c_.Put("TELToneOrPulseDial", 0);
    c_.Put("TELConnectTimeout", 5);
    c_.Put("TELCommandNewLineCharacter", 0);
    c_.Call("COMOpen");
    // A leading T dials by tone whatever the setting says; it is not dialled.
    c_.Call("TELMakeCall", {1, 9600, std::string("T0123")});
    EXPECT_EQ(c_.Long("TELStatus"), 1);
    c_.Call("TELHangUp");  // refused while dialling
    ASSERT_TRUE(WaitFor([&] { return c_.Long("TELStatus") == 4; }));
    EXPECT_EQ(modem_->Commands().at(0), "ATDT0123");
    c_.Call("TELHangUp");
    ASSERT_TRUE(WaitFor([&] { return c_.Long("APPReceiveTest") != 255; }));
    EXPECT_EQ(modem_->Commands().size(), 2u) << "one hang-up";
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
    // V keeps the port as it is and dials with the default letter (pulse).
    c_.Call("TELMakeCall", {1, 9600, std::string("V555")});
    ASSERT_TRUE(WaitFor([&] { return c_.Long("TELStatus") == 4; }));
    EXPECT_EQ(modem_->Commands().back(), "ATDP555");
    EXPECT_EQ(c_.Long("COMBaudrate"), 2400);
}

}  // namespace
}  // namespace mbus::control::test
