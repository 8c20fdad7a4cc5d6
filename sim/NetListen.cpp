// The simulator's line on a TCP port: one thread moves the bytes between the
// client's socket and the line's terminal device.
#include "sim/NetListen.h"

#include "sim/PtyLine.h"
#include "sim/TerminalSpeed.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

// A run of bytes read at once, handed on at `due`.
struct Held {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
};

// Binds a listening socket; the port actually bound goes to `port`.
int Listen(const std::string& host, int& port) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v4;
    } else if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof *v6;
    } else {
        throw std::runtime_error("cannot listen on '" + host + "': not a numeric address");
    }
    const int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0) {
        const std::string cause = std::strerror(errno);
        if (fd >= 0) close(fd);
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " + cause);
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    return fd;
}

// Reads what is there into `queue`, due after `delay`; false when the far end is gone.
bool Take(int fd, std::deque<Held>& queue, std::chrono::milliseconds delay) {
    std::uint8_t buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    queue.push_back({Clock::now() + delay, {buffer, buffer + n}});
    return true;
}

// Writes the runs that are due; false when the far end is gone. A socket is
// written without SIGPIPE, which would end the process of a test.
bool Hand(int fd, bool socket, std::deque<Held>& queue) {
    while (!queue.empty() && queue.front().due <= Clock::now()) {
        std::vector<std::uint8_t>& bytes = queue.front().bytes;
        const ssize_t n = socket ? send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)
                                 : write(fd, bytes.data(), bytes.size());
        if (n < 0) return errno == EAGAIN || errno == EINTR;
        bytes.erase(bytes.begin(), bytes.begin() + n);
        if (!bytes.empty()) return true;
        queue.pop_front();
    }
    return true;
}

} // namespace

NetListener::NetListener(std::string device, const NetListenOptions& options)
    : device_(std::move(device)), options_(options), port_(options.port) {
    listen_ = Listen(options_.host, port_);
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        close(listen_);
        throw std::runtime_error("cannot create a pipe");
    }
}

NetListener::~NetListener() {
    Stop();
    close(listen_);
    close(wake_[0]);
    close(wake_[1]);
}

std::string NetListener::Address() const {
    const bool v6 = options_.host.find(':') != std::string::npos;
    return "tcp://" + (v6 ? "[" + options_.host + "]" : options_.host) + ":" + std::to_string(port_);
}

void NetListener::Start() {
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void NetListener::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    const char byte = 0;
    (void)!write(wake_[1], &byte, 1);
    thread_.join();
}

void NetListener::Run() {
    const std::chrono::milliseconds delay(options_.delayMs);
    int client = -1, line = -1;
    std::deque<Held> toLine, toClient;
    Clock::time_point lastTraffic{};
    // The byte of an earlier Stop() is not this run's.
    char stale[8];
    while (read(wake_[0], stale, sizeof stale) > 0) {
    }
    auto drop = [&] {
        if (client >= 0) close(client);
        if (line >= 0) close(line);
        client = line = -1;
        toLine.clear();
        toClient.clear();
    };
    while (!stop_) {
        // Awake for the next run due and for the idle limit.
        Clock::time_point wake = Clock::now() + std::chrono::seconds(1);
        for (const auto* q : {&toLine, &toClient})
            if (!q->empty()) wake = std::min(wake, q->front().due);
        if (client >= 0 && options_.idleCloseMs > 0)
            wake = std::min(wake, lastTraffic + std::chrono::milliseconds(options_.idleCloseMs));
        const auto due = [](const std::deque<Held>& q) {
            return !q.empty() && q.front().due <= Clock::now();
        };
        pollfd fds[4] = {{wake_[0], POLLIN, 0},
                         {listen_, POLLIN, 0},
                         {client, static_cast<short>(POLLIN | (due(toClient) ? POLLOUT : 0)), 0},
                         {line, static_cast<short>(POLLIN | (due(toLine) ? POLLOUT : 0)), 0}};
        PollUntil(fds, 4, wake);
        if (stop_) break;
        if (fds[1].revents & POLLIN) {
            const int next = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (next >= 0) {
                drop(); // the line is the newcomer's
                client = next;
                const int on = 1;
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                line = open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
                if (line < 0) {
                    drop();
                    continue;
                }
                struct termios tio {};
                tcgetattr(line, &tio);
                cfmakeraw(&tio);
                tcsetattr(line, TCSANOW, &tio);
                SetTerminalSpeed(line, options_.speed);
                lastTraffic = Clock::now();
            }
        }
        if (client < 0) continue;
        bool open = true;
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            open = Take(client, toLine, delay);
            lastTraffic = Clock::now();
        }
        if (open && (fds[3].revents & POLLIN)) {
            open = Take(line, toClient, delay);
            lastTraffic = Clock::now();
        }
        if (open && (fds[3].revents & (POLLHUP | POLLERR)) && !(fds[3].revents & POLLIN)) open = false;
        if (open) open = Hand(line, false, toLine) && Hand(client, true, toClient);
        if (open && options_.idleCloseMs > 0 &&
            Clock::now() - lastTraffic >= std::chrono::milliseconds(options_.idleCloseMs))
            open = false;
        if (!open) drop();
    }
    drop();
}

} // namespace sim
