// The fit of a window's widgets, for the widget tests: each visible label,
// button, check box, radio button, group box caption, combo box entry and
// the window title shows whole (its text, in the widget's font, within the
// room the widget gives it; a word-wrapped label as high as its lines),
// and no two widgets that a layout places overlap or reach beyond their
// parent. Each fault is a sentence naming the widget (its object name or
// its text) and the two widths.

#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>
#include <sstream>
#include <string>
#include <vector>

#include "configurator/shell/about_dialog.h"

namespace mbus::meridex::test {

inline std::string Name(const QWidget& w, const QString& text) {
    const QString name = w.objectName().isEmpty() ? QStringLiteral("\"%1\"").arg(text) : w.objectName();
    return std::string(w.metaObject()->className()) + " " + name.toStdString();
}

inline std::string TooNarrow(const QWidget& w, const QString& text, int needed, int room) {
    std::ostringstream out;
    out << Name(w, text) << " is cut: its text is " << needed << " px wide, its room " << room << " px";
    return out.str();
}

// A text too wide for its room, or (as wide as it may be) too high.
inline std::string TooSmall(const QWidget& w, const QString& text, QSize needed, QSize room) {
    if (needed.width() > room.width()) return TooNarrow(w, text, needed.width(), room.width());
    std::ostringstream out;
    out << Name(w, text) << " is cut: its text is " << needed.height() << " px high, its room " << room.height()
        << " px";
    return out.str();
}

// The size a text takes in a widget's font (its lines one below the
// other); a '&' marks a shortcut where the widget shows shortcuts.
inline QSize TextSize(const QWidget& w, const QString& text, bool mnemonic) {
    return w.fontMetrics().size(mnemonic ? Qt::TextShowMnemonic : 0, text);
}
inline int TextWidth(const QWidget& w, const QString& text, bool mnemonic) {
    return TextSize(w, text, mnemonic).width();
}

inline void CheckLabel(const QLabel& label, std::vector<std::string>& problems) {
    const QString text = label.text();
    if (text.isEmpty()) return;
    if (label.wordWrap()) {
        const int needed = label.heightForWidth(label.width());
        if (needed > label.height()) {
            std::ostringstream out;
            out << Name(label, text) << " is cut: its wrapped text is " << needed << " px high at a width of "
                << label.width() << " px, its room " << label.height() << " px";
            problems.push_back(out.str());
        }
        return;
    }
    QSize needed;
    if (label.textFormat() == Qt::RichText || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(text))) {
        QTextDocument document;
        document.setDefaultFont(label.font());
        document.setDocumentMargin(0);
        document.setHtml(text);
        document.setTextWidth(document.idealWidth());
        needed = document.size().toSize();
    } else {
        needed = TextSize(label, text, label.buddy() != nullptr);
    }
    // A framed label without an indent of its own indents by half an 'x'.
    const int indent = label.indent() >= 0         ? label.indent()
                       : label.frameWidth() > 0 ? label.fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
    const QSize room = label.contentsRect().size() - QSize(2 * label.margin() + indent, 2 * label.margin());
    if (needed.width() > room.width() || needed.height() > room.height())
        problems.push_back(TooSmall(label, text, needed, room));
}

inline void CheckButton(const QAbstractButton& button, std::vector<std::string>& problems) {
    const QString text = button.text();
    if (text.isEmpty()) return;
    QStyle::SubElement contents;
    if (qobject_cast<const QPushButton*>(&button) != nullptr)
        contents = QStyle::SE_PushButtonContents;
    else if (qobject_cast<const QCheckBox*>(&button) != nullptr)
        contents = QStyle::SE_CheckBoxContents;
    else if (qobject_cast<const QRadioButton*>(&button) != nullptr)
        contents = QStyle::SE_RadioButtonContents;
    else
        return;  // tool buttons show pictures
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = text;
    if (const auto* push = qobject_cast<const QPushButton*>(&button); push != nullptr && push->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    QSize room = button.style()->subElementRect(contents, &option, &button).size();
    if (!button.icon().isNull()) room.rwidth() -= button.iconSize().width() + 4;
    const QSize needed = TextSize(button, text, true);
    if (needed.width() > room.width() || needed.height() > room.height())
        problems.push_back(TooSmall(button, text, needed, room));
}

inline void CheckGroupBox(const QGroupBox& group, std::vector<std::string>& problems) {
    if (group.title().isEmpty()) return;
    QStyleOptionGroupBox option;
    option.initFrom(&group);
    option.text = group.title();
    option.textAlignment = group.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (group.isCheckable()) option.subControls |= QStyle::SC_GroupBoxCheckBox;
    const QRect label = group.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &group);
    // The caption keeps the same distance from the frame's right end as
    // from its left.
    const int room = group.width() - 2 * label.left();
    const int needed = TextWidth(group, group.title(), true);
    if (needed > room) problems.push_back(TooNarrow(group, group.title(), needed, room));
}

inline void CheckComboBox(const QComboBox& box, std::vector<std::string>& problems) {
    QStyleOptionComboBox option;
    option.initFrom(&box);
    option.editable = box.isEditable();
    option.frame = box.hasFrame();
    option.subControls = QStyle::SC_All;
    // The box draws its text one pixel inside the edit field at each side,
    // clipped there.
    const int room =
        box.style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, &box).width() - 2;
    // Whichever entry is chosen shows in the box: its ink must fit.
    for (int i = 0; i < box.count(); ++i) {
        const QString entry = box.itemText(i);
        int needed = box.fontMetrics().boundingRect(entry).width();
        if (!box.itemIcon(i).isNull()) needed += box.iconSize().width() + 4;
        if (needed > room) {
            problems.push_back(TooNarrow(box, entry, needed, room) + " (entry " + std::to_string(i) + ")");
            return;  // one entry names the fault
        }
    }
}

// Whether a layout or one of its inner layouts places the widget.
inline bool Places(const QLayout& layout, const QWidget* widget) {
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        if (item->widget() == widget) return true;
        if (item->layout() != nullptr && Places(*item->layout(), widget)) return true;
    }
    return false;
}

// Widgets that a layout places do not overlap, and none reaches beyond its
// parent. (Widgets placed by hand, such as invisible click areas, may lie
// over others.)
inline void CheckSiblings(const QWidget& parent, std::vector<std::string>& problems) {
    if (parent.layout() == nullptr) return;
    std::vector<const QWidget*> shown;
    for (const QObject* o : parent.children())
        if (const auto* w = qobject_cast<const QWidget*>(o);
            w != nullptr && !w->isWindow() && w->isVisible() && Places(*parent.layout(), w))
            shown.push_back(w);
    const QString parentName = parent.objectName();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const QRect a = shown[i]->geometry();
        if (!parent.rect().contains(a)) {
            std::ostringstream out;
            out << Name(*shown[i], {}) << " reaches beyond " << Name(parent, {}) << ": it ends at x " << a.right()
                << ", y " << a.bottom() << ", its parent is " << parent.width() << " x " << parent.height();
            problems.push_back(out.str());
        }
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            const QRect b = shown[j]->geometry();
            if (!a.intersects(b)) continue;
            std::ostringstream out;
            out << Name(*shown[i], {}) << " and " << Name(*shown[j], {}) << " overlap: x " << a.left() << ".."
                << a.right() << " and " << b.left() << ".." << b.right() << ", y " << a.top() << ".." << a.bottom()
                << " and " << b.top() << ".." << b.bottom();
            problems.push_back(out.str());
        }
    }
}

// Every fault of the visible widgets of a window.
inline std::vector<std::string> FitProblems(const QWidget& window) {
    std::vector<std::string> problems;
    const int titleRoom = TitleBarWidth(window);
    if (titleRoom > window.width()) {
        std::ostringstream out;
        out << "the window title \"" << window.windowTitle().toStdString() << "\" needs " << titleRoom
            << " px, the window is " << window.width() << " px wide";
        problems.push_back(out.str());
    }
    QList<const QWidget*> widgets{&window};
    for (const QWidget* w : window.findChildren<const QWidget*>()) widgets.push_back(w);
    for (const QWidget* w : widgets) {
        if (!w->isVisible() || (w != &window && w->isWindow())) continue;
        if (const auto* label = qobject_cast<const QLabel*>(w)) CheckLabel(*label, problems);
        if (const auto* button = qobject_cast<const QAbstractButton*>(w)) CheckButton(*button, problems);
        if (const auto* group = qobject_cast<const QGroupBox*>(w)) CheckGroupBox(*group, problems);
        if (const auto* box = qobject_cast<const QComboBox*>(w)) CheckComboBox(*box, problems);
        CheckSiblings(*w, problems);
    }
    return problems;
}

// A test failure for each fault, after `what` (the language, the dialog).
inline void ExpectFits(const QWidget& window, const std::string& what) {
    for (const std::string& problem : FitProblems(window)) ADD_FAILURE() << what << ": " << problem;
}

}  // namespace mbus::meridex::test
