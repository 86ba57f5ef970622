#include "configurator/shell/phone_dialogs.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTreeWidget>
#include <QValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "configurator/shell/phone_scripts.h"
#include "configurator/shell/qt_texts.h"

namespace mbus::meridex {
namespace {

// Text numbers of the captions.
enum : int {
    kTextNumberColumn = 23,
    kTextDescriptionColumn = 24,
    kTextOk = 61,
    kTextCancel = 62,
    kTextNew = 63,
    kTextEdit = 64,
    kTextDelete = 65,
    kTextListTitle = 66,
    kTextEditTitle = 67,
    kTextDescriptionLabel = 68,
    kTextNumberLabel = 69,
};

// Rows the list shows without scrolling.
constexpr int kVisibleRows = 10;
// Room in the edit fields beside the text: frame and text margins.
constexpr int kEditFieldPadding = 12;

// Refuses what a phone-list field cannot hold (PhoneFieldAccepts).
class PhoneFieldValidator : public QValidator {
public:
    PhoneFieldValidator(std::size_t maxCharacters, QObject* parent)
        : QValidator(parent), maxCharacters_(maxCharacters) {}
    State validate(QString& input, int&) const override {
        return PhoneFieldAccepts(input.toStdString(), maxCharacters_) ? Acceptable : Invalid;
    }

private:
    std::size_t maxCharacters_;
};

// A field that takes up to `maxCharacters` characters, or as many as
// `initial` has when that is more, and starts with `initial`.
QLineEdit* PhoneField(const std::string& initial, std::size_t maxCharacters, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    const QString text = QString::fromStdString(initial);
    const std::size_t limit = std::max(maxCharacters, Utf8CharacterCount(initial));
    // maxLength counts UTF-16 units and cuts a paste to fit; the validator
    // then holds the limits of the record.
    edit->setMaxLength(std::max(static_cast<int>(limit), static_cast<int>(text.size())));
    edit->setValidator(new PhoneFieldValidator(limit, edit));
    edit->setText(text);
    // Both fields show a phone number of the longest kind whole.
    edit->setMinimumWidth(
        edit->fontMetrics().horizontalAdvance(QString(static_cast<int>(kNumberMaxCharacters), QLatin1Char('8'))) +
        kEditFieldPadding);
    return edit;
}

QLabel* PlainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Gives the buttons one width: that of the widest caption, with some air.
void SameWidth(std::initializer_list<QPushButton*> buttons) {
    int width = 0;
    for (QPushButton* button : buttons)
        width = std::max(width, button->sizeHint().width() + 2 * button->fontMetrics().averageCharWidth());
    for (QPushButton* button : buttons) button->setMinimumWidth(width);
}

}  // namespace

// ---- CPhoneNumberEdit -----------------------------------------------------------

CPhoneNumberEdit::CPhoneNumberEdit(const TextTable& texts, int languageId, const PhoneListEntry& initial,
                                   QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QTextPlain(texts, kTextEditTitle, languageId));
    const PhoneListEntry start = FittedEntry(initial);

    auto* main = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    auto* descriptionLabel = PlainLabel(QText(texts, kTextDescriptionLabel, languageId), this);
    auto* numberLabel = PlainLabel(QText(texts, kTextNumberLabel, languageId), this);
    description_ = PhoneField(start.description, kDescriptionMaxCharacters, this);
    description_->setObjectName(QStringLiteral("phoneDescription"));
    number_ = PhoneField(start.number, kNumberMaxCharacters, this);
    number_->setObjectName(QStringLiteral("phoneNumber"));
    descriptionLabel->setBuddy(description_);
    numberLabel->setBuddy(number_);
    fields->addWidget(descriptionLabel, 0, 0);
    fields->addWidget(description_, 0, 1);
    fields->addWidget(numberLabel, 1, 0);
    fields->addWidget(number_, 1, 1);
    fields->setColumnStretch(1, 1);
    main->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok_ = new QPushButton(QText(texts, kTextOk, languageId), this);
    cancel_ = new QPushButton(QText(texts, kTextCancel, languageId), this);
    ok_->setDefault(true);
    SameWidth({ok_, cancel_});
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    main->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &CPhoneNumberEdit::accept);
    connect(cancel_, &QPushButton::clicked, this, &CPhoneNumberEdit::reject);

    // Wide enough that a window manager can show the whole title beside its buttons.
    setMinimumWidth(fontMetrics().horizontalAdvance(windowTitle()) + 120);
    description_->setFocus();
    showMessage = [this](const QString& text) { QMessageBox::warning(this, windowTitle(), text); };
}

PhoneListEntry CPhoneNumberEdit::Entry() const {
    return PhoneListEntry{description_->text().toStdString(), number_->text().toStdString()};
}

void CPhoneNumberEdit::accept() {
    if (const std::optional<std::string> refusal = ScriptTextRefusal(kPhoneNumberName, Entry().number)) {
        if (showMessage) showMessage(QString::fromStdString(*refusal));
        number_->setFocus();
        return;
    }
    QDialog::accept();
}

// ---- CPhoneNumbers ----------------------------------------------------------------

CPhoneNumbers::CPhoneNumbers(const TextTable& texts, int languageId, std::vector<PhoneListEntry> list,
                             QWidget* parent)
    : QDialog(parent), rows_(std::move(list)) {
    editEntry = [&texts, languageId](QWidget* owner, const PhoneListEntry& initial) -> std::optional<PhoneListEntry> {
        CPhoneNumberEdit dialog(texts, languageId, initial, owner);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        return dialog.Entry();
    };
    outcome_ = rows_.Close(false, std::nullopt);
    setWindowTitle(QTextPlain(texts, kTextListTitle, languageId));

    view_ = new QTreeWidget(this);
    view_->setObjectName(QStringLiteral("phoneList"));
    view_->setColumnCount(2);
    view_->setHeaderLabels(
        {QTextPlain(texts, kTextDescriptionColumn, languageId), QTextPlain(texts, kTextNumberColumn, languageId)});
    view_->setRootIsDecorated(false);
    view_->setItemsExpandable(false);
    view_->setUniformRowHeights(true);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setAllColumnsShowFocus(true);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->header()->setStretchLastSection(false);
    view_->header()->setSectionsMovable(false);
    const QFontMetrics metrics = view_->fontMetrics();
    const int descriptionWidth = metrics.horizontalAdvance(QLatin1String(kDescriptionSample)) + kColumnExtra;
    const int numberWidth = metrics.horizontalAdvance(QLatin1String(kNumberSample)) + kColumnExtra;
    view_->setColumnWidth(0, descriptionWidth);
    view_->setColumnWidth(1, numberWidth);
    // Both columns visible side by side, a vertical scroll bar beside them.
    const int frame = 2 * view_->frameWidth();
    view_->setMinimumWidth(descriptionWidth + numberWidth + frame +
                           view_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view_));
    view_->setMinimumHeight(view_->header()->sizeHint().height() + frame +
                            kVisibleRows * (metrics.height() + 4));

    new_ = new QPushButton(QText(texts, kTextNew, languageId), this);
    edit_ = new QPushButton(QText(texts, kTextEdit, languageId), this);
    delete_ = new QPushButton(QText(texts, kTextDelete, languageId), this);
    ok_ = new QPushButton(QText(texts, kTextOk, languageId), this);
    cancel_ = new QPushButton(QText(texts, kTextCancel, languageId), this);
    ok_->setDefault(true);
    SameWidth({new_, edit_, delete_, ok_, cancel_});

    auto* main = new QHBoxLayout(this);
    main->addWidget(view_, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(new_);
    buttons->addWidget(edit_);
    buttons->addWidget(delete_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    main->addLayout(buttons);

    connect(new_, &QPushButton::clicked, this, &CPhoneNumbers::NewClicked);
    connect(edit_, &QPushButton::clicked, this, &CPhoneNumbers::EditClicked);
    connect(delete_, &QPushButton::clicked, this, &CPhoneNumbers::DeleteClicked);
    connect(ok_, &QPushButton::clicked, this, &CPhoneNumbers::accept);
    connect(cancel_, &QPushButton::clicked, this, &CPhoneNumbers::reject);
    connect(view_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        view_->setCurrentItem(item);
        accept();
    });

    Refill(std::nullopt);
    view_->setFocus();
}

std::optional<std::size_t> CPhoneNumbers::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = view_->selectedItems();
    if (selected.isEmpty()) return std::nullopt;
    const int index = view_->indexOfTopLevelItem(selected.front());
    if (index < 0) return std::nullopt;
    return static_cast<std::size_t>(index);
}

void CPhoneNumbers::Refill(std::optional<std::size_t> selected) {
    view_->clear();
    for (const PhoneListEntry& entry : rows_.Rows()) {
        auto* item = new QTreeWidgetItem(view_);
        item->setText(0, QString::fromStdString(entry.description));
        item->setText(1, QString::fromStdString(entry.number));
        // The columns have fixed widths; a longer text is shown whole as a tool tip.
        item->setToolTip(0, item->text(0));
        item->setToolTip(1, item->text(1));
    }
    if (selected && *selected < rows_.Size()) {
        QTreeWidgetItem* item = view_->topLevelItem(static_cast<int>(*selected));
        view_->setCurrentItem(item);
        view_->scrollToItem(item);
    }
}

void CPhoneNumbers::NewClicked() {
    if (!editEntry) return;
    const std::optional<std::size_t> selected = SelectedRow();
    const std::optional<PhoneListEntry> entry = editEntry(this, PhoneListEntry{});
    if (entry && rows_.New(*entry)) Refill(selected);
}

void CPhoneNumbers::EditClicked() {
    if (!editEntry) return;
    const std::optional<std::size_t> selected = SelectedRow();
    const std::optional<PhoneListEntry> entry = editEntry(this, rows_.EditStart(selected));
    if (entry && rows_.Edit(selected, *entry)) Refill(selected);
}

void CPhoneNumbers::DeleteClicked() {
    if (rows_.Delete(SelectedRow())) Refill(std::nullopt);
}

void CPhoneNumbers::done(int result) {
    outcome_ = rows_.Close(result == QDialog::Accepted, SelectedRow());
    QDialog::done(result);
}

}  // namespace mbus::meridex
