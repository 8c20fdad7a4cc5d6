// Reading a 1000-row day archive from the simulated meter with the gateway's
// bytes paced at 115200 bit/s: time per row and per request, with the
// receive loop run as soon as bytes wait (the program's 100 ms timer adds up
// to one tick per request on top).
#include "base/Paths.h"
#include "support/SimConsole.h"

#include <benchmark/benchmark.h>
#include <chrono>

namespace {

void BM_ReadDayArchive1000Rows(benchmark::State& state) {
    const int rows = static_cast<int>(state.range(0));
    sim::SimOptions options;
    options.PaceBaud = 115200;
    sim::Simulator simulator(options);
    simulator.SetArchive(sim::ArchiveKind::Day, sim::DefaultDayArchive(rows));
    simulator.Start();
    TempDir dir;
    SetExecutableDir(dir.Path());

    double seconds = 0;
    std::size_t requests = 0;
    for (auto _ : state) {
        SimConsole console(simulator);
        const auto t0 = std::chrono::steady_clock::now();
        console.logic.Button3Click();
        if (!console.RunTransfer(600000) || console.logic.Session.Transfer().ArhivRowCount != rows)
            state.SkipWithError("the transfer did not complete");
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(seconds);
        requests = console.sent.size();
    }
    state.counters["rows"] = rows;
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["ms_per_row"] = 1000 * seconds / rows;
    state.counters["ms_per_request"] = 1000 * seconds / static_cast<double>(requests);
    state.counters["file_bytes"] = static_cast<double>(dir.Read("day.txt").size());
    SetExecutableDir(std::nullopt);
}
BENCHMARK(BM_ReadDayArchive1000Rows)->Arg(1000)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
