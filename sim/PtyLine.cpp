// Pseudo-terminal lines and their pacing.
#include "sim/PtyLine.h"

#include "sim/LineTiming.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr auto SleepSlice = std::chrono::milliseconds(10); // Stop() noticed within this
constexpr auto WriteStallLimit = std::chrono::seconds(1);  // nobody reads: give up
constexpr int WriteRetryMs = 10;

void MakeRaw(int fd) {
    struct termios tio {};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}

timespec ToTimespec(std::int64_t ns) {
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// steady_clock is CLOCK_MONOTONIC on Linux: its time points are absolute
// deadlines for clock_nanosleep.
timespec MonotonicTimespec(Clock::time_point t) {
    return ToTimespec(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
}

} // namespace

void PtyEnds::Open() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    slavePath = name;
    MakeRaw(master);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Raw from the start: an echoing slave would send the PC's bytes back.
    slaveKeep = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slaveKeep < 0)
        throw std::runtime_error(std::string("cannot open ") + name + ": " + std::strerror(errno));
    MakeRaw(slaveKeep);
}

void PtyEnds::Close() {
    if (slaveKeep >= 0) close(slaveKeep);
    int fd = master.exchange(-1);
    if (fd >= 0) close(fd);
    slaveKeep = -1;
}

void ArrivalQueue::Spread(const std::uint8_t* bytes, std::size_t count, double speed) {
    auto start = std::max(Clock::now(), free_);
    for (std::size_t i = 0; i < count; ++i)
        line_.push_back({bytes[i], start + LineTime(i + 1, speed)});
    free_ = start + LineTime(count, speed);
}

std::vector<Arriving> ArrivalQueue::Take(Clock::time_point now, bool all) {
    std::vector<Arriving> run;
    while (!line_.empty() && (all || line_.front().at <= now)) {
        run.push_back(line_.front());
        line_.pop_front();
    }
    return run;
}

void PollUntil(struct pollfd* fds, nfds_t count, Clock::time_point wake) {
    auto ns = std::max<std::int64_t>(
        0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now()).count());
    timespec timeout = ToTimespec(ns);
    ppoll(fds, count, &timeout, nullptr);
}

int Pending(int fd) {
    int n = 0;
    if (fd < 0 || ioctl(fd, FIONREAD, &n) != 0) return 0;
    return n;
}

bool SleepUntil(Clock::time_point until, const std::atomic<bool>& stop) {
    for (;;) {
        if (stop) return false;
        auto now = Clock::now();
        if (now >= until) return true;
        // In slices, so that Stop() is noticed during a long wait.
        timespec t = MonotonicTimespec(std::min(until, now + SleepSlice));
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
        }
    }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count, const std::atomic<bool>& stop) {
    auto deadline = Clock::now() + WriteStallLimit;
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = write(fd, data + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (stop || Clock::now() > deadline) return false;
            struct pollfd p {
                fd, POLLOUT, 0
            };
            poll(&p, 1, WriteRetryMs);
        } else {
            return false;
        }
    }
    return true;
}

bool SendPaced(int fd, const std::vector<std::uint8_t>& bytes, double speed, const std::atomic<bool>& stop,
               const RecordRun& record) {
    return SendPaced(bytes, speed, stop, record, [fd, &stop](const std::uint8_t* data, std::size_t count) {
        return WriteAll(fd, data, count, stop);
    });
}

bool SendPaced(const std::vector<std::uint8_t>& bytes, double speed, const std::atomic<bool>& stop,
               const RecordRun& record, const WriteRun& write) {
    if (speed <= 0) {
        record(bytes.data(), bytes.size());
        return write(bytes.data(), bytes.size());
    }
    auto start = Clock::now();
    for (std::size_t done = 0; done < bytes.size();) {
        if (!SleepUntil(start + LineTime(done + 1, speed), stop)) return false;
        auto now = Clock::now();
        std::size_t upto = done + 1;
        while (upto < bytes.size() && start + LineTime(upto + 1, speed) <= now)
            ++upto;
        record(bytes.data() + done, upto - done);
        if (!write(bytes.data() + done, upto - done)) return false;
        done = upto;
    }
    return true;
}

bool SendFramePaced(int fd, const std::vector<std::uint8_t>& frame, double speed,
                    const std::atomic<bool>& stop, const RecordRun& record) {
    const bool through =
        SendPaced(frame, speed, stop, record, [](const std::uint8_t*, std::size_t) { return true; });
    return through && WriteAll(fd, frame.data(), frame.size(), stop);
}

} // namespace sim
