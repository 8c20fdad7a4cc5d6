// Rs232Port on POSIX: exclusive open, termios2 line settings, poll()-based
// reads against a total deadline, single-byte writes. A network port's socket
// is its descriptor; its steps are in Rs232Network.cpp.
#include "serial/Rs232.h"

#include "base/Paths.h"
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "serial/LineSettings.h"
#include "serial/NetSocket.h"
#include "serial/Rs232System.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The network address a ports/COMn link leads to, or empty.
std::string LinkedAddress(const std::string& path) {
    char target[512];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    const std::string text(target, static_cast<std::size_t>(n));
    return IsNetworkAddress(text) ? text : std::string();
}

void SetModemLines(int fd, bool raise) {
    // On a pseudo-terminal these fail with ENOTTY; results are ignored.
    int bits = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &bits);
}

} // namespace

std::string Rs232Port::DevicePathFor(int portNumber) {
    const std::string dir = ConfigDir();
    std::string link = dir + "ports/COM" + std::to_string(portNumber);
    struct stat st {};
    if (!dir.empty() && lstat(link.c_str(), &st) == 0) return link;
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

const int Rs232System::OpenFailed = EIO;
const int Rs232System::Gone = ENODEV;
const int Rs232System::Refused = EPERM;
const int Rs232System::NotOpen = EBADF;

bool Rs232System::DeviceGone(int error) {
    // A network port's connection that the far end closed or reset has gone
    // as an unplugged adapter has.
    return error == EIO || error == ENODEV || error == ENXIO || error == EPIPE || error == ECONNRESET ||
           error == ENOTCONN;
}

void Rs232Port::Disconnect(int error) {
    if (Handle >= 0) {
        ioctl(Handle, TIOCNXCL);
        if (locked_) flock(Handle, LOCK_UN);
        close(Handle);
        Handle = -1;
        socket_ = -1;
        locked_ = false;
    }
    Disconnected = true;
    Connected = false;
    Fail(error);
}

bool Rs232Port::CheckLine() {
    if (Handle < 0) return false;
    if (Network()) {
        if (!NetworkClosed()) return true;
        Disconnect(NetSocket::ConnectionLost);
        return false;
    }
    struct pollfd pfd {
        Handle, 0, 0
    };
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        Disconnect(ENODEV);
        return false;
    }
    // A USB adapter pulled out takes its node with it.
    struct stat st {};
    if (stat(DevicePath.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        Disconnect(ENODEV);
        return false;
    }
    return true;
}

void Rs232Port::Open(const std::string& devicePath, int baudRate) {
    DevicePath = devicePath;
    BaudRate = baudRate;
    if (IsNetworkAddress(devicePath)) return OpenNetwork(devicePath, baudRate);
    if (const std::string address = LinkedAddress(devicePath); !address.empty())
        return OpenNetwork(address, baudRate);
    Handle = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Handle < 0) {
        Fail(errno);
        return;
    }
    // Exclusive use: TIOCEXCL keeps ordinary users out, the lock keeps out
    // root too (root bypasses TIOCEXCL).
    if (flock(Handle, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        close(Handle);
        Handle = -1;
        Fail(error);
        return;
    }
    locked_ = true;
    ioctl(Handle, TIOCEXCL);
    struct stat node {};
    if (fstat(Handle, &node) == 0) DeviceId = node.st_rdev;
    Ok = true;

    // A pseudo-terminal can hold bytes from an earlier run.
    tcflush(Handle, TCIOFLUSH);

    // A device that refuses its settings is closed again: a port whose
    // opening failed is unusable, and it must not keep others out.
    int error = ReadLineSettings(Handle);
    if (error == 0) error = ApplyLineSettings(Handle, baudRate);
    if (error != 0) {
        ioctl(Handle, TIOCNXCL);
        close(Handle);
        Handle = -1;
        locked_ = false;
        Fail(error);
        return;
    }
    SetTimeouts();
    Adapter = LowerAdapterLatency(Handle, DeviceId);
    SetModemLines(Handle, true);
    Connected = false;
    Gated = false;
}

int Rs232Port::AdoptSocket() {
    Handle = static_cast<int>(socket_);
    return 0;
}

Rs232Port::~Rs232Port() {
    if (Handle >= 0 && !Network()) SetModemLines(Handle, false);
    Pause(Timing().ClosePauseMs);
    if (Handle >= 0) {
        RestoreAdapterLatency(Handle, Adapter);
        // The exclusive flag outlives the close on a pseudo-terminal whose
        // master stays open; clear it so that the next opener gets in.
        ioctl(Handle, TIOCNXCL);
        if (locked_) flock(Handle, LOCK_UN);
        Ok = close(Handle) == 0;
        Handle = -1;
        socket_ = -1;
    }
}

void Rs232Port::SetTimeouts() {
    if (Handle < 0) {
        Fail(EBADF);
        return;
    }
    readTimeoutBaseMs_ = Connected ? Timing().ConnectedReadTimeoutBaseMs : Timing().ReadTimeoutBaseMs;
    readTimeoutBaseMs_ += RoundTripMs;
    Ok = true;
}

Rs232Port::WaitResult Rs232Port::WaitFor(short events, long long deadlineMs) {
    for (;;) {
        long long left = deadlineMs - NowMs();
        if (left < 0) left = 0;
        struct pollfd pfd {
            Handle, events, 0
        };
        int n = poll(&pfd, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            Fail(errno);
            return WaitResult::Failed;
        }
        if (n == 0) return WaitResult::TimedOut;
        if (pfd.revents & POLLNVAL) {
            Fail(EBADF);
            return WaitResult::Failed;
        }
        return WaitResult::Ready;
    }
}

void Rs232Port::ReadBytes(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    if (Network()) return ReadNetwork(buffer, count, bytesRead);
    const long long deadline = TransferDeadline(Timing().ReadTimeoutPerByteMs, count);
    // Loop until we have the requested number of bytes or the deadline passes.
    while (bytesRead < count) {
        const long n = static_cast<long>(read(Handle, buffer + bytesRead, count - bytesRead));
        if (n > 0) {
            bytesRead += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n == 0) {
            // The far end has gone away: the device is disconnected, never a spin.
            Disconnect(EIO);
            return;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN) {
            FailTransfer(errno);
            return;
        }
        switch (WaitFor(POLLIN, deadline)) {
        case WaitResult::Ready:
            break;
        case WaitResult::TimedOut:
            Ok = true; // a time-out is not a failure
            return;
        case WaitResult::Failed:
            return;
        }
    }
}

void Rs232Port::WriteBytes(const unsigned char* buffer, std::uint32_t count, std::int32_t& bytesWritten) {
    if (Network()) return WriteNetwork(buffer, count, bytesWritten);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!WriteOne(buffer[i])) return;
        Ok = true;
        ++bytesWritten;
    }
}

bool Rs232Port::WriteOne(unsigned char byte) {
    const long long deadline = TransferDeadline(Timing().WriteTimeoutPerByteMs, 1);
    for (;;) {
        const ssize_t n = write(Handle, &byte, 1);
        if (n > 0) return true;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            FailTransfer(errno);
            return false;
        }
        switch (WaitFor(POLLOUT, deadline)) {
        case WaitResult::Ready:
            break;
        case WaitResult::TimedOut:
            Fail(ETIMEDOUT); // a single byte that cannot go out fails the write
            return false;
        case WaitResult::Failed:
            return false;
        }
    }
}

bool Rs232Port::DiscardQueues() {
    if (Network()) return DiscardNetwork();
    return tcflush(Handle, TCIOFLUSH) == 0;
}

int Rs232Port::InQueue() {
    if (Handle < 0) return 0;
    if (Network()) return NetworkInQueue();
    int waiting = 0;
    if (ioctl(Handle, FIONREAD, &waiting) != 0) return 0;
    return waiting;
}

bool Rs232Port::HungUp() const {
    if (Handle < 0) return true;
    if (Network()) return NetworkClosed();
    struct pollfd pfd {
        Handle, POLLIN, 0
    };
    int n;
    do
        n = poll(&pfd, 1, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return true;
    return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool Rs232Port::SetDtr(bool raise) {
    if (Handle < 0 || Network()) return false;
    int bits = TIOCM_DTR;
    return ioctl(Handle, raise ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

std::optional<bool> Rs232Port::CarrierDetect() const {
    int bits = 0;
    if (Handle < 0 || Network() || ioctl(Handle, TIOCMGET, &bits) != 0) return std::nullopt;
    return (bits & TIOCM_CAR) != 0;
}

int Rs232Port::Pause(int milliseconds) {
    if (milliseconds <= 0) return 0;
    struct timespec until {};
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += milliseconds / 1000;
    until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    return 0;
}
