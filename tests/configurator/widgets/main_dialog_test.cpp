// The main dialog with the real control: the control library registered in
// a registry of the test's own, created by its class identifier, reading
// the simulated modules of mbus-sim on a pseudo-terminal. Runs under the
// offscreen platform.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <fstream>

#include "configurator/devices/module_pages.h"
#include "configurator/devices/analog_parameters.h"
#include "configurator/shell/about_dialog.h"
#include "configurator/shell/automation.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/main_dialog.h"
#include "configurator/shell/qt_texts.h"
#include "platform/com/create.h"
#include "platform/com/ptr.h"
#include "platform/com/registry.h"
#include "platform/profile/ini_file.h"
#include "platform/serial/termios_port.h"
#include "tests/platform/serial/serial_test_support.h"
#include "tests/sim/sim_process.h"
#include "tests/support/scratch.h"

namespace mbus::meridex {
namespace {

using testsupport::ScopedEnv;
using testsupport::ScratchDirectory;
using namespace std::chrono_literals;

// The modules of the demo bus.
const std::string kPulse =
    "module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1";
const std::string kPulseBoth = kPulse + " id2=55667788 medium2=02 unit2=06 count2=250 factor2=1/2";
// Input 2 switched off (medium 1F): the module answers for input 1 alone.
const std::string kPulseOneInput = kPulse + " medium2=1F";
const std::string kControl = "module=control man=KTR primary=2 firmware=12 id=22334455 p1=1 r1logic=2 r1fail=2 r2=1";
const std::string kAnalog =
    "module=analog man=VND primary=3 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B a2=1/1/0 "
    "temp=21.5 sensor=pt1000 minmax=a1 current=12000";
const std::string kMeter = "primary=4 id=44556677 man=QXA version=01 medium=07 records=0C1378563412";

bool RegisterControl() {
    void* handle = ::dlopen(MBUS_CONTROL_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    auto reg = reinterpret_cast<com::HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
    const bool ok = reg != nullptr && reg() == com::S_OK;
    ::dlclose(handle);
    return ok;
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Ok());
        ASSERT_TRUE(RegisterControl());
    }

    // Starts mbus-sim with these slaves and maps COM1 to its terminal.
    void StartBus(const std::vector<std::string>& slaves) {
        std::vector<std::string> args = {"--baud", "2400", "--unpaced"};
        for (const std::string& s : slaves) {
            args.push_back("--slave");
            args.push_back(s);
        }
        sim_ = std::make_unique<sim::test::SimProcess>(MBUS_SIM_PATH, args);
        ASSERT_TRUE(sim_->Started());
        const std::string tty = sim_->ReadLine();
        ASSERT_FALSE(tty.empty()) << sim_->ReadErrors(1s);
        std::ofstream(scratch_.File("ports")) << "1 = " << tty << "\n";
    }

    // Writes MERIDEX.INI with English texts and these keys of section MERIDEX.
    void WriteIni(const std::string& keys) {
        scratch_.WriteFile("MERIDEX.INI", "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=1\r\nCOMPort=0\r\n" + keys);
    }

    std::unique_ptr<CMERIDEXDlg> Dialog() {
        DialogOptions o;
        o.programPath = scratch_.File("MERIDEX");
        o.iniPath = scratch_.File("MERIDEX.INI");
        o.messageBox = [this](const QString& text, const QString&, MessageIcon icon) {
            messages_.push_back(text.toStdString());
            icons_.push_back(icon);
        };
        if (!languageDialog_)
            o.askLanguage = [this](const TextTable&, int offered) {
                ++languageQuestions_;
                offeredLanguage_ = offered;
                return 7;
            };
        o.desktopLocale = desktopLocale_;
        o.askFileName = [this](QWidget*, bool, const FileDialogRequest& request) {
            fileDialogFolders_.push_back(request.folder.toStdString());
            return QString::fromStdString(chosenFile_);
        };
        if (noControl_) o.createControl = [](std::string*) { return Control(); };
        auto d = std::make_unique<CMERIDEXDlg>(std::move(o));
        d->show();
        return d;
    }

    // Pumps events until the dialog's job (and a follow-up read) has ended.
    static bool WaitForJob(CMERIDEXDlg& d, std::chrono::seconds limit = 60s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        do {
            QTest::qWait(20);
            if (std::chrono::steady_clock::now() > until) return false;
        } while (d.Cycle().ScriptRunning());
        return true;
    }

    // MERIDEX.INI as the dialog left it.
    profile::IniFile SavedIni() {
        std::ifstream in(scratch_.File("MERIDEX.INI"));
        return profile::IniFile::Parse(std::string(std::istreambuf_iterator<char>(in), {}));
    }

    static std::string Status(const CMERIDEXDlg& d) { return d.StatusText().toStdString(); }
    static std::string Caption(QGroupBox* g) { return g->title().toStdString(); }

    ScratchDirectory scratch_;
    ScopedEnv registry_{"MBUS_REGISTRY", scratch_.File("registry")};
    ScopedEnv ports_{"MBUS_PORT_MAP", scratch_.File("ports")};
    std::unique_ptr<sim::test::SimProcess> sim_;
    std::vector<std::string> messages_;
    std::vector<MessageIcon> icons_;
    int languageQuestions_ = 0;
    int offeredLanguage_ = 0;  // the language the last question pre-selected
    bool languageDialog_ = false;  // the real first-start dialog instead of the counting hook
    std::string desktopLocale_ = "it_IT";
    std::vector<std::string> fileDialogFolders_;  // the folder of each file dialog asked for
    std::string chosenFile_;                      // what the file dialogs answer
    bool noControl_ = false;
};

struct ReadCase {
    const char* name;
    std::vector<std::string> bus;
    std::string ini;  // address type and address keys
    ModuleKind kind;
    PageType page;
    const char* caption;  // of the page's first group
    const char* firstGroup;
};

class ReadsEachModule : public MainDialog, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadsEachModule, AndShowsItsPageWithTheVersionLabel) {
    const ReadCase& c = GetParam();
    StartBus(c.bus);
    WriteIni(c.ini);
    auto d = Dialog();
    EXPECT_EQ(Status(*d), "Program started.");
    d->Read();
    ASSERT_TRUE(d->Cycle().ScriptRunning());
    ASSERT_TRUE(WaitForJob(*d)) << Status(*d);
    EXPECT_EQ(Status(*d), "Success!") << d->LastScript();
    EXPECT_EQ(d->ModuleKindValue(), c.kind);
    EXPECT_EQ(d->Pages()->Page(), c.page);
    auto* group = d->Pages()->findChild<QGroupBox*>(c.firstGroup);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(Caption(group), c.caption);
    EXPECT_TRUE(messages_.empty());
}

INSTANTIATE_TEST_SUITE_P(
    AddressTypes, ReadsEachModule,
    ::testing::Values(
        ReadCase{"PulseByPrimaryAddress", {kPulseOneInput, kControl, kMeter}, "AddressType=3\r\nPrimAddress=1\r\n",
                 kModulePulse, kPagePulseInput1, "MERIDEX Pulse V:1.3  Input P1 / Z2", "pulseInput1"},
        ReadCase{"PulseWithBothInputs", {kPulseBoth}, "AddressType=3\r\nPrimAddress=1\r\n", kModulePulse,
                 kPagePulseBoth, "MERIDEX Pulse V:1.3  Input P1 / Z2", "pulseInput1"},
        ReadCase{"ControlByPrimaryAddress", {kPulse, kControl, kAnalog}, "AddressType=3\r\nPrimAddress=2\r\n",
                 kModuleControl, kPageControl, "MERIDEX Control V:1.2  Relay R1", "relay1"},
        ReadCase{"AnalogByPrimaryAddressWithItsFollowUpRead", {kAnalog, kMeter}, "AddressType=3\r\nPrimAddress=3\r\n",
                 kModuleAnalog, kPageAnalog, "MERIDEX Analog V:1.1  Input A1", "analog1"},
        ReadCase{"PulseBySecondaryAddress", {kPulse, kControl, kAnalog, kMeter},
                 "AddressType=2\r\nSecAddress=11223344\r\n", kModulePulse, kPagePulseInput1,
                 "MERIDEX Pulse V:1.3  Input P1 / Z2", "pulseInput1"},
        ReadCase{"PulseInput2BySecondaryAddress", {kPulseBoth}, "AddressType=2\r\nSecAddress=55667788\r\n",
                 kModulePulse, kPagePulseInput2, "MERIDEX Pulse V:1.3  Input P2 / Z1", "pulseInput2"},
        ReadCase{"KtrControlBySecondaryAddress", {kPulse, kControl, kAnalog},
                 "AddressType=2\r\nSecAddress=22334455\r\nManufacturerCode=1\r\n", kModuleControl, kPageControl,
                 "MERIDEX Control V:1.2  Inputs", "controlInputs"},
        ReadCase{"AnalogBySecondaryAddress", {kPulse, kAnalog}, "AddressType=2\r\nSecAddress=33445566\r\n",
                 kModuleAnalog, kPageAnalog, "MERIDEX Analog V:1.1  Temperature Sensor Input Pt", "temperature"},
        ReadCase{"ControlByBroadcast", {kControl}, "AddressType=1\r\n", kModuleControl, kPageControl,
                 "MERIDEX Control V:1.2  Relay R2", "relay2"},
        ReadCase{"AnalogByBroadcast", {kAnalog}, "AddressType=1\r\n", kModuleAnalog, kPageAnalog,
                 "MERIDEX Analog V:1.1", "output"},
        ReadCase{"PulseByOpticalHead", {kPulseBoth}, "AddressType=0\r\n", kModulePulse, kPagePulseBoth,
                 "MERIDEX Pulse V:1.3  Input P2 / Z1", "pulseInput2"},
        ReadCase{"AnalogByOpticalHead", {kAnalog}, "AddressType=0\r\n", kModuleAnalog, kPageAnalog,
                 "MERIDEX Analog V:1.1  Input A2", "analog2"}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST_F(MainDialog, TheAnalogModuleIsReadTwiceTheSecondTimeForItsParameters) {
    StartBus({kAnalog});
    WriteIni("AddressType=3\r\nPrimAddress=3\r\n");
    auto d = Dialog();
    d->Read();
    // The first job ends, the parser asks for the parameter telegram and the
    // follow-up read starts at once, switching the module over and back.
    const auto until = std::chrono::steady_clock::now() + 60s;
    while (d->LastScript().find("50 08") == std::string::npos && std::chrono::steady_clock::now() < until)
        QTest::qWait(20);
    EXPECT_NE(d->LastScript().find("7|3||50 08\r\n5|3||\r\n1|1||\r\n7|3||50 00\r\n"), std::string::npos)
        << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_EQ(d->Pages()->Page(), kPageAnalog);
}

TEST_F(MainDialog, BreakDuringAReadShowsBreakAndACloseRequestIsIgnoredMeanwhile) {
    StartBus({kMeter});
    // Nobody answers at 9: each of the 40 attempts waits for its timeout.
    WriteIni("AddressType=3\r\nPrimAddress=9\r\n");
    auto d = Dialog();
    d->Read();
    QTest::qWait(600);
    ASSERT_TRUE(d->Cycle().ScriptRunning());
    EXPECT_FALSE(d->RequestClose());
    d->close();
    EXPECT_TRUE(d->isVisible()) << "a close request while a script runs leaves the dialog open";
    EXPECT_FALSE(d->findChild<QPushButton*>("read")->isEnabled());
    EXPECT_TRUE(d->findChild<QPushButton*>("break")->isEnabled());
    QTest::mouseClick(d->findChild<QPushButton*>("break"), Qt::LeftButton);
    ASSERT_TRUE(WaitForJob(*d, 30s));
    EXPECT_EQ(Status(*d), "Break!");
    EXPECT_TRUE(d->findChild<QPushButton*>("read")->isEnabled());
    EXPECT_TRUE(d->RequestClose());
}

TEST_F(MainDialog, APortThatCannotOpenIsExplainedAndStartsNoJob) {
    const std::string missing = scratch_.File("no-such-tty");
    serial::testing::PseudoTerminal held;
    ASSERT_TRUE(held.Ok());
    int error = 0;
    const auto holder = serial::OpenTermiosPort(held.SlavePath(), &error);
    ASSERT_NE(holder, nullptr) << error;
    std::ofstream(scratch_.File("ports")) << "1 = " << missing << "\n2 = " << held.SlavePath() << "\n";
    WriteIni("AddressType=3\r\nPrimAddress=1\r\nCOMPort=0\r\n");
    auto d = Dialog();
    struct Case {
        int port;
        std::string start;
        MessageIcon icon;
    };
    const Case cases[] = {
        {1, "COM1: " + missing + " does not exist.", MessageIcon::kWarning},
        // COM32 has no entry; its default /dev/ttyS31 is not there.
        {32, "COM32 is not in the port map (" + scratch_.File("ports") + ")", MessageIcon::kWarning},
        // Really in use: the program's own text, then the device and its holder.
        {2,
         "Unable to open serial port!\nIt may be in use by another program.\n" + held.SlavePath() +
             ": port in use by process " + std::to_string(::getpid()),
         MessageIcon::kInformation},
    };
    for (const Case& c : cases) {
        messages_.clear();
        icons_.clear();
        d->SetPort(c.port);
        d->Read();
        ASSERT_EQ(messages_.size(), 1u) << "COM" << c.port;
        EXPECT_EQ(messages_[0].substr(0, c.start.size()), c.start) << messages_[0];
        EXPECT_EQ(icons_[0], c.icon) << messages_[0];
        EXPECT_FALSE(d->Cycle().ScriptRunning());
        EXPECT_TRUE(d->LastScript().empty());
    }
}

TEST_F(MainDialog, WithoutTheControlTheDialogRunsAndShowsText0) {
    noControl_ = true;
    WriteIni("AddressType=3\r\nPrimAddress=1\r\n");
    auto d = Dialog();
    EXPECT_FALSE(d->TheControl().Present());
    EXPECT_EQ(Status(*d), "Unable to find M-Bus ActiveX!");
    // The lists from the control's tables are there with empty names.
    EXPECT_EQ(d->findChild<QComboBox*>("medium")->count(), 33);
    d->Read();
    ASSERT_TRUE(WaitForJob(*d, 10s));
    EXPECT_EQ(Status(*d), "FAILED!");
    EXPECT_TRUE(d->RequestClose());
}

TEST_F(MainDialog, AnUnregisteredControlIsReportedAsMissing) {
    com::Registry().DeleteKey("HKCR\\CLSID");
    WriteIni("");
    auto d = Dialog();
    EXPECT_FALSE(d->TheControl().Present());
    EXPECT_EQ(Status(*d), "Unable to find M-Bus ActiveX!");
}

TEST_F(MainDialog, ClosingSavesTheSettingsWithTheChosenPortAndType) {
    WriteIni("AddressType=3\r\nPrimAddress=17\r\nBaudrate=2\r\n");
    {
        auto d = Dialog();
        d->SetPort(17);
        d->SetCommunicationType(kIrdaSir);
        EXPECT_EQ(d->findChild<QComboBox*>("baud")->currentIndex(), kBaudIndex38400);
        EXPECT_TRUE(d->RequestClose());
    }
    const profile::IniFile ini = SavedIni();
    EXPECT_EQ(ini.GetString("MERIDEX", "VersionsInfo"), "12");
    EXPECT_EQ(ini.GetString("MERIDEX", "CommunicationType"), "2");
    EXPECT_EQ(ini.GetString("MERIDEX", "COMPort"), "0") << "the infrared connection's own port";
    EXPECT_EQ(ini.GetString("MERIDEX", "Baudrate"), "4");
    EXPECT_EQ(ini.GetString("MERIDEX", "Baudrate0"), "2") << "the serial cable's baud rate is remembered";
    EXPECT_EQ(ini.GetString("MERIDEX", "COMPort0"), "16");
    EXPECT_EQ(ini.GetString("MERIDEX", "PrimAddress"), "17");
    EXPECT_EQ(ini.GetString("MERIDEX", "PhoneConnectionTimeout"), "60");
}

// A phone list whose count is missing or no number keeps its entries
// through the save at close, counted from what is there.
TEST_F(MainDialog, ClosingKeepsAPhoneListWithoutAUsableCount) {
    WriteIni("AddressType=3\r\n[MERIDEX PhoneList]\r\nPhoneListEntries=many\r\n"
             "PhoneListNumber0=0891 2\r\nPhoneListDescription0=North\r\n"
             "PhoneListNumber1=0171\r\nPhoneListDescription1=Depot\r\n");
    {
        auto d = Dialog();
        EXPECT_TRUE(d->RequestClose());
    }
    const profile::IniFile ini = SavedIni();
    EXPECT_EQ(ini.GetString("MERIDEX PhoneList", "PhoneListEntries"), "2");
    EXPECT_EQ(ini.GetString("MERIDEX PhoneList", "PhoneListNumber0"), "0891 2");
    EXPECT_EQ(ini.GetString("MERIDEX PhoneList", "PhoneListDescription1"), "Depot");
}

TEST_F(MainDialog, AtTheFirstStartTheMarkerIsRemovedAndTheLanguageAsked) {
    WriteIni("");
    scratch_.WriteFile("MERIDEX.XYZ", "");
    scratch_.WriteFile("MERIDEX.language", "00000=Kein ActiveX!\r\n00001=Los geht's.\r\n");
    auto d = Dialog();
    EXPECT_EQ(languageQuestions_, 1);
    EXPECT_EQ(offeredLanguage_, 1) << "the INI's language, not the desktop's";
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("MERIDEX.XYZ")));
    EXPECT_EQ(d->LanguageId(), 7);
    EXPECT_TRUE(d->Texts().LanguageFileLoaded());
    EXPECT_EQ(d->Texts().Utf8(1, kGerman), "Los geht's.");
    // Russian captions, and the control's names in Russian.
    EXPECT_EQ(d->findChild<QPushButton*>("read")->text().toStdString(), Text(d->Texts(), 41, 7));
    EXPECT_EQ(d->TheControl().LNGLanguage(), 4);
    EXPECT_TRUE(d->RequestClose());
    auto again = Dialog();
    EXPECT_EQ(languageQuestions_, 1) << "asked once only";
    EXPECT_EQ(again->LanguageId(), 7) << "the language is kept in the INI";
    EXPECT_TRUE(again->RequestClose());
}

// Without MERIDEX.INI the real language dialog comes up with the desktop's
// language pre-selected; the user's choice and primary addressing are saved.
TEST_F(MainDialog, WithoutAnIniTheLanguageIsAskedWithTheDesktopsOfferedAndPrimaryAddressing) {
    languageDialog_ = true;
    desktopLocale_ = "ru_RU.UTF-8";
    bool asked = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<MERIDEXLanguage*>(w);
            if (dialog == nullptr || !dialog->isVisible()) continue;
            asked = true;
            EXPECT_TRUE(dialog->FlagButton(5)->isChecked()) << "Russian pre-selected";
            EXPECT_EQ(dialog->focusWidget(), dialog->FlagButton(5));
            QTest::mouseClick(dialog->FlagButton(2), Qt::LeftButton);  // French
        }
    });
    {
        auto d = Dialog();
        ASSERT_TRUE(asked);
        EXPECT_EQ(d->LanguageId(), 33);
        EXPECT_EQ(d->CurrentSettings().addressType, kPrimaryAddress);
        EXPECT_TRUE(d->findChild<QLineEdit*>("primaryAddress")->isVisible()) << "the primary address field is offered";
        EXPECT_TRUE(d->RequestClose());
    }
    const profile::IniFile ini = SavedIni();
    EXPECT_EQ(ini.GetString("MERIDEX", "Language"), "33");
    EXPECT_EQ(ini.GetString("MERIDEX", "AddressType"), "3");

    // A locale the program has no texts for offers the German default.
    std::filesystem::remove(scratch_.File("MERIDEX.INI"));
    languageDialog_ = false;
    desktopLocale_ = "it_IT";
    auto d = Dialog();
    EXPECT_EQ(languageQuestions_, 1);
    EXPECT_EQ(offeredLanguage_, 49);
    EXPECT_TRUE(d->RequestClose());
}

// Qt's own texts follow the program's language and change with it.
TEST_F(MainDialog, QtsStandardButtonsSpeakTheProgramsLanguage) {
    const auto cancelText = [] {
        QDialogButtonBox box(QDialogButtonBox::Cancel);
        return box.button(QDialogButtonBox::Cancel)->text().toStdString();
    };
    const QString translations = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(translations + "/qtbase_de.qm") || !QFile::exists(translations + "/qtbase_ru.qm"))
        GTEST_SKIP() << "Qt's translations are not installed in " << translations.toStdString()
                     << " (Debian: qt6-translations-l10n)";
    scratch_.WriteFile("MERIDEX.INI", "[MERIDEX]\r\nVersionsInfo=12\r\nLanguage=49\r\n");
    {
        auto d = Dialog();
        EXPECT_EQ(cancelText(), "Abbrechen");
        EXPECT_TRUE(d->RequestClose());
    }
    EXPECT_TRUE(UseQtTranslation(7));
    EXPECT_EQ(cancelText(), "Отмена") << "the German translation is replaced, not stacked";
    EXPECT_FALSE(UseQtTranslation(46)) << "Qt has no Swedish";
    EXPECT_EQ(cancelText(), "Cancel");
    WriteIni("");  // English
    auto d = Dialog();
    EXPECT_EQ(cancelText(), "Cancel");
    EXPECT_TRUE(d->RequestClose());
}

// The file dialogs start where the last file was chosen, across starts.
TEST_F(MainDialog, FileDialogsStartInTheFolderLastUsed) {
    WriteIni("");
    const std::string homeFolder = scratch_.File("home");
    const std::string lists = scratch_.File("lists");
    std::filesystem::create_directory(homeFolder);
    std::filesystem::create_directory(lists);
    ScopedEnv home("HOME", homeFolder);
    {
        auto d = Dialog();
        d->OpenDeviceList();  // cancelled
        chosenFile_ = lists + "/devices.MDX";
        d->SaveDeviceList();
        d->OpenDeviceList();
        EXPECT_TRUE(d->RequestClose());
    }
    EXPECT_EQ(fileDialogFolders_, (std::vector<std::string>{homeFolder, homeFolder, lists}));
    EXPECT_EQ(SavedIni().GetString("Folders", "LastFolder"), lists);
    {
        auto d = Dialog();
        d->OpenDeviceList();
        EXPECT_EQ(fileDialogFolders_.back(), lists) << "kept in MERIDEX.INI";
        EXPECT_TRUE(d->RequestClose());
    }
    std::filesystem::remove_all(lists);
    auto d = Dialog();
    d->OpenDeviceList();
    EXPECT_EQ(fileDialogFolders_.back(), homeFolder) << "a folder that is gone";
    EXPECT_TRUE(d->RequestClose());
}

TEST_F(MainDialog, AnAutomationClientKeepsTheDialogAliveByHidingIt) {
    WriteIni("");
    EXPECT_EQ(RegisterAutomationClass("/opt/meridex/MERIDEX"), com::S_OK);
    const std::string key = "HKCR\\CLSID\\" + com::FormatGuid(CLSID_MERIDEXApplication);
    EXPECT_EQ(com::Registry().GetValue(key + "\\LocalServer32"), "/opt/meridex/MERIDEX");
    EXPECT_EQ(com::Registry().GetValue("HKCR\\MERIDEX.Application\\CLSID"), com::FormatGuid(CLSID_MERIDEXApplication));

    auto d = Dialog();
    const int locks = ApplicationLocks();
    auto factory = com::ComPtr<AutomationClassFactory>::Adopt(new AutomationClassFactory(d.get()));
    void* raw = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, com::IID_IDispatch, &raw), com::S_OK);
    auto proxy = com::ComPtr<com::IDispatch>::Adopt(raw);
    EXPECT_EQ(ApplicationLocks(), locks + 1);
    EXPECT_NE(d->AutoProxy(), nullptr);
    EXPECT_FALSE(d->RequestClose());
    EXPECT_FALSE(d->isVisible()) << "hidden, not ended, while the client holds the proxy";
    proxy.Reset();
    EXPECT_EQ(d->AutoProxy(), nullptr);
    EXPECT_EQ(ApplicationLocks(), locks);
    EXPECT_TRUE(d->RequestClose());
}

TEST_F(MainDialog, CommunicationTypesLayOutTheirControls) {
    WriteIni("AddressType=3\r\nBaudrate0=1\r\nBaudrate1=3\r\n");
    auto d = Dialog();
    auto* baud = d->findChild<QComboBox*>("baud");
    auto* phone = d->findChild<QLineEdit*>("phoneNumber");
    EXPECT_FALSE(phone->isVisible());
    d->SetCommunicationType(kModemDialUp);
    EXPECT_TRUE(phone->isVisible());
    EXPECT_EQ(baud->currentIndex(), 3) << "the modem's own baud selection";
    d->SetCommunicationType(kIrdaTransceiver);
    EXPECT_FALSE(baud->isVisible());
    EXPECT_EQ(baud->currentIndex(), kBaudIndex38400);
    d->SetCommunicationType(kSerialCable);
    EXPECT_TRUE(baud->isVisible());
    EXPECT_EQ(baud->currentIndex(), 1);
    // The optical head works over the serial cable alone.
    d->SetCommunicationType(kModemDialUp);
    d->SetAddressType(kOpticalHead);
    EXPECT_EQ(d->findChild<QComboBox*>("communicationType")->currentIndex(), kSerialCable);
    EXPECT_FALSE(d->findChild<QComboBox*>("communicationType")->isEnabled());
    EXPECT_TRUE(d->RequestClose());
}

// Writes come back from the module: each write button queues its records,
// runs the read job, and the page then shows what the module answers.
TEST_F(MainDialog, PulseWritesComeBackFromTheModule) {
    StartBus({kPulseBoth});
    WriteIni("AddressType=3\r\nPrimAddress=1\r\n");
    auto d = Dialog();
    d->Read();
    ASSERT_TRUE(WaitForJob(*d));
    ASSERT_EQ(d->Pages()->Page(), kPagePulseBoth);
    PulseInputWidgets& in1 = d->Pages()->pulse[0];
    EXPECT_EQ(in1.counter->text().toStdString(), "10000");
    in1.counter->setText("2500");
    in1.numerator->setText("300");  // clamped to 255 when written
    in1.denominator->setText("5");
    in1.unit->setCurrentIndex(1);  // < Energy [kWh] >
    QTest::mouseClick(in1.writeAll, Qt::LeftButton);
    ASSERT_TRUE(d->Cycle().ScriptRunning());
    EXPECT_NE(d->LastScript().find("7|1||51 01 7A FF 07 79 44332211 C4 59 95 07"), std::string::npos) << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_EQ(in1.numerator->text().toStdString(), "255");
    EXPECT_EQ(in1.denominator->text().toStdString(), "5");
    EXPECT_EQ(in1.factor->text().toStdString(), "51.000");
    EXPECT_EQ(in1.unit->currentIndex(), 1);
    // The module keeps the raw count 2500 x 5 / 255 = 49 and answers 49 x 255 / 5.
    EXPECT_EQ(in1.counter->text().toStdString(), "2499");

    PulseInputWidgets& in2 = d->Pages()->pulse[1];
    in2.serial->setText("9988");
    QTest::mouseClick(in2.writeSerial, Qt::LeftButton);
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_EQ(in2.serial->text().toStdString(), "99880000");
    EXPECT_EQ(in1.serial->text().toStdString(), "11223344") << "input 1 left alone";
}

TEST_F(MainDialog, ControlRelayWritesComeBackFromTheModule) {
    StartBus({kControl});
    WriteIni("AddressType=3\r\nPrimAddress=2\r\n");
    auto d = Dialog();
    d->Read();
    ASSERT_TRUE(WaitForJob(*d));
    ASSERT_EQ(d->Pages()->Page(), kPageControl);
    RelayWidgets& r1 = d->Pages()->relay[0];
    RelayWidgets& r2 = d->Pages()->relay[1];
    EXPECT_EQ(r1.logic->currentIndex(), 3) << "P1 OR P2";
    EXPECT_FALSE(r1.set0->isEnabled());
    EXPECT_TRUE(r2.set0->isEnabled());
    // R2 over the M-Bus: Set 0.
    QTest::mouseClick(r2.set0, Qt::LeftButton);
    EXPECT_NE(d->LastScript().find("C1 40 FD 1A 00 81 41 FD 1A FF\r\n14||5|\r\n5|2||"), std::string::npos)
        << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(r2.state->text().toStdString(), "0");
    // R1 to " #P1 XOR #P2" with power fail "      0": configuration D7.
    r1.logic->setCurrentIndex(11);
    r1.powerFail->setCurrentIndex(1);
    QTest::mouseClick(r1.write, Qt::LeftButton);
    EXPECT_NE(d->LastScript().find("81 01 FD 1A D7 C1 40"), std::string::npos) << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_EQ(r1.logic->currentIndex(), 11);
    EXPECT_EQ(r1.powerFail->currentIndex(), 1);
    EXPECT_FALSE(r1.set1->isEnabled());
    r1.logic->setCurrentIndex(0);
    EXPECT_TRUE(r1.set1->isEnabled()) << "Set 0 and Set 1 only for M-BUS";
}

TEST_F(MainDialog, AnalogWritesComeBackFromTheModule) {
    StartBus({kAnalog});
    WriteIni("AddressType=3\r\nPrimAddress=3\r\n");
    auto d = Dialog();
    d->Read();
    ASSERT_TRUE(WaitForJob(*d));
    ASSERT_EQ(d->Pages()->Page(), kPageAnalog);
    ModulePages& p = *d->Pages();
    EXPECT_EQ(p.analog[0].a->text().toStdString(), "1");
    EXPECT_EQ(p.analog[0].b->text().toStdString(), "2");
    EXPECT_EQ(p.analog[0].c->text().toStdString(), "4");
    EXPECT_FALSE(p.analog[0].value->text().isEmpty()) << "the follow-up read keeps the measured values";
    // The parameter calculation fills an input's parameters.
    p.askParameters = [](AnalogInputKind input, ParameterTexts* out) {
        EXPECT_EQ(input, AnalogInputKind::kA2);
        *out = {"3", "-4", "-5"};
        return true;
    };
    QTest::mouseClick(p.analog[1].param, Qt::LeftButton);
    EXPECT_EQ(p.analog[1].b->text().toStdString(), "-4");
    QTest::mouseClick(p.analog[1].write, Qt::LeftButton);
    EXPECT_NE(d->LastScript().find("83 40 AB 28 03 FC FB"), std::string::npos) << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_EQ(p.analog[1].a->text().toStdString(), "3");
    EXPECT_EQ(p.analog[1].b->text().toStdString(), "-4");
    EXPECT_EQ(p.analog[1].c->text().toStdString(), "-5");
    // 20 mA out.
    p.outputCurrent->setText("20");
    QTest::mouseClick(p.writeOutput, Qt::LeftButton);
    EXPECT_NE(d->LastScript().find("FD 56 20 4E"), std::string::npos) << d->LastScript();
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(p.outputCurrent->text().toStdString(), "20.000");
    // Min / Max of the temperature input.
    QTest::mouseClick(p.temperature.minMax, Qt::LeftButton);
    EXPECT_FALSE(p.analog[0].minMax->isChecked());
    QTest::mouseClick(p.temperature.write, Qt::LeftButton);
    ASSERT_TRUE(WaitForJob(*d));
    EXPECT_EQ(Status(*d), "Success!");
    EXPECT_TRUE(p.temperature.minMax->isChecked());
    EXPECT_FALSE(p.temperature.min->text().isEmpty()) << "minimum, maximum and average now of the temperature";
}

TEST_F(MainDialog, TheAboutBoxShowsTheVersion) {
    TextTable texts;
    CAboutDlg about(texts, 1);
    auto* version = about.findChild<QLabel*>("version");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), "MERIDEX Version 1.30");
}

}  // namespace
}  // namespace mbus::meridex
