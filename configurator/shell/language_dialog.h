// MERIDEX's first-start language dialog: six flag buttons (English, German,
// French, Brazilian Portuguese, Swedish, Russian), each beside the prompt
// "Select a language:" in its own language (text 55 of that language's
// column). A click on a flag chooses that language and closes the dialog.
// There is no Cancel button; closing the window otherwise (Escape, the window
// manager) keeps the language the dialog was opened with. That language's
// flag is pre-selected: shown pressed and with the keyboard focus, so that
// Space takes it. The dialog opens centred on its parent window when that is
// shown, else on the screen.

#pragma once

#include <QDialog>

#include <array>

#include "configurator/shell/languages.h"
#include "configurator/shell/text_table.h"

class QLabel;
class QToolButton;

namespace mbus::meridex {

class MERIDEXLanguage : public QDialog {
    Q_OBJECT

public:
    // `languageId` is the id to keep when the dialog is closed without a
    // choice (the INI file's). The window title is text 25 in that language.
    MERIDEXLanguage(const TextTable& texts, int languageId, QWidget* parent = nullptr);

    // The chosen id (English 1, German 49, French 33, Portuguese 55, Swedish
    // 46, Russian 7), or the id given to the constructor when none was chosen.
    int LanguageId() const { return languageId_; }

    // The flag buttons and prompt labels in the order of kLanguageButtons.
    QToolButton* FlagButton(int index) const { return buttons_.at(index); }
    QLabel* PromptLabel(int index) const { return prompts_.at(index); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    int languageId_;
    std::array<QToolButton*, kLanguageButtons.size()> buttons_{};
    std::array<QLabel*, kLanguageButtons.size()> prompts_{};
};

}  // namespace mbus::meridex
