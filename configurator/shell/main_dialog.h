// The main dialog of MERIDEX: the connection and address groups, the module
// pages, the status line and the progress bar. Every conversation with a
// module is a script job: the dialog composes a script (connection lines,
// addressing, queued records, the read request), starts it in the control
// and polls the control from a window timer through the job cycle; when the
// script has ended the result parser reads the answer from the control's
// telegram log and the page of the identified module is shown.
//
// The dialog holds widgets and hands every decision to the display-free
// logic: ConnectionLines/ReadScriptLines compose, JobCycle runs the cycle,
// ParseAnswerLine identifies. It is the JobHost of its cycle.

#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "configurator/devices/device_list.h"
#include "configurator/devices/result_parser.h"
#include "configurator/shell/connection_lines.h"
#include "configurator/shell/control.h"
#include "configurator/shell/file_filters.h"
#include "configurator/shell/job_cycle.h"
#include "configurator/shell/phone_list.h"
#include "configurator/shell/settings.h"
#include "configurator/shell/text_table.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace mbus::meridex {

class CMERIDEXDlgAutoProxy;
class ModulePages;

// The icon of a message box: information for what is normal use (a port
// that another program holds), warning for what the user has to fix.
enum class MessageIcon { kInformation, kWarning };

// Where the dialog finds its files and its control. The defaults are what
// the program uses; tests point them elsewhere.
struct DialogOptions {
    // The program's path: the language file "<program>.language", the
    // first-start marker "<program>.XYZ" and the help folders "Deutsch/"
    // and "English/" sit beside it.
    std::string programPath;
    // MERIDEX.INI; empty: SettingsPath().
    std::string iniPath;
    // Creates the control; by default by its class identifier through the
    // component registry.
    std::function<Control(std::string* why)> createControl;
    // Shows a message box (text, title, icon); by default QMessageBox. Tests
    // replace it, since a modal box would wait for a click.
    std::function<void(const QString& text, const QString& title, MessageIcon icon)> messageBox;
    // Asks for the language at the first start (no MERIDEX.INI, or the
    // marker file); by default MERIDEXLanguage. `languageId` is the one to
    // pre-select. Returns the chosen language id.
    std::function<int(const TextTable& texts, int languageId)> askLanguage;
    // The desktop's locale name ("de_DE"), whose language is pre-selected at
    // a start without MERIDEX.INI when it is one of the program's; empty:
    // QLocale::system()'s.
    std::string desktopLocale;
    // Asks for a file name (save or open of device lists, the settings
    // dialog's files) over `parent`; by default the file dialogs. The
    // request's folder is where the last file was chosen (StartFolder).
    // Empty: cancelled.
    std::function<QString(QWidget* parent, bool save, const FileDialogRequest& request)> askFileName;
    // Asks for the baud rate of a device search over a modem; by default
    // MERIDEXSearchBaudrate. Returns the search baud index (0 or 1).
    std::function<int()> askSearchBaudrate;
    // Runs the phone list; by default CPhoneNumbers.
    std::function<PhoneListOutcome(const std::vector<PhoneListEntry>& list)> editPhoneList;
    // The part of the desktop the window may fill; by default its screen's
    // available geometry. The window is never made wider: wider pages
    // scroll.
    std::function<QRect(const QWidget& window)> availableArea;
};

// Ids of the three items of the window menu (the system menu of the
// original program).
enum MenuCommand : int {
    kMenuAbout = 16,
    kMenuAnalogParameters = 1060,
    kMenuSettings = 1156,
};

class CMERIDEXDlg : public QDialog, private JobHost {
    Q_OBJECT
public:
    explicit CMERIDEXDlg(DialogOptions options, QWidget* parent = nullptr);
    ~CMERIDEXDlg() override;

    // State a user sees, for the program's tests.
    int LanguageId() const { return languageId_; }
    int LanguageToSave() const { return languageToSave_; }
    const TextTable& Texts() const { return texts_; }
    const Settings& CurrentSettings() const { return settings_; }
    const Control& TheControl() const { return control_; }
    const JobCycle& Cycle() const { return cycle_; }
    int ModuleKindValue() const { return moduleKind_; }
    const std::string& VersionText() const { return versionText_; }
    QString StatusText() const;
    ModulePages* Pages() const { return pages_; }
    // The script of the last job started.
    const std::string& LastScript() const { return lastScript_; }

    // Actions of the buttons and menu items.
    void Read();
    void Break();
    void ConnectOrHangUp();
    void OpenPhoneList();
    void OpenSettings();
    void OpenAbout();
    void OpenParameterCalculation();
    void OpenHelp();
    void SetCommunicationType(int type);
    void SetAddressType(int type);
    void SetPort(int port);           // 1..32
    void SetBaudIndex(int baudIndex);  // 0..4
    void SetPrimaryAddress(const QString& text);
    void SetSecondaryAddress(const QString& text);
    void SetManufacturerCode(int code);
    // The address functions.
    void DeviceSearch();
    void SaveDeviceList();
    void OpenDeviceList();
    void SelectDevice(int entry);
    void WriteAddress();
    const DeviceList& Devices() const { return devices_; }
    // The entries the device-list box shows.
    QStringList DeviceEntries() const;

    // The automation proxy links itself while a client holds it; the
    // dialog is then only hidden when closed.
    void SetAutoProxy(CMERIDEXDlgAutoProxy* proxy) { autoProxy_ = proxy; }
    CMERIDEXDlgAutoProxy* AutoProxy() const { return autoProxy_; }

    // A close request: ignored while a script runs; only hides the dialog
    // while an automation client holds the proxy; otherwise saves the
    // settings and ends the dialog. True when the dialog ended.
    bool RequestClose();

    // The help page of the running language.
    std::string HelpPath() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void accept() override;

private:
    // Start-up steps.
    void LoadTexts();
    void BuildWidgets();
    void BuildMenu(QMenuBar* bar);
    void SetCaptions();
    void CreateControl();
    void FillLists();
    void ApplySettingsToWidgets();
    void ApplyCommunicationLayout();
    void ApplyAddressLayout();
    // Sizes the window to what it shows (the page, the fields of the
    // connection and address chosen), at most as wide as the available
    // area; FitWindowLater once the event loop has laid the widgets out.
    void FitWindow();
    void FitWindowLater();

    // Fields of the dialog into the settings and the choice of a job.
    void TakeFields();
    ConnectionChoice Connection() const;
    bool PortTest();
    void StartRead(bool followUp);
    void SaveSettings();
    QString T(int number) const;
    void ShowTitle();
    // Runs options_.askFileName in the folder last used and remembers the
    // folder of the file chosen. Empty when cancelled.
    QString AskFileName(QWidget* parent, bool save, FileDialogRequest request);
    // The description field: the description of the number's first record in
    // the phone list, or empty when no record has that number.
    void LookUpDescription();

    // JobHost.
    int32_t ScriptStatus() override;
    void ExecuteScript(const std::string& script) override;
    void BreakScript() override;
    void BreakScriptNow() override;
    void CloseCom() override;
    void StartSecondarySearch() override;
    std::string SearchAddress() override;
    int32_t ModemStatus() override;
    void StartTimer(int periodMs) override;
    void StopTimer() override;
    void SetProgressRange(int maximum) override;
    void SetProgress(int position) override;
    void StepProgress() override;
    void ResetProgress() override;
    void EnableControls(bool enabled) override;
    void ShowStatus(int textNumber, const std::string& suffix) override;
    bool ParseResults(bool* followUp, std::string* why) override;
    void RefreshControlPage() override;
    void RunFollowUpRead() override;
    void ShowPhoneConnected(bool connected) override;

    // No module identified: the empty page, no version, no module kind.
    void ForgetModule();
    // Fills the page of an identified module; false when its records do not read.
    bool ShowReadout(const Readout& r);
    void ShowDeviceList(int select);

    DialogOptions options_;
    TextTable texts_;
    Settings settings_;
    int languageId_ = 49;      // the running program's language
    int languageToSave_ = 49;  // chosen in the settings; used from the next start
    Control control_;
    JobCycle cycle_{*this};
    QTimer timer_;

    int moduleKind_ = kModuleUnknown;
    std::string versionText_;
    std::string pendingRecords1_;
    std::string pendingRecords2_;
    std::string newPrimaryAddress_;
    bool followUpRunning_ = false;
    std::string lastScript_;
    std::string dialledNumber_;
    int previousCommunicationType_ = 0;
    CMERIDEXDlgAutoProxy* autoProxy_ = nullptr;
    DeviceList devices_;
    int searchBaudIndex_ = 1;
    bool ended_ = false;
    QSize fittedHint_;  // the size hint the window was last fitted to

    // Widgets.
    QGroupBox* connectionGroup_ = nullptr;
    QComboBox* communicationType_ = nullptr;
    QComboBox* port_ = nullptr;
    QComboBox* baud_ = nullptr;
    QLabel* phoneLabel_ = nullptr;
    QLineEdit* phoneNumber_ = nullptr;
    QLineEdit* phoneNumberCopy_ = nullptr;
    QLabel* phoneDescription_ = nullptr;
    QPushButton* phoneList_ = nullptr;
    QPushButton* connect_ = nullptr;
    QGroupBox* addressGroup_ = nullptr;
    QRadioButton* addressRadio_[5] = {};
    QButtonGroup* addressButtons_ = nullptr;
    QLabel* secondaryLabel_ = nullptr;
    QLineEdit* secondary_ = nullptr;
    QComboBox* medium_ = nullptr;
    QLabel* primaryLabel_ = nullptr;
    QLineEdit* primary_ = nullptr;
    QComboBox* deviceList_ = nullptr;
    QPushButton* deviceSearch_ = nullptr;
    QPushButton* deviceSave_ = nullptr;
    QPushButton* deviceOpen_ = nullptr;
    QGroupBox* setAddressGroup_ = nullptr;
    QLineEdit* newSecondary_ = nullptr;
    QLineEdit* newPrimary_ = nullptr;
    QPushButton* writeAddress_ = nullptr;
    QPushButton* read_ = nullptr;
    QPushButton* break_ = nullptr;
    QPushButton* help_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QAction* analogParameters_ = nullptr;
    ModulePages* pages_ = nullptr;
    std::vector<QLabel*> captionLabels_;
};

}  // namespace mbus::meridex
