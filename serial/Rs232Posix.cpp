// Rs232Port on POSIX: exclusive open, termios2 line settings, poll()-based
// reads against a total deadline, single-byte writes.
#include "serial/Rs232.h"

#include "base/Paths.h"
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "serial/LineSettings.h"
#include "serial/Rs232System.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
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

// How a non-blocking connect in progress on `fd` ended within `timeoutMs`:
// 0, or the error.
int ConnectionResult(int fd, int timeoutMs) {
    struct pollfd p {
        fd, POLLOUT, 0
    };
    int n;
    do
        n = poll(&p, 1, timeoutMs);
    while (n < 0 && errno == EINTR);
    if (n == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t length = sizeof error;
    if (n < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

// Connects a non-blocking socket to one of `host`'s addresses within
// `timeoutMs`; the socket, or -1 with errno set (EADDRNOTAVAIL: the host is
// not known).
int ConnectTo(const PortAddress& a, int timeoutMs) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(a.Host.c_str(), std::to_string(a.Port).c_str(), &hints, &found) != 0 || !found) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    int error = ECONNREFUSED;
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
    if (fd < 0) errno = error;
    return fd;
}

// A write that never raises SIGPIPE on a connection the far end has closed.
ssize_t WriteOut(int fd, const void* bytes, std::size_t count, bool network) {
    return network ? send(fd, bytes, count, MSG_NOSIGNAL) : write(fd, bytes, count);
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
        locked_ = false;
    }
    Disconnected = true;
    Connected = false;
    Fail(error);
}

bool Rs232Port::CheckLine() {
    if (Handle < 0) return false;
    struct pollfd pfd {
        Handle, static_cast<short>(Network() ? POLLRDHUP : 0), 0
    };
    if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP))) {
        Disconnect(Network() ? ECONNRESET : ENODEV);
        return false;
    }
    if (Network()) return true;
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

void Rs232Port::OpenNetwork(const std::string& address, int baudRate) {
    NetAddress = address;
    const std::optional<PortAddress> a = ParsePortAddress(address);
    if (!a) {
        Fail(EDESTADDRREQ);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    Handle = ConnectTo(*a, Timing().NetConnectTimeoutMs);
    if (Handle < 0) {
        Fail(errno);
        return;
    }
    // The handshake took one round trip.
    RoundTripMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    const int on = 1;
    setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(Handle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    Ok = true;
    SetTimeouts();
    if (a->Kind == NetPortKind::Rfc2217) {
        telnet_ = std::make_unique<telnet::Decoder>();
        std::vector<std::uint8_t> hello = telnet::Greeting();
        const std::vector<std::uint8_t> settings = telnet::LineSettingsCommands(baudRate);
        hello.insert(hello.end(), settings.begin(), settings.end());
        if (!SendRaw(hello)) return;
        // Some servers never acknowledge: the port works on regardless, and
        // the status line says so.
        const long long deadline = NowMs() + Timing().NetSettingsWaitMs + 2LL * RoundTripMs;
        auto acknowledged = [&] {
            for (std::uint8_t c : {telnet::SetBaudRate, telnet::SetDataSize, telnet::SetParity,
                                   telnet::SetStopSize, telnet::SetControl})
                if (!telnet_->Acknowledged(c)) return false;
            return true;
        };
        while (!acknowledged() && WaitFor(POLLIN, deadline) == WaitResult::Ready)
            if (!DrainNetwork()) return Disconnect(ECONNRESET);
        SettingsAcknowledged = acknowledged();
        decoded_.clear(); // bytes from before this connection are nobody's answer
    }
    Connected = false;
    Gated = false;
}

bool Rs232Port::SendRaw(const std::vector<std::uint8_t>& wire) {
    std::size_t sent = 0;
    const long long deadline =
        TransferDeadline(Timing().WriteTimeoutPerByteMs, static_cast<std::uint32_t>(wire.size()));
    while (sent < wire.size()) {
        const ssize_t n = WriteOut(Handle, wire.data() + sent, wire.size() - sent, true);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            FailTransfer(errno);
            return false;
        }
        if (WaitFor(POLLOUT, deadline) != WaitResult::Ready) {
            if (Ok) Fail(ETIMEDOUT);
            return false;
        }
    }
    return true;
}

bool Rs232Port::DrainNetwork() {
    std::uint8_t wire[512];
    for (;;) {
        const ssize_t n = read(Handle, wire, sizeof wire);
        if (n == 0) return false;
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        if (telnet_) {
            telnet_->Take(wire, static_cast<std::size_t>(n), decoded_);
            if (const std::vector<std::uint8_t> replies = telnet_->TakeReplies(); !replies.empty())
                SendRaw(replies);
        }
    }
}

long Rs232Port::ReceiveSome(unsigned char* buffer, std::uint32_t count) {
    if (Network()) {
        // Acknowledge at once what arrives: a server that holds its next small
        // segment until the last one is acknowledged (Nagle) would otherwise
        // wait for the delayed acknowledgement, some 40 ms, in every answer.
        const int on = 1;
        setsockopt(Handle, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
    if (!telnet_) return static_cast<long>(read(Handle, buffer, count));
    if (decoded_.empty()) {
        // No more from the wire than asked for: what is not asked for stays
        // in the socket, where a wait for input sees it.
        std::uint8_t wire[512];
        const ssize_t n = read(Handle, wire, std::min<std::size_t>(count, sizeof wire));
        if (n <= 0) return static_cast<long>(n);
        telnet_->Take(wire, static_cast<std::size_t>(n), decoded_);
        if (const std::vector<std::uint8_t> replies = telnet_->TakeReplies(); !replies.empty())
            SendRaw(replies);
        if (decoded_.empty()) {
            errno = EAGAIN; // only telnet commands came
            return -1;
        }
    }
    const std::size_t n = std::min<std::size_t>(count, decoded_.size());
    std::copy(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    decoded_.erase(decoded_.begin(), decoded_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
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

long long Rs232Port::TransferDeadline(int perByteMs, std::uint32_t bytes) const {
    return NowMs() + static_cast<long long>(perByteMs) * bytes + readTimeoutBaseMs_;
}

void Rs232Port::ReadBytes(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    const long long deadline = TransferDeadline(Timing().ReadTimeoutPerByteMs, count);
    // Loop until we have the requested number of bytes or the deadline passes.
    while (bytesRead < count) {
        const long n = ReceiveSome(buffer + bytesRead, count - bytesRead);
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
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!WriteOne(buffer[i])) return;
        Ok = true;
        ++bytesWritten;
    }
}

bool Rs232Port::WriteOne(unsigned char byte) {
    const long long deadline = TransferDeadline(Timing().WriteTimeoutPerByteMs, 1);
    // RFC 2217: an 0xFF goes out doubled, both bytes or neither.
    const unsigned char escaped[2] = {byte, byte};
    const std::size_t length = telnet_ && byte == telnet::Iac ? 2 : 1;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = WriteOut(Handle, escaped + done, length - done, Network());
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
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
    return true;
}

bool Rs232Port::DiscardQueues() {
    if (!Network()) return tcflush(Handle, TCIOFLUSH) == 0;
    // What has arrived is dropped here; RFC 2217 also empties the server's
    // buffers of the line.
    const bool open = DrainNetwork();
    decoded_.clear();
    if (telnet_) return open && SendRaw(telnet::ComPortCommand(telnet::PurgeData, {telnet::PurgeBoth}));
    return open;
}

int Rs232Port::InQueue() {
    if (Handle < 0) return 0;
    // RFC 2217: the socket's bytes include telnet commands; only the data
    // decoded from them is waiting.
    if (telnet_) {
        DrainNetwork();
        return static_cast<int>(decoded_.size());
    }
    int waiting = 0;
    if (ioctl(Handle, FIONREAD, &waiting) != 0) return 0;
    return waiting;
}

bool Rs232Port::HungUp() const {
    if (Handle < 0) return true;
    struct pollfd pfd {
        Handle, static_cast<short>(POLLIN | (Network() ? POLLRDHUP : 0)), 0
    };
    int n;
    do
        n = poll(&pfd, 1, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0) return true;
    return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLRDHUP)) != 0;
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
