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
    QRect region;         // where on the screen the picture was taken
    // The whole region lay on the screen and the picture has its size.
    bool Complete(const QRect& screen) const { return screen.contains(region) && pixels.size() == region.size(); }
};

// Waits until the window is exposed and, for up to `frameWait`, until a
// window manager has put its frame around it (Qt then reports a frame
// geometry larger than the window's); then grabs that region of the screen.
// Without a frame (no window manager) the region is the window alone. A
// window partly off the screen gives the part on it (see Complete).
inline WindowShot GrabWithFrame(QWidget& window, std::chrono::milliseconds frameWait) {
    WindowShot shot;
    if (!QTest::qWaitForWindowExposed(&window)) return shot;
    const auto framed = [&window] {
        const QRect frame = window.frameGeometry();
        return frame != window.geometry() && frame.contains(window.geometry());
    };
    // While the window manager places a window, Qt may briefly report a
    // size below what the layout needs (1x1).
    const auto settled = [&window] {
        const QSize need = window.minimumSizeHint().expandedTo(QSize(2, 2));
        return window.width() >= need.width() && window.height() >= need.height();
    };
    const auto waitFor = [&framed, &settled](std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (!(framed() && settled()) && std::chrono::steady_clock::now() < until) QTest::qWait(20);
    };
    waitFor(frameWait / 2);
    if (!framed()) {
        // Qt reads the frame's size again only after a configure event; one
        // that came before the window manager announced its frame leaves it
        // at none. Moving the window by a pixel brings another.
        window.move(window.pos() + QPoint(1, 1));
        waitFor(frameWait / 2);
    }
    // The frame's decoration and the widgets' last repaint.
    QTest::qWait(300);
    QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    shot.framed = framed() && settled();
    shot.region = window.frameGeometry();
    const QRect onScreen = shot.region.intersected(screen->geometry());
    if (!onScreen.isEmpty())
        shot.pixels = screen->grabWindow(0, onScreen.x(), onScreen.y(), onScreen.width(), onScreen.height());
    return shot;
}

}  // namespace mbus::meridex::test
