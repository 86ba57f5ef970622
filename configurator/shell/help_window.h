// The help window: the program's HTML help pages ("Deutsch/" or "English/"
// beside the program) in a browser of their own, with back and forward.

#pragma once

#include <QDialog>

class QTextBrowser;

namespace mbus::meridex {

class HelpWindow : public QDialog {
    Q_OBJECT
public:
    // Opens (or raises) the one help window of `owner` at `page`. A page
    // that does not exist shows a short note naming the missing file.
    static HelpWindow* Show(const QString& page, QWidget* owner);

    QTextBrowser* Browser() const { return browser_; }

private:
    explicit HelpWindow(QWidget* owner);
    void Open(const QString& page);

    QTextBrowser* browser_ = nullptr;
};

}  // namespace mbus::meridex
