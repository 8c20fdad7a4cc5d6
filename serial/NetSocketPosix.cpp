// NetSocket on BSD sockets.
#include "serial/NetSocket.h"

#include "base/PortAddress.h"

#include <cerrno>
#include <chrono>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace NetSocket {

const int BadAddress = EDESTADDRREQ;
const int HostUnknown = EADDRNOTAVAIL;
const int TimeoutError = ETIMEDOUT;
const int ConnectionLost = ECONNRESET;

namespace {

// A poll that goes on after a signal, within the time first given.
int PollFor(pollfd& p, int timeoutMs) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    for (;;) {
        const int n = poll(&p, 1, timeoutMs);
        if (n >= 0 || errno != EINTR) return n;
        timeoutMs = static_cast<int>(
            std::max<long long>(0, duration_cast<milliseconds>(deadline - steady_clock::now()).count()));
    }
}

// How a non-blocking connect in progress on `fd` ended within `timeoutMs`:
// 0, or the error.
int ConnectionResult(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    const int n = PollFor(p, timeoutMs);
    if (n == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

// A call's result in NetSocket's terms.
long Result(long n, int& error) {
    error = 0;
    if (n >= 0) return n;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) error = errno;
    return -1;
}

} // namespace

Handle Connect(const PortAddress& a, int timeoutMs, int& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(a.Host.c_str(), std::to_string(a.Port).c_str(), &hints, &found) != 0 || !found) {
        error = HostUnknown;
        return -1;
    }
    error = ECONNREFUSED;
    int fd = -1;
    for (addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next) {
        fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            error = errno == EINPROGRESS ? ConnectionResult(fd, timeoutMs) : errno;
            if (error != 0) {
                close(fd);
                fd = -1;
            }
        }
    }
    freeaddrinfo(found);
    if (fd < 0) return -1;
    error = 0;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    return fd;
}

void Close(Handle socket) {
    if (socket >= 0) close(static_cast<int>(socket));
}

long Send(Handle socket, const void* bytes, std::size_t count, int& error) {
    return Result(send(static_cast<int>(socket), bytes, count, MSG_NOSIGNAL), error);
}

long Receive(Handle socket, void* bytes, std::size_t count, int& error) {
    return Result(read(static_cast<int>(socket), bytes, count), error);
}

WaitResult Wait(Handle socket, bool write, int timeoutMs, int& error) {
    pollfd p{static_cast<int>(socket), static_cast<short>(write ? POLLOUT : POLLIN), 0};
    const int n = PollFor(p, timeoutMs);
    if (n < 0 || (n > 0 && (p.revents & POLLNVAL))) {
        error = n < 0 ? errno : EBADF;
        return WaitResult::Failed;
    }
    return n == 0 ? WaitResult::TimedOut : WaitResult::Ready;
}

bool Closed(Handle socket) {
    pollfd p{static_cast<int>(socket), POLLIN | POLLRDHUP, 0};
    const int n = PollFor(p, 0);
    if (n < 0) return true;
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP)) != 0;
}

int Pending(Handle socket) {
    int waiting = 0;
    if (ioctl(static_cast<int>(socket), FIONREAD, &waiting) != 0) return 0;
    return waiting;
}

void AcknowledgeAtOnce(Handle socket) {
    const int on = 1;
    setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

} // namespace NetSocket
