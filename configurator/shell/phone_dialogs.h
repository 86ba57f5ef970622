// The phone-list dialogs of MERIDEX.
//
// CPhoneNumbers lists the phone list (description and number per row) with
// the buttons New, Edit, Delete, OK and Cancel; New and Edit open
// CPhoneNumberEdit for one record. The rows are a PhoneList (phone_list.h),
// which holds the rules; the dialog only shows its rows and tracks the
// selection. OK (or a double-click on a row) and Cancel both end the dialog
// with the list rebuilt from the rows; Outcome() tells what the main dialog
// takes over.
//
// Every caption is taken from the text table in the given language.

#pragma once

#include <QDialog>

#include <functional>
#include <optional>

#include "configurator/shell/phone_list.h"
#include "configurator/shell/text_table.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace mbus::meridex {

// One record, new or edited: "Description:" (at most 50 characters) and
// "Phonenumber:" (at most 40), each within the record's kPhoneFieldCharacters.
// A record read from the INI file may be longer than the character limits;
// its fields keep it, and typing cannot make it longer.
class CPhoneNumberEdit : public QDialog {
    Q_OBJECT

public:
    // The fields start with `initial`. `texts` must outlive the dialog.
    CPhoneNumberEdit(const TextTable& texts, int languageId, const PhoneListEntry& initial,
                     QWidget* parent = nullptr);

    // What the fields show (after OK: what was entered).
    PhoneListEntry Entry() const;

    // OK: a number that would change the dial script (ScriptTextRefusal) is
    // refused with a message, and the dialog stays open.
    void accept() override;
    // Shows that message; by default a warning box. Tests record it.
    std::function<void(const QString& text)> showMessage;

    QLineEdit* DescriptionEdit() const { return description_; }
    QLineEdit* NumberEdit() const { return number_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

private:
    QLineEdit* description_ = nullptr;
    QLineEdit* number_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// Opens the edit dialog for a record and gives what was entered, or nothing
// when it was cancelled.
using PhoneEntryEditor =
    std::function<std::optional<PhoneListEntry>(QWidget* parent, const PhoneListEntry& initial)>;

class CPhoneNumbers : public QDialog {
    Q_OBJECT

public:
    // `list` fills the rows in its order. `texts` must outlive the dialog.
    CPhoneNumbers(const TextTable& texts, int languageId, std::vector<PhoneListEntry> list,
                  QWidget* parent = nullptr);

    // How New and Edit ask for a record. The default runs CPhoneNumberEdit
    // modally; tests put a function here that answers without a window.
    PhoneEntryEditor editEntry;

    // The rows as they stand.
    const PhoneList& Rows() const { return rows_; }
    // The selected row, if any.
    std::optional<std::size_t> SelectedRow() const;

    // How the dialog ended: valid once it has been closed in any way
    // (before that: a Cancel with no choice and the initial rows).
    const PhoneListOutcome& Outcome() const { return outcome_; }
    // The shortcuts to Outcome().
    const std::vector<PhoneListEntry>& List() const { return outcome_.list; }
    const std::string& ChosenNumber() const { return outcome_.chosenNumber; }
    const std::string& ChosenDescription() const { return outcome_.chosenDescription; }
    bool EndedWithOk() const { return outcome_.ok; }

    QTreeWidget* ListView() const { return view_; }
    QPushButton* NewButton() const { return new_; }
    QPushButton* EditButton() const { return edit_; }
    QPushButton* DeleteButton() const { return delete_; }
    QPushButton* OkButton() const { return ok_; }
    QPushButton* CancelButton() const { return cancel_; }

    // The column widths: the sample texts' widths in the list's font plus
    // 15 pixels.
    static constexpr const char* kDescriptionSample = "DDDDDDDD,DDDD,DD,DDDDDDDDDDDDDD";
    static constexpr const char* kNumberSample = "01234567890123456789";
    static constexpr int kColumnExtra = 15;

    // Ends with OK or Cancel: the outcome is taken from the rows and the
    // selection first.
    void done(int result) override;

private:
    void NewClicked();
    void EditClicked();
    void DeleteClicked();
    // Shows the rows again and selects `selected` (none when out of range).
    void Refill(std::optional<std::size_t> selected);

    PhoneList rows_;
    PhoneListOutcome outcome_;
    QTreeWidget* view_ = nullptr;
    QPushButton* new_ = nullptr;
    QPushButton* edit_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace mbus::meridex
