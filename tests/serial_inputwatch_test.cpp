// InputWatch on a pseudo-terminal: its std::thread wakes once per arming when
// bytes wait, again when armed while they are still there, and never for a
// port it no longer watches.
#include "base/Timing.h"
#include "serial/InputWatch.h"
#include "support/Pty.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Until `wakes` reaches `count`; false after two seconds.
bool WaitForWakes(const std::atomic<int>& wakes, int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (wakes.load() < count) {
        if (Clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// The test writes at the slave end; the watch looks at the master end.
class InputWatchTest : public ::testing::Test {
protected:
    void SetUp() override { slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY); }
    void TearDown() override { ::close(slave); }
    void Write() { ASSERT_EQ(::write(slave, "x", 1), 1); }

    PtyPair pty;
    int slave = -1;
    std::atomic<int> wakes{0};
    InputWatch watch{[this] { ++wakes; }};
};

TEST_F(InputWatchTest, WakesOncePerArmingWhileBytesWait) {
    watch.Watch(pty.Master());
    Write();
    // Disarmed, it does not look: a quiet time shows no wake came.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(wakes.load(), 0);

    watch.Arm();
    ASSERT_TRUE(WaitForWakes(wakes, 1));
    // The byte is still unread: arming again wakes again, as a socket
    // notifier fires again while bytes are left.
    watch.Arm();
    ASSERT_TRUE(WaitForWakes(wakes, 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(wakes.load(), 2);
}

TEST_F(InputWatchTest, ArmedBeforeTheBytesWakesWhenTheyArrive) {
    watch.Watch(pty.Master());
    watch.Arm();
    std::this_thread::sleep_for(std::chrono::milliseconds(5 * Timing().InputWatchMs));
    EXPECT_EQ(wakes.load(), 0);
    Write();
    EXPECT_TRUE(WaitForWakes(wakes, 1));
}

TEST_F(InputWatchTest, AnotherPortOrNoneDisarms) {
    watch.Watch(pty.Master());
    watch.Arm();
    PtyPair other;
    watch.Watch(other.Master());
    Write(); // at the port no longer watched
    watch.Watch(-1);
    watch.Arm(); // nothing to look at
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(wakes.load(), 0);
}

} // namespace
