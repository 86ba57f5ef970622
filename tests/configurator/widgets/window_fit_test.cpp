// MERIDEX's windows fit their texts: every page of the main window after a
// module was read and every dialog, in each of the six languages, shows each
// caption whole (labels, buttons, check boxes, radio buttons, group box
// titles, window titles, the entries of combo boxes) with no two widgets on
// top of each other; and the main window follows its page, within the
// desktop's width, and gives the Read button the focus after a job.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>
#include <string>
#include <vector>

#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/shell/about_dialog.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/phone_dialogs.h"
#include "configurator/shell/search_baudrate_dialog.h"
#include "configurator/shell/settings_dialog.h"
#include "tests/configurator/widgets/fit_check.h"
#include "tests/configurator/widgets/in_process_dialog.h"

namespace mbus::meridex::test {
namespace {

// Lets the window lay itself out (and fit itself to its page).
void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

// The checks themselves find what they are for: a window whose widgets are
// set too narrow, and two widgets of a layout moved onto each other.
TEST(FitProblems, NameTheCutWidgetsWithTheirWidthsAndTheOverlaps) {
    QDialog window;
    window.setWindowTitle(QStringLiteral("Fit"));
    auto* layout = new QVBoxLayout(&window);
    auto* group = new QGroupBox(QStringLiteral("A group with a caption far longer than its box"));
    auto* inner = new QVBoxLayout(group);
    auto* label = new QLabel(QStringLiteral("A label longer than its room"));
    auto* button = new QPushButton(QStringLiteral("A button longer than its room"));
    button->setObjectName("narrowButton");
    auto* check = new QCheckBox(QStringLiteral("A check box longer than its room"));
    auto* box = new QComboBox;
    box->addItems({QStringLiteral("short"), QStringLiteral("an entry far longer than the box")});
    auto* wrapped = new QLabel(QStringLiteral("A wrapped label of many words in a low room"));
    wrapped->setWordWrap(true);
    wrapped->setMaximumHeight(10);
    for (QWidget* w : std::initializer_list<QWidget*>{label, button, check, box, wrapped}) {
        w->setMaximumWidth(60);
        inner->addWidget(w);
    }
    group->setMaximumWidth(120);
    layout->addWidget(group);
    auto* first = new QPushButton(QStringLiteral("1"));
    auto* second = new QPushButton(QStringLiteral("2"));
    first->setObjectName("first");
    second->setObjectName("second");
    layout->addWidget(first);
    layout->addWidget(second);
    window.resize(400, 400);
    window.show();
    Settle();
    second->move(first->pos());  // as a layout gone wrong would place it

    std::string all;
    for (const std::string& problem : FitProblems(window)) all += problem + "\n";
    for (const char* expected :
         {"QGroupBox \"A group with a caption far longer than its box\" is cut: its text is ",
          "QLabel \"A label longer than its room\" is cut", "QPushButton narrowButton is cut",
          "QCheckBox \"A check box longer than its room\" is cut",
          "QComboBox \"an entry far longer than the box\" is cut",
          "QLabel \"A wrapped label of many words in a low room\" is cut: its wrapped text is ",
          "QPushButton first and QPushButton second overlap"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " not in:\n" << all;
    EXPECT_EQ(all.find("\"short\""), std::string::npos) << all;
    EXPECT_EQ(all.find("window title"), std::string::npos) << all;
}

std::string LanguageName(int languageId) {
    switch (ColumnOfLanguage(languageId)) {
        case kGerman: return "German";
        case kEnglish: return "English";
        case kFrench: return "French";
        case kPortuguese: return "Portuguese";
        case kSwedish: return "Swedish";
        case kRussian: return "Russian";
    }
    return "language " + std::to_string(languageId);
}

void ExpectFitsIn(int languageId, const QWidget& window, const std::string& what) {
    Settle();
    ExpectFits(window, LanguageName(languageId) + ", " + what);
}

// A dialog shown at the size it takes by itself.
void ExpectDialogFits(QDialog& dialog, int languageId, const std::string& what) {
    dialog.show();
    ExpectFitsIn(languageId, dialog, what);
    dialog.hide();
}

// The demo modules: both Pulse inputs, a Control with a relay driven over
// the bus, an Analog with a temperature sensor.
const std::vector<std::string> kModules = {
    "module=pulse man=VND primary=1 firmware=13 id=11223344 medium=07 unit1=13 count1=1000 factor1=10/1 "
    "id2=55667788 medium2=02 unit2=06 count2=250 factor2=1/2",
    "module=control man=KTR primary=2 firmware=12 id=22334455 p1=1 p2=0 r1logic=2 r1fail=2 r2=1",
    "module=analog man=VND primary=3 firmware=11 id=33445566 x1=1000 unit1=3B a1=1/2/4 x2=250 unit2=2B "
    "a2=1/1/0 temp=21.5 sensor=pt1000 minmax=a1 current=12000",
};

class WindowFit : public InProcessDialog {
protected:
    void ReadModule(int address) {
        dialog_->SetPrimaryAddress(QString::number(address));
        Run([this] { dialog_->Read(); });
        Settle();
    }
    QSize WindowSize() const { return dialog_->frameGeometry().size(); }
};

class EveryLanguage : public WindowFit, public ::testing::WithParamInterface<int> {};

TEST_P(EveryLanguage, PagesAndDialogsShowTheirTextsWhole) {
    const int id = GetParam();
    StartBus(kModules, "AddressType=3\r\nPrimAddress=1\r\n", id);
    ExpectFitsIn(id, *dialog_, "main window, no module read");
    const std::pair<int, const char*> pages[] = {{1, "Pulse page"}, {2, "Control page"}, {3, "Analog page"}};
    for (auto [address, page] : pages) {
        ReadModule(address);
        ExpectFitsIn(id, *dialog_, std::string("main window, ") + page);
    }
    dialog_->SetAddressType(kDeviceList);
    ExpectFitsIn(id, *dialog_, "main window, device list");
    dialog_->SetCommunicationType(kModemDialUp);
    ExpectFitsIn(id, *dialog_, "main window, modem connection");

    const TextTable& texts = dialog_->Texts();
    SettingsChoice choice;
    choice.languageId = id;
    MERIDEXSettings settings(texts, id, choice, dialog_->TheControl());
    ExpectDialogFits(settings, id, "settings");
    const std::vector<PhoneListEntry> list = {{"Pumping station north", "0049301234567"}, {"Office", "0301234"}};
    CPhoneNumbers phoneList(texts, id, list);
    ExpectDialogFits(phoneList, id, "phone list");
    CPhoneNumberEdit phoneEntry(texts, id, list.front());
    ExpectDialogFits(phoneEntry, id, "phone entry");
    MERIDEXSearchBaudrate baud(texts, id);
    ExpectDialogFits(baud, id, "baud rate of the search");
    MERIDEXLanguage language(texts, id);
    ExpectDialogFits(language, id, "language");
    for (AnalogInputKind input : {AnalogInputKind::kA1, AnalogInputKind::kTemperature}) {
        MERIDEXAnaParam parameters(texts, id, input, kSensorPt1000, 11, {"1", "2", "0"});
        ExpectDialogFits(parameters, id,
                         input == AnalogInputKind::kA1 ? "analog parameters, A1" : "analog parameters, temperature");
    }
    CAboutDlg about(texts, id);
    ExpectDialogFits(about, id, "About");
}

INSTANTIATE_TEST_SUITE_P(WindowFit, EveryLanguage, ::testing::Values(1, 49, 33, 55, 46, 7),
                         [](const ::testing::TestParamInfo<int>& info) { return LanguageName(info.param); });

// ---- The main window's size and focus ------------------------------------------

TEST_F(WindowFit, ShrinksWhenASmallerPageReplacesALargerOne) {
    StartBus(kModules);
    ReadModule(3);
    const QSize analog = WindowSize();
    ReadModule(2);
    const QSize control = WindowSize();
    EXPECT_LT(control.width(), analog.width()) << "the Control page after the Analog page";
    dialog_->SetAddressType(kDeviceList);
    dialog_->SelectDevice(0);  // no module identified: the empty page
    Settle();
    EXPECT_LT(WindowSize().width(), control.width()) << "the empty page after the Control page";
    dialog_->SetAddressType(kPrimaryAddress);
    ReadModule(3);
    EXPECT_EQ(WindowSize(), analog) << "the Analog page again";
}

TEST_F(WindowFit, StaysWithinTheAvailableWidthAndScrollsThePage) {
    availableArea_ = QRect(0, 0, 700, 1024);
    StartBus(kModules, "AddressType=3\r\nPrimAddress=3\r\n", 7);
    ReadModule(3);
    EXPECT_LE(WindowSize().width(), 700);
    ExpectFitsIn(7, *dialog_, "main window at 700 px, Analog page");
}

TEST_F(WindowFit, ReadButtonHasTheFocusAfterAJob) {
    StartBus(kModules);
    ReadModule(1);
    auto* read = dialog_->findChild<QPushButton*>("read");
    ASSERT_NE(read, nullptr);
    QPushButton* write = Pages().pulse[0].writeSerial;
    write->setFocus();
    ASSERT_EQ(dialog_->focusWidget(), write);
    Click(write);
    EXPECT_EQ(dialog_->focusWidget(), read);
}

}  // namespace
}  // namespace mbus::meridex::test
