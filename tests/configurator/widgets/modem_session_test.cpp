// The main dialog over a modem: the control created in this process with
// COM1 leading to a simulated Hayes modem that has the demo modules' bus
// behind it (what MERIDEX --simulate=modem:FILE does). Dialling with each
// form of the init string, reads over the standing connection, the
// refused change of the connection type, a lost carrier and hanging up.
// Runs under the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <fstream>
#include <sstream>

#include "configurator/devices/module_pages.h"
#include "configurator/shell/main_dialog.h"
#include "sim/hayes_modem.h"
#include "sim/simulated_control.h"
#include "tests/configurator/widgets/in_process_dialog.h"
#include "tests/support/scratch.h"

namespace mbus::meridex {
namespace {

using testsupport::ScratchDirectory;
using namespace std::chrono_literals;

using test::PutLong;

class ModemSession : public ::testing::Test {
protected:
    void Start(const std::string& initString) {
        ASSERT_TRUE(scratch_.Ok());
        scratch_.WriteFile("bus.txt",
                           "module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 "
                           "factor1=10/1 medium2=1F\nmodule=converter man=VND\n");
        scratch_.WriteFile("MERIDEX.INI",
                           "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=1\r\nCommunicationType=1\r\nBaudrate=1\r\n"
                           "Baudrate1=1\r\nAddressType=3\r\nPrimAddress=1\r\nPhonenumber=0301234\r\nModemInitString=" +
                               initString +
                               "\r\nPhoneConnectionTimeout=20\r\n[MERIDEX PhoneList]\r\nPhoneListEntries=1\r\n"
                               "PhoneListNumber0=0301234\r\nPhoneListDescription0=Boiler room\r\n");
        sim::SimulationOptions o;
        o.kind = "modem";
        o.slaves = scratch_.File("bus.txt");
        com::ComPtr<com::IDispatch> control;
        std::ostringstream err;
        devices_ = sim::SimulatedDevices::Create(o, &control, err, "test");
        ASSERT_NE(devices_, nullptr) << err.str();
        // Over the call every request waits TO plus this long for its answer
        // (6 s by default): shorter here, so a lost carrier's ten attempts
        // do not take a minute.
        PutLong(control.Get(), u"TELAdditionalTelegramTimeout", 500);
        DialogOptions d;
        d.programPath = scratch_.File("MERIDEX");
        d.iniPath = scratch_.File("MERIDEX.INI");
        d.createControl = [control](std::string*) { return Control(control); };
        d.messageBox = [](const QString& text, const QString&, MessageIcon) { ADD_FAILURE() << text.toStdString(); };
        d.askSearchBaudrate = [this] {
            ++baudQuestions_;
            return searchBaudIndex_;
        };
        d.editPhoneList = [this](const std::vector<PhoneListEntry>& list) {
            PhoneListOutcome o;
            o.list = list;
            o.list.push_back({"Pump station", "0309999"});
            o.chosenNumber = "0309999";
            o.chosenDescription = "Pump station";
            o.ok = phoneListOk_;
            return o;
        };
        dialog_ = std::make_unique<CMERIDEXDlg>(std::move(d));
        dialog_->show();
    }
    void TearDown() override {
        if (dialog_ && dialog_->Cycle().PhoneConnected()) {
            QTest::mouseClick(dialog_->findChild<QPushButton*>("connect"), Qt::LeftButton);
            WaitForScript();
        }
        if (dialog_) dialog_->RequestClose();
        dialog_.reset();
        devices_.reset();
    }
    bool WaitForScript(std::chrono::seconds limit = 90s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        do {
            QTest::qWait(20);
            if (std::chrono::steady_clock::now() > until) return false;
        } while (dialog_->Cycle().ScriptRunning());
        return true;
    }
    void Connect() {
        QTest::mouseClick(dialog_->findChild<QPushButton*>("connect"), Qt::LeftButton);
        ASSERT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneBusy);
        ASSERT_TRUE(WaitForScript());
        ASSERT_TRUE(dialog_->Cycle().PhoneConnected()) << dialog_->StatusText().toStdString();
    }
    std::string Status() const { return dialog_->StatusText().toStdString(); }

    ScratchDirectory scratch_;
    int searchBaudIndex_ = 1;
    int baudQuestions_ = 0;
    bool phoneListOk_ = true;
    std::unique_ptr<sim::SimulatedDevices> devices_;
    std::unique_ptr<CMERIDEXDlg> dialog_;
};

struct InitCase {
    const char* name;
    const char* init;
    const char* script;
};

class DialScripts : public ModemSession, public ::testing::WithParamInterface<InitCase> {};

TEST_P(DialScripts, ConnectWithEachFormOfTheInitString) {
    Start(GetParam().init);
    Connect();
    EXPECT_EQ(dialog_->LastScript(), GetParam().script);
    EXPECT_EQ(Status(), "Connection established.");
    EXPECT_EQ(dialog_->windowTitle().toStdString(), "MERIDEX    Connected to   Boiler room");
    EXPECT_EQ(dialog_->findChild<QPushButton*>("connect")->text().toStdString(), "Han&g Up");
    EXPECT_TRUE(devices_->Modem()->Online());
}

INSTANTIATE_TEST_SUITE_P(
    InitStrings, DialScripts,
    ::testing::Values(InitCase{"Empty", "", "30|COM1|2400|ATX3\r\n31|COM1|2400|0301234\r\n1|10||\r\n"},
                      InitCase{"DialPrefix", "<ATDP", "30|COM1|2400|ATX3\r\n31|COM1|2400|<ATDP0301234\r\n1|10||\r\n"},
                      InitCase{"Command", "ATZ", "30|COM1|2400|ATX3\r\n30|COM1|2400|ATZ\r\n14||16|\r\n31|COM1|2400|0301234\r\n1|10||\r\n"}),
    [](const ::testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

TEST_F(ModemSession, ReadsOverTheConnectionThenHangsUp) {
    Start("");
    Connect();
    // Two reads: the call stands through both.
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        dialog_->Read();
        EXPECT_EQ(dialog_->LastScript().substr(0, 8), "1|10||\r\n") << "no port is opened over a standing connection";
        EXPECT_EQ(dialog_->LastScript().substr(dialog_->LastScript().size() - 8), "1|10||\r\n");
        ASSERT_TRUE(WaitForScript());
        EXPECT_EQ(Status(), "Success!");
        EXPECT_EQ(dialog_->Pages()->Page(), kPagePulseInput1);
        EXPECT_EQ(dialog_->Pages()->pulse[0].counter->text().toStdString(), "10000");
        EXPECT_TRUE(devices_->Modem()->Online());
        EXPECT_EQ(test::GetLong(dialog_->TheControl().Dispatch(), u"TELStatus"), 4);
    }

    // The connection type stays while the call stands.
    dialog_->SetCommunicationType(kSerialCable);
    EXPECT_EQ(dialog_->findChild<QComboBox*>("communicationType")->currentIndex(), kModemDialUp);

    QTest::mouseClick(dialog_->findChild<QPushButton*>("connect"), Qt::LeftButton);
    EXPECT_EQ(dialog_->LastScript(), "32|||\r\n16|||\r\n");
    EXPECT_EQ(Status(), "Hanging Up.");
    ASSERT_TRUE(WaitForScript());
    EXPECT_FALSE(dialog_->Cycle().PhoneConnected());
    EXPECT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(devices_->Modem()->Online());
    EXPECT_EQ(dialog_->windowTitle().toStdString(), "MERIDEX 1.30");
    EXPECT_EQ(dialog_->findChild<QPushButton*>("connect")->text().toStdString(), "&Connect");
    dialog_->SetCommunicationType(kSerialCable);
    EXPECT_EQ(dialog_->findChild<QComboBox*>("communicationType")->currentIndex(), kSerialCable);
}

TEST_F(ModemSession, ALostCarrierFailsTheReadAndTheCallCanStillBeHungUp) {
    Start("");
    Connect();
    devices_->Modem()->DropCarrier();
    dialog_->Read();
    ASSERT_TRUE(WaitForScript());
    EXPECT_EQ(Status(), "FAILED! No valid answer from primary address 1.");
    QTest::mouseClick(dialog_->findChild<QPushButton*>("connect"), Qt::LeftButton);
    ASSERT_TRUE(WaitForScript());
    EXPECT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneIdle);
}

TEST_F(ModemSession, ASearchOverTheModemAsksForTheBaudRateAndSendsItsSwitch) {
    // 300 baud here; the 2400 baud switch ("7|253||BB") is a row of the search script's table test.
    for (int baud : {0}) {
        SCOPED_TRACE(baud);
        searchBaudIndex_ = baud;
        Start("");
        Connect();
        QTest::mouseClick(dialog_->findChild<QPushButton*>("deviceSearch"), Qt::LeftButton);
        EXPECT_EQ(baudQuestions_, baud + 1);
        EXPECT_EQ(dialog_->LastScript(), std::string("1|1||\r\n8||Standard: FFFFFFFF,59C4,90,0E|\r\n7|253||") +
                                             (baud == 0 ? "B8" : "BB") + "\r\n20|||\r\n1|1||\r\n");
        ASSERT_TRUE(WaitForScript(300s));
        ASSERT_EQ(dialog_->Devices().Records().size(), 1u) << Status();
        EXPECT_EQ(dialog_->Devices().Records()[0].substr(30, 2), baud == 0 ? "FF" : "1F");
        EXPECT_EQ(dialog_->DeviceEntries(), QStringList{"P: 11223344, 07"});
        TearDown();
    }
}

TEST_F(ModemSession, ThePhoneListSetsTheNumberAndItsDescription) {
    Start("");
    auto* number = dialog_->findChild<QLineEdit*>("phoneNumber");
    auto* description = dialog_->findChild<QLabel*>("phoneDescription");
    EXPECT_EQ(description->text().toStdString(), "Boiler room");
    QTest::mouseClick(dialog_->findChild<QPushButton*>("phoneList"), Qt::LeftButton);
    EXPECT_EQ(number->text().toStdString(), "0309999");
    EXPECT_EQ(description->text().toStdString(), "Pump station");
    // Cancel keeps the edits but not the choice.
    phoneListOk_ = false;
    number->setText("0301234");
    QTest::mouseClick(dialog_->findChild<QPushButton*>("phoneList"), Qt::LeftButton);
    EXPECT_EQ(number->text().toStdString(), "0301234");
    EXPECT_EQ(dialog_->CurrentSettings().phoneList.size(), 3u);
    number->setText("0000");
    emit number->editingFinished();
    EXPECT_TRUE(description->text().isEmpty()) << "no record has that number";
}

TEST_F(ModemSession, ABreakWhileDiallingEndsIdle) {
    Start("");
    devices_->Modem()->SetDialTime(std::chrono::milliseconds(30000));
    QTest::mouseClick(dialog_->findChild<QPushButton*>("connect"), Qt::LeftButton);
    QTest::qWait(300);
    QTest::mouseClick(dialog_->findChild<QPushButton*>("break"), Qt::LeftButton);
    ASSERT_TRUE(WaitForScript());
    EXPECT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneIdle);
    EXPECT_FALSE(dialog_->Cycle().PhoneConnected());
}

// No modem on the line at all: COM1 leads straight to a bus, where nothing
// answers the modem commands. The dial ends as failed after the connect
// timeout (5 s here, the least the control takes) and its margin, not as
// a connection.
using NoModem = test::InProcessDialog;

TEST_F(NoModem, ADialThatNothingAnswersEndsFailedAfterTheTimeout) {
    StartBus({"module=pulse man=VND primary=1 firmware=13 id=11223344 medium2=1F"},
             "CommunicationType=1\r\nBaudrate=1\r\nBaudrate1=1\r\nAddressType=3\r\nPrimAddress=1\r\n"
             "Phonenumber=0301234\r\nPhoneConnectionTimeout=5\r\n");
    ASSERT_EQ(dialog_->TheControl().TELConnectTimeout(), 5);
    auto* connect = dialog_->findChild<QPushButton*>("connect");
    QTest::mouseClick(connect, Qt::LeftButton);
    ASSERT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneBusy);
    EXPECT_EQ(dialog_->StatusText().toStdString(), "Dialing.");
    // Far more than the timeout and its margin; a dial still running then
    // is broken so that the test ends either way.
    const auto until = std::chrono::steady_clock::now() + 120s;
    while (dialog_->Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until) QTest::qWait(20);
    const bool ended = !dialog_->Cycle().ScriptRunning();
    if (!ended) {
        QTest::mouseClick(dialog_->findChild<QPushButton*>("break"), Qt::LeftButton);
        const auto limit = std::chrono::steady_clock::now() + 120s;
        while (dialog_->Cycle().ScriptRunning() && std::chrono::steady_clock::now() < limit) QTest::qWait(20);
    }
    ASSERT_TRUE(ended) << "still dialling 120 s after the start, with a 5 s timeout";
    EXPECT_EQ(dialog_->StatusText().toStdString(), "FAILED! No connection within 5 s.");
    EXPECT_FALSE(dialog_->Cycle().PhoneConnected());
    EXPECT_EQ(dialog_->Cycle().PhoneStateValue(), kPhoneIdle);
    EXPECT_EQ(dialog_->windowTitle().toStdString(), "MERIDEX 1.30");
    EXPECT_EQ(connect->text().toStdString(), "&Connect");
}

}  // namespace
}  // namespace mbus::meridex
