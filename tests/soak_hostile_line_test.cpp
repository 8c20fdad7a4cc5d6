// The hostile line as a soak test: a far end that answers random bytes,
// floods, falls silent and hangs up at random moments, for a bounded time,
// against the packet monitor's receive loop, the adapter exchanges and the
// console's receive tick with a real archive transfer. Every call must end
// within its time-out, the process must not spin while the far end is silent
// or gone, and (under the sanitizers) nothing may be written past a buffer.
// SOAK_SEED=<n> repeats a run's choices (the timing is the machine's).
#include "base/Timing.h"
#include "monitor/Uviewpacket.h"
#include "serial/Rs232.h"
#include "support/HostilePeer.h"

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

using Mood = HostilePeer::Mood;

long long ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

long long WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Short time-outs, so that a silent far end costs little and the run sees
// many of them.
TimingConstants SoakTiming() {
    TimingConstants t;
    t.ReadTimeoutBaseMs = 150;
    t.ReadTimeoutPerByteMs = 1;
    t.WriteTimeoutPerByteMs = 1;
    t.PurgePauseMs = 20;
    t.ClosePauseMs = 0;
    return t;
}

// Slack for a loaded two-core machine under the sanitizers.
constexpr long long SlackMs = 1000;

class HostileLine : public ::testing::Test {
protected:
    void SetUp() override {
        const char* fixed = std::getenv("SOAK_SEED");
        seed = fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
        std::printf("SOAK_SEED=%u\n", seed);
        RecordProperty("seed", std::to_string(seed));
        random.seed(seed);
        SetTimingForTests(SoakTiming());
        peer = std::make_unique<HostilePeer>(seed);
    }
    void TearDown() override {
        port.reset();
        peer.reset();
        SetTimingForTests(TimingConstants{});
    }

    // A port on a fresh line, the old one closed.
    void NewLine() {
        port.reset();
        port = std::make_unique<Rs232Port>(peer->NewLine(), 115200);
        ASSERT_TRUE(port->Ok) << port->LastError;
    }
    Mood NextMood() {
        const int roll = std::uniform_int_distribution<int>(0, 99)(random);
        if (roll < 40) return Mood::Answer;
        if (roll < 60) return Mood::Flood;
        if (roll < 85) return Mood::Silent;
        return Mood::HangUp;
    }
    int PhaseMs() { return std::uniform_int_distribution<int>(300, 1200)(random); }

    // A phase of the far end: its mood, and the process's CPU time and the
    // wall time from its start.
    struct Phase {
        Mood mood = Mood::Silent;
        long long startWall = 0, startCpu = 0, lengthMs = 0;
    };
    Phase StartPhase() {
        Phase p{NextMood(), WallMs(), ProcessCpuMs(), PhaseMs()};
        peer->SetMood(p.mood);
        return p;
    }
    // While the far end is silent or gone the program waits without spinning.
    void CheckQuiet(const Phase& p) {
        if (p.mood != Mood::Silent && p.mood != Mood::HangUp) return;
        const long long wall = WallMs() - p.startWall;
        const long long cpu = ProcessCpuMs() - p.startCpu;
        EXPECT_LE(cpu, wall / 5 + 60) << "CPU " << cpu << " ms in " << wall << " ms of a "
                                      << (p.mood == Mood::Silent ? "silent" : "hung-up") << " line";
        ++quietPhases;
    }

    unsigned seed = 0;
    std::mt19937 random;
    std::unique_ptr<HostilePeer> peer;
    std::unique_ptr<Rs232Port> port;
    int quietPhases = 0;
};

// The packet monitor's loop runs the whole time; MainPort follows every new
// line as the settings dialog would replace it.
TEST_F(HostileLine, PacketMonitorReceiveLoop) {
    NewLine();
    MainPort = port.get();
    TViewPacket window;
    const long long end = WallMs() + 9000;
    Phase phase = StartPhase();
    long long lastTick = WallMs(), longestGap = 0;
    bool closed = false;
    long long closedAt = 0;

    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        const long long now = WallMs();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ASSERT_LE(window.Framer().Count(), PacketFramer::BufferSize);
        if (closed || now - phase.startWall < phase.lengthMs) return;
        CheckQuiet(phase);
        if (now >= end) {
            closed = true;
            closedAt = WallMs();
            window.close();
            return;
        }
        if (peer->Gone()) {
            MainPort = nullptr;
            NewLine();
            MainPort = port.get();
        }
        window.Button1Click(); // keeps the view small; the loop state stays
        phase = StartPhase();
    });
    driver.start(20);
    window.ReceiveLoop();
    driver.stop();
    MainPort = nullptr;

    EXPECT_TRUE(closed);
    EXPECT_LE(WallMs() - closedAt, SlackMs) << "the loop did not end when the window closed";
    // No pass of the loop may hold the thread longer than one read time-out.
    EXPECT_LE(longestGap, SoakTiming().ReadTimeoutBaseMs + SlackMs);
    EXPECT_GT(quietPhases, 0);
    EXPECT_GT(peer->BytesSent.load(), 0);
}

} // namespace
