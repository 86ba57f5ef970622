// The module pages of the main dialog: the group frames and fields of the
// three module variants and the empty frame, and the page switch that shows
// the groups of one page type with their captions.
//
// The captions of the module groups carry the marker "<!!>", which the page
// switch replaces by a label: the firmware version ("V:1.3" and two blanks),
// the error marker "Err " of two differing readings, or nothing.
//
// The widgets are public members: the main dialog takes their fields before
// an action and shows the parsed answer in them.

#pragma once

#include <QWidget>
#include <string>

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

    // Shows the groups of a page type. `label` replaces the marker "<!!>"
    // of the captions: the version text ("1.3", shown as "V:1.3" and two
    // blanks) or nothing when empty.
    void ShowPage(PageType page, const std::string& versionText);
    // Shows the marker "Err " in place of the version label in one
    // group's caption (a Control relay with two differing readings).
    void MarkError(QGroupBox* group);
    PageType Page() const { return page_; }

    // Empties the text fields that a readout fills.
    void ClearReadoutFields();

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

private:
    QString T(int number) const;
    void BuildPulse(int input);
    void BuildRelay(int relay);
    void BuildAnalogInput(AnalogInputWidgets& w, int captionText, bool temperature);
    void SetCaption(QGroupBox* group, const std::string& label);

    const TextTable& texts_;
    int languageId_;
    PageType page_ = kPageEmpty;
    std::string versionText_;
};

}  // namespace mbus::meridex
