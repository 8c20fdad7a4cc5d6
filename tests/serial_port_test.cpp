// Rs232Port on a pseudo-terminal pair: opening, exclusivity, reads with the
// total time-out, writes, InQueue, Purge, the far end going away.
#include "base/Paths.h"
#include "base/Timing.h"
#include "serial/LineSettings.h"
#include "serial/Rs232.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
long long MsSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Until the port has at least `count` bytes waiting (the pseudo-terminal hands
// bytes on asynchronously); false after two seconds.
bool WaitForQueue(Rs232Port& port, int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (port.InQueue() < count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// Opens ports with a read time-out base of `baseMs`, restored afterwards.
class ScopedReadTimeout {
public:
    explicit ScopedReadTimeout(int baseMs) : saved_(Timing()) {
        TimingConstants t = saved_;
        t.ReadTimeoutBaseMs = baseMs;
        SetTimingForTests(t);
    }
    ~ScopedReadTimeout() { SetTimingForTests(saved_); }

private:
    TimingConstants saved_;
};

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        TimingConstants fast;
        fast.ReadTimeoutBaseMs = 200;
        fast.PurgePauseMs = 50;
        SetTimingForTests(fast);
    }
    void TearDown() override { SetTimingForTests(TimingConstants{}); }
    PtyPair pty;
};

TEST_F(SerialPort, ComNumberMapsToLinkBesideExecutableOrTtyS) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    EXPECT_EQ(Rs232Port::DevicePathFor(3), "/dev/ttyS2");
    dir.LinkCom(3, pty.SlavePath());
    EXPECT_EQ(Rs232Port::DevicePathFor(3), dir.Path() + "ports/COM3");

    Rs232Port port(3, 115200);
    EXPECT_TRUE(port.Ok);
    EXPECT_GE(port.Handle, 0);
}

TEST_F(SerialPort, MissingDeviceFailsWithItsErrno) {
    Rs232Port port(std::string("/nonexistent/ttyX"), 115200);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(port.LastError, ENOENT);
    EXPECT_EQ(port.Handle, -1);
    std::uint32_t got = 1;
    std::uint8_t b;
    port.ReadBlock(&b, 1, got);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port.InQueue(), 0);
}

TEST_F(SerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
    auto* first = new Rs232Port(pty.SlavePath(), 115200);
    ASSERT_TRUE(first->Ok);
    Rs232Port second(pty.SlavePath(), 115200);
    EXPECT_FALSE(second.Ok);
    EXPECT_EQ(second.LastError, EBUSY);
    delete first;
    Rs232Port third(pty.SlavePath(), 115200);
    EXPECT_TRUE(third.Ok);
}

TEST_F(SerialPort, SpeedsOffTheStandardTableAreSet) {
    Rs232Port odd(pty.SlavePath(), 16800);
    ASSERT_TRUE(odd.Ok);
    EXPECT_EQ(ReadLineSpeed(odd.Handle), 16800);
}

// A program that knows only the speed table (Wine's COM ports among them)
// must read the speed back after this one has closed the port.
TEST_F(SerialPort, AStandardSpeedIsLeftAsItsTableCode) {
    { Rs232Port port(pty.SlavePath(), 115200); }
    termios tio{};
    const int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    close(fd);
}

TEST_F(SerialPort, RefusedSettingsLeaveAnUnusablePortThatHoldsNothing) {
    Rs232Port port(pty.SlavePath(), 0);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(port.LastError, EINVAL);
    EXPECT_EQ(port.Handle, -1);
    pty.Send({1, 2});
    EXPECT_EQ(port.InQueue(), 0);
    std::uint8_t b = 0;
    std::uint32_t got = 9;
    port.ReadBlock(&b, 1, got);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(got, 0u);
    Rs232Port other(pty.SlavePath(), 9600); // the failed port keeps nobody out
    EXPECT_TRUE(other.Ok);
}

// A long time-out: a read that waited for it instead of the bytes would take
// seconds.
TEST_F(SerialPort, ReadReturnsAsSoonAsTheWantedBytesArrive) {
    ScopedReadTimeout slow(5000);
    Rs232Port port(pty.SlavePath(), 115200);
    ASSERT_TRUE(port.Ok);
    pty.Send({1});
    std::thread peer([&] { pty.Send({2, 3}); });
    std::uint8_t buf[3] = {};
    std::uint32_t got = 0;
    auto t0 = Clock::now();
    port.ReadBlock(buf, 3, got);
    auto took = MsSince(t0);
    peer.join();
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(buf[2], 3);
    EXPECT_LT(took, 2500);
}

TEST_F(SerialPort, PartialReadEndsAtTheTotalTimeoutWithOkTrue) {
    Rs232Port port(pty.SlavePath(), 115200);
    pty.Send({9, 8, 7, 6});
    std::uint8_t buf[10] = {};
    std::uint32_t got = 0;
    auto t0 = Clock::now();
    port.ReadBlock(buf, 10, got);
    auto took = MsSince(t0);
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(got, 4u);
    EXPECT_GE(took, 200 + 100 - 5);
    EXPECT_LT(took, 200 + 100 + 1000); // ends, though late on a loaded machine
}

TEST_F(SerialPort, WritesArriveInOrderAndZeroBytesWritesNothing) {
    Rs232Port port(pty.SlavePath(), 115200);
    std::int32_t written = -1;
    port.WriteBlock("", 0, written);
    EXPECT_EQ(written, 0);
    const std::uint8_t data[] = {0xB0, 0x5A, 0x50};
    port.WriteBlock(data, 3, written);
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(written, 3);
    EXPECT_EQ(Hex(pty.Receive(3, 1000)), "B0 5A 50");
    EXPECT_EQ(Hex(pty.Receive(-1, 50)), "");
}

// A transfer of nothing after a refused one: Ok is set afresh, nothing is
// taken from the line and nothing put on it.
TEST_F(SerialPort, ATransferOfNothingSucceedsWithoutTouchingTheDevice) {
    Rs232Port port(pty.SlavePath(), 115200);
    pty.Send({1, 2});
    ASSERT_TRUE(WaitForQueue(port, 2));
    std::uint8_t buf[2] = {};
    std::int32_t written = -1;
    std::uint32_t got = 9;
    auto refuseOne = [&] {
        port.Gated = true;
        port.WriteBlock(buf, 1, written);
        ASSERT_FALSE(port.Ok);
        port.Gated = false;
    };

    refuseOne();
    port.WriteBlock(buf, 0, written);
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(written, 0);
    for (int count : {0, -1}) {
        refuseOne();
        port.ReadBlock(buf, count, got);
        EXPECT_TRUE(port.Ok) << count;
        EXPECT_EQ(got, 0u) << count;
    }
    EXPECT_EQ(port.InQueue(), 2);
    EXPECT_EQ(Hex(pty.Receive(-1, 50)), "");
}

// Whatever its size, a transfer on a port that cannot transfer is refused
// with the port's reason.
TEST_F(SerialPort, ATransferOfNothingIsRefusedWhereAnyTransferIs) {
    Rs232Port gated(pty.SlavePath(), 115200);
    gated.Gated = true;
    Rs232Port missing(std::string("/nonexistent/ttyX"), 115200);
    struct Case {
        Rs232Port& port;
        int error;
    };
    for (const Case& c : {Case{gated, EPERM}, Case{missing, EBADF}}) {
        std::uint8_t b = 0;
        std::int32_t written = -1;
        std::uint32_t got = 9;
        c.port.WriteBlock(&b, 0, written);
        EXPECT_FALSE(c.port.Ok);
        EXPECT_EQ(c.port.LastError, c.error);
        EXPECT_EQ(written, 0);
        for (int count : {0, -1}) {
            c.port.Ok = true;
            c.port.LastError = 0;
            c.port.ReadBlock(&b, count, got);
            EXPECT_FALSE(c.port.Ok);
            EXPECT_EQ(c.port.LastError, c.error);
            EXPECT_EQ(got, 0u);
        }
    }
}

// The far end reads nothing: once the line's buffers are full, a byte that
// cannot go out within its time-out fails the write, unlike a read's time-out.
TEST_F(SerialPort, AWriteTheLineCannotTakeFailsWithATimeOut) {
    Rs232Port port(pty.SlavePath(), 115200);
    const std::vector<std::uint8_t> block(1024 * 1024, 0x55);
    std::int32_t written = -1;
    port.WriteBlock(block.data(), static_cast<std::uint32_t>(block.size()), written);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(port.LastError, ETIMEDOUT);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<std::int32_t>(block.size()));
}

TEST_F(SerialPort, InQueueCountsWaitingBytesAndPurgeDiscardsThem) {
    Rs232Port port(pty.SlavePath(), 115200);
    EXPECT_EQ(port.InQueue(), 0);
    pty.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(WaitForQueue(port, 5));
    EXPECT_EQ(port.InQueue(), 5);
    auto t0 = Clock::now();
    EXPECT_TRUE(port.Purge());
    EXPECT_GE(MsSince(t0), 50);
    EXPECT_EQ(port.InQueue(), 0);
}

TEST_F(SerialPort, BytesLeftFromAnEarlierRunAreDiscardedAtOpening) {
    {
        Rs232Port first(pty.SlavePath(), 115200);
        pty.Send({0xAA, 0xBB});
        ASSERT_TRUE(WaitForQueue(first, 2));
    }
    Rs232Port port(pty.SlavePath(), 115200);
    EXPECT_EQ(port.InQueue(), 0);
}

// A long time-out: a read that waited for it would take seconds.
TEST_F(SerialPort, FarEndGoingAwayIsADeviceErrorNotASpin) {
    ScopedReadTimeout slow(5000);
    Rs232Port port(pty.SlavePath(), 115200);
    pty.CloseMaster();
    std::uint8_t b = 0;
    std::uint32_t got = 0;
    auto t0 = Clock::now();
    port.ReadBlock(&b, 1, got);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(port.LastError, EIO);
    EXPECT_LT(MsSince(t0), 2500);
    std::int32_t written = 0;
    port.WriteBlock(&b, 1, written);
    EXPECT_FALSE(port.Ok);
    EXPECT_EQ(written, 0);
}

TEST_F(SerialPort, PauseWaitsTheFullTime) {
    auto t0 = Clock::now();
    EXPECT_EQ(Rs232Port::Pause(40), 0);
    EXPECT_GE(MsSince(t0), 40);
}

TEST_F(SerialPort, DeletingAFailedPortDoesNotFailOrHang) {
    auto* port = new Rs232Port(99, 115200); // /dev/ttyS98 does not exist here
    EXPECT_FALSE(port->Ok);
    delete port;
}

// The real constants. The upper bounds leave room for a loaded machine and
// still tell a time-out per byte or a connected port's base.

// Nothing arriving costs 10 ms + 5000 ms.
TEST(SerialPortRealTime, SilentLineReadTimesOutAfterAbout5010ms) {
    SetTimingForTests(TimingConstants{});
    PtyPair pty;
    Rs232Port port(pty.SlavePath(), 115200);
    std::uint8_t b;
    std::uint32_t got = 7;
    auto t0 = Clock::now();
    port.ReadBlock(&b, 1, got);
    auto took = MsSince(t0);
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took, 5010 - 5);
    EXPECT_LT(took, 5010 + 500);
}

TEST(SerialPortRealTime, PartialReadOfTenBytesEndsAfterAbout5100ms) {
    SetTimingForTests(TimingConstants{});
    PtyPair pty;
    Rs232Port port(pty.SlavePath(), 115200);
    pty.Send({1, 2, 3, 4});
    std::uint8_t buf[10] = {};
    std::uint32_t got = 0;
    auto t0 = Clock::now();
    port.ReadBlock(buf, 10, got);
    auto took = MsSince(t0);
    EXPECT_TRUE(port.Ok);
    EXPECT_EQ(got, 4u);
    EXPECT_EQ(buf[3], 4);
    EXPECT_GE(took, 5100 - 5);
    EXPECT_LT(took, 5100 + 500);
}

} // namespace
