// The scan of a whole line and the batch read of its meters against the
// simulator with real line timing (PC line 115200 bit/s, RS-485 at 9600 and
// 57600), side by side in one run: each run's total time, the waits and line
// times it had to spend, and their ratio (goals: scan 1.1, batch 1.2); and
// the scan of a line that also has slow meters (answers after 150 and 600 ms):
// what each slow meter adds beyond that (goal: at most one long wait).
#include "ArchiveBench.h"
#include "adapter/Dataio.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"
#include "serial/LineDriver.h"
#include "sim/LineTiming.h"
#include "sim/Simulator.h"
#include "support/Pty.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>

namespace {

constexpr int PcSpeed = 115200;
const int MeterAddresses[] = {1, 5, 17, 30, 200};
// The SendPacket exchange on the PC line: 0x11, 0x22, the 7-byte block, the status.
constexpr std::size_t PacketExchangeBytes = 10;

double Seconds(std::chrono::nanoseconds ns) {
    return std::chrono::duration<double>(ns).count();
}

// Slow meters beside the five: address and answer delay in milliseconds.
constexpr std::pair<int, int> SlowMeters[] = {{60, 150}, {120, 600}};

sim::SimOptions Line(std::uint8_t speedCode, bool slowMeters = false) {
    sim::SimOptions o;
    o.PaceBaud = sim::PacePortSpeed;
    o.PaceRs485 = true;
    o.Settings.SpeedCode = speedCode;
    o.MeterAddress = MeterAddresses[0];
    for (std::size_t i = 1; i < std::size(MeterAddresses); ++i) {
        sim::MeterSetup m;
        m.Address = MeterAddresses[i];
        o.MoreMeters.push_back(m);
    }
    for (const auto& [address, delayMs] : SlowMeters) {
        if (!slowMeters) break;
        sim::MeterSetup m;
        m.Address = address;
        m.DelayMs = delayMs;
        o.MoreMeters.push_back(m);
    }
    return o;
}

struct Rig : ScanObserver, BatchObserver {
    explicit Rig(std::uint8_t code, bool slowMeters = false) : simulator(Line(code, slowMeters)) {
        simulator.Start();
    }
    sim::Simulator simulator;
    Rs232Port port{simulator.PortPath(), PcSpeed};
    AdapterLink link{[this] { return &port; }, [] { return LinkSettings{.LinkMode = 1}; }};
};

void Report(benchmark::State& state, const char* what, double seconds, double spent) {
    state.counters["total_s"] = seconds;
    state.counters["spent_s"] = spent;
    state.counters["ratio"] = seconds / spent;
    std::printf("%-28s total %7.3f s, waits and line times %7.3f s, ratio %.3f\n", what, seconds, spent,
                seconds / spent);
}

// arg 0: the gateway's speed code (103: 9615, 16: 58824 bit/s); arg 1: 1
// with the slow meters.
void BM_Scan(benchmark::State& state) {
    const auto code = static_cast<std::uint8_t>(state.range(0));
    const bool slow = state.range(1) != 0;
    Rig rig(code, slow);
    const double speed = sim::SpeedOfCode(code);
    const int waitMs = ScanWait(speed, PcSpeed).TotalMs;
    LineDriver driver(
        [&] { return &rig.port; },
        [&](const std::uint8_t* b, std::int32_t n) { return rig.link.SendPacketExchange(b, n); });
    rig.link.SetStraySink([&](const std::uint8_t* b, std::size_t n) { driver.Found(b, n); });
    LineScan scan(rig, driver);
    driver.Attach(&scan);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        scan.Start(FirstMeterAddress, LastMeterAddress, waitMs);
        RunLine(driver, {.Running = [&] { return scan.Running(); },
                         .Tick = [&](bool gone) { scan.Tick(gone); },
                         .MsUntilDue = [&] { return scan.MsUntilDue(); }});
        const double seconds = Seconds(std::chrono::steady_clock::now() - start);
        // Every address: the exchange with the gateway, then the wait (or
        // the answer's time where one came).
        double spent = 0;
        int found = 0, foundSlow = 0;
        for (const ScanResult& r : scan.Results()) {
            spent += Seconds(sim::LineTime(PacketExchangeBytes, PcSpeed));
            const bool ownWait = r.AnswerMs >= 0 && r.Kind == ScanResultKind::Identified;
            spent += ownWait ? r.AnswerMs / 1000.0 : waitMs / 1000.0;
            found += r.Kind == ScanResultKind::Identified;
            foundSlow += r.Kind == ScanResultKind::Late || r.Kind == ScanResultKind::Slow;
        }
        if (found != static_cast<int>(std::size(MeterAddresses)) ||
            foundSlow != (slow ? static_cast<int>(std::size(SlowMeters)) : 0))
            state.SkipWithError("not every meter found");
        char what[64];
        std::snprintf(what, sizeof what, "scan 1..247 at %d (wait %d ms)%s", static_cast<int>(speed + 0.5),
                      waitMs, slow ? ", 2 slow" : "");
        Report(state, what, seconds, spent);
        if (slow) {
            // All the time beyond the waits and line times, as if the slow
            // meters alone had cost it, per slow meter, against one long wait.
            const double extra = (seconds - spent) / static_cast<double>(std::size(SlowMeters));
            state.counters["extra_per_slow_s"] = extra;
            std::printf("%-28s each slow meter adds at most %.3f s (goal: at most %.3f s, one long wait)\n",
                        "", extra, DefaultLongWaitMs / 1000.0);
        }
    }
}

void BM_Batch(benchmark::State& state) {
    const auto code = static_cast<std::uint8_t>(state.range(0));
    Rig rig(code);
    TempDir dir;
    LineDriver driver(
        [&] { return &rig.port; },
        [&](const std::uint8_t* b, std::int32_t n) { return rig.link.SendPacketExchange(b, n); });
    ArchiveBatch batch(
        rig,
        [&](const RequestBlock& b) {
            driver.Request(b.data(), static_cast<std::int32_t>(b.size()), {.Function = b[2]});
        },
        ',');
    driver.Attach(&batch);
    for (auto _ : state) {
        rig.simulator.ClearTranscript();
        const auto start = std::chrono::steady_clock::now();
        batch.Start(BatchJobs({std::begin(MeterAddresses), std::end(MeterAddresses)}, BatchArchives::Day,
                              dir.Path()));
        RunLine(driver, {.Running = [&] { return batch.Running(); },
                         .Tick = [&](bool gone) { batch.Tick(gone); },
                         .MsUntilDue = {}});
        const double seconds = Seconds(std::chrono::steady_clock::now() - start);
        for (const BatchRow& row : batch.Rows())
            if (!row.Complete) state.SkipWithError("a meter was not read");
        char what[64];
        std::snprintf(what, sizeof what, "batch day x5 at %d",
                      static_cast<int>(sim::SpeedOfCode(code) + 0.5));
        Report(state, what, seconds,
               LineLimitSeconds(rig.simulator.Transcript(), PcSpeed, sim::SpeedOfCode(code)));
    }
}

BENCHMARK(BM_Scan)
    ->Args({103, 0})
    ->Args({16, 0})
    ->Args({103, 1})
    ->Args({16, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(BM_Batch)->Arg(103)->Arg(16)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
