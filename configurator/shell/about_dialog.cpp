#include "configurator/shell/about_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {

int TitleBarWidth(const QWidget& window) {
    constexpr int kFrameButtonsRoom = 4 * 32;  // the icon and three buttons
    return QFontMetrics(QApplication::font()).horizontalAdvance(window.windowTitle()) + kFrameButtonsRoom;
}

CAboutDlg::CAboutDlg(const TextTable& texts, int languageId, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QTextPlain(texts, 22, languageId).remove(QStringLiteral("...")));
    auto* layout = new QVBoxLayout(this);
    auto* version = new QLabel(QString::fromLatin1(kVersionLine));
    version->setObjectName("version");
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    layout->addWidget(version);
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(QText(texts, 61, languageId), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
    setMinimumWidth(TitleBarWidth(*this));
}

}  // namespace mbus::meridex
