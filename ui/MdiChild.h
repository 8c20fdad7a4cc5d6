// The create-or-raise rule shared by every child window of the main frame:
// one instance per kind, held in its global; a command creates it when absent
// and otherwise brings it forward.
#pragma once
#include <QMdiArea>
#include <QMdiSubWindow>

// T is a QMdiSubWindow whose close event clears `global` and frees the window.
template <class T> T* CreateOrRaise(QMdiArea* area, T*& global) {
    if (!global) {
        T* window = new T(area);
        // A sub-window made with the area as its parent is already added.
        if (!area->subWindowList().contains(window)) area->addSubWindow(window);
        global = window;
    }
    global->show();
    global->raise();
    area->setActiveSubWindow(global);
    return global;
}
