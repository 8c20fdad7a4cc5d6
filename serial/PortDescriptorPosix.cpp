// Watching the port's descriptor on POSIX: a close-on-exec duplicate, and
// the device's identity from fstat.
#include "serial/PortDescriptor.h"

#include "serial/Rs232.h"

#include <cerrno>
#include <chrono>
#include <poll.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool IdentityOf(int fd, DescriptorIdentity& identity) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return false;
    identity = {st.st_dev, st.st_ino, st.st_rdev};
    return true;
}

} // namespace

int DuplicateForWatch(int fd, DescriptorIdentity& identity) {
    if (fd < 0) return -1;
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return -1;
    if (!IdentityOf(copy, identity)) {
        ::close(copy);
        return -1;
    }
    return copy;
}

void CloseWatchDuplicate(int fd) {
    if (fd >= 0) ::close(fd);
}

bool SameDevice(int fd, const DescriptorIdentity& identity) {
    DescriptorIdentity now;
    return IdentityOf(fd, now) && now == identity;
}

InputSource InputSourceOf(int fd) {
    return {fd};
}

bool InputWaiting(InputSource source) {
    pollfd pfd{static_cast<int>(source.Value), POLLIN, 0};
    const int ready = poll(&pfd, 1, 0);
    return ready != 0 && (ready < 0 || pfd.revents != 0);
}

bool DevicePresentAt(const std::string& path, unsigned long long& deviceNumber) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    deviceNumber = st.st_rdev;
    return true;
}

PortInput WaitForInput(Rs232Port& port, int timeoutMs) {
    if (port.Handle < 0) return PortInput::HungUp;
    // RFC 2217: data already taken off the socket waits in the port.
    if (port.Network() && port.InQueue() > 0) return PortInput::Waiting;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        pollfd pfd{port.Handle, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left > 0 ? left : 0));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            port.LastError = errno;
            return PortInput::Failed;
        }
        if (ready == 0) return PortInput::TimedOut;
        if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return PortInput::HungUp;
        return PortInput::Waiting;
    }
}
