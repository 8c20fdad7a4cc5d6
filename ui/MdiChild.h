// The create-or-raise rule shared by every child window of the main frame:
// one instance per kind, held in its global; a command creates it when absent
// and otherwise brings it forward.
#pragma once
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QObject>
#include <algorithm>
#include <utility>

// The one place that lets go of a child window's instance pointer: `global`
// is cleared when it still names `window`. A window calls it when it accepts
// its close, so that the next command makes a fresh window while this one
// waits to be freed; CreateOrRaise calls it when the window is destroyed
// without having been closed.
template <class T> void ReleaseInstance(T*& global, const T* window) {
    if (global == window) global = nullptr;
}

// T is a QMdiSubWindow made as T(area, args...). `global` lives as long as
// the program (a window's instance pointer).
template <class T, class... Args> T* CreateOrRaise(QMdiArea* area, T*& global, Args&&... args) {
    const bool creating = !global;
    if (creating) {
        T* window = new T(area, std::forward<Args>(args)...);
        // A sub-window made with the area as its parent is already added.
        if (!area->subWindowList().contains(window)) area->addSubWindow(window);
        QObject::connect(window, &QObject::destroyed, [&global, window] { ReleaseInstance(global, window); });
        global = window;
    }
    global->show();
    // The area places a new window when it is first shown; one nearly as
    // large as the area may be put partly beyond its top or left edge, where
    // its title bar cannot be reached.
    if (creating) global->move(std::max(0, global->x()), std::max(0, global->y()));
    global->raise();
    area->setActiveSubWindow(global);
    return global;
}
