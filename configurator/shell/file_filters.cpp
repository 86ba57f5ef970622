#include "configurator/shell/file_filters.h"

#include <QFileDialog>
#include <QStringList>

namespace mbus::meridex {
namespace {

// "*.TXT;*.LOG" -> "*.TXT *.LOG"; "*.*" -> "*"; empty parts and repeats left out.
QString QtPatterns(const QString& patterns) {
    QStringList out;
    for (const QString& part : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString pattern = part.trimmed();
        if (pattern.isEmpty()) continue;
        if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
        if (!out.contains(pattern)) out << pattern;
    }
    return out.join(QLatin1Char(' '));
}

// The description without a trailing parenthesised group that holds
// wildcards: "Language Files (*.TXT)" -> "Language Files". Other trailing
// parentheses ("Devices (old)") are part of the description and stay.
QString WithoutTrailingPatterns(const QString& description) {
    const QString text = description.trimmed();
    if (!text.endsWith(QLatin1Char(')'))) return text;
    const qsizetype open = text.lastIndexOf(QLatin1Char('('));
    if (open < 0) return text;
    const QString inner = text.mid(open + 1, text.size() - open - 2);
    if (!inner.contains(QLatin1Char('*')) && !inner.contains(QLatin1Char('?'))) return text;
    return text.left(open).trimmed();
}

// Filter, default extension and proposed name of a request; then runs the
// dialog. The chosen path, or an empty text when cancelled.
QString Run(QFileDialog& dialog, const FileDialogRequest& request) {
    dialog.setFileMode(QFileDialog::AnyFile);
    const QString filter = QtFilter(request.windowsFilter);
    if (!filter.isEmpty()) dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.folder.isEmpty()) dialog.setDirectory(request.folder);
    if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted) return QString();
    return dialog.selectedFiles().value(0);
}

}  // namespace

QString QtFilter(const QString& windowsFilter) {
    QStringList entries;
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // An empty element ends the list, as the "||" at its end does.
        if (parts[i].isEmpty() || parts[i + 1].isEmpty()) break;
        const QString patterns = QtPatterns(parts[i + 1]);
        if (patterns.isEmpty()) continue;
        const QString description = WithoutTrailingPatterns(parts[i]);
        entries << (description.isEmpty() ? QString() : description + QLatin1Char(' ')) + QLatin1Char('(') +
                       patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QString RunSaveFileDialog(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    return Run(dialog, request);
}

QString RunOpenFileDialog(QWidget* parent, const FileDialogRequest& request) {
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    return Run(dialog, request);
}

}  // namespace mbus::meridex
