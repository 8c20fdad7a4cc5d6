// Windows headless against the simulated gateway and meter: the program's
// state, a test folder as the program's own, the simulator started with
// MainPort on its line at 115200 bit/s, the Russian locale (a comma as the
// decimal separator) and an MDI area to open windows in. Whatever windows are
// open at the end are closed before the port.
#pragma once
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"
#include "support/ScopedProgramState.h"
#include "support/WindowChecks.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <gtest/gtest.h>

// The simulator answering after a 3 ms gap: for tests that do not time the line.
inline sim::SimOptions FastSim() {
    sim::SimOptions o;
    o.AnswerGapMs = 3;
    return o;
}

class SimWindowTest : public ::testing::Test {
protected:
    explicit SimWindowTest(const sim::SimOptions& options = FastSim()) : simulator(options) {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        simulator.Start();
        MainPort = new Rs232Port(simulator.PortPath(), 115200);
        area.resize(1200, 900);
    }
    ~SimWindowTest() override {
        for (QMdiSubWindow* window : area.subWindowList())
            window->close();
        QApplication::processEvents();
        delete MainPort;
        MainPort = nullptr;
        QLocale::setDefault(QLocale::c());
    }
    // The window held in `global` (made once, raised after) over MainPort and
    // the program's adapter link, as the main window's menu opens it.
    template <class T> T* Open(T*& global) {
        return CreateOrRaise(&area, global, PortAccessor([] { return MainPort; }), world.link);
    }

    ScopedProgramState world;
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    QMdiArea area;
};
