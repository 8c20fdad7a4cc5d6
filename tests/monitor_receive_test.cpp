// The packet monitor's receive loop without its window, on pseudo-terminals:
// batches and silence counted in ticks, a wake-up with nothing to read, and
// the watch on its own duplicate descriptor following the port.
#include "monitor/PacketMonitor.h"
#include "serial/Rs232.h"
#include "support/Pty.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/stat.h>

namespace {

dev_t DeviceOf(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return st.st_rdev;
}

class Screen : public PacketMonitorScreen {
public:
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override {
        lines.push_back(PacketLineText(bytes, length, cls));
        if (dated) times.emplace_back(dated->ShownLineTime().arrivedMs, dated->ShownLineTime().gapMs);
    }
    void WatchDescriptor(int fd) override {
        // The descriptor given up must still be open: nothing may poll a closed one.
        if (watched >= 0 && fcntl(watched, F_GETFD) == -1) events.push_back("closed before released");
        watched = fd;
        events.push_back(fd < 0 ? "watch none" : "watch");
    }
    void EnableWatch(bool enabled) override { events.push_back(enabled ? "enable" : "disable"); }
    void RestartTicks() override { events.push_back("restart"); }

    std::vector<std::string> lines, events;
    int watched = -1;
    const PacketMonitor* dated = nullptr;
    std::vector<std::pair<std::int64_t, std::int64_t>> times; // arrival, gap
};

using Texts = std::vector<std::string>;

// Waits until the port has `count` bytes waiting (the line delivers them a
// moment after the master wrote them).
void AwaitWaiting(Rs232Port& port, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (port.InQueue() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{port.Handle, POLLIN, 0};
        poll(&p, 1, 10);
    }
    ASSERT_EQ(port.InQueue(), count);
}

class Receive : public ::testing::Test {
protected:
    PtyPair line;
    std::unique_ptr<Rs232Port> port = std::make_unique<Rs232Port>(line.SlavePath(), 115200);
    Screen screen;
    PacketMonitor monitor{screen, [this] { return port.get(); }};
};

TEST_F(Receive, ABatchRestartsTheTicksAndSilenceEndsThePacketOnTheThirdTick) {
    ASSERT_TRUE(port->Ok);
    monitor.Start();
    ASSERT_GE(screen.watched, 0);
    EXPECT_EQ(DeviceOf(screen.watched), DeviceOf(port->Handle));
    EXPECT_EQ(screen.events, Texts{"watch"});

    line.Send(Bytes("23 23 01 02 00 00 00 AA 23 23 05 06"));
    AwaitWaiting(*port, 12);
    monitor.Woken();
    EXPECT_EQ(screen.lines, Texts{"OK   : 01 02 00 00 00 [AA] "});
    EXPECT_EQ(screen.events, (Texts{"watch", "restart"}));
    EXPECT_EQ(port->InQueue(), 0);

    monitor.Tick();
    monitor.Tick();
    EXPECT_EQ(screen.lines.size(), 1u);
    monitor.Tick();
    EXPECT_EQ(screen.lines, (Texts{"OK   : 01 02 00 00 00 [AA] ", "PART : 05 06 "}));

    // A wake-up with nothing to read pauses the watch until the next tick.
    monitor.Woken();
    EXPECT_EQ(screen.events.back(), "disable");
    monitor.Tick();
    EXPECT_EQ(screen.events.back(), "enable");

    // Stopped: ticks are counted, nothing is read or watched.
    monitor.Stop();
    EXPECT_EQ(screen.watched, -1);
    line.Send(Bytes("23 23 01 02 00 00 00 AA"));
    AwaitWaiting(*port, 8);
    const int ticks = monitor.TickCount();
    monitor.Tick();
    EXPECT_EQ(monitor.TickCount(), ticks + 1);
    EXPECT_EQ(port->InQueue(), 8);
    EXPECT_EQ(screen.lines.size(), 2u);
    EXPECT_EQ(std::count(screen.events.begin(), screen.events.end(), "closed before released"), 0);
}

TEST_F(Receive, EachLineIsDatedByItsFirstByteWithTheGapAfterThePreviousLinesLastByte) {
    std::int64_t now = 1000;
    PacketMonitor dated{screen, [this] { return port.get(); }, [&] { return now; }};
    screen.dated = &dated;
    dated.Start();
    line.Send(Bytes("AA BB 23 23 01 02 00 00 00 AA 23 23 05"));
    AwaitWaiting(*port, 13);
    dated.Woken();
    now = 1250;
    line.Send(Bytes("06"));
    AwaitWaiting(*port, 1);
    dated.Woken();
    now = 1400;
    for (int i = 0; i < 3; ++i)
        dated.Tick(); // silence ends the packet begun at 1000, last byte at 1250
    now = 2000;
    line.Send(Bytes("23 23 01 02 00 00 00 AA"));
    AwaitWaiting(*port, 8);
    dated.Woken();
    EXPECT_EQ(screen.lines, (Texts{"BAD  : AA BB ", "OK   : 01 02 00 00 00 [AA] ", "PART : 05 06 ",
                                   "OK   : 01 02 00 00 00 [AA] "}));
    using Times = std::vector<std::pair<std::int64_t, std::int64_t>>;
    EXPECT_EQ(screen.times, (Times{{1000, -1}, {1000, 0}, {1000, 0}, {2000, 750}}));
}

TEST_F(Receive, TheWatchFollowsThePortWhenItIsReplacedOrGone) {
    monitor.Start();
    PtyPair other;
    port.reset();
    port = std::make_unique<Rs232Port>(other.SlavePath(), 115200);
    ASSERT_TRUE(port->Ok);
    monitor.Tick();
    ASSERT_GE(screen.watched, 0);
    EXPECT_EQ(DeviceOf(screen.watched), DeviceOf(port->Handle));
    EXPECT_EQ(screen.events, (Texts{"watch", "watch none", "watch"}));

    // Bytes on the old line are not read; bytes on the new one are.
    line.Send(Bytes("23 23 01 02 00 00 00 B0"));
    other.Send(Bytes("23 23 01 02 00 00 00 A1"));
    AwaitWaiting(*port, 8);
    monitor.Woken();
    EXPECT_EQ(screen.lines, Texts{"OK   : 01 02 00 00 00 [A1] "});

    // No port: nothing is watched, the ticks go on.
    port.reset();
    monitor.Tick();
    EXPECT_EQ(screen.watched, -1);
    monitor.Tick();
    EXPECT_EQ(screen.events.back(), "watch none");
    EXPECT_EQ(std::count(screen.events.begin(), screen.events.end(), "closed before released"), 0);
}

} // namespace
