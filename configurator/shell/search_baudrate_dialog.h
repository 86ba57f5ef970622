// MERIDEXSearchBaudrate: asks at which baud rate the converter at the far
// end of a modem connection searches for devices. "300 Baud Search" chooses
// index 0, "2400 Baud Search" (the default button, so also Enter) index 1;
// either closes the dialog. Closed any other way (Escape, the window's
// close button) the index stays 1. The index counts as the main dialog's baud
// box does (0 = 300, 1 = 2400).

#pragma once

#include <QDialog>

#include "configurator/shell/text_table.h"

class QPushButton;

namespace mbus::meridex {

class MERIDEXSearchBaudrate : public QDialog {
    Q_OBJECT

public:
    static constexpr int k300Baud = 0;
    static constexpr int k2400Baud = 1;

    // Captions from `texts` in the language of `languageId`; `texts` is only
    // read during construction.
    MERIDEXSearchBaudrate(const TextTable& texts, int languageId, QWidget* parent = nullptr);

    // 0 (300 baud) or 1 (2400 baud).
    int SearchBaudIndex() const { return index_; }

    QPushButton* Button300() const { return button300_; }
    QPushButton* Button2400() const { return button2400_; }

protected:
    // Every opening starts at 2400 baud, with the focus on its button.
    void showEvent(QShowEvent* event) override;

private:
    int index_ = k2400Baud;
    QPushButton* button300_ = nullptr;
    QPushButton* button2400_ = nullptr;
};

}  // namespace mbus::meridex
