// What a window's event loop needs to watch the port for input: a second
// descriptor of the open port, and the identity of the device behind a
// descriptor, so that a descriptor number reused by another device after the
// port was reopened is noticed. On Windows, where a COM handle signals no
// readiness to an event loop, the "duplicate" is the port's own descriptor
// (the port opens only once) and a thread looks at its input queue
// (InputWatch, through InputSourceOf and InputWaiting).
#pragma once
#include <string>

class Rs232Port;

struct DescriptorIdentity {
    unsigned long long File = 0, Node = 0, Device = 0;
    bool operator==(const DescriptorIdentity&) const = default;
};

// A duplicate of `fd` for watching, with the identity of its device; -1 when
// there is none.
int DuplicateForWatch(int fd, DescriptorIdentity& identity);
// Closes a duplicate made by DuplicateForWatch.
void CloseWatchDuplicate(int fd);
// Whether `fd` still leads to the device of `identity`.
bool SameDevice(int fd, const DescriptorIdentity& identity);
// Whether a device is present at `path` now, with its device number (0 where
// the system has none to give).
bool DevicePresentAt(const std::string& path, unsigned long long& deviceNumber);

// What a thread looks at to see whether a port descriptor has input: the
// descriptor itself on POSIX, the device's HANDLE on Windows. Taken while the
// descriptor is open; looking at it after the port closed finds a failure.
struct InputSource {
    long long Value = -1;
    bool Socket = false; // Windows: a network port's socket, not a COM handle
};
InputSource InputSourceOf(int fd);
// Whether bytes wait at `source` now, or the device reports a hang-up or an
// error (which the reader then finds); never blocks.
bool InputWaiting(InputSource source);

// How a wait for input on the port ended.
enum class PortInput { Waiting, TimedOut, HungUp, Failed };
// Waits up to `timeoutMs` for bytes to read (Waiting), the device going away
// (HungUp) or a failure of the wait itself (Failed, errno or GetLastError in
// the port's LastError). Blocks only the calling thread: a poll() on POSIX,
// a look at the input queue every Timing().InputLookMs on Windows.
PortInput WaitForInput(Rs232Port& port, int timeoutMs);
