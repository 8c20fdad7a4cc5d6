#include "serial/PortFollower.h"

#include "serial/Rs232.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

PortFollower::~PortFollower() {
    if (fd_ >= 0) ::close(fd_);
}

// Whether the port's descriptor still names the device our duplicate names.
bool PortFollower::StillNames(int handle) const {
    struct stat st {};
    if (fstat(handle, &st) != 0) return false;
    return st.st_dev == dev_ && st.st_ino == ino_ && st.st_rdev == rdev_;
}

void PortFollower::Follow(const Rs232Port* port) {
    const int handle = port ? port->Handle : -1;
    if (handle < 0) {
        Unwatch();
        return;
    }
    if (fd_ >= 0 && port == port_ && handle == handle_ && StillNames(handle)) return;
    Unwatch();
    const int copy = fcntl(handle, F_DUPFD_CLOEXEC, 0);
    struct stat st {};
    if (copy < 0 || fstat(copy, &st) != 0) {
        if (copy >= 0) ::close(copy);
        return; // the caller's timer still reads the port
    }
    fd_ = copy;
    port_ = port;
    handle_ = handle;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    rdev_ = st.st_rdev;
    if (rewatch_) rewatch_(fd_);
}

// The watcher lets go of the descriptor before it is closed.
void PortFollower::Unwatch() {
    if (fd_ >= 0) {
        if (rewatch_) rewatch_(-1);
        ::close(fd_);
    }
    fd_ = -1;
    port_ = nullptr;
    handle_ = -1;
}
