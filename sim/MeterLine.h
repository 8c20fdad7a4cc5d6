// The meters' end of the RS-485 line: every meter hears every frame the
// gateway puts on the line; the one at the frame's address answers, after
// the request's end-of-frame silence (on a paced line) and its own processing
// time. Addresses without a meter stay silent, as on a real line. Its loop
// runs in a thread of its own; answers are written through libmodbus.
#pragma once
#include "sim/Meter.h"
#include "sim/Shared.h"

#include <functional>
#include <memory>

namespace sim {

// Cuts what the meters hear into request frames: a frame of a function whose
// request length is known (01..06: 8 bytes; 15, 16: 9 + the byte count) ends
// with its last byte; any other frame, and a frame cut short, ends with a
// silence of FrameTimeout.
class RequestFramer {
public:
    static constexpr auto FrameTimeout = std::chrono::milliseconds(50);

    void Add(const std::uint8_t* bytes, std::size_t count, Clock::time_point now);
    // The next frame, if one is complete by `now`, and when its last byte came.
    std::optional<std::vector<std::uint8_t>> Next(Clock::time_point now, Clock::time_point& lastByte);
    bool Empty() const { return bytes_.empty(); }
    // When the bytes held make a frame by silence.
    Clock::time_point Deadline() const { return last_ + FrameTimeout; }

private:
    std::size_t KnownLength() const; // 0 when not known (yet)
    std::vector<std::uint8_t> bytes_;
    Clock::time_point last_;
};

class MeterLine {
public:
    // `pace` gives the speed the line is paced at (0 when it is not).
    MeterLine(Shared& shared, const PtyEnds& line, std::function<double()> pace);

    // The meter thread: until shared.stop.
    void Run();

    // Guarded by shared.m. The first meter is the one the single-meter
    // options and calls describe.
    std::vector<std::unique_ptr<Meter>> meters;
    Meter* Find(int address);

    // Frames heard but not yet answered or dropped.
    bool Busy() const { return busy_; }

private:
    struct Due {
        Clock::time_point at;
        std::vector<std::uint8_t> request;
        int exception;
    };
    void Hear(const std::vector<std::uint8_t>& frame, Clock::time_point received);
    void AnswerDue(modbus_t* ctx);
    void TakeFrames();
    void ReadLine(int fd);
    Clock::time_point NextWake() const;

    Shared& shared_;
    const PtyEnds& line_; // the meters hear its slave side
    std::function<double()> pace_;
    RequestFramer framer_;
    std::vector<Due> due_; // by time
    std::atomic<bool> busy_{false};
};

} // namespace sim
