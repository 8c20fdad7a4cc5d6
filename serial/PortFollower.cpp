// Duplicates and identities come from PortDescriptor.h (on Windows the port's
// own descriptor, watched by a thread: InputWatch).
#include "serial/PortFollower.h"

#include "serial/Rs232.h"

PortFollower::~PortFollower() {
    CloseWatchDuplicate(fd_);
}

// Whether the port's descriptor still names the device our duplicate names.
bool PortFollower::StillNames(int handle) const {
    return SameDevice(handle, identity_);
}

void PortFollower::Follow(const Rs232Port* port) {
    const int handle = port ? port->Handle : -1;
    if (handle < 0) {
        Unwatch();
        return;
    }
    if (fd_ >= 0 && port == port_ && handle == handle_ && StillNames(handle)) return;
    Unwatch();
    const int copy = DuplicateForWatch(handle, identity_);
    if (copy < 0) return; // the caller's timer still reads the port
    fd_ = copy;
    port_ = port;
    handle_ = handle;
    if (rewatch_) rewatch_(fd_);
}

// The watcher lets go of the descriptor before it is closed.
void PortFollower::Unwatch() {
    if (fd_ >= 0) {
        if (rewatch_) rewatch_(-1);
        CloseWatchDuplicate(fd_);
    }
    fd_ = -1;
    port_ = nullptr;
    handle_ = -1;
}
