// One collection at a time on a line: an advisory lock (flock) on a file
// named after the device, shared by every process on the machine, whatever
// user runs it. The holder writes its pid and command into the file, so a
// collection that finds the line taken can say who holds it.
#pragma once
#include <string>

// The folder of the lock files: /run/lock when it can be written, else
// $XDG_RUNTIME_DIR, else /tmp. CONFIGURATOR_LOCK_DIR, when set, comes first
// (tests use their own folder).
std::string LockFolder();

// The lock file of a line: "configurator-dev_ttyUSB0.lock" for /dev/ttyUSB0
// (a link such as ports/COM3 is followed first, so that COM3 and its device
// share one file); network addresses keep their letters and digits.
std::string LockFileFor(const std::string& device);

class LineLock {
public:
    LineLock() = default;
    ~LineLock();
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;

    // Takes the lock within `waitMs`, polling every 100 ms. False when it is
    // still held then, or the file cannot be opened; `holder` then says who
    // holds it ("pid 1234 (configurator-cli collect ...)") or why it failed.
    bool Acquire(const std::string& path, const std::string& command, int waitMs, std::string& holder);
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
