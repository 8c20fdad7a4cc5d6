// A serial line played on a pseudo-terminal pair, and the pacing that makes
// it take the time a real line takes: 10 bits a byte at the line's speed,
// each byte handed over when its last bit is through (sim/LineTiming.h).
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal pair: the simulator holds the master; a descriptor on
// the slave stays open so that the master never sees a hang-up while the
// other side's program is not (yet) connected.
struct PtyEnds {
    std::atomic<int> master{-1}; // closed by the gateway thread, polled by WaitIdle
    int slaveKeep = -1;
    std::string slavePath;

    void Open(); // throws std::runtime_error
    void Close();
};

// A byte on its way over a paced line, and when its last bit is through.
struct Arriving {
    std::uint8_t byte;
    Clock::time_point at;
};

// The bytes read from a line that are still on their way.
class ArrivalQueue {
public:
    // Bytes read at once are spread over the line time they take, starting
    // now or when the line's previous byte is through. Speed 0: at once.
    void Spread(const std::uint8_t* bytes, std::size_t count, double speed);
    // The bytes through the line by `now` (all of them when `all`), in order.
    std::vector<Arriving> Take(Clock::time_point now, bool all = false);
    bool Empty() const { return line_.empty(); }
    Clock::time_point NextAt() const { return line_.front().at; }
    void Clear() { line_.clear(); }

private:
    std::deque<Arriving> line_;
    Clock::time_point free_; // when the last of them is through
};

// poll() until `wake` at the latest, with sub-millisecond resolution.
void PollUntil(struct pollfd* fds, nfds_t count, Clock::time_point wake);
// Bytes waiting to be read on a descriptor (0 for a closed one).
int Pending(int fd);
// Sleeps until the absolute time `until`; false when `stop` came first.
bool SleepUntil(Clock::time_point until, const std::atomic<bool>& stop);
// Writes every byte, waiting a little while nobody reads the other side;
// false when the far end is gone, after a second without progress, or on stop.
bool WriteAll(int fd, const std::uint8_t* data, std::size_t count, const std::atomic<bool>& stop);

// Called with each run of bytes just before it is written.
using RecordRun = std::function<void(const std::uint8_t* bytes, std::size_t count)>;

// Writes the bytes as a line at `speed` delivers them: each when its last
// bit is through, against deadlines counted from the start, so that late
// wake-ups do not add up (a late one sends what is due at once). Speed 0
// writes them at once. False when the far end is gone or on stop.
bool SendPaced(int fd, const std::vector<std::uint8_t>& bytes, double speed, const std::atomic<bool>& stop,
               const RecordRun& record);
// Hands a run of bytes on once it is through the line; false: the far end is gone.
using WriteRun = std::function<bool(const std::uint8_t* bytes, std::size_t count)>;
// The same, handing each run to `write` instead of a descriptor.
bool SendPaced(const std::vector<std::uint8_t>& bytes, double speed, const std::atomic<bool>& stop,
               const RecordRun& record, const WriteRun& write);
// A frame for a receiver that acts only on whole frames (the meters): each
// byte is recorded at its time on the line as SendPaced does, and the frame
// is written in one piece when its last byte is through. A pause of this
// thread then cannot leave a gap inside the frame that the receiver would
// take for its end.
bool SendFramePaced(int fd, const std::vector<std::uint8_t>& frame, double speed,
                    const std::atomic<bool>& stop, const RecordRun& record);

} // namespace sim
