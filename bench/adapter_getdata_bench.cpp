// GetData of 64 bytes at 115200 bit/s: the happy path never sleeps, so one
// exchange takes about the line time of its bytes. Reports the time per
// exchange next to the bound 1.5 x line time + 20 ms.
#include "adapter/Dataio.h"
#include "app/Options.h"
#include "serial/Rs232.h"
#include "support/Pty.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int Baud = 115200;
constexpr int Count = 64;
// PC: B0, "ZP", command, 5-byte header; adapter: DD, 01, 00, data, trailing.
constexpr int LineBytes = 1 + 2 + 1 + 5 + 1 + 1 + 1 + Count + 1;
constexpr double LineMs = LineBytes * 10.0 * 1000.0 / Baud;
constexpr double BoundMs = 1.5 * LineMs + 20.0;

// A minimal adapter that answers every GetData at once.
class QuickAdapter {
public:
    explicit QuickAdapter(PtyPair& pty) : pty_(pty), thread_([this] { Run(); }) {}
    ~QuickAdapter() {
        stop_ = true;
        thread_.join();
    }

private:
    bool Take(int n) {
        while (n > 0 && !stop_) {
            struct pollfd p {pty_.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            std::uint8_t b[16];
            ssize_t got = read(pty_.Master(), b, std::min(n, 16));
            if (got > 0) n -= static_cast<int>(got);
        }
        return !stop_;
    }
    void Run() {
        std::vector<std::uint8_t> data(Count + 1, 0x5A);
        while (Take(1)) {
            pty_.Send({0xDD});
            if (!Take(3)) break;
            pty_.Send({0x01});
            if (!Take(5)) break;
            pty_.Send({0x00});
            pty_.Send(data);
        }
    }
    PtyPair& pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void GetData64(benchmark::State& state) {
    PtyPair pty;
    MainPort = new Rs232Port(pty.SlavePath(), Baud);
    AppOptions.LinkMode = 1;
    QuickAdapter adapter(pty);
    std::uint8_t buf[Count];
    for (auto _ : state) {
        if (!GetData(0x81, 0x58, 0, Count, buf)) state.SkipWithError("GetData failed");
    }
    delete MainPort;
    MainPort = nullptr;
    state.counters["line_ms"] = LineMs;
    state.counters["bound_ms"] = BoundMs;
}
BENCHMARK(GetData64)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
