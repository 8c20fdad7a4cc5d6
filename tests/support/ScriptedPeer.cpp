#include "support/ScriptedPeer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(PtyPair& pty) : pty_(pty) {}

ScriptedPeer::~ScriptedPeer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

ScriptedPeer& ScriptedPeer::Expect(const std::string& hex) {
    steps_.push_back({Step::ExpectBytes, Bytes(hex), 0});
    return *this;
}

ScriptedPeer& ScriptedPeer::Reply(const std::string& hex) {
    steps_.push_back({Step::ReplyBytes, Bytes(hex), 0});
    return *this;
}

ScriptedPeer& ScriptedPeer::Wait(int milliseconds) {
    steps_.push_back({Step::WaitMs, {}, milliseconds});
    return *this;
}

void ScriptedPeer::Start() {
    thread_ = std::thread([this] { Run(); });
}

bool ScriptedPeer::ReadByte(std::uint8_t& b, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stop_) {
        ssize_t n = read(pty_.Master(), &b, 1);
        if (n == 1) return true;
        if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) return false;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return false;
        struct pollfd p {
            pty_.Master(), POLLIN, 0
        };
        poll(&p, 1, static_cast<int>(std::min<long long>(left, 20)));
        // POLLHUP with no slave open: sleep through it instead of spinning.
        if (p.revents & POLLHUP) usleep(2000);
    }
    return false;
}

void ScriptedPeer::Record(bool fromPeer, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    for (auto b : bytes)
        transcript_.push_back({fromPeer, b});
}

void ScriptedPeer::Run() {
    for (const Step& step : steps_) {
        if (stop_) break;
        switch (step.kind) {
        case Step::ExpectBytes:
            for (std::uint8_t want : step.bytes) {
                std::uint8_t got = 0;
                if (!ReadByte(got, expectTimeoutMs)) {
                    char msg[64];
                    std::snprintf(msg, sizeof msg, "timed out expecting %02X\n", want);
                    std::lock_guard lock(mutex_);
                    errors_ += msg;
                    break;
                }
                Record(false, {got});
                if (got != want) {
                    char msg[64];
                    std::snprintf(msg, sizeof msg, "expected %02X, got %02X\n", want, got);
                    std::lock_guard lock(mutex_);
                    errors_ += msg;
                }
            }
            break;
        case Step::ReplyBytes:
            Record(true, step.bytes);
            pty_.Send(step.bytes);
            break;
        case Step::WaitMs:
            std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
            break;
        }
    }
    scriptDone_ = true;
    // Keep recording whatever else arrives, so tests see stray bytes.
    while (!stop_) {
        std::uint8_t b;
        if (ReadByte(b, 10)) Record(false, {b});
    }
}

std::string ScriptedPeer::Finish(int settleMs) {
    while (thread_.joinable() && !scriptDone_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return Transcript();
}

std::string ScriptedPeer::Transcript() const {
    std::lock_guard lock(mutex_);
    std::string out;
    char b[4];
    for (size_t i = 0; i < transcript_.size(); ++i) {
        const Entry& e = transcript_[i];
        bool startGroup = e.fromPeer && (i == 0 || !transcript_[i - 1].fromPeer);
        bool endGroup = e.fromPeer && (i + 1 == transcript_.size() || !transcript_[i + 1].fromPeer);
        if (!out.empty()) out += ' ';
        if (startGroup) out += '(';
        std::snprintf(b, sizeof b, "%02X", e.byte);
        out += b;
        if (endGroup) out += ')';
    }
    return out;
}

std::string ScriptedPeer::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

std::vector<std::uint8_t> ScriptedPeer::Sent() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> out;
    for (const auto& e : transcript_)
        if (!e.fromPeer) out.push_back(e.byte);
    return out;
}
