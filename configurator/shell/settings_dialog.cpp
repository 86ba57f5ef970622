#include "configurator/shell/settings_dialog.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QValidator>
#include <QVBoxLayout>

#include <algorithm>

#include "configurator/shell/flags.h"
#include "configurator/shell/language_file.h"
#include "configurator/shell/languages.h"
#include "configurator/shell/phone_scripts.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/settings.h"

namespace mbus::meridex {
namespace {

// The flag buttons in the dialog's order with the id each sets.
constexpr std::array<LanguageButton, MERIDEXSettings::kFlagCount> kSettingsFlags = {{
    {kEnglish, 1},
    {kFrench, 33},
    {kGerman, 49},
    {kPortuguese, 55},
    {kSwedish, 46},
    {kRussian, 7},
}};

constexpr QSize kFlagSize(56, 40);
constexpr int kMinTimeout = 5;
constexpr int kMaxTimeout = 600;
constexpr int kClickAreaSize = 16;

// Text numbers of the captions.
enum : int {
    kTextFailed = 5,
    kTextLanguageChanged = 19,
    kTextLanguageFileFilter = 20,
    kTextProductName = 25,
    kTextLanguageGroup = 54,
    kTextSelectLanguage = 55,
    kTextTitle = 56,
    kTextTimeoutGroup = 57,
    kTextTimeoutLabel = 58,
    kTextModemGroup = 59,
    kTextModemLabel = 60,
    kTextOk = 61,
    kTextCancel = 62,
    kTextAllFilesFilter = 85,
    kTextFifoCheck = 87,
    kTextFifoGroup = 88,
    kTextManufacturerGroup = 119,
    kTextVnd = 120,
    kTextKtr = 121,
    kTextBtOptoGroup = 122,
    kTextBtOptoCheck = 123,
};

// An invisible area that reports a left click (press and release inside it).
class ClickArea : public QWidget {
public:
    ClickArea(QWidget* parent, std::function<void()> onClick) : QWidget(parent), onClick_(std::move(onClick)) {
        setFixedSize(kClickAreaSize, kClickAreaSize);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        pressed_ = event->button() == Qt::LeftButton;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
        pressed_ = false;
        event->accept();
        if (click && onClick_) onClick_();
    }

private:
    std::function<void()> onClick_;
    bool pressed_ = false;
};

QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

SettingsDialogHooks SettingsDialogHooks::Defaults() {
    SettingsDialogHooks hooks;
    hooks.showMessage = [](QWidget* parent, MessageKind kind, const QString& title, const QString& text) {
        if (kind == MessageKind::Warning)
            QMessageBox::warning(parent, title, text);
        else
            QMessageBox::information(parent, title, text);
    };
    hooks.saveFileName = RunSaveFileDialog;
    hooks.openFileName = RunOpenFileDialog;
    return hooks;
}

MERIDEXSettings::MERIDEXSettings(const TextTable& texts, int runningLanguageId, const SettingsChoice& initial,
                                 const Control& control, QWidget* parent, SettingsDialogHooks hooks)
    : QDialog(parent),
      texts_(texts),
      control_(control),
      hooks_(std::move(hooks)),
      runningLanguageId_(runningLanguageId),
      chosenLanguageId_(initial.languageId) {
    setWindowTitle(QTextPlain(texts_, kTextTitle, runningLanguageId_));
    auto* main = new QVBoxLayout(this);

    // Language: the prompt, then the flags with the debug-file area left of them.
    auto* languageGroup = new QGroupBox(T(kTextLanguageGroup), this);
    auto* languageLayout = new QVBoxLayout(languageGroup);
    languageLayout->addWidget(PlainLabel(T(kTextSelectLanguage), languageGroup));
    auto* flagRow = new QHBoxLayout;
    flagRow->setSpacing(2);
    debugFileArea_ = new ClickArea(languageGroup, [this] { DebugFileClicked(); });
    debugFileArea_->setObjectName(QStringLiteral("debugFileArea"));
    flagRow->addWidget(debugFileArea_, 0, Qt::AlignVCenter);
    for (std::size_t i = 0; i < kFlagCount; ++i) {
        auto* button = new QToolButton(languageGroup);
        button->setIconSize(kFlagSize);
        button->setAutoRaise(true);
        button->setAccessibleName(NativeLanguageName(kSettingsFlags[i].column));
        button->setObjectName(QStringLiteral("settingsFlag%1").arg(kSettingsFlags[i].languageId));
        connect(button, &QToolButton::clicked, this, [this, i] { ChooseLanguage(kSettingsFlags[i].languageId); });
        flagRow->addWidget(button);
        flags_[i] = button;
    }
    flagRow->addStretch(1);
    languageLayout->addLayout(flagRow);
    main->addWidget(languageGroup);

    // Phone connection timeout. The spin buttons step by one second at a
    // constant pace, without acceleration.
    auto* timeoutGroup = new QGroupBox(T(kTextTimeoutGroup), this);
    auto* timeoutLayout = new QHBoxLayout(timeoutGroup);
    auto* timeoutLabel = PlainLabel(T(kTextTimeoutLabel), timeoutGroup);
    timeout_ = new QSpinBox(timeoutGroup);
    timeout_->setRange(kMinTimeout, kMaxTimeout);
    timeout_->setSingleStep(1);
    timeout_->setAccelerated(false);
    timeout_->setValue(control_.Present() ? control_.TELConnectTimeout() : initial.phoneTimeout);
    timeoutLabel->setBuddy(timeout_);
    timeoutLayout->addWidget(timeoutLabel);
    timeoutLayout->addStretch(1);
    timeoutLayout->addWidget(timeout_);
    main->addWidget(timeoutGroup);

    // Modem init string: selected whole when the field gets the focus.
    auto* modemGroup = new QGroupBox(T(kTextModemGroup), this);
    auto* modemLayout = new QHBoxLayout(modemGroup);
    auto* modemLabel = PlainLabel(T(kTextModemLabel), modemGroup);
    modemInit_ = new QLineEdit(modemGroup);
    // UTF-16 units: never more characters than the field holds.
    modemInit_->setMaxLength(static_cast<int>(kModemInitCharacters));
    modemInit_->setText(QString::fromStdString(initial.modemInit));
    modemInit_->installEventFilter(this);
    modemLabel->setBuddy(modemInit_);
    modemLayout->addWidget(modemLabel);
    modemLayout->addWidget(modemInit_, 1);
    main->addWidget(modemGroup);

    auto* fifoGroup = new QGroupBox(T(kTextFifoGroup), this);
    auto* fifoLayout = new QVBoxLayout(fifoGroup);
    fifo_ = new QCheckBox(T(kTextFifoCheck), fifoGroup);
    fifo_->setChecked(initial.fifo);
    fifoLayout->addWidget(fifo_);
    main->addWidget(fifoGroup);

    auto* btOptoGroup = new QGroupBox(T(kTextBtOptoGroup), this);
    auto* btOptoLayout = new QVBoxLayout(btOptoGroup);
    btOpto_ = new QCheckBox(T(kTextBtOptoCheck), btOptoGroup);
    btOpto_->setChecked(initial.btOpto);
    btOptoLayout->addWidget(btOpto_);
    main->addWidget(btOptoGroup);

    auto* manufacturerGroup = new QGroupBox(T(kTextManufacturerGroup), this);
    auto* manufacturerLayout = new QHBoxLayout(manufacturerGroup);
    vnd_ = new QRadioButton(T(kTextVnd), manufacturerGroup);
    ktr_ = new QRadioButton(T(kTextKtr), manufacturerGroup);
    (initial.manufacturerCode == 1 ? ktr_ : vnd_)->setChecked(true);
    manufacturerLayout->addWidget(vnd_);
    manufacturerLayout->addSpacing(24);
    manufacturerLayout->addWidget(ktr_);
    manufacturerLayout->addStretch(1);
    main->addWidget(manufacturerGroup);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(T(kTextOk), this);
    ok_->setDefault(true);
    cancel_ = new QPushButton(T(kTextCancel), this);
    connect(ok_, &QPushButton::clicked, this, &MERIDEXSettings::accept);
    connect(cancel_, &QPushButton::clicked, this, &MERIDEXSettings::reject);
    // Both buttons as wide as the wider caption needs, with some air.
    const int buttonWidth = std::max(ok_->sizeHint().width(), cancel_->sizeHint().width()) +
                            2 * cancel_->fontMetrics().averageCharWidth();
    ok_->setMinimumWidth(buttonWidth);
    cancel_->setMinimumWidth(buttonWidth);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    main->addLayout(buttons);

    // The export area lies over the top right corner, outside the layout.
    exportArea_ = new ClickArea(this, [this] { ExportLanguageFilesClicked(); });
    exportArea_->setObjectName(QStringLiteral("exportArea"));

    RedrawFlags();
}

QString MERIDEXSettings::T(int number) const { return QText(texts_, number, runningLanguageId_); }

SettingsChoice MERIDEXSettings::Choice() const {
    SettingsChoice choice;
    choice.languageId = chosenLanguageId_;
    choice.phoneTimeout = timeout_->value();
    choice.modemInit = modemInit_->text().toStdString();
    choice.fifo = fifo_->isChecked();
    choice.btOpto = btOpto_->isChecked();
    choice.manufacturerCode = ktr_->isChecked() ? 1 : 0;
    return choice;
}

bool MERIDEXSettings::FlagHighlighted(std::size_t index) const { return highlighted_.at(index); }

void MERIDEXSettings::ChooseLanguage(int languageId) {
    // A flag whose language is already the chosen one keeps the id: 43
    // (German for Austria) stays 43 when the German flag is clicked.
    if (ColumnOfLanguage(languageId) != ColumnOfLanguage(chosenLanguageId_)) chosenLanguageId_ = languageId;
    RedrawFlags();
}

void MERIDEXSettings::RedrawFlags() {
    const Column chosen = ColumnOfLanguage(chosenLanguageId_);
    const bool alternativeGerman = texts_.LanguageFileLoaded();
    const qreal ratio = devicePixelRatioF();
    for (std::size_t i = 0; i < kFlagCount; ++i) {
        const bool highlighted = kSettingsFlags[i].column == chosen;
        highlighted_[i] = highlighted;
        flags_[i]->setIcon(
            QIcon(FlagPixmap(kSettingsFlags[i].column, highlighted, alternativeGerman, kFlagSize, ratio)));
    }
}

void MERIDEXSettings::accept() {
    // The init string goes into the dial script as typed: one that would
    // change the script is refused, and the dialog stays open.
    if (const std::optional<std::string> refusal =
            ScriptTextRefusal(kInitStringName, modemInit_->text().toStdString())) {
        if (hooks_.showMessage)
            hooks_.showMessage(this, SettingsDialogHooks::MessageKind::Warning,
                               QTextPlain(texts_, kTextProductName, runningLanguageId_),
                               QString::fromStdString(*refusal));
        modemInit_->setFocus();
        return;
    }
    if (LanguageChanged() && hooks_.showMessage) {
        // Said in the language that was chosen: the user reads that one.
        hooks_.showMessage(this, SettingsDialogHooks::MessageKind::Information,
                           QTextPlain(texts_, kTextProductName, chosenLanguageId_),
                           QText(texts_, kTextLanguageChanged, chosenLanguageId_));
    }
    timeout_->interpretText();
    control_.SetTELConnectTimeout(timeout_->value());
    QDialog::accept();
}

void MERIDEXSettings::ExportLanguageFilesClicked() {
    if (!hooks_.saveFileName) return;
    // The folder is the caller's to fill in (the main dialog: the one last used).
    const FileDialogRequest request{QString(), QStringLiteral("MERIDEX"), T(kTextLanguageFileFilter),
                                    QStringLiteral("TXT"), QString()};
    const QString path = hooks_.saveFileName(this, request);
    if (path.isEmpty()) return;
    const LanguageExport result = ExportLanguageFiles(texts_, path.toStdString());
    if (!result.Ok() && hooks_.showMessage) {
        hooks_.showMessage(this, SettingsDialogHooks::MessageKind::Warning,
                           QTextPlain(texts_, kTextProductName, runningLanguageId_),
                           T(kTextFailed) + QLatin1Char('\n') + QString::fromStdString(result.failedFile));
    }
}

void MERIDEXSettings::DebugFileClicked() {
    const FileDialogRequest request{QString(), QString(), T(kTextAllFilesFilter), QStringLiteral("TXT"), QString()};
    const QString path = hooks_.openFileName ? hooks_.openFileName(this, request) : QString();
    // Cancelling gives an empty name, which switches the debug file off.
    control_.SetAPPDebugFileName(path.trimmed().toStdString());
}

void MERIDEXSettings::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    exportArea_->move(width() - exportArea_->width(), 0);
    exportArea_->raise();
}

bool MERIDEXSettings::eventFilter(QObject* watched, QEvent* event) {
    // Select after the focus change is done: a mouse click that gave the
    // focus would otherwise place the cursor and undo the selection.
    if (watched == modemInit_ && event->type() == QEvent::FocusIn)
        QTimer::singleShot(0, modemInit_, &QLineEdit::selectAll);
    return QDialog::eventFilter(watched, event);
}

}  // namespace mbus::meridex
