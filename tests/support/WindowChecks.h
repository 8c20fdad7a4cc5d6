// Helpers for tests of the windows: captions as shown, and the screen room a
// child window is fitted to.
#pragma once
#include "ui/WindowFit.h"

#include <QString>

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
