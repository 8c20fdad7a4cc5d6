// Tells when the serial port has bytes to read: a descriptor watch on the
// duplicate descriptor a PortFollower keeps, so that it never polls a
// descriptor the port has closed meanwhile. Follow() re-arms it for another
// port.
#pragma once
#include "serial/PortFollower.h"
#include "ui/DescriptorWatch.h"

class Rs232Port;

class PortWatch : public DescriptorWatch {
public:
    explicit PortWatch(QObject* parent = nullptr) : DescriptorWatch(parent) {}
    ~PortWatch() override { follower_.Unwatch(); }

    // Watches `port` from now on. Re-arms only when it differs from the port
    // watched: another object, another descriptor, or a descriptor that now
    // names another file. No port, or one that is not open: nothing watched.
    void Follow(const Rs232Port* port) { follower_.Follow(port); }
    // The port watched while a descriptor is watched.
    const Rs232Port* Watched() const { return follower_.Port(); }

private:
    PortFollower follower_{[this](int fd) { Watch(fd); }};
};
