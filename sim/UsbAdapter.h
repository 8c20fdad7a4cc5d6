// A USB-serial adapter between the gateway and the PC, as the common chips
// behave: bytes received from the line wait in the chip and are handed to the
// PC in packets, when 62 are waiting (a full 64-byte USB packet less its two
// status bytes) or when the latency timer runs out, whichever comes first.
// The timer restarts at every hand-over, and it also runs out with nothing
// waiting (the chip then sends its status bytes alone), so a byte waits for
// the next tick of the timer: up to the latency, half of it on average.
// Latency 0 hands every byte over at once (no adapter).
//
// The latency can come from a file that stands for the driver's
// `latency_timer` attribute (MakeFakeAdapterSysfs), read afresh whenever a
// wait starts, so that a program that lowers the attribute is followed.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sim {

inline constexpr std::size_t UsbPacketBytes = 62;

// The hand-over rule, without threads: what waits, when it is due.
class UsbHandOver {
public:
    using Clock = std::chrono::steady_clock;
    explicit UsbHandOver(Clock::time_point start = Clock::now()) : last_(start) {}

    // Bytes through the line at `now`; `latency` is the timer in force.
    void Put(const std::uint8_t* bytes, std::size_t count, Clock::time_point now,
             std::chrono::milliseconds latency);
    // When the next hand-over is due; nothing when no byte waits.
    std::optional<Clock::time_point> Due() const { return due_; }
    // The bytes handed over at `now`: full packets, or everything once the
    // timer has run out; empty when nothing is due.
    std::vector<std::uint8_t> Take(Clock::time_point now);
    std::size_t Waiting() const { return waiting_.size(); }
    void Clear();

private:
    // The first tick of the timer at or after `now`, counted from the
    // previous hand-over.
    Clock::time_point NextTick(Clock::time_point now) const;

    Clock::time_point last_; // the previous hand-over (or empty tick)
    std::chrono::milliseconds latency_{0};
    std::deque<std::uint8_t> waiting_;
    std::optional<Clock::time_point> due_;
};

// The rule in a thread of its own: Put() from the line, `hand` called with
// each hand-over from the adapter's thread.
class UsbAdapter {
public:
    using HandOver = std::function<void(const std::vector<std::uint8_t>&)>;
    using LatencySource = std::function<int()>; // milliseconds
    UsbAdapter(HandOver hand, LatencySource latency);
    ~UsbAdapter();
    UsbAdapter(const UsbAdapter&) = delete;
    UsbAdapter& operator=(const UsbAdapter&) = delete;

    void Put(const std::uint8_t* bytes, std::size_t count);
    // No byte waits in the adapter or is being handed over.
    bool Empty() const;
    // Drops what waits (the line was closed).
    void Clear();

private:
    void Run();

    HandOver hand_;
    LatencySource latency_;
    mutable std::mutex m_;
    std::condition_variable wake_;
    UsbHandOver rule_;
    bool handing_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// A sysfs tree under `root` in which the character device `devicePath` (its
// st_rdev) is a port of the usb-serial bus named ttyUSB<minor> whose
// `latency_timer` attribute holds `latencyMs`:
//   root/dev/char/MAJ:MIN/device -> root/bus/usb-serial/devices/ttyUSBn
//   root/bus/usb-serial/devices/ttyUSBn/{latency_timer, subsystem -> ../..}
// Returns the attribute's path; throws std::runtime_error when it cannot.
std::string MakeFakeAdapterSysfs(const std::string& root, const std::string& devicePath, int latencyMs);
// The number in a latency_timer file; `fallback` when it holds none.
int ReadLatencyFile(const std::string& path, int fallback);

} // namespace sim
