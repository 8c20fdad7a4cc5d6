// The simulator's timing model: line time and end-of-frame silence as pure
// functions, and paced lines measured from the receiving side.
#include "sim/LineTiming.h"
#include "sim/PtyLine.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

TEST(LineTiming, LineTimeAndEndOfFrameSilence) {
    EXPECT_EQ(sim::LineTime(64, 115200), nanoseconds(5'555'556));
    EXPECT_EQ(sim::LineTime(1, sim::SpeedOfCode(103)), microseconds(1040)); // 9615 bit/s
    EXPECT_EQ(sim::LineTime(64, 0), nanoseconds(0));                        // not paced

    // 3.5 characters up to 19200 bit/s, a divider's 19231 included; 1.75 ms above.
    EXPECT_EQ(sim::EndOfFrameSilence(9600), nanoseconds(3'645'833));
    EXPECT_EQ(sim::EndOfFrameSilence(19200), nanoseconds(1'822'917));
    EXPECT_EQ(sim::EndOfFrameSilence(sim::SpeedOfCode(51)), microseconds(1820));
    EXPECT_EQ(sim::EndOfFrameSilence(38400), microseconds(1750));
    EXPECT_EQ(sim::EndOfFrameSilence(sim::SpeedOfCode(16)), microseconds(1750));
    EXPECT_EQ(sim::EndOfFrameSilence(115200), microseconds(1750));

    EXPECT_EQ(sim::MeterExchangeTime(8, 7, 9600, 2ms),
              sim::LineTime(8, 9600) + sim::LineTime(7, 9600) + 2 * sim::EndOfFrameSilence(9600) + 2ms);
}

// How far `measured` is off `nominal`, as a fraction.
double Off(Clock::duration measured, nanoseconds nominal) {
    return std::abs(std::chrono::duration<double>(measured).count() /
                        std::chrono::duration<double>(nominal).count() -
                    1.0);
}

// Reads `count` bytes; the time from the first read to the last byte, and
// how many bytes the first read brought.
struct Span {
    Clock::duration time{};
    std::size_t firstRead = 0;
    std::size_t bytes = 0;
};
Span ReceiveSpan(int fd, std::size_t count) {
    Span s;
    Clock::time_point first;
    auto deadline = Clock::now() + 10s;
    std::uint8_t buf[4096];
    while (s.bytes < count && Clock::now() < deadline) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        poll(&p, 1, 100);
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) continue;
        if (s.bytes == 0) {
            first = Clock::now();
            s.firstRead = static_cast<std::size_t>(n);
        }
        s.bytes += static_cast<std::size_t>(n);
        s.time = Clock::now() - first;
    }
    return s;
}

// The meters' side hears a forwarded request whole, after its line time,
// while the record still has each byte at its own time on the line.
TEST(LinePacing, AFrameForTheMetersArrivesInOnePieceAfterItsLineTime) {
    PtyPair pty;
    const int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    const std::vector<std::uint8_t> frame{0x05, 0x04, 0x00, 0x04, 0x00, 0x01, 0x71, 0x8F};
    std::atomic<bool> stop{false};
    std::vector<Clock::time_point> recorded;
    const auto start = Clock::now();
    std::thread sender([&] {
        sim::SendFramePaced(pty.Master(), frame, 4800, stop, [&](const std::uint8_t*, std::size_t count) {
            recorded.insert(recorded.end(), count, Clock::now());
        });
    });
    std::uint8_t got[16] = {};
    const ssize_t first = read(slave, got, sizeof got);
    const auto arrived = Clock::now();
    sender.join();
    EXPECT_EQ(first, 8);
    EXPECT_GE(arrived - start, sim::LineTime(8, 4800));
    ASSERT_EQ(recorded.size(), 8u);
    EXPECT_GE(recorded.back() - recorded.front(), sim::LineTime(6, 4800));
    close(slave);
}

TEST(LinePacing, BlockToThePcTakesItsLineTimeAtThePortsSpeed) {
    sim::SimOptions options;
    options.PaceBaud = sim::PacePortSpeed;
    sim::Simulator s(options);
    s.Start();
    int fd = open(s.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct termios tio {};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);

    // Long enough that scheduling jitter is small against it; the best of a
    // few runs, so that a loaded machine does not decide.
    const std::vector<std::uint8_t> block(2048, 0x55);
    double best = 1.0;
    for (int run = 0; run < 4 && best > 0.05; ++run) {
        std::thread emit([&] { s.EmitBytes(block); });
        Span span = ReceiveSpan(fd, block.size());
        emit.join();
        ASSERT_EQ(span.bytes, block.size());
        best = std::min(best, Off(span.time, sim::LineTime(block.size() - span.firstRead, 115200)));
    }
    EXPECT_LT(best, 0.10);
    close(fd);
}

TEST(LinePacing, ByteFromThePcReachesTheGatewayAfterItsLineTime) {
    sim::SimOptions options;
    options.PaceBaud = 1000; // 10 ms a byte
    sim::Simulator s(options);
    s.Start();
    LineClient pc(s.PortPath());
    auto start = Clock::now();
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "DD");
    // B0 to the gateway, DD back: 20 ms on the line.
    EXPECT_GE(Clock::now() - start, 20ms);
}

TEST(LinePacing, MeterExchangeTakesBothLinesTimesAndTheSilences) {
    sim::SimOptions options;
    options.PaceBaud = 115200;
    options.PaceRs485 = true;
    options.Settings.SpeedCode = 51; // 19231 bit/s
    options.MeterDelayMs = 5;
    sim::Simulator s(options);
    s.Start();
    LineClient pc(s.PortPath());

    // 125 registers: 8 request bytes on the RS-485 line, 255 answer bytes on both lines.
    const double meterSpeed = sim::SpeedOfCode(51);
    const auto nominal = sim::MeterExchangeTime(8, 255, meterSpeed, 5ms) + sim::LineTime(255, 115200);
    double best = 1.0;
    for (int run = 0; run < 4 && best > 0.05; ++run) {
        s.ClearTranscript();
        pc.Send("11");
        ASSERT_EQ(pc.ReceiveHex(1), "22");
        pc.Send("06 01 04 00 64 00 7D");
        ASSERT_EQ(pc.ReceiveHex(1), "00");
        auto start = Clock::now(); // the gateway starts sending the request now
        ASSERT_EQ(pc.Receive(255, 3000).size(), 255u);
        best = std::min(best, Off(Clock::now() - start, nominal));
    }
    EXPECT_LT(best, 0.10);

    // The transcript's times, in microseconds (each truncated: 1 us of slack).
    ASSERT_TRUE(s.WaitIdle(2000));
    std::int64_t requestEnd = 0, answerStart = -1, answerEnd = 0, forwarded = -1;
    for (const auto& e : s.Transcript()) {
        if (e.Dir == sim::Direction::ToMeter) requestEnd = e.Micros;
        if (e.Dir == sim::Direction::FromMeter) {
            if (answerStart < 0) answerStart = e.Micros;
            answerEnd = e.Micros;
        }
        if (e.Dir == sim::Direction::ToPc && answerStart >= 0 && forwarded < 0) forwarded = e.Micros;
    }
    auto us = [](nanoseconds d) { return std::chrono::duration_cast<microseconds>(d).count(); };
    // The meter answers after the request's silence and its processing time;
    EXPECT_GE(answerStart - requestEnd,
              us(sim::EndOfFrameSilence(meterSpeed) + 5ms + sim::LineTime(1, meterSpeed)) - 1);
    EXPECT_GE(answerEnd - answerStart, us(sim::LineTime(254, meterSpeed)) - 1);
    // the gateway forwards the answer after its end-of-frame silence.
    EXPECT_GE(forwarded - answerEnd, us(sim::EndOfFrameSilence(meterSpeed) + sim::LineTime(1, 115200)) - 1);
}

} // namespace
