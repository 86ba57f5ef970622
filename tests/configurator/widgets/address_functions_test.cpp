// The address functions of the main dialog against simulated modules in
// this process: the device search on a bus of six modules of both makers
// and three other meters, the device list with its ".MDX" files, setting a
// module's address, and the address fields' rules. Runs under the
// offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "tests/configurator/widgets/in_process_dialog.h"

namespace mbus::meridex {
namespace {

using AddressFunctions = test::InProcessDialog;
using namespace std::chrono_literals;

// Six modules, three variants under both makers; identification numbers
// that share their first digits with each other and with the meters.
const std::vector<std::string> kBus = {
    "module=pulse man=VND primary=1 firmware=13 id=11223344 medium2=1F",
    "module=analog man=VND primary=2 firmware=11 id=11229999",
    "module=control man=VND primary=3 firmware=12 id=33445566",
    "module=pulse man=KTR primary=4 firmware=13 id=11223345 medium2=1F",
    "module=analog man=KTR primary=5 firmware=11 id=55667788",
    "module=control man=KTR primary=6 firmware=12 id=33440000",
    "primary=7 id=11220000 man=QXA version=01 medium=07 records=0C1378563412",
    "primary=8 id=33445567 man=KMX version=03 medium=04 records=0C0611470000",
    "primary=9 id=99887766 man=ZZW version=02 medium=02 records=0403E8030000",
    "module=converter man=VND",
};

// The search waits 2 s after each collision for the colliding answers to
// end; on the simulated bus they end at once.
#define ShortenSearchDelay() PutLong(u"SCRSlaveSearchDelay", 100)

// Runs a device search to its end.
void Search(CMERIDEXDlg& d) {
    QTest::mouseClick(d.findChild<QPushButton*>("deviceSearch"), Qt::LeftButton);
    ASSERT_TRUE(d.Cycle().ScriptRunning());
    const auto until = std::chrono::steady_clock::now() + 300s;
    do {
        QTest::qWait(20);
        ASSERT_LT(std::chrono::steady_clock::now(), until) << "the search did not end";
    } while (d.Cycle().ScriptRunning());
}

std::vector<std::string> Entries(const CMERIDEXDlg& d) {
    std::vector<std::string> out;
    for (const QString& e : d.DeviceEntries()) out.push_back(e.toStdString());
    std::sort(out.begin(), out.end());
    return out;
}

TEST_F(AddressFunctions, TheSearchListsEachModuleOfTheChosenMakerOnceAndNothingElse) {
    StartBus(kBus, "AddressType=4\r\n");
    ShortenSearchDelay();
    ASSERT_NO_FATAL_FAILURE(Search(*dialog_));
    EXPECT_EQ(dialog_->StatusText().toStdString(), "Success!");
    EXPECT_EQ(Entries(*dialog_), (std::vector<std::string>{"A: 11229999, 19", "C: 33445566, 0E", "P: 11223344, 07"}));
    EXPECT_EQ(dialog_->LastScript().substr(0, 12), "0||COM1,2400") << dialog_->LastScript();

    // The other maker's modules under ManufacturerCode 1.
    dialog_->SetManufacturerCode(1);
    EXPECT_TRUE(Entries(*dialog_).empty()) << "VND records are not shown under KTR";
    ASSERT_NO_FATAL_FAILURE(Search(*dialog_));
    EXPECT_EQ(Entries(*dialog_),
              (std::vector<std::string>{"AN: 55667788, 19", "RS: 33440000, 0E", "ST: 11223345, 07"}));
}

TEST_F(AddressFunctions, ListedModulesAreReadByTheirEntryAndTheListKeptInAnMdxFile) {
    StartBus({kBus[0], kBus[1], kBus[2], kBus[9]}, "AddressType=4\r\n");
    ShortenSearchDelay();
    ASSERT_NO_FATAL_FAILURE(Search(*dialog_));
    ASSERT_EQ(dialog_->DeviceEntries().size(), 3);
    auto* list = dialog_->findChild<QComboBox*>("deviceList");
    for (int i = 0; i < 3; ++i) {
        dialog_->SelectDevice(i);
        EXPECT_EQ(dialog_->ModuleKindValue(), kModuleUnknown);
        EXPECT_EQ(Pages().Page(), kPageEmpty) << "selecting an entry shows the empty page";
        const std::string entry = list->currentText().toStdString();
        Run([&] { dialog_->Read(); });
        EXPECT_NE(dialog_->LastScript().find("8||Standard: " + entry.substr(3, 8) + ",59C4,FF,FF|"), std::string::npos)
            << dialog_->LastScript();
        EXPECT_EQ(list->currentText().toStdString(), entry) << "the module read stays selected";
    }

    fileName_ = QString::fromStdString(scratch_.File("modules.MDX"));
    QTest::mouseClick(dialog_->findChild<QPushButton*>("deviceSave"), Qt::LeftButton);
    ASSERT_EQ(std::filesystem::file_size(scratch_.File("modules.MDX")), 3u * 130u);
    const std::vector<std::string> before = Entries(*dialog_);
    EXPECT_TRUE(dialog_->RequestClose());

    // The program again, with the list opened from the file.
    StartDialog();
    EXPECT_TRUE(dialog_->DeviceEntries().isEmpty());
    QTest::mouseClick(dialog_->findChild<QPushButton*>("deviceOpen"), Qt::LeftButton);
    EXPECT_EQ(Entries(*dialog_), before);
    // Under the other maker code the same file shows nothing.
    dialog_->SetManufacturerCode(1);
    EXPECT_TRUE(dialog_->DeviceEntries().isEmpty());
}

TEST_F(AddressFunctions, APulseModuleGetsANewPrimaryAddressAndIsReadThere) {
    StartBus({kBus[0]}, "AddressType=3\r\nPrimAddress=1\r\n");
    Run([&] { dialog_->Read(); });
    ASSERT_EQ(dialog_->ModuleKindValue(), kModulePulse);
    uint32_t idsBefore[2] = {};
    WithModule<sim::PulseModule>([&](sim::PulseModule& m) {
        idsBefore[0] = m.Input(1).id;
        idsBefore[1] = m.Input(2).id;
    });
    dialog_->findChild<QLineEdit*>("newPrimaryAddress")->setText("17");
    dialog_->findChild<QLineEdit*>("newSecondaryAddress")->setText("99999999");
    Click(dialog_->findChild<QPushButton*>("writeAddress"));
    const std::string script = dialog_->LastScript();
    EXPECT_NE(script.find("7|1||51 01 7A 11 07 79 FF FF FF FF"), std::string::npos) << script;
    EXPECT_NE(script.find("5|17||"), std::string::npos) << "read at the new address";
    EXPECT_EQ(dialog_->findChild<QLineEdit*>("primaryAddress")->text().toStdString(), "17");
    ASSERT_TRUE(bus_->WithSlave(0, [&](sim::VirtualSlave& s) {
        EXPECT_EQ(s.values.primaryAddress, 17);
        EXPECT_EQ(s.module.As<sim::PulseModule>()->Input(1).id, idsBefore[0]) << "only the primary address changes";
        EXPECT_EQ(s.module.As<sim::PulseModule>()->Input(2).id, idsBefore[1]);
    }));
    // And the next read goes there too.
    Run([&] { dialog_->Read(); });
    EXPECT_NE(dialog_->LastScript().find("5|17||"), std::string::npos);
}

TEST_F(AddressFunctions, AnUnidentifiedModuleGetsNoRecordsButTheAddressIsStillQueued) {
    StartBus({kBus[1]}, "AddressType=3\r\nPrimAddress=2\r\n");
    dialog_->findChild<QLineEdit*>("newPrimaryAddress")->setText("300");
    QTest::mouseClick(dialog_->findChild<QPushButton*>("writeAddress"), Qt::LeftButton);
    EXPECT_EQ(dialog_->LastScript().find("7|"), std::string::npos) << dialog_->LastScript();
    EXPECT_NE(dialog_->LastScript().find("5|252||"), std::string::npos) << "clamped to 252";
    EXPECT_EQ(Text(dialog_->findChild<QLineEdit*>("primaryAddress")), "252");
    // Nobody answers there: the module kept its address.
    const auto until = std::chrono::steady_clock::now() + 120s;
    while (dialog_->Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until) QTest::qWait(20);
    EXPECT_EQ(dialog_->StatusText().toStdString(), "FAILED! No valid answer from primary address 252.");
    ASSERT_TRUE(bus_->WithSlave(0, [](sim::VirtualSlave& s) { EXPECT_EQ(s.values.primaryAddress, 2); }));
}

TEST_F(AddressFunctions, AddressFieldsAreNormalisedWhenLeft) {
    StartBus({kBus[0]}, "AddressType=2\r\n");
    auto* secondary = dialog_->findChild<QLineEdit*>("secondaryAddress");
    Type(secondary, "12AB");
    EXPECT_EQ(Text(secondary), "12ABFFFF");
    dialog_->SetAddressType(kPrimaryAddress);
    auto* primary = dialog_->findChild<QLineEdit*>("primaryAddress");
    Type(primary, "300");
    EXPECT_EQ(Text(primary), "255");
    Type(primary, "");
    EXPECT_EQ(Text(primary), "0");
}

TEST_F(AddressFunctions, ABreakDuringTheSearchStillListsWhatWasFound) {
    StartBus(kBus, "AddressType=4\r\n");
    ShortenSearchDelay();
    QTest::mouseClick(dialog_->findChild<QPushButton*>("deviceSearch"), Qt::LeftButton);
    const auto until = std::chrono::steady_clock::now() + 120s;
    while (dialog_->Cycle().Kind() != kSearchRunning && std::chrono::steady_clock::now() < until) QTest::qWait(20);
    ASSERT_EQ(dialog_->Cycle().Kind(), kSearchRunning);
    QTest::qWait(4000);
    QTest::mouseClick(dialog_->findChild<QPushButton*>("break"), Qt::LeftButton);
    while (dialog_->Cycle().ScriptRunning() && std::chrono::steady_clock::now() < until) QTest::qWait(20);
    ASSERT_FALSE(dialog_->Cycle().ScriptRunning());
    // Reported as broken, and what the search found is listed all the same.
    EXPECT_EQ(dialog_->StatusText().toStdString(), "Break!");
    EXPECT_TRUE(dialog_->findChild<QPushButton*>("read")->isEnabled()) << "the controls are back";
    for (const std::string& e : Entries(*dialog_)) EXPECT_EQ(e.substr(1, 2), ": ") << e;
}

}  // namespace
}  // namespace mbus::meridex
