// The module pages of the main dialog: the group frames and fields of the
// three module variants and the empty frame, and the page switch that shows
// the groups of one page type with their captions.
//
// The captions of the module groups carry the marker "<!!>", which the page
// switch replaces by a label: the firmware version ("V:1.3" and two blanks),
// the error marker "Err " of two differing readings, or nothing.
//
// The pages apply their fields' rules themselves (a serial number filled to
// eight digits, factors clamped, the whole text selected on entry, the
// "Min / Max" boxes acting as one choice, "Set 0"/"Set 1" only for relays
// driven over the M-Bus) and turn each write button into record texts,
// which they hand to the main dialog with writeRequested; the dialog queues
// them and runs the read job, which sends them before reading the module.
// A write whose typed fields are not all numbers of their range is refused
// with writeRefused instead, and nothing is queued.
// The readouts of a module's answer are shown with ShowPulse, ShowControl
// and ShowAnalog.
//
// The widgets are public members, for the dialog's tests.

#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "configurator/devices/analog_page.h"
#include "configurator/devices/control_page.h"
#include "configurator/devices/field_check.h"
#include "configurator/devices/pulse_page.h"
#include "configurator/devices/result_parser.h"
#include "configurator/shell/text_table.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace mbus::meridex {

class Control;

// One input of the Pulse module.
struct PulseInputWidgets {
    QGroupBox* group = nullptr;
    QWidget* fields = nullptr;  // shown only when the answer carries this input
    QLineEdit* serial = nullptr;
    QComboBox* medium = nullptr;
    QComboBox* unit = nullptr;
    QLineEdit* counter = nullptr;
    QLineEdit* numerator = nullptr;
    QLineEdit* denominator = nullptr;
    QLineEdit* factor = nullptr;  // numerator / denominator, read-only
    QPushButton* writeSerial = nullptr;
    QPushButton* writeAll = nullptr;
};

// One relay of the Control module.
struct RelayWidgets {
    QGroupBox* group = nullptr;
    QLineEdit* state = nullptr;
    QComboBox* logic = nullptr;
    QComboBox* powerFail = nullptr;
    QPushButton* set0 = nullptr;
    QPushButton* set1 = nullptr;
    QPushButton* write = nullptr;
};

// An analog input of the Analog module (A1, A2) or its temperature input.
struct AnalogInputWidgets {
    QGroupBox* group = nullptr;
    QLineEdit* value = nullptr;
    QLineEdit* min = nullptr;
    QLineEdit* max = nullptr;
    QLineEdit* average = nullptr;
    QCheckBox* minMax = nullptr;
    QComboBox* unit = nullptr;  // the unit box of A1 and A2, the sensor box of the temperature input
    QPushButton* param = nullptr;
    QLineEdit* a = nullptr;
    QLineEdit* b = nullptr;
    QLineEdit* c = nullptr;
    QPushButton* write = nullptr;
};

class ModulePages : public QWidget {
    Q_OBJECT
public:
    // Builds every group with its captions in the language of `languageId`.
    ModulePages(const TextTable& texts, int languageId, QWidget* parent = nullptr);

    // Fills the medium and unit boxes from the control's tables in its
    // language `controlLanguage`, and the fixed lists (logic operators,
    // power-fail states, sensors); selects the defaults (units entry 2,
    // media entry 7).
    void FillLists(const Control& control, int controlLanguage);

    // Shows the groups of a page type; only the page shown counts for the
    // pages' size, so a small page after a large one makes them smaller.
    // `label` replaces the marker "<!!>" of the captions: the version text
    // ("1.3", shown as "V:1.3" and two blanks) or nothing when empty.
    void ShowPage(PageType page, const std::string& versionText);
    // Shows the marker "Err " in place of the version label in one
    // group's caption (a Control relay with two differing readings).
    void MarkError(QGroupBox* group);
    PageType Page() const { return page_; }

    // Empties the text fields that a readout fills.
    void ClearReadoutFields();

    // A readout shown in the fields of its page.
    void ShowPulse(const PulseReadout& readout);
    void ShowControl(const ControlReadout& readout);
    // The Analog page keeps what its answers delivered (the calibration
    // values and the firmware number among them): readouts update it.
    AnalogPageFields& AnalogFields() { return analogFields_; }
    void ShowAnalog();
    // Enables "Set 0" and "Set 1" of the relays whose logic is "M-BUS".
    void RefreshRelayButtons();

    // The fields of a Pulse input as its write buttons take them.
    PulseInputFields TakePulseFields(int input) const;
    // The Analog page's fields into AnalogFields().
    void TakeAnalogFields();

    // Opens the parameter calculation for an input of the Analog page;
    // by default MERIDEXAnaParam. Returns whether parameters were taken.
    std::function<bool(AnalogInputKind input, ParameterTexts* parameters)> askParameters;

    PulseInputWidgets pulse[2];
    QGroupBox* controlInputs = nullptr;
    QLineEdit* p1State = nullptr;
    QLineEdit* p2State = nullptr;
    RelayWidgets relay[2];
    AnalogInputWidgets analog[2];
    AnalogInputWidgets temperature;
    QGroupBox* output = nullptr;
    QLineEdit* outputCurrent = nullptr;
    QPushButton* writeOutput = nullptr;
    QGroupBox* empty = nullptr;

signals:
    // A write button's record texts, to be sent before the next read.
    void writeRequested(const QString& records1, const QString& records2);
    // A write refused because one of its fields is no number of its range
    // (RefusedField): the message to show. Nothing was queued.
    void writeRefused(const QString& message);
    // Another page (or another set of Pulse inputs) is shown: the pages'
    // size hint now follows it, so the window can fit itself to it.
    void pageChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString T(int number) const;
    void ConnectPulse(int input);
    void ConnectControl();
    void ConnectAnalog();
    void OpenParameters(AnalogInputKind input);
    void Write(const std::string& records1, const std::string& records2 = {});
    // Emits writeRefused when a field of a write does not pass; true then.
    bool Refused(const std::vector<FieldEntry>& fields);
    void BuildPulse(int input);
    void BuildRelay(int relay);
    void BuildAnalogInput(AnalogInputWidgets& w, int captionText, bool temperature);
    void SetCaption(QGroupBox* group, const std::string& label);

    const TextTable& texts_;
    int languageId_;
    PageType page_ = kPageEmpty;
    std::string versionText_;
    AnalogPageFields analogFields_;
};

}  // namespace mbus::meridex
