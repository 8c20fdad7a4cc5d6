#include "support/HostilePeer.h"

#include <algorithm>
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
                expect_ = Expect::Opening;
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
            // A pause in what the program writes ends an exchange (a purge
            // pauses, a time-out waits): the next bytes start a new one.
            const long long now = NowMs();
            if (now - lastReadMs_ > 15) expect_ = Expect::Opening;
            lastReadMs_ = now;
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

// The peer plays the adapter as far as it can tell where the exchange
// stands, but every reply may come wrong or not at all, and random bytes
// slip in; now and then a burst that can complete a Modbus answer or frame a
// packet.
void HostilePeer::Answer(const std::uint8_t* bytes, long count) {
    std::vector<std::uint8_t> out;
    for (long i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        switch (expect_) {
        case Expect::Opening:
            if (b == 0xB0) {
                Reply(out, random_() % 5 ? 0xDD : 0x08);
                expect_ = Expect::Command;
            } else if (b == 0x11) {
                Reply(out, 0x22);
                expect_ = Expect::BlockLength;
            }
            break;
        case Expect::Command: // the sign-on marker first, unless the ready byte was 0x08
            if (b == 'Z' || b == 'P') break;
            reading_ = (b & 0x7F) == 0x02;
            Reply(out, 0x01);
            taken_.clear();
            expect_ = Expect::Header;
            break;
        case Expect::Header:
            taken_.push_back(b);
            // A 7-byte header starts with 0x00; the byte count is byte 5 of both.
            if (taken_.size() == (taken_[0] == 0x00 ? 7u : 5u)) {
                Reply(out, 0x00);
                left_ = taken_[4];
                expect_ = Expect::Opening;
                if (reading_) {
                    for (std::size_t k = 0; k <= left_; ++k)
                        out.push_back(static_cast<std::uint8_t>(random_()));
                } else if (left_ > 0) {
                    expect_ = Expect::Data;
                } else {
                    Reply(out, 0x00);
                }
            }
            break;
        case Expect::Data:
            if (--left_ == 0) {
                Reply(out, 0x00);
                expect_ = Expect::Opening;
            }
            break;
        case Expect::BlockLength:
            taken_.assign(1, b);
            left_ = b;
            expect_ = left_ > 0 ? Expect::Block : Expect::Opening;
            break;
        case Expect::Block:
            taken_.push_back(b);
            if (--left_ == 0) {
                Reply(out, 0x00);
                if (random_() % 20) ModbusAnswer(out);
                expect_ = Expect::Opening;
            }
            break;
        }
    }
    if (random_() % 40 == 0) {
        const int n = std::uniform_int_distribution<int>(1, 300)(random_);
        for (int k = 0; k < n; ++k)
            out.push_back(random_() % 20 ? static_cast<std::uint8_t>(random_()) : 0x23);
    }
    Write(out.data(), out.size());
}

// The expected byte, but one time in forty a wrong one, one in forty none,
// and one in forty followed by stray bytes.
void HostilePeer::Reply(std::vector<std::uint8_t>& out, std::uint8_t byte) {
    const int roll = static_cast<int>(random_() % 40);
    if (roll == 0) return;
    out.push_back(roll == 1 ? static_cast<std::uint8_t>(random_()) : byte);
    if (roll == 2)
        for (int k = static_cast<int>(random_() % 3); k >= 0; --k)
            out.push_back(static_cast<std::uint8_t>(random_()));
}

void HostilePeer::ModbusAnswer(std::vector<std::uint8_t>& out) {
    // The block: L, address, function, register high and low, count or value.
    const std::vector<std::uint8_t>& block = taken_;
    if (block.size() < 7) return;
    const std::uint8_t function = block[2];
    const int reg = block[3] << 8 | block[4];
    if (function == 0x06) {
        out.insert(out.end(), block.begin() + 1, block.begin() + 7);
    } else {
        const int bytes = std::min(255, 2 * (block[5] << 8 | block[6]));
        out.insert(out.end(), {block[1], function, static_cast<std::uint8_t>(bytes)});
        for (int k = 0; k < bytes; ++k) {
            std::uint8_t v = static_cast<std::uint8_t>(random_());
            // Lengths of templates and rows: short, and now and then 0 (the end).
            if (reg == 1001 && k == 0) v = 0;
            if (reg == 1001 && k == 1) v = static_cast<std::uint8_t>(random_() % 80);
            out.push_back(v);
        }
    }
    out.push_back(static_cast<std::uint8_t>(random_()));
    out.push_back(static_cast<std::uint8_t>(random_()));
}

void HostilePeer::Write(const std::uint8_t* bytes, std::size_t count) {
    // Whatever does not fit into the line now is dropped: a hostile far end
    // does not wait for the program.
    if (count == 0) return;
    const ssize_t n = write(pty_->Master(), bytes, count);
    if (n > 0) BytesSent += n;
}
