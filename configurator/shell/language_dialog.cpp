#include "configurator/shell/language_dialog.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QIcon>
#include <QLabel>
#include <QToolButton>

#include "configurator/shell/flags.h"
#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {
namespace {

constexpr QSize kFlagSize(72, 52);
constexpr int kPromptNumber = 55;
constexpr int kTitleNumber = 25;

}  // namespace

MERIDEXLanguage::MERIDEXLanguage(const TextTable& texts, int languageId, QWidget* parent)
    : QDialog(parent), languageId_(languageId) {
    setWindowTitle(QTextPlain(texts, kTitleNumber, languageId));
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    const qreal ratio = devicePixelRatioF();
    for (std::size_t i = 0; i < kLanguageButtons.size(); ++i) {
        const LanguageButton& language = kLanguageButtons[i];
        auto* button = new QToolButton(this);
        // Hovering shows the flag highlighted, as the settings dialog shows
        // the chosen language.
        QIcon icon;
        icon.addPixmap(FlagPixmap(language.column, false, false, kFlagSize, ratio), QIcon::Normal);
        icon.addPixmap(FlagPixmap(language.column, true, false, kFlagSize, ratio), QIcon::Active);
        button->setIcon(icon);
        button->setIconSize(kFlagSize);
        button->setAutoRaise(true);
        button->setAccessibleName(NativeLanguageName(language.column));
        button->setObjectName(QStringLiteral("languageFlag%1").arg(language.languageId));
        // The language the dialog was opened with is pre-selected.
        if (language.column == ColumnOfLanguage(languageId)) {
            button->setCheckable(true);
            button->setChecked(true);
            button->setFocus();
        }
        connect(button, &QToolButton::clicked, this, [this, id = language.languageId] {
            languageId_ = id;
            accept();
        });

        // Text 55 of the language's own column: the prompt in that language.
        auto* prompt = new QLabel(QText(texts, kPromptNumber, language.languageId), this);
        prompt->setTextFormat(Qt::PlainText);
        prompt->setObjectName(QStringLiteral("languagePrompt%1").arg(language.languageId));

        const int row = static_cast<int>(i);
        grid->addWidget(button, row, 0);
        grid->addWidget(prompt, row, 1);
        buttons_[i] = button;
        prompts_[i] = prompt;
    }
    grid->setColumnStretch(1, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

void MERIDEXLanguage::showEvent(QShowEvent* event) {
    // Qt centres a dialog on a parent window only once that window is
    // placed; at start the main dialog is not shown yet, so the screen is
    // the reference then.
    const QWidget* parent = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    QRect area;
    if (parent != nullptr && parent->isVisible()) {
        area = parent->frameGeometry();
    } else {
        const QScreen* screen = parent != nullptr ? parent->screen() : this->screen();
        if (screen == nullptr) screen = QGuiApplication::primaryScreen();
        if (screen != nullptr) area = screen->availableGeometry();
    }
    if (area.isValid()) {
        adjustSize();
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
}

}  // namespace mbus::meridex
