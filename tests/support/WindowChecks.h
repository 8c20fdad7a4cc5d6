// Helpers for tests of the windows: a wait that runs the event loop, captions
// as shown, and the screen room a child window is fitted to.
#pragma once
#include "ui/WindowFit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QString>

// Runs the event loop until `pred` holds; false once `ms` have passed.
template <class Pred> bool WaitUntil(Pred pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A caption as the user reads it: without the '&' that marks its mnemonic.
inline QString Plain(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

// Child windows made meanwhile are fitted to a screen with `screen`'s
// available area; the real screen again afterwards.
struct ScopedScreen {
    explicit ScopedScreen(QSize screen) { OverrideChildRoom(screen - FrameChrome); }
    ~ScopedScreen() { OverrideChildRoom(std::nullopt); }
    ScopedScreen(const ScopedScreen&) = delete;
    ScopedScreen& operator=(const ScopedScreen&) = delete;
};
