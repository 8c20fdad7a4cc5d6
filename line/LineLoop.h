// A scan or a batch run outside a window (the command line, tests,
// benchmarks): a loop waiting for input on the port feeds it the bytes as
// they arrive and ticks it when its time comes, until it has ended.
#pragma once
#include "serial/Rs232.h"

#include <cstddef>
#include <cstdint>
#include <functional>

struct LineWork {
    std::function<bool()> Running;
    // Bytes to read at most now (0: none awaited, read what stray bytes wait).
    std::function<int()> Lacking;
    std::function<void(const std::uint8_t*, std::size_t)> Receive;
    std::function<void(bool portGone)> Tick;
    // Milliseconds until a tick is due (negative: the usual tick).
    std::function<int()> MsUntilDue;
};

// Runs `work` on `port` until it is no longer running.
void RunLineLoop(Rs232Port& port, const LineWork& work);
