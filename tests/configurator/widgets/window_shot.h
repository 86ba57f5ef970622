// What the screen shows of a top-level window, the window manager's frame
// (title bar, borders) included: the README's screenshots (meridex_screenshots)
// and the whole-session run (meridex_gui_session) take their pictures this way
// under an X server.

#pragma once

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <chrono>

namespace mbus::meridex::test {

struct WindowShot {
    QPixmap pixels;
    bool framed = false;  // the picture holds a frame of the window manager
};

// Waits until the window is exposed and, for up to `frameWait`, until a
// window manager has put its frame around it (Qt then reports a frame
// geometry larger than the window's); then grabs that region of the screen.
// Without a frame (no window manager) the region is the window alone.
inline WindowShot GrabWithFrame(QWidget& window, std::chrono::milliseconds frameWait) {
    WindowShot shot;
    if (!QTest::qWaitForWindowExposed(&window)) return shot;
    const auto until = std::chrono::steady_clock::now() + frameWait;
    while (window.frameGeometry() == window.geometry() && std::chrono::steady_clock::now() < until)
        QTest::qWait(20);
    // The frame's decoration and the widgets' last repaint.
    QTest::qWait(300);
    QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    const QRect region = window.frameGeometry().intersected(screen->geometry());
    shot.framed = window.frameGeometry() != window.geometry();
    shot.pixels = screen->grabWindow(0, region.x(), region.y(), region.width(), region.height());
    return shot;
}

}  // namespace mbus::meridex::test
