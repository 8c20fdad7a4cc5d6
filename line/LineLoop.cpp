// The loop waiting for input for a scan or a batch without a window.
#include "line/LineLoop.h"

#include "base/Timing.h"
#include "serial/PortDescriptor.h"

#include <algorithm>
#include <chrono>
#include <thread>

void RunLineLoop(Rs232Port& port, const LineWork& work) {
    std::uint8_t bytes[512];
    while (work.Running()) {
        int timeout = Timing().ConsoleTickMs;
        if (work.MsUntilDue) {
            const int due = work.MsUntilDue();
            if (due >= 0) timeout = std::min(timeout, due);
        }
        bool gone = !port.IsOpen();
        if (!gone) {
            const PortInput input = WaitForInput(port, timeout);
            gone = input == PortInput::HungUp || input == PortInput::Failed;
            if (input == PortInput::Waiting) {
                const int lacking = work.Lacking ? work.Lacking() : 0;
                const int want =
                    std::min(port.InQueue(), lacking > 0 ? lacking : static_cast<int>(sizeof bytes));
                std::uint32_t got = 0;
                if (want > 0) port.ReadBlock(bytes, std::min(want, static_cast<int>(sizeof bytes)), got);
                if (got > 0) work.Receive(bytes, got);
            }
        }
        // A port gone: wait for the tick, do not spin.
        if (gone) std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
        work.Tick(gone || port.HungUp());
    }
}
