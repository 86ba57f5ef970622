#include "configurator/shell/help_window.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace mbus::meridex {

HelpWindow::HelpWindow(QWidget* owner) : QDialog(owner) {
    setObjectName("helpWindow");
    setWindowTitle("MERIDEX");
    setModal(false);
    browser_ = new QTextBrowser;
    browser_->setOpenExternalLinks(true);
    auto* back = new QPushButton("<");
    auto* forward = new QPushButton(">");
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
    connect(browser_, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle("MERIDEX - " + browser_->documentTitle()); });
    auto* nav = new QHBoxLayout;
    nav->addWidget(back);
    nav->addWidget(forward);
    nav->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nav);
    layout->addWidget(browser_);
    resize(760, 620);
}

void HelpWindow::Open(const QString& page) {
    if (QFileInfo::exists(page)) {
        browser_->setSource(QUrl::fromLocalFile(QFileInfo(page).absoluteFilePath()));
    } else {
        browser_->setHtml("<p>The help page " + page.toHtmlEscaped() + " was not found.</p>");
    }
}

HelpWindow* HelpWindow::Show(const QString& page, QWidget* owner) {
    auto* window = owner != nullptr ? owner->findChild<HelpWindow*>("helpWindow", Qt::FindDirectChildrenOnly) : nullptr;
    if (window == nullptr) window = new HelpWindow(owner);
    window->Open(page);
    window->show();
    window->raise();
    return window;
}

}  // namespace mbus::meridex
