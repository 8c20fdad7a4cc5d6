// A far end that misbehaves, for the soak tests: in a thread of its own, on
// the master side of a pseudo-terminal, it answers what it reads with random
// bytes (often the byte the adapter protocol expects, so exchanges get deep),
// floods the line, falls silent, or hangs up after a random delay. A hang-up
// ends that pseudo-terminal; NewLine makes the next one.
#pragma once
#include "support/Pty.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>

class HostilePeer {
public:
    enum class Mood { Answer, Flood, Silent, HangUp };

    explicit HostilePeer(unsigned seed);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    // Drops the current pseudo-terminal (if any) and makes a new one that
    // starts silent; returns its slave path for the program to open.
    std::string NewLine();
    // HangUp closes the line after 0 to 300 ms.
    void SetMood(Mood mood);
    // The current line has been hung up.
    bool Gone() const { return gone_; }

    std::atomic<long long> BytesSent{0};
    std::atomic<long long> BytesReceived{0};

private:
    void Run();
    void Serve(Mood mood);
    void Answer(const std::uint8_t* bytes, long count);
    void Write(const std::uint8_t* bytes, std::size_t count);

    std::mt19937 random_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Mood mood_ = Mood::Silent;
    bool moodChanged_ = false;
    bool wantLine_ = false;
    bool stop_ = false;
    std::string slavePath_;
    std::atomic<bool> gone_{false};
    // Touched by the peer's thread only.
    std::unique_ptr<PtyPair> pty_;
    long long hangUpAtMs_ = -1;
    std::thread thread_;
};
