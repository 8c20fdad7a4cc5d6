// The poll() loop for a scan or a batch without a window.
#include "line/LineLoop.h"

#include "base/Timing.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

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
            pollfd pfd{port.Handle, POLLIN, 0};
            const int ready = poll(&pfd, 1, timeout);
            gone = (ready < 0 && errno != EINTR) ||
                   (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0);
            if (ready > 0 && !gone) {
                const int lacking = work.Lacking ? work.Lacking() : 0;
                const int want =
                    std::min(port.InQueue(), lacking > 0 ? lacking : static_cast<int>(sizeof bytes));
                std::uint32_t got = 0;
                if (want > 0) port.ReadBlock(bytes, std::min(want, static_cast<int>(sizeof bytes)), got);
                if (got > 0) work.Receive(bytes, got);
            }
        }
        if (gone) poll(nullptr, 0, timeout); // a port gone: wait for the tick, do not spin
        work.Tick(gone || port.HungUp());
    }
}
