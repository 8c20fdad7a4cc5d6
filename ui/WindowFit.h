// Child windows on small or scaled screens. A child keeps its own fixed size
// where that fits the room the main frame gives it on the screen; where it does
// not, the window becomes resizable, its controls scroll, and its smallest size
// fits a 1280x1024 screen at scale 2 (640x512 logical pixels).
#pragma once
#include <QSize>
#include <optional>

class QMdiSubWindow;
class QWidget;

// What the main frame's own title bar, borders, menu and status line take of
// the screen.
inline constexpr QSize FrameChrome(24, 112);
inline constexpr QSize SmallestScreen(640, 512);

// The room for a child window on the screen `widget` is on: the screen's
// available area less FrameChrome.
QSize ChildRoom(const QWidget* widget);
// Replaces the screen's room in ChildRoom (tests: a scaled screen without a
// display); nullopt goes back to the screen.
void OverrideChildRoom(std::optional<QSize> room);

// Fixes `window` at `partSize` when that fits ChildRoom; otherwise puts its
// content into a scroll area and makes it resizable (returns false).
bool FitToScreen(QMdiSubWindow* window, QSize partSize);
