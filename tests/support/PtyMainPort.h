// MainPort opened on the slave side of a pseudo-terminal, with time-outs
// shortened so that failure paths run in a fraction of a second; closed on
// destruction.
#pragma once
#include "base/Timing.h"
#include "support/Pty.h"

#include <string>

// Read time-out base 400 ms, purge pause 1 ms, FinishWrite pause 100 ms. The
// base bounds how long a scripted peer may take to answer: it must hold on a
// loaded machine under sanitizers, while every silence a test scripts costs it
// once.
TimingConstants FastTiming();

class PtyMainPort {
public:
    explicit PtyMainPort(PtyPair& pty, const TimingConstants& timing = FastTiming(), int baudRate = 115200);
    // On any device path, e.g. the simulator's port.
    explicit PtyMainPort(const std::string& devicePath, const TimingConstants& timing = FastTiming(),
                         int baudRate = 115200);
    ~PtyMainPort();
    PtyMainPort(const PtyMainPort&) = delete;
    PtyMainPort& operator=(const PtyMainPort&) = delete;
};
