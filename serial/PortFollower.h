// Follows the current port for a window that waits for its bytes: keeps a
// duplicate of the port's descriptor, so that what watches it never polls a
// descriptor the port has closed meanwhile, and notices when the port has been
// replaced: another object, another descriptor, or the same descriptor number
// now naming another device.
#pragma once
#include "serial/PortDescriptor.h"

#include <functional>
#include <utility>

class Rs232Port;

class PortFollower {
public:
    // Told the descriptor to watch from now on (-1: none). The descriptor
    // given before stays open until this has been called with its successor.
    using Rewatch = std::function<void(int fd)>;

    explicit PortFollower(Rewatch rewatch) : rewatch_(std::move(rewatch)) {}
    // Closes the duplicate without calling Rewatch: its watcher may be gone.
    ~PortFollower();
    PortFollower(const PortFollower&) = delete;
    PortFollower& operator=(const PortFollower&) = delete;

    // Watches `port` from now on. Duplicates its descriptor afresh only when
    // it differs from the port followed or nothing is watched yet. No port,
    // or one that is not open: nothing watched. A descriptor that cannot be
    // duplicated leaves nothing watched; the next call tries again.
    void Follow(const Rs232Port* port);
    // Watches nothing any more.
    void Unwatch();

    // The duplicate being watched, -1 when none.
    int Descriptor() const { return fd_; }
    // The port followed while a descriptor is watched.
    const Rs232Port* Port() const { return port_; }

private:
    bool StillNames(int handle) const;

    Rewatch rewatch_;
    int fd_ = -1; // our duplicate
    const Rs232Port* port_ = nullptr;
    int handle_ = -1;             // the port's descriptor when duplicated
    DescriptorIdentity identity_; // the device our duplicate names
};
