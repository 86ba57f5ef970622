#include "configurator/shell/main_dialog.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>
#include <filesystem>

#include "configurator/devices/address_setting.h"
#include "configurator/devices/analog_parameters_dialog.h"
#include "configurator/devices/device_search.h"
#include "configurator/devices/module_pages.h"
#include "configurator/shell/about_dialog.h"
#include "configurator/shell/connection_lines.h"
#include "configurator/shell/file_filters.h"
#include "configurator/shell/help_window.h"
#include "configurator/shell/language_dialog.h"
#include "configurator/shell/language_file.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/phone_dialogs.h"
#include "configurator/shell/phone_list.h"
#include "configurator/shell/phone_scripts.h"
#include "configurator/shell/port_problem.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/read_script.h"
#include "configurator/shell/search_baudrate_dialog.h"
#include "configurator/shell/settings_dialog.h"

namespace mbus::meridex {
namespace {

// Text numbers of the main dialog.
enum : int {
    kTextNoControl = 0,
    kTextStarted = 1,
    kTextReadingStarted = 2,
    kTextAllMedia = 8,
    kTextSecondaryAddress = 13,
    kTextPrimaryAddress = 14,
    kTextFirstCommunicationType = 15,  // 15..18
    kTextSettingsItem = 21,
    kTextAboutItem = 22,
    kTextProductName = 25,
    kTextConnection = 26,
    kTextAddress = 27,
    kTextSetAddress = 30,
    kTextFirstAddressRadio = 31,  // 31..34, then 76
    kTextPhone = 35,
    kTextPhoneList = 36,
    kTextConnect = 37,
    kTextHelp = 38,
    kTextBreak = 39,
    kTextRead = 41,
    kTextWrite = 42,
    kTextNewSecondary = 49,
    kTextNewPrimary = 50,
    kTextHangUp = 70,
    kTextConnectedTo = 72,
    kTextPortFailed = 75,
    kTextSearchRadio = 76,
    kTextDeviceSearch = 77,
    kTextSave = 78,
    kTextOpen = 79,
    kTextDeviceList = 80,
    kTextDeviceFiles = 81,
    kTextAnalogParameters = 113,
};

constexpr const char* kTitle = "MERIDEX 1.30";
constexpr int kPortCount = 32;
constexpr int kMediumCount = 32;
constexpr int kLogCapacity = 100000;
const char* const kBaudTexts[] = {"    300 Baud", "  2400 Baud", "  9600 Baud", "19200 Baud", "38400 Baud"};

// "/x/MERIDEX" -> "/x/MERIDEX.language": the program's path with another extension.
std::string WithExtension(const std::string& programPath, const char* extension) {
    return std::filesystem::path(programPath).replace_extension(extension).string();
}

Control CreateRegisteredControl(std::string* why) { return Control::Create(why); }

void ShowMessageBox(QWidget* parent, const QString& text, const QString& title, MessageIcon icon) {
    if (icon == MessageIcon::kWarning)
        QMessageBox::warning(parent, title, text);
    else
        QMessageBox::information(parent, title, text);
}

QRect ScreenArea(const QWidget& window) {
    const QScreen* screen = window.screen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

// The module pages' frame: it asks for the whole page (a scroll area asks
// for a small part of a large widget) and can be made narrower, down to a
// scroll bar's room, when the window would not fit the screen.
class PageScroller : public QScrollArea {
public:
    PageScroller() {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    QSize sizeHint() const override { return widget()->sizeHint(); }
    QSize minimumSizeHint() const override {
        const int bar = horizontalScrollBar()->sizeHint().height();
        return {4 * bar, widget()->minimumSizeHint().height() + bar};
    }

protected:
    // A scroll area does not pass its widget's new size hint on to the
    // layout around it. The page is never squeezed below its size hint
    // (its boxes would cut their entries): it scrolls instead.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == widget() && event->type() == QEvent::LayoutRequest) {
            widget()->setMinimumWidth(widget()->sizeHint().width());
            updateGeometry();
        }
        return QScrollArea::eventFilter(watched, event);
    }
};

}  // namespace

CMERIDEXDlg::CMERIDEXDlg(DialogOptions options, QWidget* parent) : QDialog(parent), options_(std::move(options)) {
    if (!options_.createControl) options_.createControl = CreateRegisteredControl;
    if (!options_.messageBox)
        options_.messageBox = [this](const QString& text, const QString& title, MessageIcon icon) {
            ShowMessageBox(this, text, title, icon);
        };
    if (!options_.askLanguage)
        options_.askLanguage = [this](const TextTable& texts, int id) {
            MERIDEXLanguage dialog(texts, id, this);
            dialog.exec();
            return dialog.LanguageId();
        };
    if (options_.iniPath.empty()) options_.iniPath = SettingsPath();
    if (!options_.askFileName)
        options_.askFileName = [](QWidget* parent, bool save, const FileDialogRequest& request) {
            return save ? RunSaveFileDialog(parent, request) : RunOpenFileDialog(parent, request);
        };
    if (!options_.editPhoneList)
        options_.editPhoneList = [this](const std::vector<PhoneListEntry>& list) {
            CPhoneNumbers dialog(texts_, languageId_, list, this);
            dialog.exec();
            return dialog.Outcome();
        };
    if (!options_.availableArea) options_.availableArea = ScreenArea;
    if (!options_.askSearchBaudrate)
        options_.askSearchBaudrate = [this] {
            MERIDEXSearchBaudrate dialog(texts_, languageId_, this);
            dialog.exec();
            return dialog.SearchBaudIndex();
        };

    timer_.setParent(this);
    connect(&timer_, &QTimer::timeout, this, [this] { cycle_.Tick(); });

    LoadTexts();
    BuildWidgets();
    SetCaptions();
    ApplySettingsToWidgets();
    CreateControl();
    FillLists();
    // Page defaults: with the optical head and broadcast no secondary address applies.
    if (settings_.addressType == kOpticalHead || settings_.addressType == kBroadcast)
        secondary_->setText("FFFFFFFF");
    moduleKind_ = kModuleUnknown;
    ApplyAddressLayout();
    ApplyCommunicationLayout();
    pages_->ShowPage(kPageEmpty, {});
    EnableControls(true);
}

CMERIDEXDlg::~CMERIDEXDlg() = default;

QString CMERIDEXDlg::T(int number) const { return QText(texts_, number, languageId_); }

// Language file and settings; the language of the INI, or the one asked for
// at a first start (no INI, or the marker file). Qt's own texts follow it.
void CMERIDEXDlg::LoadTexts() {
    if (!options_.programPath.empty()) {
        std::string problem;
        LoadLanguageFileAt(texts_, WithExtension(options_.programPath, ".language"), &problem);
        if (!problem.empty()) std::fprintf(stderr, "MERIDEX: %s; the German texts are used\n", problem.c_str());
    }

    std::vector<std::string> warnings;
    bool firstStart = false;
    LoadSettingsFile(options_.iniPath, &settings_, &warnings, &firstStart);
    for (const std::string& w : warnings) std::fprintf(stderr, "MERIDEX: %s\n", w.c_str());

    languageId_ = settings_.language;
    // Without MERIDEX.INI the user has never chosen a language: the
    // desktop's is offered when the program has it.
    if (firstStart) {
        const std::string locale =
            options_.desktopLocale.empty() ? QLocale::system().name().toStdString() : options_.desktopLocale;
        languageId_ = LanguageIdOfLocale(locale).value_or(languageId_);
    }
    // The marker file asks once more, offering the INI's language (the
    // desktop's at a first start).
    const std::string marker = options_.programPath.empty() ? std::string()
                                                            : WithExtension(options_.programPath, ".XYZ");
    std::error_code ec;
    bool ask = firstStart;
    if (!marker.empty() && std::filesystem::exists(marker, ec)) {
        std::filesystem::remove(marker, ec);
        ask = true;
    }
    if (ask) languageId_ = options_.askLanguage(texts_, languageId_);
    languageToSave_ = languageId_;
    UseQtTranslation(languageId_);
}

std::string CMERIDEXDlg::HelpPath() const {
    const std::filesystem::path dir = options_.programPath.empty()
                                          ? std::filesystem::path()
                                          : std::filesystem::path(options_.programPath).parent_path();
    return (dir / std::string(HelpFolderOf(languageId_)) / "MERIDEX.html").string();
}

void CMERIDEXDlg::BuildWidgets() {
    auto* root = new QVBoxLayout(this);
    menuBar_ = new QMenuBar(this);
    BuildMenu(menuBar_);
    root->setMenuBar(menuBar_);

    // Connection group.
    connectionGroup_ = new QGroupBox;
    auto* cg = new QGridLayout(connectionGroup_);
    communicationType_ = new QComboBox;
    communicationType_->setObjectName("communicationType");
    communicationType_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    port_ = new QComboBox;
    port_->setObjectName("port");
    for (int p = 1; p <= kPortCount; ++p) port_->addItem(QString("COM%1").arg(p));
    baud_ = new QComboBox;
    baud_->setObjectName("baud");
    for (const char* b : kBaudTexts) baud_->addItem(QString::fromLatin1(b));
    phoneLabel_ = new QLabel;
    phoneNumber_ = new QLineEdit;
    phoneNumber_->setObjectName("phoneNumber");
    phoneNumber_->setMaxLength(40);
    phoneNumberCopy_ = new QLineEdit;
    phoneNumberCopy_->setReadOnly(true);
    phoneNumberCopy_->hide();
    phoneDescription_ = new QLabel;
    phoneList_ = new QPushButton;
    phoneList_->setObjectName("phoneList");
    phoneDescription_->setObjectName("phoneDescription");
    connect_ = new QPushButton;
    connect_->setObjectName("connect");
    cg->addWidget(communicationType_, 0, 0, 1, 4);
    cg->addWidget(port_, 1, 0);
    cg->addWidget(baud_, 1, 1);
    cg->addWidget(phoneLabel_, 2, 0);
    cg->addWidget(phoneNumber_, 2, 1, 1, 2);
    cg->addWidget(phoneNumberCopy_, 2, 1, 1, 2);
    cg->addWidget(phoneDescription_, 3, 1, 1, 3);
    cg->addWidget(phoneList_, 4, 0, 1, 2);
    cg->addWidget(connect_, 4, 2, 1, 2);
    cg->setColumnStretch(3, 1);

    // Address group.
    addressGroup_ = new QGroupBox;
    auto* ag = new QGridLayout(addressGroup_);
    addressButtons_ = new QButtonGroup(this);
    for (int t = 0; t < 5; ++t) {
        addressRadio_[t] = new QRadioButton;
        addressRadio_[t]->setObjectName(QString("addressType%1").arg(t));
        addressButtons_->addButton(addressRadio_[t], t);
        ag->addWidget(addressRadio_[t], t, 0, 1, 3);
    }
    secondaryLabel_ = new QLabel;
    secondary_ = new QLineEdit;
    secondary_->setObjectName("secondaryAddress");
    secondary_->setMaxLength(8);
    medium_ = new QComboBox;
    medium_->setObjectName("medium");
    medium_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    primaryLabel_ = new QLabel;
    primary_ = new QLineEdit;
    primary_->setObjectName("primaryAddress");
    primary_->setMaxLength(3);
    deviceList_ = new QComboBox;
    deviceList_->setObjectName("deviceList");
    deviceList_->setMinimumContentsLength(18);
    deviceSearch_ = new QPushButton;
    deviceSearch_->setObjectName("deviceSearch");
    deviceSave_ = new QPushButton;
    deviceSave_->setObjectName("deviceSave");
    deviceOpen_ = new QPushButton;
    deviceOpen_->setObjectName("deviceOpen");
    ag->addWidget(secondaryLabel_, 5, 0);
    ag->addWidget(secondary_, 5, 1);
    ag->addWidget(medium_, 6, 1, 1, 2);
    ag->addWidget(primaryLabel_, 7, 0);
    ag->addWidget(primary_, 7, 1);
    ag->addWidget(deviceList_, 8, 0, 1, 3);
    auto* deviceButtons = new QHBoxLayout;
    deviceButtons->addWidget(deviceSearch_);
    deviceButtons->addWidget(deviceSave_);
    deviceButtons->addWidget(deviceOpen_);
    ag->addLayout(deviceButtons, 9, 0, 1, 3);
    ag->setColumnStretch(2, 1);

    // Set-address group.
    setAddressGroup_ = new QGroupBox;
    auto* sg = new QGridLayout(setAddressGroup_);
    newSecondary_ = new QLineEdit;
    newSecondary_->setMaxLength(12);
    newPrimary_ = new QLineEdit;
    newPrimary_->setMaxLength(3);
    writeAddress_ = new QPushButton;
    writeAddress_->setObjectName("writeAddress");
    newSecondary_->setObjectName("newSecondaryAddress");
    newPrimary_->setObjectName("newPrimaryAddress");
    auto* newSecondaryLabel = new QLabel;
    auto* newPrimaryLabel = new QLabel;
    newSecondaryLabel->setProperty("textNumber", kTextNewSecondary);
    newPrimaryLabel->setProperty("textNumber", kTextNewPrimary);
    captionLabels_ = {newSecondaryLabel, newPrimaryLabel};
    sg->addWidget(newSecondaryLabel, 0, 0);
    sg->addWidget(newSecondary_, 0, 1);
    sg->addWidget(newPrimaryLabel, 1, 0);
    sg->addWidget(newPrimary_, 1, 1);
    sg->addWidget(writeAddress_, 2, 0, 1, 2, Qt::AlignLeft);

    // Buttons, status line and progress bar.
    read_ = new QPushButton;
    read_->setObjectName("read");
    read_->setDefault(true);
    break_ = new QPushButton;
    break_->setObjectName("break");
    help_ = new QPushButton;
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(read_);
    buttons->addWidget(break_);
    buttons->addStretch();
    buttons->addWidget(help_);
    status_ = new QLabel;
    status_->setObjectName("status");
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setFrameShadow(QFrame::Sunken);
    progress_ = new QProgressBar;
    progress_->setTextVisible(false);
    progress_->setRange(0, 1);
    progress_->setValue(0);

    auto* left = new QVBoxLayout;
    left->addWidget(connectionGroup_);
    left->addWidget(addressGroup_);
    left->addWidget(setAddressGroup_);
    left->addStretch();
    pages_ = new ModulePages(texts_, languageId_);
    pages_->setObjectName("pages");
    auto* pageFrame = new PageScroller;
    pageFrame->setWidget(pages_);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addWidget(pageFrame, 1);
    root->addLayout(columns, 1);
    root->addLayout(buttons);
    root->addWidget(status_);
    root->addWidget(progress_);

    connect(read_, &QPushButton::clicked, this, &CMERIDEXDlg::Read);
    connect(pages_, &ModulePages::pageChanged, this, &CMERIDEXDlg::FitWindowLater);
    connect(pages_, &ModulePages::writeRequested, this, [this](const QString& records1, const QString& records2) {
        pendingRecords1_ = records1.toStdString();
        pendingRecords2_ = records2.toStdString();
        Read();
    });
    connect(pages_, &ModulePages::writeRefused, this,
            [this](const QString& message) {
                options_.messageBox(message, QString::fromLatin1(kTitle), MessageIcon::kInformation);
            });
    connect(break_, &QPushButton::clicked, this, &CMERIDEXDlg::Break);
    connect(help_, &QPushButton::clicked, this, &CMERIDEXDlg::OpenHelp);
    connect(connect_, &QPushButton::clicked, this, &CMERIDEXDlg::ConnectOrHangUp);
    connect(communicationType_, qOverload<int>(&QComboBox::activated), this, &CMERIDEXDlg::SetCommunicationType);
    connect(secondary_, &QLineEdit::editingFinished, this, [this] {
        secondary_->setText(QString::fromStdString(NormalisedSecondaryAddress(secondary_->text().toStdString())));
    });
    connect(primary_, &QLineEdit::editingFinished, this, [this] {
        primary_->setText(QString::fromStdString(NormalisedPrimaryAddress(primary_->text().toStdString())));
    });
    connect(deviceSearch_, &QPushButton::clicked, this, &CMERIDEXDlg::DeviceSearch);
    connect(phoneList_, &QPushButton::clicked, this, &CMERIDEXDlg::OpenPhoneList);
    connect(phoneNumber_, &QLineEdit::editingFinished, this, &CMERIDEXDlg::LookUpDescription);
    connect(deviceSave_, &QPushButton::clicked, this, &CMERIDEXDlg::SaveDeviceList);
    connect(deviceOpen_, &QPushButton::clicked, this, &CMERIDEXDlg::OpenDeviceList);
    connect(deviceList_, qOverload<int>(&QComboBox::activated), this, &CMERIDEXDlg::SelectDevice);
    connect(writeAddress_, &QPushButton::clicked, this, &CMERIDEXDlg::WriteAddress);
    connect(addressButtons_, &QButtonGroup::idClicked, this, &CMERIDEXDlg::SetAddressType);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(f1, &QShortcut::activated, this, &CMERIDEXDlg::OpenHelp);
}

void CMERIDEXDlg::BuildMenu(QMenuBar* bar) {
    QMenu* menu = bar->addMenu(QString());
    menu->setObjectName("windowMenu");
    auto add = [&](int command, auto slot) {
        QAction* a = menu->addAction(QString());
        a->setData(command);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(kMenuSettings, &CMERIDEXDlg::OpenSettings);
    analogParameters_ = add(kMenuAnalogParameters, &CMERIDEXDlg::OpenParameterCalculation);
    menu->addSeparator();
    add(kMenuAbout, &CMERIDEXDlg::OpenAbout);
}

void CMERIDEXDlg::SetCaptions() {
    setWindowTitle(kTitle);
    QMenu* menu = menuBar_->findChild<QMenu*>("windowMenu");
    menu->setTitle(T(kTextProductName));
    for (QAction* a : menu->actions()) {
        switch (a->data().toInt()) {
            case kMenuSettings: a->setText(T(kTextSettingsItem)); break;
            case kMenuAnalogParameters: a->setText(QTextPlain(texts_, kTextAnalogParameters, languageId_)); break;
            case kMenuAbout: a->setText(T(kTextAboutItem)); break;
            default: break;
        }
    }
    connectionGroup_->setTitle(T(kTextConnection));
    communicationType_->clear();
    for (int t = 0; t < 4; ++t) communicationType_->addItem(QTextPlain(texts_, kTextFirstCommunicationType + t, languageId_));
    phoneLabel_->setText(T(kTextPhone));
    phoneList_->setText(T(kTextPhoneList));
    connect_->setText(T(kTextConnect));
    for (int t = 0; t < 4; ++t) addressRadio_[t]->setText(T(kTextFirstAddressRadio + t));
    addressRadio_[kDeviceList]->setText(T(kTextSearchRadio));
    secondaryLabel_->setText(T(kTextSecondaryAddress));
    primaryLabel_->setText(T(kTextPrimaryAddress));
    deviceSearch_->setText(T(kTextDeviceSearch));
    deviceSave_->setText(T(kTextSave));
    deviceOpen_->setText(T(kTextOpen));
    setAddressGroup_->setTitle(T(kTextSetAddress));
    for (QLabel* l : captionLabels_) l->setText(T(l->property("textNumber").toInt()));
    writeAddress_->setText(T(kTextWrite));
    read_->setText(T(kTextRead));
    break_->setText(T(kTextBreak));
    help_->setText(T(kTextHelp));
}

void CMERIDEXDlg::ApplySettingsToWidgets() {
    const Settings& s = settings_;
    communicationType_->setCurrentIndex(s.communicationType);
    previousCommunicationType_ = s.communicationType;
    baud_->setCurrentIndex(s.baudrate);
    port_->setCurrentIndex(s.comPort);
    phoneNumber_->setText(QString::fromStdString(s.phonenumber));
    LookUpDescription();
    secondary_->setText(QString::fromStdString(s.secAddress));
    primary_->setText(QString::fromStdString(s.primAddress));
    if (s.addressType >= 0 && s.addressType < 5) addressRadio_[s.addressType]->setChecked(true);
}

void CMERIDEXDlg::CreateControl() {
    std::string why;
    control_ = options_.createControl(&why);
    if (!control_.Present()) {
        if (!why.empty()) std::fprintf(stderr, "MERIDEX: the control could not be created: %s\n", why.c_str());
        status_->setText(T(kTextNoControl));
        return;
    }
    status_->setText(T(kTextStarted));
    control_.SetTELConnectTimeout(settings_.phoneConnectionTimeout);
    control_.SetOPTOnlyVIFUnitsWithoutMultiplier(0);
}

void CMERIDEXDlg::FillLists() {
    control_.SetLNGLanguage(ControlLanguageOf(languageId_));
    const int lang = control_.LNGLanguage();
    medium_->clear();
    medium_->addItem(T(kTextAllMedia));
    for (int m = 0; m < kMediumCount; ++m) medium_->addItem(QString::fromStdString(control_.LNGMediumVar(lang, m)));
    medium_->setCurrentIndex(settings_.medium);
    pages_->FillLists(control_, lang);
}

QString CMERIDEXDlg::StatusText() const { return status_->text(); }

// ---- Layouts ----------------------------------------------------------------

void CMERIDEXDlg::ApplyCommunicationLayout() {
    const int type = communicationType_->currentIndex();
    const bool irda = type == kIrdaSir || type == kIrdaTransceiver;
    if (irda) baud_->setCurrentIndex(kBaudIndex38400);
    baud_->setVisible(!irda);
    const bool modem = type == kModemDialUp;
    const bool dialling = cycle_.PhoneStateValue() != kPhoneIdle;
    for (QWidget* w : {static_cast<QWidget*>(phoneLabel_), static_cast<QWidget*>(phoneDescription_),
                       static_cast<QWidget*>(phoneList_), static_cast<QWidget*>(connect_)})
        w->setVisible(modem);
    phoneNumber_->setVisible(modem && !dialling);
    phoneNumberCopy_->setVisible(modem && dialling);
    FitWindowLater();
}

void CMERIDEXDlg::ApplyAddressLayout() {
    const int type = addressButtons_->checkedId();
    const bool optical = type == kOpticalHead;
    if (optical && communicationType_->currentIndex() != kSerialCable) {
        SetCommunicationType(kSerialCable);
    }
    communicationType_->setEnabled(!optical && connectionGroup_->isEnabled());
    const bool secondary = type == kSecondaryAddress;
    secondaryLabel_->setVisible(secondary);
    secondary_->setVisible(secondary);
    medium_->setVisible(secondary);
    primaryLabel_->setVisible(type == kPrimaryAddress);
    primary_->setVisible(type == kPrimaryAddress);
    const bool list = type == kDeviceList;
    for (QWidget* w : {static_cast<QWidget*>(deviceList_), static_cast<QWidget*>(deviceSearch_),
                       static_cast<QWidget*>(deviceSave_), static_cast<QWidget*>(deviceOpen_)})
        w->setVisible(list);
    addressGroup_->setTitle(T(list ? kTextDeviceList : kTextAddress));
    FitWindowLater();
}

void CMERIDEXDlg::FitWindowLater() { QTimer::singleShot(0, this, &CMERIDEXDlg::FitWindow); }

// The window takes the size its layout asks for, so it shrinks as well as
// grows with the page, but never more than the available area's width
// (less the window frame): a wider page scrolls, and a horizontal scroll
// bar then takes room below it. While what it shows keeps its size, a size
// the user gave the window stays.
void CMERIDEXDlg::FitWindow() {
    layout()->activate();
    QSize size = sizeHint();
    if (size == fittedHint_) return;
    fittedHint_ = size;
    const QRect area = options_.availableArea(*this);
    if (area.isValid()) {
        const int frame = frameGeometry().width() - geometry().width();
        const int room = area.width() - frame;
        if (size.width() > room) {
            size.setWidth(room);
            size.rheight() += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        }
    }
    resize(size.expandedTo(minimumSizeHint()));
}

void CMERIDEXDlg::SetCommunicationType(int type) {
    if (type < 0 || type > kIrdaTransceiver) return;
    if (!cycle_.MayChangeCommunicationType()) {
        communicationType_->setCurrentIndex(previousCommunicationType_);
        return;
    }
    const int old = previousCommunicationType_;
    if (old >= 0 && old < 4) {
        settings_.baudrates[old] = baud_->currentIndex();
        settings_.comPorts[old] = port_->currentIndex();
    }
    baud_->setCurrentIndex(settings_.baudrates[type]);
    port_->setCurrentIndex(settings_.comPorts[type]);
    communicationType_->setCurrentIndex(type);
    previousCommunicationType_ = type;
    ApplyCommunicationLayout();
}

void CMERIDEXDlg::SetAddressType(int type) {
    if (type < 0 || type > kDeviceList) return;
    addressRadio_[type]->setChecked(true);
    moduleKind_ = kModuleUnknown;
    ApplyAddressLayout();
}

void CMERIDEXDlg::SetPort(int port) { port_->setCurrentIndex(port - 1); }
void CMERIDEXDlg::SetBaudIndex(int baudIndex) { baud_->setCurrentIndex(baudIndex); }
void CMERIDEXDlg::SetPrimaryAddress(const QString& text) { primary_->setText(text); }
void CMERIDEXDlg::SetSecondaryAddress(const QString& text) { secondary_->setText(text); }

// ---- Jobs -------------------------------------------------------------------

ConnectionChoice CMERIDEXDlg::Connection() const {
    ConnectionChoice c;
    c.communicationType = communicationType_->currentIndex();
    c.addressType = addressButtons_->checkedId();
    c.baudIndex = baud_->currentIndex();
    c.port = port_->currentIndex() + 1;
    c.fifoBuffer = settings_.fifoBuffer != 0;
    c.btOpto = settings_.btOpto != 0;
    c.phoneConnected = cycle_.PhoneConnected();
    return c;
}

bool CMERIDEXDlg::PortTest() {
    control_.SetCOMParity(0);
    control_.APPInitCom(port_->currentIndex() + 1, 2400);
    const int32_t lineStatus = control_.APPIsComOpen();
    control_.COMClose();
    if (lineStatus == 0) return true;
    const PortProblem problem = DescribePortProblem(LookUpPortProblem(port_->currentIndex() + 1, lineStatus));
    if (problem.kind == PortProblemKind::kInUse)
        options_.messageBox(T(kTextPortFailed) + "\n" + QString::fromStdString(problem.text),
                            QString::fromLatin1(kTitle), MessageIcon::kInformation);
    else
        options_.messageBox(QString::fromStdString(problem.text), QString::fromLatin1(kTitle), MessageIcon::kWarning);
    return false;
}

void CMERIDEXDlg::Read() {
    if (cycle_.ScriptRunning()) return;
    // Over a standing modem connection the modem holds the port: there is
    // nothing to test.
    if (!cycle_.PhoneConnected() && !PortTest()) {
        // Records of a write that cannot be sent are not kept for a later read.
        pendingRecords1_.clear();
        pendingRecords2_.clear();
        newPrimaryAddress_.clear();
        return;
    }
    StartRead(false);
}

void CMERIDEXDlg::StartRead(bool followUp) {
    ReadJob job;
    job.connection = Connection();
    job.primaryAddress = primary_->text().toStdString();
    job.secondaryAddress = secondary_->text().toStdString();
    job.mediumEntry = medium_->currentIndex();
    job.manufacturerCode = settings_.manufacturerCode;
    job.deviceListEntry = deviceList_->currentText().toStdString();
    job.pendingRecords1 = pendingRecords1_;
    job.pendingRecords2 = pendingRecords2_;
    job.newPrimaryAddress = newPrimaryAddress_;
    job.moduleKind = moduleKind_;
    job.followUp = followUp;
    // Types 2 and 3 run at 38400 baud, and the baud box says so.
    if (job.connection.communicationType == kIrdaSir || job.connection.communicationType == kIrdaTransceiver)
        baud_->setCurrentIndex(kBaudIndex38400);
    const std::vector<std::string> lines = ReadScriptLines(job);

    pendingRecords1_.clear();
    pendingRecords2_.clear();
    if (!newPrimaryAddress_.empty()) {
        primary_->setText(QString::fromStdString(newPrimaryAddress_));
        newPrimaryAddress_.clear();
    }
    followUpRunning_ = followUp;
    lastScript_ = JoinScript(lines);
    status_->setText(T(kTextReadingStarted));
    cycle_.StartJob(lastScript_, static_cast<int>(lines.size()));
}

void CMERIDEXDlg::Break() { cycle_.RequestBreak(); }

void CMERIDEXDlg::ConnectOrHangUp() {
    if (cycle_.ScriptRunning()) return;
    if (cycle_.PhoneStateValue() == kPhoneConnected) {
        lastScript_ = JoinScript(HangUpScriptLines());
        cycle_.StartHangUp(lastScript_);
        return;
    }
    if (cycle_.PhoneStateValue() != kPhoneIdle) return;
    const std::string number = phoneNumber_->text().toStdString();
    // Both texts go into the dial script as they are (the init string may
    // come from an INI file edited by hand).
    const std::pair<std::string_view, std::string> typed[] = {{kPhoneNumberName, number},
                                                               {kInitStringName, settings_.modemInitString}};
    for (const auto& [name, text] : typed) {
        if (const std::optional<std::string> refusal = ScriptTextRefusal(name, text)) {
            options_.messageBox(QString::fromStdString(*refusal), QString::fromLatin1(kTitle),
                                MessageIcon::kInformation);
            return;
        }
    }
    if (!PortTest()) return;
    LookUpDescription();
    dialledNumber_ = number;
    const std::vector<std::string> lines =
        DialScriptLines(port_->currentIndex() + 1, baud_->currentIndex(), settings_.modemInitString, number);
    if (lines.empty()) return;
    lastScript_ = JoinScript(lines);
    phoneNumberCopy_->setText(phoneNumber_->text());
    cycle_.StartDial(lastScript_, control_.TELConnectTimeout());
    ApplyCommunicationLayout();
}

void CMERIDEXDlg::ShowTitle() {
    if (cycle_.PhoneConnected())
        setWindowTitle(QString::fromStdString(
            ConnectedTitle(T(kTextConnectedTo).toStdString(), settings_.phoneList, dialledNumber_)));
    else
        setWindowTitle(kTitle);
}

void CMERIDEXDlg::LookUpDescription() {
    bool found = false;
    const std::string description = DescriptionOf(settings_.phoneList, phoneNumber_->text().toStdString(), &found);
    phoneDescription_->setText(found ? QString::fromStdString(description) : QString());
}

void CMERIDEXDlg::OpenPhoneList() {
    if (cycle_.ScriptRunning()) return;
    const PhoneListOutcome outcome = options_.editPhoneList(settings_.phoneList);
    // Edits stay in the list whichever way the dialog ended.
    settings_.phoneList = outcome.list;
    if (outcome.SetsNumberField()) phoneNumber_->setText(QString::fromStdString(outcome.chosenNumber));
    LookUpDescription();
}

// ---- JobHost ----------------------------------------------------------------

int32_t CMERIDEXDlg::ScriptStatus() { return control_.SCRStatus(); }

void CMERIDEXDlg::ExecuteScript(const std::string& script) {
    control_.LOGReset();
    control_.SetLOGMaxEntries(kLogCapacity);
    control_.SCRExecute(script);
}

void CMERIDEXDlg::BreakScript() {
    control_.SCRBreak();
    // A control still waiting for an answer stops when it comes or times
    // out; the window does not wait that long (the cycle looks again).
    QElapsedTimer waited;
    waited.start();
    while (control_.SCRStatus() != 0 && waited.elapsed() < kBreakWaitMs) QThread::msleep(100);
}

void CMERIDEXDlg::BreakScriptNow() { control_.SCRBreak(); }
void CMERIDEXDlg::CloseCom() { control_.APPCloseCom(); }

void CMERIDEXDlg::StartSecondarySearch() {
    const SpecialSearchCall call = DeviceSearchCall(settings_.manufacturerCode);
    control_.SetSCRSlaveSearchTimeoutRetries(kSearchTimeoutRetries);
    control_.SCRSlaveSearchSecondarySpecial(call.mode, call.start, call.end, call.manufacturer, call.generation,
                                            call.medium);
}

std::string CMERIDEXDlg::SearchAddress() { return control_.SCRSlaveSearchCurAddress(); }
int32_t CMERIDEXDlg::ModemStatus() { return control_.TELStatus(); }
void CMERIDEXDlg::StartTimer(int periodMs) { timer_.start(periodMs); }
void CMERIDEXDlg::StopTimer() { timer_.stop(); }
void CMERIDEXDlg::SetProgressRange(int maximum) {
    progress_->setRange(0, maximum);
    progress_->setValue(0);
}
void CMERIDEXDlg::SetProgress(int position) { progress_->setValue(std::min(position, progress_->maximum())); }
void CMERIDEXDlg::StepProgress() { progress_->setValue(std::min(progress_->value() + 1, progress_->maximum())); }
void CMERIDEXDlg::ResetProgress() {
    progress_->setRange(0, 1);
    progress_->setValue(0);
}

void CMERIDEXDlg::EnableControls(bool enabled) {
    for (QWidget* w : {static_cast<QWidget*>(connectionGroup_), static_cast<QWidget*>(addressGroup_),
                       static_cast<QWidget*>(setAddressGroup_), static_cast<QWidget*>(pages_),
                       static_cast<QWidget*>(read_), static_cast<QWidget*>(help_), static_cast<QWidget*>(menuBar_)})
        w->setEnabled(enabled);
    break_->setEnabled(true);
    if (!enabled) return;
    ApplyAddressLayout();
    // Enter reads again after a job: the Read button takes the focus back
    // from whatever button started the job.
    read_->setFocus(Qt::OtherFocusReason);
}

void CMERIDEXDlg::ShowStatus(int textNumber, const std::string& suffix) {
    status_->setText(T(textNumber) + QString::fromStdString(suffix));
}

bool CMERIDEXDlg::ParseResults(bool* followUp, std::string* why) {
    *followUp = false;
    if (cycle_.Kind() == kSearchRunning) {
        // What the search found, also after a break.
        const std::size_t added =
            devices_.AppendSlaveList(control_.SCRRetrieveSlaveListHex(), settings_.manufacturerCode, searchBaudIndex_);
        ShowDeviceList(0);
        return added > 0;
    }
    pages_->ClearReadoutFields();
    const auto logEntry = [this](int i) { return control_.LOGRetrieveCookedDataHex2(i, i); };
    const std::optional<std::string> line = FindAnswerLine(logEntry);
    const std::optional<Readout> r = line ? ParseAnswerLine(*line, followUpRunning_) : std::nullopt;
    if (!r || !ShowReadout(*r)) {
        // What the page showed belongs to an earlier read: it goes, so that
        // nothing of it is taken for the module's current state.
        ForgetModule();
        *why = ReadFailureReason(logEntry, settings_.manufacturerCode);
        return false;
    }
    *followUp = r->followUp;
    return true;
}

void CMERIDEXDlg::ForgetModule() {
    moduleKind_ = kModuleUnknown;
    versionText_.clear();
    pages_->ShowPage(kPageEmpty, {});
}

bool CMERIDEXDlg::ShowReadout(const Readout& r) {
    const AnswerHeader& h = r.header;
    const QString id = QString::fromStdString(h.identification);
    switch (r.kind) {
        case kModulePulse: {
            // The header's serial number and medium are read with the records.
            const std::optional<PulseReadout> pulse = ReadPulse(r, languageId_);
            if (!pulse) return false;
            pages_->ShowPage(pulse->page, r.header.versionText);
            pages_->ShowPulse(*pulse);
            break;
        }
        case kModuleControl:
            secondary_->setText(id);
            pages_->ShowPage(r.page, r.header.versionText);
            pages_->ShowControl(ReadControl(r));
            break;
        case kModuleAnalog:
            if (!ReadAnalogAnswer(r, languageId_, pages_->AnalogFields())) return false;
            secondary_->setText(id);
            pages_->ShowPage(r.page, r.header.versionText);
            pages_->ShowAnalog();
            break;
        default: return false;
    }
    moduleKind_ = r.kind;
    versionText_ = r.header.versionText;
    if (!h.primaryAddress.empty()) primary_->setText(QString::fromStdString(h.primaryAddress));
    if (const std::optional<std::string> record = RecordOfReadout(r, baud_->currentIndex()))
        ShowDeviceList(devices_.AddOrUpdate(*record, settings_.manufacturerCode));
    return true;
}

void CMERIDEXDlg::ShowDeviceList(int select) {
    deviceList_->clear();
    for (const DeviceEntry& e : devices_.Entries(settings_.manufacturerCode))
        deviceList_->addItem(QString::fromStdString(e.text));
    if (deviceList_->count() > 0) deviceList_->setCurrentIndex(select >= 0 && select < deviceList_->count() ? select : 0);
}

QStringList CMERIDEXDlg::DeviceEntries() const {
    QStringList entries;
    for (int i = 0; i < deviceList_->count(); ++i) entries << deviceList_->itemText(i);
    return entries;
}

void CMERIDEXDlg::SelectDevice(int entry) {
    if (entry < 0) return;
    deviceList_->setCurrentIndex(entry);
    ForgetModule();
}

void CMERIDEXDlg::DeviceSearch() {
    if (cycle_.ScriptRunning()) return;
    if (cycle_.PhoneConnected()) {
        searchBaudIndex_ = options_.askSearchBaudrate();
    } else {
        if (!PortTest()) return;
        searchBaudIndex_ = baud_->currentIndex();
    }
    const ConnectionChoice connection = Connection();
    if (connection.communicationType == kIrdaSir || connection.communicationType == kIrdaTransceiver) {
        baud_->setCurrentIndex(kBaudIndex38400);
        if (!cycle_.PhoneConnected()) searchBaudIndex_ = kBaudIndex38400;
    }
    devices_.Clear();
    ShowDeviceList(0);
    const std::vector<std::string> lines = DeviceSearchLines(connection, searchBaudIndex_);
    lastScript_ = JoinScript(lines);
    cycle_.StartSearch(lastScript_, static_cast<int>(lines.size()));
}

void CMERIDEXDlg::SaveDeviceList() {
    const QString path = AskFileName(this, true, {{}, {}, T(kTextDeviceFiles), QStringLiteral("MDX"), {}});
    if (path.isEmpty()) return;
    std::string error;
    if (!devices_.Save(path.toStdString(), &error))
        options_.messageBox(QString::fromStdString(error), QString::fromLatin1(kTitle), MessageIcon::kInformation);
}

QString CMERIDEXDlg::AskFileName(QWidget* parent, bool save, FileDialogRequest request) {
    request.folder = QString::fromStdString(StartFolder(settings_.lastFolder));
    const QString path = options_.askFileName(parent, save, request);
    if (!path.isEmpty()) settings_.lastFolder = QFileInfo(path).absolutePath().toStdString();
    return path;
}

void CMERIDEXDlg::OpenDeviceList() {
    const QString path = AskFileName(this, false, {{}, {}, T(kTextDeviceFiles), QStringLiteral("MDX"), {}});
    if (path.isEmpty()) return;
    std::string error;
    if (!devices_.Open(path.toStdString(), &error)) {
        options_.messageBox(QString::fromStdString(error), QString::fromLatin1(kTitle), MessageIcon::kInformation);
        return;
    }
    ShowDeviceList(0);
}

void CMERIDEXDlg::WriteAddress() {
    if (cycle_.ScriptRunning()) return;
    const AddressWrite w =
        SetAddressWrite(moduleKind_, newPrimary_->text().toStdString(), newSecondary_->text().toStdString());
    pendingRecords1_ = w.records;
    newPrimaryAddress_ = w.newPrimaryAddress;
    Read();
}

void CMERIDEXDlg::SetManufacturerCode(int code) {
    settings_.manufacturerCode = code;
    ShowDeviceList(0);
}

void CMERIDEXDlg::RefreshControlPage() {
    if (moduleKind_ == kModuleControl) pages_->RefreshRelayButtons();
}

void CMERIDEXDlg::RunFollowUpRead() { StartRead(true); }

void CMERIDEXDlg::ShowPhoneConnected(bool connected) {
    connect_->setText(T(connected ? kTextHangUp : kTextConnect));
    ApplyCommunicationLayout();
    ShowTitle();
}

// ---- Dialogs ----------------------------------------------------------------

void CMERIDEXDlg::OpenSettings() {
    SettingsChoice initial;
    initial.languageId = languageToSave_;
    initial.phoneTimeout = settings_.phoneConnectionTimeout;
    initial.modemInit = settings_.modemInitString;
    initial.fifo = settings_.fifoBuffer != 0;
    initial.btOpto = settings_.btOpto != 0;
    initial.manufacturerCode = settings_.manufacturerCode;
    SettingsDialogHooks hooks = SettingsDialogHooks::Defaults();
    hooks.saveFileName = [this](QWidget* parent, const FileDialogRequest& r) { return AskFileName(parent, true, r); };
    hooks.openFileName = [this](QWidget* parent, const FileDialogRequest& r) { return AskFileName(parent, false, r); };
    MERIDEXSettings dialog(texts_, languageId_, initial, control_, this, std::move(hooks));
    if (dialog.exec() != QDialog::Accepted) return;
    const SettingsChoice c = dialog.Choice();
    languageToSave_ = c.languageId;
    settings_.phoneConnectionTimeout = c.phoneTimeout;
    settings_.modemInitString = c.modemInit;
    settings_.fifoBuffer = c.fifo ? 1 : 0;
    settings_.btOpto = c.btOpto ? 1 : 0;
    SetManufacturerCode(c.manufacturerCode);
}

void CMERIDEXDlg::OpenParameterCalculation() {
    // As for a module with firmware 1; the results stay in the dialog.
    std::unique_ptr<MERIDEXAnaParam> dialog = MERIDEXAnaParam::ForSystemMenu(texts_, languageId_, this);
    dialog->exec();
}

void CMERIDEXDlg::OpenAbout() {
    CAboutDlg dialog(texts_, languageId_, this);
    dialog.exec();
}

void CMERIDEXDlg::OpenHelp() { HelpWindow::Show(QString::fromStdString(HelpPath()), this); }

// ---- Closing ----------------------------------------------------------------

void CMERIDEXDlg::TakeFields() {
    Settings& s = settings_;
    s.communicationType = communicationType_->currentIndex();
    s.baudrate = baud_->currentIndex();
    s.comPort = port_->currentIndex();
    if (s.communicationType >= 0 && s.communicationType < 4) {
        s.baudrates[s.communicationType] = s.baudrate;
        s.comPorts[s.communicationType] = s.comPort;
    }
    s.addressType = addressButtons_->checkedId();
    s.phonenumber = phoneNumber_->text().toStdString();
    s.secAddress = secondary_->text().toStdString();
    s.primAddress = primary_->text().toStdString();
    s.medium = medium_->currentIndex();
    s.language = languageToSave_;
}

void CMERIDEXDlg::SaveSettings() {
    TakeFields();
    std::optional<int> timeout;
    if (control_.Present()) timeout = control_.TELConnectTimeout();
    std::string notice;
    const std::string problem = SaveSettingsAtClose(options_.iniPath, settings_, timeout, &notice);
    if (!notice.empty()) std::fprintf(stderr, "MERIDEX: %s\n", notice.c_str());
    if (problem.empty()) return;
    std::fprintf(stderr, "MERIDEX: %s\n", problem.c_str());
    options_.messageBox(QString::fromStdString(problem), QString::fromLatin1(kTitle), MessageIcon::kInformation);
}

bool CMERIDEXDlg::RequestClose() {
    if (ended_) return true;
    if (cycle_.ScriptRunning()) return false;
    if (autoProxy_ != nullptr) {
        hide();
        return false;
    }
    timer_.stop();
    SaveSettings();
    control_.Release();
    ended_ = true;
    QDialog::done(QDialog::Accepted);
    return true;
}

void CMERIDEXDlg::closeEvent(QCloseEvent* event) {
    if (ended_ || RequestClose())
        event->accept();
    else
        event->ignore();
}

// Escape and Enter end a dialog in Qt; here they go through the close rules.
void CMERIDEXDlg::reject() { RequestClose(); }
void CMERIDEXDlg::accept() { RequestClose(); }

}  // namespace mbus::meridex
