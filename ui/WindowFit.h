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

// How a window that fits the screen is sized: fixed, or starting at its size
// as its smallest and free to grow (its views taking the extra room).
enum class WindowSizing { Fixed, Growing };

// Fixes `window` at `partSize` when that fits ChildRoom (or, Growing, makes
// that its initial and smallest size); otherwise puts its content into a
// scroll area and makes it resizable (returns false). A `footer` (a row of
// OK and Отмена, part of the content) then stays below the scrolled area,
// always in view.
bool FitToScreen(QMdiSubWindow* window, QSize partSize, WindowSizing sizing = WindowSizing::Fixed,
                 QWidget* footer = nullptr);
