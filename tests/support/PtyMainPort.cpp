#include "support/PtyMainPort.h"

#include "serial/Rs232.h"

TimingConstants FastTiming() {
    TimingConstants t;
    t.ReadTimeoutBaseMs = 400;
    t.PurgePauseMs = 1;
    t.ClosePauseMs = 0;
    t.FinishWritePauseMs = 100;
    return t;
}

PtyMainPort::PtyMainPort(PtyPair& pty, const TimingConstants& timing, int baudRate)
    : PtyMainPort(pty.SlavePath(), timing, baudRate) {}

PtyMainPort::PtyMainPort(const std::string& devicePath, const TimingConstants& timing, int baudRate) {
    // The port takes its time-out base when it opens.
    SetTimingForTests(timing);
    delete MainPort;
    MainPort = new Rs232Port(devicePath, baudRate);
}

PtyMainPort::~PtyMainPort() {
    delete MainPort;
    MainPort = nullptr;
    SetTimingForTests(TimingConstants{});
}
