// The program-wide objects as a test wants them at its start, restored to
// whatever was there when the fixture ends, also when an assertion ends the
// test first: AppOptions at their defaults with link mode 1, no MainPort (a
// port fixture declared after this one opens it), the recorder cleared, and a
// fresh adapter link over MainPort and AppOptions as the main window makes
// it (failure messages on, not busy).
#pragma once
#include "adapter/Dataio.h"
#include "base/Options.h"
#include "serial/Rs232.h"
#include "support/Recorder.h"

// What the main window hands its adapter link: MainPort and the link
// settings of AppOptions, read afresh at every call.
inline Rs232Port* ProgramPort() {
    return MainPort;
}
inline LinkSettings ProgramLinkSettings() {
    return {.LinkMode = AppOptions.LinkMode,
            .I2cAddress = AppOptions.I2cAddress,
            .ZepLanAddress = AppOptions.ZepLanAddress};
}

class ScopedProgramState {
public:
    ScopedProgramState() : savedOptions_(AppOptions), savedPort_(MainPort) {
        AppOptions = TAppOptions{};
        AppOptions.LinkMode = 1;
        MainPort = nullptr;
        TheRecorder().Clear();
    }
    ~ScopedProgramState() {
        TheRecorder().Clear();
        if (MainPort != savedPort_) delete MainPort;
        MainPort = savedPort_;
        AppOptions = savedOptions_;
    }
    ScopedProgramState(const ScopedProgramState&) = delete;
    ScopedProgramState& operator=(const ScopedProgramState&) = delete;

    AdapterLink link{ProgramPort, ProgramLinkSettings};

private:
    TAppOptions savedOptions_;
    Rs232Port* savedPort_;
};
