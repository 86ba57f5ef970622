// MERIDEX's windows fit their texts: every page of the main window after a
// module was read and every dialog, in each of the six languages, shows each
// caption whole (labels, buttons, check boxes, radio buttons, group box
// titles, window titles, the entries of combo boxes) with no two widgets on
// top of each other; and the main window follows its page, within the
// desktop's width, and gives the Read button the focus after a job.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <QVBoxLayout>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/shell/about_dialog.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/phone_dialogs.h"
#include "configurator/shell/search_baudrate_dialog.h"
#include "configurator/shell/settings_dialog.h"
#include "tests/configurator/widgets/in_process_dialog.h"

namespace mbus::meridex::test {
namespace {

// ---- What does not fit ------------------------------------------------------

std::string Name(const QWidget& w, const QString& text) {
    const QString name = w.objectName().isEmpty() ? QStringLiteral("\"%1\"").arg(text) : w.objectName();
    return std::string(w.metaObject()->className()) + " " + name.toStdString();
}

std::string TooNarrow(const QWidget& w, const QString& text, int needed, int room) {
    std::ostringstream out;
    out << Name(w, text) << " is cut: its text is " << needed << " px wide, its room " << room << " px";
    return out.str();
}

// The width a text takes in a widget's font; a '&' marks a shortcut where
// the widget shows shortcuts.
int TextWidth(const QWidget& w, const QString& text, bool mnemonic) {
    return w.fontMetrics().size(mnemonic ? Qt::TextShowMnemonic : 0, text).width();
}

void CheckLabel(const QLabel& label, std::vector<std::string>& problems) {
    const QString text = label.text();
    if (text.isEmpty()) return;
    if (label.wordWrap()) {
        const int needed = label.heightForWidth(label.width());
        if (needed > label.height()) {
            std::ostringstream out;
            out << Name(label, text) << " is cut: its wrapped text is " << needed << " px high at a width of "
                << label.width() << " px, its room " << label.height() << " px";
            problems.push_back(out.str());
        }
        return;
    }
    int needed = 0;
    if (label.textFormat() == Qt::RichText || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument document;
        document.setDefaultFont(label.font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        needed = static_cast<int>(document.idealWidth());
    } else {
        needed = TextWidth(label, text, label.buddy() != nullptr);
    }
    // A framed label without an indent of its own indents by half an 'x'.
    const int indent = label.indent() >= 0         ? label.indent()
                       : label.frameWidth() > 0 ? label.fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
    const int room = label.contentsRect().width() - 2 * label.margin() - indent;
    if (needed > room) problems.push_back(TooNarrow(label, text, needed, room));
}

void CheckButton(const QAbstractButton& button, std::vector<std::string>& problems) {
    const QString text = button.text();
    if (text.isEmpty()) return;
    QStyle::SubElement contents;
    if (qobject_cast<const QPushButton*>(&button) != nullptr)
        contents = QStyle::SE_PushButtonContents;
    else if (qobject_cast<const QCheckBox*>(&button) != nullptr)
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(&button) != nullptr)
        contents = QStyle::SE_RadioButtonContents;
    else
        return;  // tool buttons show pictures
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = text;
    if (const auto* push = qobject_cast<const QPushButton*>(&button); push != nullptr && push->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    int room = button.style()->subElementRect(contents, &option, &button).width();
    if (!button.icon().isNull()) room -= button.iconSize().width() + 4;
    const int needed = TextWidth(button, text, true);
    if (needed > room) problems.push_back(TooNarrow(button, text, needed, room));
}

void CheckGroupBox(const QGroupBox& group, std::vector<std::string>& problems) {
    if (group.title().isEmpty()) return;
    QStyleOptionGroupBox option;
    option.initFrom(&group);
    option.text = group.title();
    option.textAlignment = group.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (group.isCheckable()) option.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect label = group.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &group);
    // The caption keeps the same distance from the frame's right end as
    // from its left.
    const int room = group.width() - 2 * label.left();
    const int needed = TextWidth(group, group.title(), true);
    if (needed > room) problems.push_back(TooNarrow(group, group.title(), needed, room));
}

void CheckComboBox(const QComboBox& box, std::vector<std::string>& problems) {
    QStyleOptionComboBox option;
    option.initFrom(&box);
    option.editable = box.isEditable();
    option.frame = box.hasFrame();
    option.subControls = QStyle::SC_All;
    // The box draws its text one pixel inside the edit field at each side,
    // clipped there.
    const int room =
        box.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &box).width() - 2;
    // Whichever entry is chosen shows in the box: its ink must fit.
    for (int i = 0; i < box.count(); ++i) {
        const QString entry = box.itemText(i);
        int needed = box.fontMetrics().boundingRect(entry).width();
        if (!box.itemIcon(i).isNull()) needed += box.iconSize().width() + 4;
        if (needed > room) {
            problems.push_back(TooNarrow(box, entry, needed, room) + " (entry " + std::to_string(i) + ")");
            return;  // one entry names the fault
        }
    }
}

// Whether a layout or one of its inner layouts places the widget.
bool Places(const QLayout& layout, const QWidget* widget) {
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        if (item->widget() == widget) return true;
        if (item->layout() != nullptr && Places(*item->layout(), widget)) return true;
    }
    return false;
}

// Widgets that a layout places do not overlap, and none reaches beyond its
// parent. (Widgets placed by hand, such as invisible click areas, may lie
// over others.)
void CheckSiblings(const QWidget& parent, std::vector<std::string>& problems) {
    if (parent.layout() == nullptr) return;
    std::vector<const QWidget*> shown;
    for (const QObject* o : parent.children())
        if (const auto* w = qobject_cast<const QWidget*>(o);
            w != nullptr && !w->isWindow() && w->isVisible() && Places(*parent.layout(), w))
            shown.push_back(w);
    const QString parentName = parent.objectName();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QRect a = shown[i]->geometry();
        if (!parent.rect().contains(a)) {
            std::ostringstream out;
            out << Name(*shown[i], {}) << " reaches beyond " << Name(parent, {}) << ": it ends at x " << a.right()
                << ", y " << a.bottom() << ", its parent is " << parent.width() << " x " << parent.height();
            problems.push_back(out.str());
        }
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            const QRect b = shown[j]->geometry();
            if (!a.intersects(b)) continue;
            std::ostringstream out;
            out << Name(*shown[i], {}) << " and " << Name(*shown[j], {}) << " overlap: x " << a.left() << ".."
                << a.right() << " and " << b.left() << ".." << b.right() << ", y " << a.top() << ".." << a.bottom()
                << " and " << b.top() << ".." << b.bottom();
            problems.push_back(out.str());
        }
    }
}

// Every fault of the visible widgets of a window.
std::vector<std::string> FitProblems(const QWidget& window) {
    std::vector<std::string> problems;
    const int titleRoom = TitleBarWidth(window);
    if (titleRoom > window.width()) {
        std::ostringstream out;
        out << "the window title \"" << window.windowTitle().toStdString() << "\" needs " << titleRoom
            << " px, the window is " << window.width() << " px wide";
        problems.push_back(out.str());
    }
    QList<const QWidget*> widgets{&window};
    for (const QWidget* w : window.findChildren<const QWidget*>()) widgets.push_back(w);
    for (const QWidget* w : widgets) {
        if (!w->isVisible() || (w != &window && w->isWindow())) continue;
        if (const auto* label = qobject_cast<const QLabel*>(w)) CheckLabel(*label, problems);
        if (const auto* button = qobject_cast<const QAbstractButton*>(w)) CheckButton(*button, problems);
        if (const auto* group = qobject_cast<const QGroupBox*>(w)) CheckGroupBox(*group, problems);
        if (const auto* box = qobject_cast<const QComboBox*>(w)) CheckComboBox(*box, problems);
        CheckSiblings(*w, problems);
    }
    return problems;
}

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
    for (QWidget* w : std::initializer_list<QWidget*>{label, button, check, box}) {
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
          "QComboBox \"an entry far longer than the box\" is cut", "QPushButton first and QPushButton second overlap"})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << " not in:\n" << all;
    EXPECT_EQ(all.find("\"short\""), std::string::npos) << all;
    EXPECT_EQ(all.find("window title"), std::string::npos) << all;
}

std::string LanguageName(int languageId) {
    static const char* const kNames[] = {"English", "German", "French", "Portuguese", "Swedish", "Russian"};
    return kNames[ColumnOfLanguage(languageId)];
}

void ExpectFits(const QWidget& window, int languageId, const std::string& what) {
    Settle();
    for (const std::string& problem : FitProblems(window))
        ADD_FAILURE() << LanguageName(languageId) << ", " << what << ": " << problem;
}

// A dialog shown at the size it takes by itself.
void ExpectDialogFits(QDialog& dialog, int languageId, const std::string& what) {
    dialog.show();
    ExpectFits(dialog, languageId, what);
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
    ExpectFits(*dialog_, id, "main window, no module read");
    const std::pair<int, const char*> pages[] = {{1, "Pulse page"}, {2, "Control page"}, {3, "Analog page"}};
    for (auto [address, page] : pages) {
        ReadModule(address);
        ExpectFits(*dialog_, id, std::string("main window, ") + page);
    }
    dialog_->SetAddressType(kDeviceList);
    ExpectFits(*dialog_, id, "main window, device list");

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
    ExpectFits(*dialog_, 7, "main window at 700 px, Analog page");
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
