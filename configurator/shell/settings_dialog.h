// MERIDEX's settings dialog: the settings that have no field on the main
// dialog. Six flag buttons choose the language of the next start (the
// running program keeps its texts), a spin box the control's connection
// timeout for modem calls, a text field the modem's init command, two check
// boxes the FIFO of the serial port and the radio-linked optical head, two
// radio buttons the manufacturer code.
//
// Every caption is taken from the text table in the running program's
// language. OK tells the user, in the newly chosen language, that it takes
// effect at the next start (text 19), hands the timeout to the control and
// accepts; the caller then takes Choice() over. An init string holding "|"
// or a line break (ScriptTextRefusal) is refused with a warning instead,
// and the dialog stays open. Cancel changes nothing.
//
// Two invisible click areas start maintenance functions: the one in the top
// right corner exports the text table as language files, the one left of the
// flags chooses the control's debug file.

#pragma once

#include <QDialog>

#include <array>
#include <functional>
#include <string>

#include "configurator/shell/control.h"
#include "configurator/shell/file_filters.h"
#include "configurator/shell/text_table.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace mbus::meridex {

// What the dialog edits.
struct SettingsChoice {
    int languageId = 49;       // language id for the next start
    int phoneTimeout = 60;     // seconds, 5..600 (TELConnectTimeout)
    std::string modemInit;     // UTF-8, at most kModemInitCharacters characters
    bool fifo = true;          // FiFoBuffer
    bool btOpto = false;       // BTOpto
    int manufacturerCode = 0;  // 0 VND, 1 KTR
    bool operator==(const SettingsChoice&) const = default;
};

// The dialog's ways out to the user and the control beyond its own widgets.
// The defaults show a QMessageBox, run a QFileDialog and call the control;
// tests replace them so that nothing blocks and what is asked can be checked.
struct SettingsDialogHooks {
    enum class MessageKind { Information, Warning };
    // Shows a modal message box.
    std::function<void(QWidget* parent, MessageKind kind, const QString& title, const QString& text)> showMessage;
    // Asks for the name of the language files to export; empty when cancelled.
    std::function<QString(QWidget* parent, const FileDialogRequest& request)> saveFileName;
    // Asks for the control's debug file; empty when cancelled.
    std::function<QString(QWidget* parent, const FileDialogRequest& request)> openFileName;

    // QMessageBox::information / warning, RunSaveFileDialog, RunOpenFileDialog.
    static SettingsDialogHooks Defaults();
};

class MERIDEXSettings : public QDialog {
    Q_OBJECT

public:
    // `texts` gives the captions (in `runningLanguageId`'s language), the
    // texts exported by the maintenance function and, through its
    // language-file flag, the German flag's form. The timeout starts at the
    // control's TELConnectTimeout when the control is present, else at
    // initial.phoneTimeout. `texts` must outlive the dialog.
    MERIDEXSettings(const TextTable& texts, int runningLanguageId, const SettingsChoice& initial,
                    const Control& control, QWidget* parent = nullptr,
                    SettingsDialogHooks hooks = SettingsDialogHooks::Defaults());

    // What the fields show (after OK: what was chosen).
    SettingsChoice Choice() const;
    // Whether the chosen language differs from the running program's.
    bool LanguageChanged() const { return chosenLanguageId_ != runningLanguageId_; }

    // The flag buttons in the dialog's order: English, French, German,
    // Portuguese (Brazil), Swedish, Russian.
    static constexpr std::size_t kFlagCount = 6;
    QToolButton* FlagButton(std::size_t index) const { return flags_.at(index); }
    // Whether a flag button shows its highlighted image (its language is
    // the chosen one).
    bool FlagHighlighted(std::size_t index) const;

    QSpinBox* TimeoutBox() const { return timeout_; }
    QLineEdit* ModemInitEdit() const { return modemInit_; }
    QCheckBox* FifoBox() const { return fifo_; }
    QCheckBox* BtOptoBox() const { return btOpto_; }
    QRadioButton* VndButton() const { return vnd_; }
    QRadioButton* KtrButton() const { return ktr_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The invisible click areas: language-file export (top right) and the
    // control's debug file (left of the flags).
    QWidget* ExportArea() const { return exportArea_; }
    QWidget* DebugFileArea() const { return debugFileArea_; }

    void accept() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ChooseLanguage(int languageId);
    void RedrawFlags();
    void ExportLanguageFilesClicked();
    void DebugFileClicked();
    QString T(int number) const;

    const TextTable& texts_;
    Control control_;  // a copy shares the same control
    SettingsDialogHooks hooks_;
    int runningLanguageId_;
    int chosenLanguageId_;

    std::array<QToolButton*, kFlagCount> flags_{};
    std::array<bool, kFlagCount> highlighted_{};
    QSpinBox* timeout_ = nullptr;
    QLineEdit* modemInit_ = nullptr;
    QCheckBox* fifo_ = nullptr;
    QCheckBox* btOpto_ = nullptr;
    QRadioButton* vnd_ = nullptr;
    QRadioButton* ktr_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QWidget* exportArea_ = nullptr;
    QWidget* debugFileArea_ = nullptr;
};

}  // namespace mbus::meridex
