#include "support/HostilePeer.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

long long NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

HostilePeer::HostilePeer(unsigned seed) : random_(seed), thread_([this] { Run(); }) {}

HostilePeer::~HostilePeer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::string HostilePeer::NewLine() {
    std::unique_lock<std::mutex> lock(mutex_);
    wantLine_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return !wantLine_; });
    return slavePath_;
}

void HostilePeer::SetMood(Mood mood) {
    std::lock_guard<std::mutex> lock(mutex_);
    mood_ = mood;
    moodChanged_ = true;
}

void HostilePeer::Run() {
    Mood mood = Mood::Silent;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (stop_) return;
            if (wantLine_) {
                pty_ = std::make_unique<PtyPair>();
                slavePath_ = pty_->SlavePath();
                gone_ = false;
                mood_ = Mood::Silent;
                moodChanged_ = true;
                wantLine_ = false;
                changed_.notify_all();
            }
            if (moodChanged_) {
                mood = mood_;
                moodChanged_ = false;
                hangUpAtMs_ =
                    mood == Mood::HangUp ? NowMs() + std::uniform_int_distribution<>(0, 300)(random_) : -1;
            }
            if (!pty_ || gone_) {
                // Nothing to serve until the next line.
                changed_.wait_for(lock, std::chrono::milliseconds(20));
                continue;
            }
        }
        Serve(mood);
    }
}

// One turn of the current mood, at most about 10 ms long.
void HostilePeer::Serve(Mood mood) {
    const int fd = pty_->Master();
    if (mood == Mood::HangUp && NowMs() >= hangUpAtMs_) {
        pty_->CloseMaster();
        gone_ = true;
        return;
    }
    short events = POLLIN;
    if (mood == Mood::Flood) events |= POLLOUT;
    struct pollfd p {
        fd, events, 0
    };
    if (poll(&p, 1, 10) <= 0) return;
    std::uint8_t buffer[4096];
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            BytesReceived += n;
            if (mood == Mood::Answer) Answer(buffer, n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            // The program has no port open on this line just now.
            usleep(5000);
        }
    }
    if (mood == Mood::Flood && (p.revents & POLLOUT)) {
        for (auto& b : buffer)
            b = static_cast<std::uint8_t>(random_());
        const ssize_t n =
            write(fd, buffer, std::uniform_int_distribution<std::size_t>(1, sizeof buffer)(random_));
        if (n > 0) BytesSent += n;
    }
}

// Each byte read gets an answer: mostly what the adapter protocol expects
// next, otherwise random bytes; now and then a burst that can complete a
// Modbus answer or frame a packet.
void HostilePeer::Answer(const std::uint8_t* bytes, long count) {
    std::vector<std::uint8_t> out;
    std::uniform_int_distribution<int> percent(0, 99);
    for (long i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        const int roll = percent(random_);
        if (roll < 50) {
            switch (b) {
            case 0xB0:
                out.push_back(percent(random_) < 80 ? 0xDD : 0x08);
                break;
            case 0x11:
                out.push_back(0x22);
                break;
            case 0x01:
            case 0x81:
            case 0x02:
            case 0x82:
                out.push_back(0x01);
                break;
            default:
                out.push_back(0x00);
                break;
            }
        } else if (roll < 80) {
            const int n = std::uniform_int_distribution<int>(0, 3)(random_);
            for (int k = 0; k < n; ++k)
                out.push_back(static_cast<std::uint8_t>(random_()));
        }
    }
    if (percent(random_) < 10) {
        const int n = std::uniform_int_distribution<int>(1, 300)(random_);
        for (int k = 0; k < n; ++k)
            out.push_back(percent(random_) < 5 ? 0x23 : static_cast<std::uint8_t>(random_()));
    }
    Write(out.data(), out.size());
}

void HostilePeer::Write(const std::uint8_t* bytes, std::size_t count) {
    // Whatever does not fit into the line now is dropped: a hostile far end
    // does not wait for the program.
    if (count == 0) return;
    const ssize_t n = write(pty_->Master(), bytes, count);
    if (n > 0) BytesSent += n;
}
