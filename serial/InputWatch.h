// Tells from a thread of its own when a port has bytes waiting, for a window
// whose port offers its event loop nothing to watch (a Windows COM handle).
// Armed, the thread looks at the port's input queue every
// Timing().InputWatchMs; at the first look that finds bytes (or a failure of
// the port) it calls Wake once, from that thread, and disarms itself, so the
// woken side reads first and arms again for more.
#pragma once
#include "serial/PortDescriptor.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class InputWatch {
public:
    using Wake = std::function<void()>;

    explicit InputWatch(Wake wake);
    // Stops the thread; a Wake under way has returned when this returns.
    ~InputWatch();
    InputWatch(const InputWatch&) = delete;
    InputWatch& operator=(const InputWatch&) = delete;

    // Watches the port descriptor `fd` from now on (-1: nothing), disarmed.
    void Watch(int fd);
    // Looks until bytes wait, then wakes once.
    void Arm();
    void Disarm();
    // Whether bytes wait now (or the port fails): a wake may be stale by the
    // time it is taken, when other code has read the bytes meanwhile.
    bool Waiting();

private:
    void Run();

    Wake wake_;
    std::mutex mutex_; // guards what follows, up to the thread
    std::condition_variable changed_;
    InputSource source_{};
    bool watching_ = false;
    bool armed_ = false;
    bool stop_ = false;
    unsigned generation_ = 0; // counts Watch calls: a look at an old port wakes nobody
    std::thread thread_;      // last: starts once the rest is made
};
