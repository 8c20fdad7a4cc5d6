// What a USB adapter's latency timer costs, side by side: a GetData of 64
// cells and the day archive (31 rows, in the real console window) against the
// simulator with real line timing at 115200 bit/s, with a simulated adapter
// at 16 ms that the program may not lower, the same adapter lowered by the
// program to 1 ms (its sysfs attribute in a fake tree the simulator follows),
// and no adapter (a pseudo-terminal). Also 100 hour rows each, for the cost of
// a year of hour rows. Each run is set against the time its bytes must take on
// the lines (sim/LineTiming.h).
#include "ArchiveBench.h"
#include "adapter/Dataio.h"
#include "serial/AdapterLatency.h"
#include "serial/Rs232.h"
#include "sim/LineTiming.h"
#include "sim/Simulator.h"
#include "sim/UsbAdapter.h"
#include "support/Pty.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int PcSpeed = 115200;
constexpr std::uint8_t MeterSpeedCode = 51; // 19231 bit/s
constexpr int AdapterDefaultMs = 16;
constexpr int GetDataCells = 64;
constexpr int GetDataRuns = 50;
constexpr int HourRows = 100;
constexpr int HourRowsAYear = 8760;
// GetData: B0, "ZP", command, 5-byte header; gateway: DD, 01, 00, data, trailing.
constexpr int GetDataLineBytes = 1 + 2 + 1 + 5 + 1 + 1 + 1 + GetDataCells + 1;

enum Mode { Adapter16 = 0, Lowered = 1, NoAdapter = 2 };
const char* const ModeNames[] = {"adapter 16 ms", "adapter lowered to 1 ms", "no adapter (pty)"};

struct Result {
    std::string what;
    Mode mode;
    int rows = 0;
    double seconds = 0, limit = 0, latencyMs = 0;
};
std::vector<Result> results;

// The simulator with the adapter of a mode, and the program's view of the
// driver: in its fake sysfs tree (writable only when the program may lower it).
struct Setup {
    explicit Setup(Mode mode) {
        sim::SimOptions options;
        options.PaceBaud = PcSpeed;
        options.PaceRs485 = true;
        options.Settings.SpeedCode = MeterSpeedCode;
        if (mode != NoAdapter) {
            options.AdapterLatencyMs = AdapterDefaultMs;
            options.AdapterSysfs = dir.File("sys");
        }
        simulator = std::make_unique<sim::Simulator>(options);
        if (mode == Adapter16) {
            // Only root may write the attribute, and the driver has no flag.
            const std::string timer = simulator->AdapterTimerPath();
            std::filesystem::permissions(timer, std::filesystem::perms::owner_read);
        }
        SerialDriverAccess access;
        access.SysfsRoot = dir.File("sys");
        access.GetLowLatency = [](int) { return std::optional<bool>(); };
        SetSerialDriverForTests(access);
    }
    ~Setup() { SetSerialDriverForTests(SerialDriverAccess{}); }
    TempDir dir;
    std::unique_ptr<sim::Simulator> simulator;
};

void BM_GetData(benchmark::State& state) {
    const auto mode = static_cast<Mode>(state.range(0));
    Setup setup(mode);
    setup.simulator->Start();
    auto port = std::make_unique<Rs232Port>(setup.simulator->PortPath(), PcSpeed);
    AdapterLink link([&] { return port.get(); }, [] { return LinkSettings{.LinkMode = 1}; });
    std::uint8_t buf[GetDataCells];
    double seconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < GetDataRuns; ++i)
            if (!link.GetData(0x81, 0x58, 0, GetDataCells, buf)) state.SkipWithError("GetData failed");
        seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / GetDataRuns;
        state.SetIterationTime(seconds);
    }
    const double limit = GetDataLineBytes * 10.0 / PcSpeed;
    state.counters["ratio"] = seconds / limit;
    results.push_back(
        {"GetData 64 cells", mode, 1, seconds, limit, setup.simulator->AdapterLatencyMs() * 1.0});
    state.SetLabel(ModeNames[mode]);
}
BENCHMARK(BM_GetData)->DenseRange(0, 2)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// args: mode, 0 day / 1 hour.
void BM_Archive(benchmark::State& state) {
    const auto mode = static_cast<Mode>(state.range(0));
    const bool hour = state.range(1) == 1;
    const int rows = hour ? HourRows : 31;
    Setup setup(mode);
    ArchiveButtonBench bench(*setup.simulator, {.hour = hour,
                                                .onArrival = true,
                                                .rows = rows,
                                                .pcSpeed = PcSpeed,
                                                .meterSpeed = sim::SpeedOfCode(MeterSpeedCode),
                                                .dir = setup.dir.Path()});
    const ArchiveButtonTimes times = bench.Time(state);
    const double seconds = times.seconds, limit = times.limit;
    state.counters["ratio"] = seconds / limit;
    state.SetLabel(ModeNames[mode]);
    results.push_back({hour ? "hour archive" : "day archive", mode, rows, seconds, limit,
                       setup.simulator->AdapterLatencyMs() * 1.0});
}
BENCHMARK(BM_Archive)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    RunHeadless(argc, argv);
    if (results.empty()) return 0;
    std::printf("\n| run | adapter | latency in force ms | rows | time | line limit | ratio |\n"
                "|---|---|---|---|---|---|---|\n");
    double perRow[3] = {0, 0, 0};
    for (const Result& r : results) {
        const bool ms = r.what.starts_with("GetData");
        std::printf("| %s | %s | %.0f | %d | %.3f %s | %.3f %s | %.2f |\n", r.what.c_str(), ModeNames[r.mode],
                    r.latencyMs, r.rows, r.seconds * (ms ? 1000 : 1), ms ? "ms" : "s",
                    r.limit * (ms ? 1000 : 1), ms ? "ms" : "s", r.seconds / r.limit);
        if (r.what == "hour archive") perRow[r.mode] = r.seconds / r.rows;
    }
    if (perRow[Adapter16] > 0 && perRow[Lowered] > 0)
        std::printf("\nA year of hour rows (%d): %.0f s at 16 ms, %.0f s lowered to 1 ms, %.0f s without an "
                    "adapter: 16 ms costs %.0f s (%.1f min)\n",
                    HourRowsAYear, perRow[Adapter16] * HourRowsAYear, perRow[Lowered] * HourRowsAYear,
                    perRow[NoAdapter] * HourRowsAYear, (perRow[Adapter16] - perRow[Lowered]) * HourRowsAYear,
                    (perRow[Adapter16] - perRow[Lowered]) * HourRowsAYear / 60);
    return 0;
}
