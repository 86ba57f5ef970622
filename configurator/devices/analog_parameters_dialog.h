// MERIDEXAnaParam: computes the parameters a, b, c of one of the Analog
// module's inputs from two calibration points. The user enters the raw
// values X1, X2 and the values measured at them, Y1, Y2; "Calculate"
// fills a, b and c, "Reset" puts the neutral parameters back and clears the
// points. OK recalculates when a point is filled, then checks the
// parameters: failing ones are reported (text 117) and the dialog stays
// open; passing ones end it, and the caller copies Parameters() into the
// fields of the input that opened it.
//
// From the system menu the dialog runs as a calculator for an analog input
// of a module with firmware number 1 (ForSystemMenu); its results are not
// copied anywhere (CopiesToPage() is false).
//
// The arithmetic lives in analog_parameters.h; the dialog only moves texts
// between its fields and that logic.

#pragma once

#include <QDialog>

#include <functional>
#include <memory>

#include "configurator/devices/analog_parameters.h"
#include "configurator/shell/text_table.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace mbus::meridex {

class MERIDEXAnaParam : public QDialog {
    Q_OBJECT

public:
    // `input`, `sensorEntry` and `firmwareNumber` choose the rule (see
    // AnalogParameterContext); `initial` fills a, b and c. Captions come
    // from `texts` in the language of `languageId`, which also chooses the
    // decimal separator. `texts` must outlive the dialog.
    MERIDEXAnaParam(const TextTable& texts, int languageId, AnalogInputKind input, int sensorEntry,
                    int firmwareNumber, const ParameterTexts& initial, QWidget* parent = nullptr);

    // The calculator of the system menu: an analog input, firmware 1,
    // parameters 1, 1, 0 to start with; not to be copied to the page.
    static std::unique_ptr<MERIDEXAnaParam> ForSystemMenu(const TextTable& texts, int languageId,
                                                          QWidget* parent = nullptr);

    // Whether the caller copies the result to the page (false from the system menu).
    bool CopiesToPage() const { return copiesToPage_; }
    const AnalogParameterContext& Context() const { return context_; }

    // a, b and c as the fields show them (after OK: the accepted values).
    ParameterTexts Parameters() const;
    CalibrationTexts Points() const;

    // "Calculate" and "Reset" as the buttons run them.
    void Calculate();
    void Reset();
    // OK: recalculates when a point is filled, checks, and either accepts
    // or shows text 117 through `showMessage` and stays open.
    void accept() override;

    // Shows a modal warning; QMessageBox::warning by default. Tests replace it.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> showMessage;

    QLineEdit* X1Edit() const { return x1_; }
    QLineEdit* X2Edit() const { return x2_; }
    QLineEdit* Y1Edit() const { return y1_; }
    QLineEdit* Y2Edit() const { return y2_; }
    QLineEdit* AEdit() const { return a_; }
    QLineEdit* BEdit() const { return b_; }
    QLineEdit* CEdit() const { return c_; }
    QLabel* Explanation() const { return explanation_; }
    QPushButton* CalculateButton() const { return calculate_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    QString T(int number) const;
    void SetParameters(const ParameterTexts& parameters);
    void SetPoints(const CalibrationTexts& points);

    const TextTable& texts_;
    AnalogParameterContext context_;
    bool copiesToPage_ = true;

    QLabel* explanation_ = nullptr;
    QLineEdit* x1_ = nullptr;
    QLineEdit* x2_ = nullptr;
    QLineEdit* y1_ = nullptr;
    QLineEdit* y2_ = nullptr;
    QLineEdit* a_ = nullptr;
    QLineEdit* b_ = nullptr;
    QLineEdit* c_ = nullptr;
    QPushButton* calculate_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace mbus::meridex
