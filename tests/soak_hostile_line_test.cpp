// The hostile line as a soak test: a far end that answers random bytes,
// floods, falls silent and hangs up at random moments, for a bounded time,
// against the adapter exchanges, the console's receive tick with a real
// archive transfer, and the packet monitor's receive loop. Every call must
// end within its time-out, the process must not spin while the far end is
// silent or gone, and (under the sanitizers) nothing may be written past a
// buffer. SOAK_SEED=<n> repeats a run's choices (the timing is the machine's).
#include "adapter/Dataio.h"
#include "base/StrToInt.h"
#include "base/Timing.h"
#include "console/ConsoleLogic.h"
#include "monitor/Uviewpacket.h"
#include "serial/Rs232.h"
#include "support/FakeConsoleScreen.h"
#include "support/HostilePeer.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

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

// Short time-outs, so that a silent far end costs little and a run sees many.
TimingConstants SoakTiming() {
    TimingConstants t;
    t.ReadTimeoutBaseMs = 150;
    t.ReadTimeoutPerByteMs = 1;
    t.WriteTimeoutPerByteMs = 1;
    t.PurgePauseMs = 30;
    t.ClosePauseMs = 0;
    t.ConsoleTickMs = 25;
    t.ArchiveAnswerTimeoutMs = 500;
    return t;
}

// How long each part of the run lasts.
constexpr long long RunMs = 9000;
// Slack for a loaded two-core machine under the sanitizers.
constexpr long long SlackMs = 1000;

// The longest an exchange may wait at these constants: three attempts, each
// ended by at most one time-out (a SendPacket attempt by two) and a purge,
// then the data phase's read of `count` bytes and its purge.
long long ExchangeBoundMs(bool packet, int count) {
    const TimingConstants t = SoakTiming();
    const long long oneByte = t.ReadTimeoutPerByteMs + t.ReadTimeoutBaseMs;
    if (packet) return 3 * (2 * oneByte + t.PurgePauseMs);
    return 3 * (oneByte + t.PurgePauseMs) + t.ReadTimeoutPerByteMs * count + t.ReadTimeoutBaseMs +
           2 * t.PurgePauseMs;
}

class HostileLine : public ::testing::Test {
protected:
    // A phase of the far end: its mood, its length, and the process's CPU and
    // wall time at its start.
    struct Phase {
        Mood mood = Mood::Silent;
        long long startWall = 0, startCpu = 0, lengthMs = 0;
    };

    void SetUp() override {
        const char* fixed = std::getenv("SOAK_SEED");
        seed = fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
        std::printf("SOAK_SEED=%u\n", seed);
        RecordProperty("seed", std::to_string(seed));
        random.seed(seed);
        SetTimingForTests(SoakTiming());
        peer = std::make_unique<HostilePeer>(seed);
        NewLine();
        end = WallMs() + RunMs;
        phase = StartPhase();
    }
    void TearDown() override {
        port.reset();
        peer.reset();
        SetTimingForTests(TimingConstants{});
        TheRecorder().Clear();
        std::printf("%d phases, %d silent and %d hung up checked for spinning; %lld bytes from the far end\n",
                    phases, silentPhases, hungUpPhases, sentByPeer);
    }

    // A port on a fresh line, the old one closed.
    void NewLine() {
        port.reset();
        port = std::make_unique<Rs232Port>(peer->NewLine(), 115200);
        ASSERT_TRUE(port->Ok) << port->LastError;
    }
    // The moods in rounds, each round shuffled, so that every run meets each.
    Phase StartPhase() {
        if (moods.empty()) {
            moods = {Mood::Answer, Mood::Answer, Mood::Flood, Mood::Silent, Mood::HangUp};
            std::shuffle(moods.begin(), moods.end(), random);
        }
        const Mood mood = moods.back();
        moods.pop_back();
        peer->SetMood(mood);
        ++phases;
        return {mood, WallMs(), ProcessCpuMs(), std::uniform_int_distribution<int>(300, 1200)(random)};
    }
    // At the end of a phase: the quiet check, a new line after a hang-up,
    // the next phase. False once the run's time is up.
    bool Running() {
        if (WallMs() - phase.startWall < phase.lengthMs) return true;
        CheckQuiet();
        sentByPeer = peer->BytesSent.load();
        if (WallMs() >= end) return false;
        if (peer->Gone()) NewLine();
        phase = StartPhase();
        return true;
    }
    // While the far end is silent or gone the program waits without spinning.
    void CheckQuiet() {
        if (phase.mood != Mood::Silent && phase.mood != Mood::HangUp) return;
        const long long wall = WallMs() - phase.startWall;
        const long long cpu = ProcessCpuMs() - phase.startCpu;
        EXPECT_LE(cpu, wall / 5 + 60) << "CPU " << cpu << " ms in " << wall << " ms of a "
                                      << (phase.mood == Mood::Silent ? "silent" : "hung-up") << " line";
        ++(phase.mood == Mood::Silent ? silentPhases : hungUpPhases);
    }

    unsigned seed = 0;
    std::mt19937 random;
    std::unique_ptr<HostilePeer> peer;
    std::unique_ptr<Rs232Port> port;
    LinkSettings settings{.LinkMode = 1};
    AdapterLink link{[this] { return port.get(); }, [this] { return settings; }};
    Phase phase;
    long long end = 0;
    std::vector<Mood> moods;
    int phases = 0, silentPhases = 0, hungUpPhases = 0;
    long long sentByPeer = 0;
};

// Every exchange through the guarded operations, each ending within what its
// attempts allow, its buffer exactly as long as it asked for.
TEST_F(HostileLine, AdapterExchanges) {
    std::uniform_int_distribution<int> any(0, 255);
    int calls = 0, succeeded = 0;
    while (Running()) {
        settings.LinkMode = 1 + any(random) % 2;
        TheRecorder().Clear();
        const int op = any(random) % 4;
        const int count = op == 1 ? any(random) % 200 : 1 + any(random) % 64;
        auto buffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(count));
        std::generate_n(buffer.get(), count, [&] { return static_cast<std::uint8_t>(any(random)); });
        const long long start = WallMs();
        bool ok = false;
        long long bound = 0;
        switch (op) {
        case 0:
            ok = link.WriteData(0x81, 0x58, any(random), buffer.get(), count);
            bound = ExchangeBoundMs(false, 1);
            break;
        case 1:
            ok = link.ReadData(0x81, 0x58, any(random), count, buffer.get());
            bound = ((count + 63) / 64) * ExchangeBoundMs(false, 64);
            break;
        case 2:
            ok = link.WriteValue(0x01, 0x20, any(random), any(random), 1 + any(random) % 4);
            bound = ExchangeBoundMs(false, 1);
            break;
        default:
            buffer[0] = static_cast<std::uint8_t>(count - 1);
            link.SendPacket(buffer.get(), count);
            bound = ExchangeBoundMs(true, 0);
            break;
        }
        const long long took = WallMs() - start;
        EXPECT_LE(took, bound + SlackMs) << "operation " << op << " of " << count << " bytes";
        EXPECT_FALSE(link.LinkBusy);
        ++calls;
        succeeded += ok;
        // On a port that has gone the operations refuse at once; a caller
        // comes back at its timer's pace, not in a loop of its own.
        if (port->NotOpen()) Rs232Port::Pause(Timing().ConsoleTickMs);
    }
    std::printf("%d operations, %d succeeded\n", calls, succeeded);
    EXPECT_GT(calls, 0);
    EXPECT_GT(silentPhases + hungUpPhases, 0);
}

// The console's receive tick at a quickened timer's pace, the identification
// poll every tenth tick and a new day or hour archive whenever the last one
// stalled; requests go out through the adapter link's SendPacket, answers
// come from the hostile line, and the transfer writes its real files.
TEST_F(HostileLine, ConsoleTickWithArchiveTransfer) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    FakeConsoleScreen screen;
    int sentInTick = 0, requests = 0, rows = 0, rowCount = 0;
    ConsoleLogic logic{screen, [this] { return port.get(); },
                       [&](const std::uint8_t* block, std::int32_t count) {
                           ++sentInTick;
                           return link.SendPacket(block, count);
                       },
                       ','};
    int ticks = 0, quietTicks = 20;
    MeterArchive archive = MeterArchive::Hour;
    auto press = [&] { archive == MeterArchive::Day ? logic.Button3Click() : logic.Button4Click(); };
    while (Running()) {
        // At the timer's pace: the line fills up between ticks.
        const long long next = WallMs() + Timing().ConsoleTickMs;
        // A read that has sent nothing for twenty ticks is stopped with its
        // own button; once it has ended a new one starts, day and hour in
        // turn, the panes on and off.
        if (quietTicks >= 20 && logic.ArchiveRunning()) {
            quietTicks = 0;
            press();
        } else if (!logic.ArchiveRunning()) {
            quietTicks = 0;
            screen.panesActive = !screen.panesActive;
            archive = archive == MeterArchive::Day ? MeterArchive::Hour : MeterArchive::Day;
            press();
        }
        sentInTick = 0;
        const long long start = WallMs();
        try {
            logic.Timer1Timer();
            // As the window's timer: only while the identification is polled.
            if (ticks % 10 == 9 && screen.identificationPoll) logic.TimerQueryConfTimer();
        } catch (const EConvertError&) {
            ADD_FAILURE() << "the request fields are valid integers";
        }
        const long long took = WallMs() - start;
        // A tick waits only inside the exchanges it starts.
        EXPECT_LE(took, (sentInTick + 1) * ExchangeBoundMs(true, 0) + SlackMs) << sentInTick << " requests";
        requests += sentInTick;
        quietTicks = sentInTick > 0 ? 0 : quietTicks + 1;
        ASSERT_GE(logic.AnswerDataLen, 0);
        ASSERT_LE(logic.AnswerDataLen, RxBufSize - RxReceiveArea - 1);
        ASSERT_GE(logic.Session.Transfer().RowLen, 0);
        ASSERT_LE(logic.Session.Transfer().RowLen, RowAreaSize);
        ASSERT_LE(logic.Session.Transfer().Shablon.ShablonColumnCount, MaxShablonColumns);
        rows += std::max(0, logic.Session.Transfer().ArhivRowCount - rowCount);
        rowCount = logic.Session.Transfer().ArhivRowCount;
        for (auto& pane : screen.pane)
            pane.clear();
        ++ticks;
        const long long left = next - WallMs();
        if (left > 0) Rs232Port::Pause(static_cast<int>(left));
    }
    std::printf("%d ticks, %d requests, %d rows written, %zu reads ended with a message\n", ticks, requests,
                rows, screen.messages.size());
    EXPECT_GT(requests, 0);
    EXPECT_GT(silentPhases + hungUpPhases, 0);
}

// The packet monitor's loop in its window runs the whole time; the port it
// reaches is replaced by every new line, as the settings dialog would.
TEST_F(HostileLine, PacketMonitorReceiveLoop) {
    TViewPacket window(nullptr, [this] { return port.get(); });
    long long lastTick = WallMs(), longestGap = 0, closedAt = 0;
    bool closed = false;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        const long long now = WallMs();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
        ASSERT_LE(window.Monitor().Framer().Count(), PacketFramer::BufferSize);
        if (closed) return;
        const Phase before = phase;
        if (!Running()) {
            closed = true;
            closedAt = WallMs();
            window.close();
        } else if (phase.startWall != before.startWall) {
            window.Button1Click(); // keeps the view small; the loop's state stays
        }
    });
    driver.start(20);
    window.ReceiveLoop();
    driver.stop();

    EXPECT_TRUE(closed);
    EXPECT_LE(WallMs() - closedAt, SlackMs) << "the loop did not end when the window closed";
    // No pass of the loop may hold the thread longer than one read time-out.
    EXPECT_LE(longestGap, SoakTiming().ReadTimeoutBaseMs + SlackMs);
    EXPECT_GT(silentPhases + hungUpPhases, 0);
}

} // namespace
