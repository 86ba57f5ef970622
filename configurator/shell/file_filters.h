// File dialogs of MERIDEX. The text table keeps its file-dialog filters in the
// form "Description|pattern|Description|pattern||" (texts 20, 81 and 85), which
// QFileDialog does not read; QtFilter converts them. The dialogs themselves are
// run through RunSaveFileDialog / RunOpenFileDialog so that the default
// extension and the proposed name behave alike everywhere.

#pragma once

#include <QString>

class QWidget;

namespace mbus::meridex {

// Converts a filter of the form "Desc|pattern|Desc|pattern||" into Qt's form
// "Desc (pattern);;Desc (pattern)":
// - A description that already ends in its patterns in parentheses
//   ("Language Files (*.TXT)") gets them replaced by the converted patterns;
//   any other description gets them appended.
// - Several patterns of one entry ("*.TXT;*.LOG") are separated by blanks.
// - "*.*" means every file; it becomes "*", since Qt would otherwise show only
//   names that contain a dot.
// The list ends at the first empty element (the "||" at its end); an entry
// whose patterns are all empty ("Desc|;|") is left out. An empty filter gives
// an empty text (every file).
QString QtFilter(const QString& windowsFilter);

// What a file dialog asks.
struct FileDialogRequest {
    QString title;          // window title; empty: the platform's ("Save As", "Open")
    QString fileName;       // name proposed in the dialog, e.g. "MERIDEX"; may be empty
    QString windowsFilter;  // in the table's form, e.g. text 20
    QString defaultSuffix;  // added to a name given without extension, e.g. "TXT"
    QString folder;         // the folder the dialog starts in; empty: the platform's choice
};

// Runs a modal save-file dialog; the chosen path, or an empty text when the
// user cancelled.
QString RunSaveFileDialog(QWidget* parent, const FileDialogRequest& request);

// Runs a modal open-file dialog in which a name that does not exist yet may be
// typed as well; the chosen path, or an empty text when the user cancelled.
QString RunOpenFileDialog(QWidget* parent, const FileDialogRequest& request);

}  // namespace mbus::meridex
