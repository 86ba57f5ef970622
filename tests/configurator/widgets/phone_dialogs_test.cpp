// The phone-list dialogs and the baud-rate question of a device search over
// a modem, under Qt's offscreen platform, driven by clicks and keys. The
// phone list's edit dialog is answered through CPhoneNumbers::editEntry,
// except in the test that runs the real one.
//
// With MERIDEX_SHOT_DIR set, the caption test also saves a picture of each
// dialog in each language there.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "configurator/shell/phone_dialogs.h"
#include "configurator/shell/qt_texts.h"
#include "configurator/shell/search_baudrate_dialog.h"
#include "tests/configurator/widgets/fit_check.h"

// Failure messages show texts, not their UTF-16 units.
void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace mbus::meridex {

void PrintTo(const PhoneListEntry& entry, std::ostream* out) {
    *out << "{\"" << entry.description << "\", \"" << entry.number << "\"}";
}

namespace {

// The six language ids of the buttons, one per column.
const int kAllLanguages[] = {49, 1, 33, 55, 46, 7};

const std::vector<PhoneListEntry> kThree = {
    {"Meter north", "0891"},
    {"Office", "+49 30 5"},
    {"", "112"},
};

// Saves a picture of the widget to $MERIDEX_SHOT_DIR/<name>.png when that
// variable is set.
void SaveShot(QWidget& widget, const QString& name) {
    const QString dir = qEnvironmentVariable("MERIDEX_SHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    EXPECT_TRUE(widget.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"))) << name.toStdString();
}

// Shows the dialog at its natural size and waits until it is laid out.
void ShowLaidOut(QWidget& dialog) {
    dialog.show();
    dialog.adjustSize();
    QApplication::processEvents();
}

// Every caption shows whole and no widgets overlap (fit_check.h).
void ExpectNothingCut(QWidget& dialog, const std::string& what) { test::ExpectFits(dialog, what); }

// Types text that QTest::keyClicks cannot (it knows ASCII keys only).
void TypeText(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

std::vector<PhoneListEntry> RowsShown(const QTreeWidget& view) {
    std::vector<PhoneListEntry> rows;
    for (int i = 0; i < view.topLevelItemCount(); ++i)
        rows.push_back({view.topLevelItem(i)->text(0).toStdString(), view.topLevelItem(i)->text(1).toStdString()});
    return rows;
}

// ---- CPhoneNumbers ------------------------------------------------------------

class PhoneNumbersTest : public ::testing::Test {
protected:
    // The dialog, shown, with an edit dialog that answers from `answers_`
    // and records what it was opened with.
    std::unique_ptr<CPhoneNumbers> Make(std::vector<PhoneListEntry> list, int languageId = 1) {
        auto dialog = std::make_unique<CPhoneNumbers>(texts_, languageId, std::move(list));
        dialog->editEntry = [this](QWidget*, const PhoneListEntry& initial) -> std::optional<PhoneListEntry> {
            opened_.push_back(initial);
            if (answers_.empty()) return std::nullopt;
            std::optional<PhoneListEntry> answer = answers_.front();
            answers_.pop_front();
            return answer;
        };
        ShowLaidOut(*dialog);
        return dialog;
    }

    static QPoint RowCenter(CPhoneNumbers& dialog, int row) {
        QTreeWidget* view = dialog.ListView();
        return view->visualItemRect(view->topLevelItem(row)).center();
    }
    static void ClickRow(CPhoneNumbers& dialog, int row) {
        QTest::mouseClick(dialog.ListView()->viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(dialog, row));
    }
    // A double click as the system reports it: a click, then a double-click
    // event in place of the second press, then its release.
    static void DoubleClickRow(CPhoneNumbers& dialog, int row) {
        QWidget* viewport = dialog.ListView()->viewport();
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCenter(dialog, row));
        QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCenter(dialog, row));
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, RowCenter(dialog, row));
    }
    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    TextTable texts_;
    std::deque<std::optional<PhoneListEntry>> answers_;  // nullopt: the edit dialog was cancelled
    std::vector<PhoneListEntry> opened_;                 // what the edit dialog started with
};

TEST_F(PhoneNumbersTest, ShowsTheRowsInOrderUnderTheTablesCaptions) {
    for (int id : {1, 49, 7}) {
        auto dialog = Make(kThree, id);
        EXPECT_EQ(dialog->windowTitle(), QTextPlain(texts_, 66, id));
        QTreeWidget* view = dialog->ListView();
        ASSERT_EQ(view->columnCount(), 2);
        EXPECT_EQ(view->headerItem()->text(0), QTextPlain(texts_, 24, id));
        EXPECT_EQ(view->headerItem()->text(1), QTextPlain(texts_, 23, id));
        EXPECT_EQ(dialog->NewButton()->text(), QText(texts_, 63, id));
        EXPECT_EQ(dialog->EditButton()->text(), QText(texts_, 64, id));
        EXPECT_EQ(dialog->DeleteButton()->text(), QText(texts_, 65, id));
        EXPECT_EQ(dialog->OkButton()->text(), QText(texts_, 61, id));
        EXPECT_EQ(dialog->CancelButton()->text(), QText(texts_, 62, id));
        EXPECT_EQ(RowsShown(*view), kThree);
        EXPECT_FALSE(dialog->SelectedRow().has_value());
    }
    EXPECT_EQ(QTextPlain(texts_, 66, 1), "Phonenumbers");
    EXPECT_EQ(QTextPlain(texts_, 24, 1), "Description");
    EXPECT_EQ(QTextPlain(texts_, 23, 1), "Phonenumber");
}

TEST_F(PhoneNumbersTest, ClickingARowSelectsItWhole) {
    auto dialog = Make(kThree);
    QTreeWidget* view = dialog->ListView();
    // A click on the number column selects the row, both cells with it.
    const QRect numberCell = view->visualRect(view->model()->index(1, 1));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, numberCell.center());
    EXPECT_EQ(dialog->SelectedRow(), 1u);
    EXPECT_EQ(view->selectionModel()->selectedIndexes().size(), 2);
    // One row at a time.
    ClickRow(*dialog, 2);
    EXPECT_EQ(dialog->SelectedRow(), 2u);
    EXPECT_EQ(view->selectedItems().size(), 1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier, RowCenter(*dialog, 0));
    EXPECT_EQ(view->selectedItems().size(), 1);
}

TEST_F(PhoneNumbersTest, ColumnsAreAsWideAsTheirSampleTextsAndBothFit) {
    for (int id : kAllLanguages) {
        auto dialog = Make(kThree, id);
        QTreeWidget* view = dialog->ListView();
        const QFontMetrics metrics = view->fontMetrics();
        EXPECT_EQ(view->columnWidth(0), metrics.horizontalAdvance(QStringLiteral("DDDDDDDD,DDDD,DD,DDDDDDDDDDDDDD")) + 15);
        EXPECT_EQ(view->columnWidth(1), metrics.horizontalAdvance(QStringLiteral("01234567890123456789")) + 15);
        EXPECT_GT(view->columnWidth(0), view->columnWidth(1));
        // Nothing to scroll sideways: both columns are in view.
        EXPECT_GE(view->viewport()->width(), view->columnWidth(0) + view->columnWidth(1)) << id;
        EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0) << id;
        // Each header caption fits its column.
        for (int column = 0; column < 2; ++column)
            EXPECT_LE(view->header()->sectionSizeHint(column), view->columnWidth(column)) << id << " column " << column;
    }
}

TEST_F(PhoneNumbersTest, OkTakesTheClickedRow) {
    auto dialog = Make(kThree);
    ClickRow(*dialog, 1);
    Click(dialog->OkButton());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialog->EndedWithOk());
    EXPECT_EQ(dialog->ChosenNumber(), "+49 30 5");
    EXPECT_EQ(dialog->ChosenDescription(), "Office");
    EXPECT_EQ(dialog->List(), kThree);
    EXPECT_TRUE(dialog->Outcome().SetsNumberField());
}

TEST_F(PhoneNumbersTest, DoubleClickOnARowIsOk) {
    auto dialog = Make(kThree);
    ClickRow(*dialog, 0);  // another row selected before
    DoubleClickRow(*dialog, 2);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialog->EndedWithOk());
    EXPECT_EQ(dialog->ChosenNumber(), "112");
    EXPECT_EQ(dialog->ChosenDescription(), "");
    EXPECT_TRUE(dialog->Outcome().SetsNumberField());
}

TEST_F(PhoneNumbersTest, OkWithoutARowChoosesNothing) {
    auto dialog = Make(kThree);
    Click(dialog->OkButton());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->ChosenNumber(), "");
    EXPECT_FALSE(dialog->Outcome().SetsNumberField());
    EXPECT_EQ(dialog->List(), kThree);
}

TEST_F(PhoneNumbersTest, NewAsksWithEmptyFieldsAndAppendsARecordWithANumber) {
    auto dialog = Make(kThree);
    ClickRow(*dialog, 1);
    answers_ = {PhoneListEntry{"Depot", "0171"}, PhoneListEntry{"no number", ""}, std::nullopt};
    Click(dialog->NewButton());
    Click(dialog->NewButton());  // empty number: nothing added
    Click(dialog->NewButton());  // edit dialog cancelled
    EXPECT_EQ(opened_, std::vector<PhoneListEntry>(3, PhoneListEntry{}));

    std::vector<PhoneListEntry> expected = kThree;
    expected.push_back({"Depot", "0171"});
    EXPECT_EQ(RowsShown(*dialog->ListView()), expected);
    EXPECT_EQ(dialog->SelectedRow(), 1u);  // the selection stays where it was
    Click(dialog->OkButton());
    EXPECT_EQ(dialog->List(), expected);
}

TEST_F(PhoneNumbersTest, EditChangesTheSelectedRowOrAddsOneWithoutASelection) {
    auto dialog = Make(kThree);
    // Without a selection: "New".
    answers_ = {PhoneListEntry{"Depot", "0171"}};
    Click(dialog->EditButton());
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0], PhoneListEntry{});
    ASSERT_EQ(dialog->ListView()->topLevelItemCount(), 4);

    // With one: prefilled with the row, which takes what was entered.
    ClickRow(*dialog, 0);
    answers_ = {PhoneListEntry{"Meter north, new", "0891 2"}, PhoneListEntry{"cleared number", ""}, std::nullopt};
    Click(dialog->EditButton());
    Click(dialog->EditButton());  // empty number: the row stays
    Click(dialog->EditButton());  // cancelled: the row stays
    ASSERT_EQ(opened_.size(), 4u);
    EXPECT_EQ(opened_[1], kThree[0]);
    EXPECT_EQ(opened_[2], (PhoneListEntry{"Meter north, new", "0891 2"}));
    EXPECT_EQ(RowsShown(*dialog->ListView()),
              (std::vector<PhoneListEntry>{{"Meter north, new", "0891 2"}, kThree[1], kThree[2], {"Depot", "0171"}}));
    EXPECT_EQ(dialog->SelectedRow(), 0u);

    Click(dialog->OkButton());
    EXPECT_EQ(dialog->ChosenNumber(), "0891 2");
    EXPECT_EQ(dialog->ChosenDescription(), "Meter north, new");
}

TEST_F(PhoneNumbersTest, DeleteRemovesTheSelectedRowAtOnce) {
    auto dialog = Make(kThree);
    Click(dialog->DeleteButton());  // nothing selected: nothing happens
    EXPECT_EQ(RowsShown(*dialog->ListView()), kThree);

    ClickRow(*dialog, 1);
    Click(dialog->DeleteButton());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(opened_.empty());
    EXPECT_EQ(RowsShown(*dialog->ListView()), (std::vector<PhoneListEntry>{kThree[0], kThree[2]}));
    EXPECT_FALSE(dialog->SelectedRow().has_value());
    // Another Delete without a new selection removes nothing more.
    Click(dialog->DeleteButton());
    EXPECT_EQ(dialog->ListView()->topLevelItemCount(), 2);
}

TEST_F(PhoneNumbersTest, DeletingEveryRowAndOkGivesAnEmptyList) {
    auto dialog = Make(kThree);
    while (dialog->ListView()->topLevelItemCount() > 0) {
        ClickRow(*dialog, 0);
        Click(dialog->DeleteButton());
    }
    Click(dialog->OkButton());
    EXPECT_TRUE(dialog->EndedWithOk());
    EXPECT_TRUE(dialog->List().empty());
    EXPECT_FALSE(dialog->Outcome().SetsNumberField());
}

TEST_F(PhoneNumbersTest, CancelAndEscapeKeepTheEditsAndTheNumberButNotTheChoice) {
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        auto dialog = Make(kThree);
        ClickRow(*dialog, 0);
        Click(dialog->DeleteButton());
        answers_ = {PhoneListEntry{"Depot", "0171"}};
        Click(dialog->NewButton());
        ClickRow(*dialog, 2);
        if (escape)
            QTest::keyClick(dialog->ListView(), Qt::Key_Escape);
        else
            Click(dialog->CancelButton());
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_FALSE(dialog->EndedWithOk());
        EXPECT_EQ(dialog->List(), (std::vector<PhoneListEntry>{kThree[1], kThree[2], {"Depot", "0171"}}));
        EXPECT_EQ(dialog->ChosenNumber(), "0171");
        EXPECT_EQ(dialog->ChosenDescription(), "");
        EXPECT_FALSE(dialog->Outcome().SetsNumberField());
    }
}

TEST_F(PhoneNumbersTest, EnterInTheListIsOk) {
    auto dialog = Make(kThree);
    ClickRow(*dialog, 1);
    QTest::keyClick(dialog->ListView(), Qt::Key_Return);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->ChosenNumber(), "+49 30 5");
}

TEST_F(PhoneNumbersTest, NewAndEditOpenTheRealEditDialog) {
    CPhoneNumbers dialog(texts_, 1, kThree);
    ShowLaidOut(dialog);
    // Fills the edit dialog once it is open, then presses its OK (or Cancel).
    auto answerEditDialog = [](const QString& description, const QString& number, bool ok,
                               std::vector<PhoneListEntry>* prefilled) {
        QTimer::singleShot(0, [=] {
            auto* edit = qobject_cast<CPhoneNumberEdit*>(QApplication::activeModalWidget());
            ASSERT_NE(edit, nullptr);
            prefilled->push_back(edit->Entry());
            edit->DescriptionEdit()->setText(description);
            edit->NumberEdit()->setText(number);
            QTest::mouseClick(ok ? edit->OkButton() : edit->CancelButton(), Qt::LeftButton);
        });
    };
    std::vector<PhoneListEntry> prefilled;
    answerEditDialog(QStringLiteral("Depot"), QStringLiteral("0171"), true, &prefilled);
    Click(dialog.NewButton());
    ClickRow(dialog, 1);
    answerEditDialog(QStringLiteral("Office 2"), QStringLiteral("+49 30 6"), true, &prefilled);
    Click(dialog.EditButton());
    answerEditDialog(QStringLiteral("ignored"), QStringLiteral("999"), false, &prefilled);
    Click(dialog.EditButton());

    EXPECT_EQ(prefilled, (std::vector<PhoneListEntry>{{}, kThree[1], {"Office 2", "+49 30 6"}}));
    EXPECT_EQ(RowsShown(*dialog.ListView()),
              (std::vector<PhoneListEntry>{kThree[0], {"Office 2", "+49 30 6"}, kThree[2], {"Depot", "0171"}}));
}

// ---- CPhoneNumberEdit -----------------------------------------------------------

TEST(PhoneNumberEditTest, CaptionsAndFieldsStartWithTheRecord) {
    const TextTable texts;
    CPhoneNumberEdit dialog(texts, 1, {"Meter north", "0891"});
    EXPECT_EQ(dialog.windowTitle(), "Phonenumber New / Edit");
    QStringList labels;
    for (QLabel* label : dialog.findChildren<QLabel*>()) labels << label->text();
    labels.sort();
    EXPECT_EQ(labels, (QStringList{"Description:", "Phonenumber:"}));
    EXPECT_EQ(dialog.OkButton()->text(), QText(texts, 61, 1));
    EXPECT_EQ(dialog.CancelButton()->text(), QText(texts, 62, 1));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), "Meter north");
    EXPECT_EQ(dialog.NumberEdit()->text(), "0891");
    EXPECT_EQ(dialog.Entry(), (PhoneListEntry{"Meter north", "0891"}));
}

TEST(PhoneNumberEditTest, TypingStopsAtTheFieldLimits) {
    const TextTable texts;
    CPhoneNumberEdit dialog(texts, 1, {});
    ShowLaidOut(dialog);
    QTest::keyClicks(dialog.DescriptionEdit(), QString(60, QLatin1Char('d')));
    QTest::keyClicks(dialog.NumberEdit(), QString(45, QLatin1Char('7')));
    EXPECT_EQ(dialog.Entry(), (PhoneListEntry{std::string(50, 'd'), std::string(40, '7')}));

    // Characters, not bytes: fifty of two bytes each in UTF-8 fit.
    dialog.DescriptionEdit()->clear();
    TypeText(dialog.DescriptionEdit(), QString(60, QChar(0x0416)));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QString(50, QChar(0x0416)));
    EXPECT_EQ(dialog.Entry().description.size(), 100u);
}

TEST(PhoneNumberEditTest, ALongerLoadedRecordIsKeptButCannotGrow) {
    const TextTable texts;
    const std::string description(55, 'x');
    CPhoneNumberEdit dialog(texts, 1, {description, "0891"});
    ShowLaidOut(dialog);
    EXPECT_EQ(dialog.Entry().description, description);
    dialog.DescriptionEdit()->end(false);
    QTest::keyClicks(dialog.DescriptionEdit(), QStringLiteral("yz"));
    EXPECT_EQ(dialog.Entry().description, description);
    // Shortening it works, and then only up to the same length again.
    QTest::keyClick(dialog.DescriptionEdit(), Qt::Key_Backspace);
    QTest::keyClicks(dialog.DescriptionEdit(), QStringLiteral("yz"));
    EXPECT_EQ(dialog.Entry().description, std::string(54, 'x') + "y");
}

TEST(PhoneNumberEditTest, EnterIsOkAndEscapeCancel) {
    const TextTable texts;
    CPhoneNumberEdit dialog(texts, 1, {});
    ShowLaidOut(dialog);
    QTest::keyClicks(dialog.NumberEdit(), QStringLiteral("0171"));
    QTest::keyClick(dialog.NumberEdit(), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Entry().number, "0171");

    CPhoneNumberEdit cancelled(texts, 1, {});
    ShowLaidOut(cancelled);
    QTest::keyClick(cancelled.NumberEdit(), Qt::Key_Escape);
    EXPECT_FALSE(cancelled.isVisible());
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

TEST(PhoneNumberEditTest, ANumberThatWouldChangeTheDialScriptIsRefused) {
    const TextTable texts;
    CPhoneNumberEdit dialog(texts, 1, {"Meter north", "0891"});
    QStringList messages;
    dialog.showMessage = [&messages](const QString& text) { messages << text; };
    ShowLaidOut(dialog);
    dialog.NumberEdit()->setText(QStringLiteral("0891|5"));
    dialog.OkButton()->click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Phone number \"0891|5\" holds \"|\"")))
        << messages[0].toStdString();
    EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open for the correction";
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    dialog.NumberEdit()->setText(QStringLiteral("08915"));
    dialog.OkButton()->click();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Entry().number, "08915");
}

// ---- MERIDEXSearchBaudrate ------------------------------------------------------

TEST(SearchBaudrateTest, CaptionsAndTheDefaultButton) {
    const TextTable texts;
    for (int id : kAllLanguages) {
        MERIDEXSearchBaudrate dialog(texts, id);
        EXPECT_EQ(dialog.Button300()->text(), QText(texts, 83, id));
        EXPECT_EQ(dialog.Button2400()->text(), QText(texts, 84, id));
        EXPECT_TRUE(dialog.Button2400()->isDefault());
        EXPECT_FALSE(dialog.Button300()->isDefault());
        EXPECT_EQ(dialog.SearchBaudIndex(), 1);
    }
    MERIDEXSearchBaudrate english(texts, 1);
    EXPECT_EQ(english.Button300()->text(), "300 Baud Search");
    EXPECT_EQ(english.Button2400()->text(), "2400 Baud Search");
}

TEST(SearchBaudrateTest, EachWayOutGivesItsIndex) {
    const TextTable texts;
    MERIDEXSearchBaudrate dialog(texts, 1);
    const struct {
        const char* way;
        std::function<void()> close;
        int index;
        int result;
    } ways[] = {
        {"300 button", [&] { QTest::mouseClick(dialog.Button300(), Qt::LeftButton); }, 0, QDialog::Accepted},
        {"2400 button", [&] { QTest::mouseClick(dialog.Button2400(), Qt::LeftButton); }, 1, QDialog::Accepted},
        {"Enter", [&] { QTest::keyClick(dialog.focusWidget(), Qt::Key_Return); }, 1, QDialog::Accepted},
        {"Escape", [&] { QTest::keyClick(dialog.focusWidget(), Qt::Key_Escape); }, 1, QDialog::Rejected},
        {"window close", [&] { dialog.close(); }, 1, QDialog::Rejected},
    };
    for (const auto& way : ways) {
        // Each opening follows one that chose 300 baud: it starts again at 2400.
        ShowLaidOut(dialog);
        QTest::mouseClick(dialog.Button300(), Qt::LeftButton);
        ASSERT_EQ(dialog.SearchBaudIndex(), 0);
        ASSERT_FALSE(dialog.isVisible());
        ShowLaidOut(dialog);
        EXPECT_EQ(dialog.SearchBaudIndex(), 1) << way.way;
        ASSERT_NE(dialog.focusWidget(), nullptr);
        way.close();
        EXPECT_FALSE(dialog.isVisible()) << way.way;
        EXPECT_EQ(dialog.SearchBaudIndex(), way.index) << way.way;
        EXPECT_EQ(dialog.result(), way.result) << way.way;
    }
}

// ---- All dialogs -----------------------------------------------------------------

TEST(PhoneDialogsCaptionTest, NoCaptionIsCutInAnyLanguage) {
    const TextTable texts;
    // Rows as long as the fields take: 50 characters of description, 40 digits.
    const std::vector<PhoneListEntry> rows = {
        {"\xD0\x9A\xD0\xBE\xD1\x82\xD0\xB5\xD0\xBB\xD1\x8C\xD0\xBD\xD0\xB0\xD1\x8F \xE2\x84\x96 3", "+7 495 123-45-67"},
        {"Meter north", "0891"},
        {std::string(50, 'W'), std::string(40, '8')},
        {"Depot", "0049 171 5550123"},
    };
    for (int id : kAllLanguages) {
        const std::string language = std::to_string(id);
        CPhoneNumbers list(texts, id, rows);
        ShowLaidOut(list);
        list.ListView()->setCurrentItem(list.ListView()->topLevelItem(1));
        ExpectNothingCut(list, "phone list " + language);
        SaveShot(list, QStringLiteral("phone_list_%1").arg(id));

        CPhoneNumberEdit edit(texts, id, rows[0]);
        ShowLaidOut(edit);
        ExpectNothingCut(edit, "phone edit " + language);
        // The number field shows a number of 40 digits whole.
        edit.NumberEdit()->setText(QString(40, QLatin1Char('8')));
        const QRect textArea = edit.NumberEdit()->contentsRect() - edit.NumberEdit()->textMargins();
        EXPECT_GE(textArea.width(), edit.NumberEdit()->fontMetrics().horizontalAdvance(edit.NumberEdit()->text()))
            << language;
        edit.NumberEdit()->setText(QString::fromStdString(rows[0].number));
        SaveShot(edit, QStringLiteral("phone_edit_%1").arg(id));

        MERIDEXSearchBaudrate search(texts, id);
        ShowLaidOut(search);
        ExpectNothingCut(search, "baud search " + language);
        SaveShot(search, QStringLiteral("search_baudrate_%1").arg(id));
    }
}

}  // namespace
}  // namespace mbus::meridex
