// The simulated USB adapter's hand-over rule on a clock the test sets: bytes
// go to the PC at the next tick of the latency timer, or at once when a
// packet of 62 is full; latency 0 is no adapter. And the adapter on the
// simulator's line, following its fake driver attribute as the program
// lowers it.
#include "serial/AdapterLatency.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "sim/UsbAdapter.h"
#include "support/Pty.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

using namespace std::chrono_literals;
using Clock = sim::UsbHandOver::Clock;

std::vector<std::uint8_t> Numbered(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

class UsbHandOverRule : public ::testing::Test {
protected:
    void Put(std::size_t count, std::chrono::milliseconds at, std::chrono::milliseconds latency = 16ms) {
        const auto bytes = Numbered(count);
        rule.Put(bytes.data(), bytes.size(), t0 + at, latency);
    }
    std::chrono::milliseconds Due() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(rule.Due().value() - t0);
    }
    std::size_t Take(std::chrono::milliseconds at) { return rule.Take(t0 + at).size(); }

    Clock::time_point t0 = Clock::now();
    sim::UsbHandOver rule{t0};
};

TEST_F(UsbHandOverRule, BytesWaitForTheNextTickOfTheTimer) {
    Put(1, 3ms);
    EXPECT_EQ(Due(), 16ms);
    EXPECT_EQ(Take(15ms), 0u);
    Put(2, 10ms); // joins the wait, does not move it
    EXPECT_EQ(Take(16ms), 3u);
    EXPECT_FALSE(rule.Due());
    // The timer kept running: ticks at 32, 48, ...
    Put(1, 40ms);
    EXPECT_EQ(Due(), 48ms);
    EXPECT_EQ(Take(48ms), 1u);
}

TEST_F(UsbHandOverRule, AFullPacketGoesAtOnceAndRestartsTheTimer) {
    Put(61, 1ms);
    EXPECT_EQ(Due(), 16ms);
    Put(1, 5ms);
    EXPECT_EQ(Due(), 5ms);
    EXPECT_EQ(Take(5ms), sim::UsbPacketBytes);
    // More than a packet at once: the full packet now, the rest a latency later.
    Put(70, 6ms);
    EXPECT_EQ(Take(6ms), sim::UsbPacketBytes);
    EXPECT_EQ(rule.Waiting(), 8u);
    EXPECT_EQ(Due(), 22ms);
    EXPECT_EQ(Take(22ms), 8u);
}

TEST_F(UsbHandOverRule, TheLatencyInForceWhenAWaitStartsCountsAndZeroIsNoAdapter) {
    Put(1, 2ms);
    EXPECT_EQ(Take(16ms), 1u);
    Put(1, 20ms, 1ms); // lowered meanwhile
    EXPECT_EQ(Due(), 20ms);
    EXPECT_EQ(Take(20ms), 1u);
    Put(5, 30ms, 0ms);
    EXPECT_EQ(Due(), 30ms);
    EXPECT_EQ(Take(30ms), 5u);
}

TEST(UsbAdapterOnTheLine, FollowsTheAttributeTheProgramLowersAndPassesEveryByte) {
    TempDir dir;
    sim::SimOptions options;
    options.AdapterLatencyMs = 16;
    options.AdapterSysfs = dir.File("sys");
    sim::Simulator simulator(options);
    simulator.Start();
    EXPECT_EQ(simulator.AdapterLatencyMs(), 16);
    SerialDriverAccess driver;
    driver.SysfsRoot = dir.File("sys");
    driver.GetLowLatency = [](int) { return std::optional<bool>(); };
    SetSerialDriverForTests(driver);
    {
        Rs232Port port(simulator.PortPath(), 115200);
        EXPECT_EQ(simulator.AdapterLatencyMs(), 1);
        const std::vector<std::uint8_t> sent = Numbered(150);
        simulator.EmitBytes(sent);
        std::vector<std::uint8_t> got(sent.size());
        std::uint32_t count = 0;
        port.ReadBlock(got.data(), static_cast<int>(got.size()), count);
        EXPECT_EQ(got, sent);
        EXPECT_TRUE(simulator.WaitIdle(2000));
    }
    SetSerialDriverForTests(SerialDriverAccess{});
    EXPECT_EQ(simulator.AdapterLatencyMs(), 16);
}

} // namespace
