// Both archive buttons in the real console window against the simulator with
// real line timing, side by side: the receive loop driven by its 100 ms timer
// alone and driven by the port's bytes as they arrive. Each run is set
// against the time its bytes must take on the two lines (sim/LineTiming.h):
// every byte of the PC line at its speed, and every meter exchange with its
// end-of-frame silences at the meter line's speed.
#include "ArchiveBench.h"
#include "sim/LineTiming.h"
#include "sim/Simulator.h"
#include "support/Pty.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int PcSpeed = 115200;
constexpr int HourRows = 1000;
// The timer alone needs at least a tick per request: fewer hour rows then.
constexpr int HourRowsByTimer = 100;

struct Result {
    std::string name;
    int rows = 0;
    double seconds = 0, limit = 0;
};
std::vector<Result> results;

// args: 0 day / 1 hour, the gateway's speed code, 0 timer alone / 1 on arrival.
void BM_ArchiveButton(benchmark::State& state) {
    const bool hour = state.range(0) == 1;
    const auto speedCode = static_cast<std::uint8_t>(state.range(1));
    const bool onArrival = state.range(2) == 1;
    const int rows = hour ? (onArrival ? HourRows : HourRowsByTimer) : 31;

    sim::SimOptions options;
    options.PaceBaud = PcSpeed;
    options.PaceRs485 = true;
    options.Settings.SpeedCode = speedCode;
    sim::Simulator simulator(options);
    TempDir dir;
    ArchiveButtonBench bench(simulator, {.hour = hour,
                                         .onArrival = onArrival,
                                         .rows = rows,
                                         .pcSpeed = PcSpeed,
                                         .meterSpeed = sim::SpeedOfCode(speedCode),
                                         .dir = dir.Path()});
    const ArchiveButtonTimes times = bench.Time(state);
    const double seconds = times.seconds, limit = times.limit;
    state.counters["rows"] = rows;
    state.counters["limit_s"] = limit;
    state.counters["ratio"] = seconds / limit;
    const int meterSpeed = static_cast<int>(sim::SpeedOfCode(speedCode) + 0.5);
    const std::string name = std::string(hour ? "hour" : "day") + " " + std::to_string(PcSpeed) + "/" +
                             std::to_string(meterSpeed) + (onArrival ? " on arrival" : " timer alone");
    state.SetLabel(name);
    results.push_back({name, rows, seconds, limit});
}

// Meter line at 19231 and 9615 bit/s: speed codes 51 and 103.
BENCHMARK(BM_ArchiveButton)
    ->ArgsProduct({{0, 1}, {51, 103}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    RunHeadless(argc, argv);
    if (!results.empty()) {
        std::printf("\n| run | rows | time s | line limit s | ratio |\n|---|---|---|---|---|\n");
        for (const Result& r : results)
            std::printf("| %s | %d | %.2f | %.2f | %.2f |\n", r.name.c_str(), r.rows, r.seconds, r.limit,
                        r.seconds / r.limit);
    }
    return 0;
}
