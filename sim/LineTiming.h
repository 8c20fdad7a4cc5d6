// Time on a serial line: 10 bits a byte (start bit, 8 data bits, stop bit),
// and the silence after which a Modbus RTU receiver takes a frame as ended.
// The simulator paces its lines with these; whoever measures an exchange
// against the simulator computes the time its bytes must take with them.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace sim {

inline constexpr int BitsPerByte = 10;

// The speed the gateway's RS-485 line runs at for a speed code: 1000000 /
// (code + 1) bit/s (16 -> 58824, 25 -> 38462, 51 -> 19231, 103 -> 9615,
// 207 -> 4808).
constexpr double SpeedOfCode(std::uint8_t code) {
    return 1'000'000.0 / (code + 1);
}

// How long `bytes` bytes take on a line of `bitsPerSecond`; zero for a line
// without a speed (not paced).
constexpr std::chrono::nanoseconds LineTime(std::size_t bytes, double bitsPerSecond) {
    if (bitsPerSecond <= 0) return std::chrono::nanoseconds(0);
    double ns = static_cast<double>(bytes) * BitsPerByte * 1e9 / bitsPerSecond;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns + 0.5));
}

// Lines faster than this end a frame after a fixed silence. The margin lets
// a divider's approximation of 19200 (19231 from speed code 51) count as
// 19200, as a receiver's clock tolerance would.
inline constexpr double FixedSilenceAbove = 19200 * 1.02;
inline constexpr std::chrono::nanoseconds FixedSilence = std::chrono::microseconds(1750);

// The silence that ends a Modbus RTU frame: 3.5 character times at the
// line's speed, or 1.75 ms on lines faster than 19200 bit/s.
constexpr std::chrono::nanoseconds EndOfFrameSilence(double bitsPerSecond) {
    if (bitsPerSecond > FixedSilenceAbove) return FixedSilence;
    if (bitsPerSecond <= 0) return std::chrono::nanoseconds(0);
    double ns = 3.5 * BitsPerByte * 1e9 / bitsPerSecond;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(ns + 0.5));
}

// One Modbus exchange on the meter line as the simulator times it: the
// request, its end-of-frame silence (the meter knows the request has ended
// only then), the meter's processing time, the answer, and the silence after
// which the gateway takes the answer as ended.
constexpr std::chrono::nanoseconds MeterExchangeTime(std::size_t requestBytes, std::size_t answerBytes,
                                                     double bitsPerSecond,
                                                     std::chrono::nanoseconds processing = {}) {
    return LineTime(requestBytes, bitsPerSecond) + EndOfFrameSilence(bitsPerSecond) + processing +
           LineTime(answerBytes, bitsPerSecond) + EndOfFrameSilence(bitsPerSecond);
}

} // namespace sim
