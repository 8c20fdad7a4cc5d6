// Fixed where it fits, resizable and scrolling where it does not.
#include "ui/WindowFit.h"

#include <QFrame>
#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {
std::optional<QSize> roomOverride;
} // namespace

void OverrideChildRoom(std::optional<QSize> room) {
    roomOverride = room;
}

QSize ChildRoom(const QWidget* widget) {
    if (roomOverride) return *roomOverride;
    const QScreen* screen = widget ? widget->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return screen->availableGeometry().size() - FrameChrome;
}

bool FitToScreen(QMdiSubWindow* window, QSize partSize, WindowSizing sizing, QWidget* footer) {
    const QSize room = ChildRoom(window);
    if (partSize.width() <= room.width() && partSize.height() <= room.height()) {
        if (sizing == WindowSizing::Fixed) {
            window->setFixedSize(partSize);
        } else {
            window->setMinimumSize(partSize);
            window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
            window->resize(partSize);
        }
        return true;
    }
    // The content keeps the size it needs and scrolls inside the window; when
    // the window is larger, the content's memos and views take the extra room.
    // Tab moving on scrolls the control it reaches into view; the area itself
    // takes no focus.
    QWidget* content = window->widget();
    QWidget* focus = content->focusWidget();
    window->setWidget(nullptr);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(window->objectName() + QStringLiteral("Scroll"));
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(content);
    if (footer) {
        // The footer leaves the content for a frame of its own under the area.
        auto* frame = new QWidget;
        frame->setObjectName(window->objectName() + QStringLiteral("Frame"));
        auto* column = new QVBoxLayout(frame);
        column->setContentsMargins(0, 0, 0, 0);
        column->addWidget(scroll, 1);
        column->addWidget(footer);
        window->setWidget(frame);
    } else {
        window->setWidget(scroll);
    }
    if (focus) focus->setFocus();
    window->setWindowFlags(window->windowFlags() & ~Qt::MSWindowsFixedSizeDialogHint);
    window->setMinimumSize(partSize.boundedTo(SmallestScreen - FrameChrome).boundedTo(room));
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window->resize(partSize.boundedTo(room));
    return false;
}
