// GetData of 64 bytes at 115200 bit/s against the simulated gateway, which
// spaces its bytes to the PC as the line would: the happy path never sleeps,
// so one exchange takes about the line time of its bytes. Reports the time
// per exchange next to the bound 1.5 x line time + 20 ms.
#include "adapter/Dataio.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

constexpr int Baud = 115200;
constexpr int Count = 64;
// PC: B0, "ZP", command, 5-byte header; gateway: DD, 01, 00, data, trailing.
constexpr int LineBytes = 1 + 2 + 1 + 5 + 1 + 1 + 1 + Count + 1;
constexpr double LineMs = LineBytes * 10.0 * 1000.0 / Baud;
constexpr double BoundMs = 1.5 * LineMs + 20.0;

void GetData64(benchmark::State& state) {
    sim::SimOptions options;
    options.PaceBaud = static_cast<int>(state.range(0)); // 0: no pacing, the PC side's own cost
    sim::Simulator gateway(options);
    gateway.Start();
    auto port = std::make_unique<Rs232Port>(gateway.PortPath(), Baud);
    AdapterLink link([&] { return port.get(); }, [] { return LinkSettings{.LinkMode = 1}; });
    std::uint8_t buf[Count];
    for (auto _ : state) {
        if (!link.GetData(0x81, 0x58, 0, Count, buf)) state.SkipWithError("GetData failed");
    }
    state.counters["line_ms"] = LineMs;
    state.counters["bound_ms"] = BoundMs;
}
BENCHMARK(GetData64)->ArgName("pace")->Arg(Baud)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
