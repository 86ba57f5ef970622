#include "configurator/shell/search_baudrate_dialog.h"

#include <QHBoxLayout>
#include <QPushButton>

#include <algorithm>

#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {
namespace {

// Text numbers of the captions.
enum : int {
    kTextTitle = 25,  // the product name
    kText300 = 83,
    kText2400 = 84,
};

}  // namespace

MERIDEXSearchBaudrate::MERIDEXSearchBaudrate(const TextTable& texts, int languageId, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QTextPlain(texts, kTextTitle, languageId));
    auto* layout = new QHBoxLayout(this);
    button300_ = new QPushButton(QText(texts, kText300, languageId), this);
    button2400_ = new QPushButton(QText(texts, kText2400, languageId), this);
    // Both buttons alike, as wide as the wider caption needs, with some air.
    const int width = std::max(button300_->sizeHint().width(), button2400_->sizeHint().width()) +
                      2 * button300_->fontMetrics().averageCharWidth();
    for (QPushButton* button : {button300_, button2400_}) {
        button->setMinimumWidth(width);
        layout->addWidget(button);
    }
    button2400_->setDefault(true);
    button2400_->setFocus();
    connect(button300_, &QPushButton::clicked, this, [this] {
        index_ = k300Baud;
        accept();
    });
    connect(button2400_, &QPushButton::clicked, this, [this] {
        index_ = k2400Baud;
        accept();
    });
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void MERIDEXSearchBaudrate::showEvent(QShowEvent* event) {
    index_ = k2400Baud;
    // Enter presses the focused button: that is 2400 again, whichever
    // button was pressed at the last opening.
    button2400_->setFocus();
    QDialog::showEvent(event);
}

}  // namespace mbus::meridex
