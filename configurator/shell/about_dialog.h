// The about box: the program's name and version, at least as wide as its
// title needs.

#pragma once

#include <QDialog>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

inline constexpr const char* kVersionLine = "MERIDEX Version 1.30";

// The width a window's title bar needs to show the whole window title: the
// title in the application's font and room for the frame's icon and its
// three buttons. Qt cannot ask the window manager, so the room is a
// generous estimate.
int TitleBarWidth(const QWidget& window);

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const TextTable& texts, int languageId, QWidget* parent = nullptr);
};

}  // namespace mbus::meridex
