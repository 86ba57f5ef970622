// The about box: the program's name and version.

#pragma once

#include <QDialog>

#include "configurator/shell/text_table.h"

namespace mbus::meridex {

inline constexpr const char* kVersionLine = "MERIDEX Version 1.30";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(const TextTable& texts, int languageId, QWidget* parent = nullptr);
};

}  // namespace mbus::meridex
