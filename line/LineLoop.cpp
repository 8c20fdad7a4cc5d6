// The loop waiting for input for a scan or a batch without a window.
#include "line/LineLoop.h"

#include "base/Timing.h"
#include "serial/PortDescriptor.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// The wait for input this round: a tick, or less when the work is due sooner.
int WaitMs(const LineWork& work) {
    int timeout = Timing().ConsoleTickMs;
    if (work.MsUntilDue) {
        const int due = work.MsUntilDue();
        if (due >= 0) timeout = std::min(timeout, due);
    }
    return timeout;
}

// Waits up to `timeout` for input and hands the work what it lacks (or the
// stray bytes waiting). True when the port has gone.
bool ReadWaiting(Rs232Port& port, const LineWork& work, int timeout) {
    if (!port.IsOpen()) return true;
    const PortInput input = WaitForInput(port, timeout);
    if (input == PortInput::Waiting) {
        std::uint8_t bytes[512];
        const int lacking = work.Lacking ? work.Lacking() : 0;
        const int want = std::min(port.InQueue(), lacking > 0 ? lacking : static_cast<int>(sizeof bytes));
        std::uint32_t got = 0;
        if (want > 0) port.ReadBlock(bytes, std::min(want, static_cast<int>(sizeof bytes)), got);
        if (got > 0) work.Receive(bytes, got);
    }
    return input == PortInput::HungUp || input == PortInput::Failed;
}

} // namespace

void RunLineLoop(Rs232Port& port, const LineWork& work) {
    while (work.Running()) {
        const int timeout = WaitMs(work);
        const bool gone = ReadWaiting(port, work, timeout);
        // A port gone: wait for the tick, do not spin.
        if (gone) std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        work.Tick(gone || port.HungUp());
    }
}
