// A far end that misbehaves, for the soak tests: in a thread of its own, on
// the master side of a pseudo-terminal, it answers what it reads with random
// bytes, floods the line, falls silent, or hangs up after a random delay. A
// hang-up ends that pseudo-terminal; NewLine makes the next one. Its answers
// are often what the adapter protocol expects next, and a block handed over
// by SendPacket often gets a Modbus answer of the right shape with random
// data, so that exchanges and archive transfers get deep before they break.
#pragma once
#include "support/Pty.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

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
    // A device's answer to a SendPacket block: right in shape, random inside.
    void ModbusAnswer(std::vector<std::uint8_t>& out);
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
    // Where the adapter protocol stands, as far as the peer follows it.
    enum class Expect { Opening, Command, Header, Data, BlockLength, Block };
    Expect expect_ = Expect::Opening;
    bool reading_ = false;            // GetData rather than SetData
    std::size_t left_ = 0;            // bytes of the data or the block still to come
    std::vector<std::uint8_t> taken_; // the header or the block
    long long lastReadMs_ = 0;
    void Reply(std::vector<std::uint8_t>& out, std::uint8_t byte);
    std::thread thread_;
};
