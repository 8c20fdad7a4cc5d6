#include "support/LineClient.h"

#include "support/Pty.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

LineClient::LineClient(const std::string& devicePath) {
    fd_ = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + devicePath);
    struct termios tio {};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd_, TCSANOW, &tio);
    tcflush(fd_, TCIOFLUSH);
}

LineClient::~LineClient() {
    if (fd_ >= 0) close(fd_);
}

void LineClient::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            struct pollfd p {
                fd_, POLLOUT, 0
            };
            poll(&p, 1, 100);
        } else {
            throw std::runtime_error("line write failed");
        }
    }
}

void LineClient::Send(const std::string& hex) {
    Send(Bytes(hex));
}

std::vector<std::uint8_t> LineClient::Receive(int count, int timeoutMs) {
    return ReceiveFrom(fd_, count, timeoutMs);
}

std::string LineClient::ReceiveHex(int count, int timeoutMs) {
    return Hex(Receive(count, timeoutMs));
}

bool LineClient::HungUp() const {
    struct pollfd p {
        fd_, POLLIN, 0
    };
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
}
