// The create-or-raise rule shared by every child window of the main frame:
// one instance per kind, held in its global; a command creates it when absent
// and otherwise brings it forward.
#pragma once
#include <QMdiArea>
#include <QMdiSubWindow>
#include <utility>

// T is a QMdiSubWindow whose close event clears `global` and frees the window.
// A new window is made from the area and `args`.
template <class T, class... Args> T* CreateOrRaise(QMdiArea* area, T*& global, Args&&... args) {
    if (!global) {
        T* window = new T(area, std::forward<Args>(args)...);
        // A sub-window made with the area as its parent is already added.
        if (!area->subWindowList().contains(window)) area->addSubWindow(window);
        global = window;
    }
    global->show();
    global->raise();
    area->setActiveSubWindow(global);
    return global;
}
