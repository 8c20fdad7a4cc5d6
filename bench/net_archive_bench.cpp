// The day archive read by the command line over network ports, side by side
// with the same read on the simulator's pseudo-terminal: through ser2net on
// loopback (raw TCP and RFC 2217; goal within 1.1x of the pseudo-terminal),
// and through the simulator's own listener holding every run of bytes 20 ms
// each way. There the goal is the line time plus one network round trip for
// each time the program waits for the gateway, times 1.2: a late answer must
// cost its lateness, never a time-out. The round trips counted per Modbus
// request are printed.
#include "ArchiveBench.h"
#include "sim/LineTiming.h"
#include "sim/NetListen.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"
#include "support/Ser2net.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int PcSpeed = 115200;
constexpr std::uint8_t SpeedCode = 51; // 19231 bit/s on the meter line
constexpr int DelayMs = 20;
constexpr int Reads = 3;

enum Path { Pty = 0, Raw, Rfc2217, Delayed };
const char* const PathNames[] = {"pseudo-terminal", "ser2net raw TCP", "ser2net RFC 2217",
                                 "raw TCP, 20 ms each way"};

struct Result {
    double seconds = 0, lineLimit = 0;
    int turnarounds = 0, requests = 0;
};
Result results[4];
bool ran[4] = {};

// Times the program waits for the gateway (a run of the PC's bytes followed
// by the gateway's), and the Modbus requests (runs of bytes to the meters).
void CountTurns(const std::vector<sim::TraceEntry>& trace, Result& r) {
    sim::Direction pc = sim::Direction::ToPc, meter = sim::Direction::FromMeter;
    for (const auto& e : trace) {
        if (e.Dir == sim::Direction::FromPc || e.Dir == sim::Direction::ToPc) {
            if (e.Dir == sim::Direction::ToPc && pc == sim::Direction::FromPc) ++r.turnarounds;
            pc = e.Dir;
        } else {
            if (e.Dir == sim::Direction::ToMeter && meter == sim::Direction::FromMeter) ++r.requests;
            meter = e.Dir;
        }
    }
}

void BM_DayArchive(benchmark::State& state) {
    const auto path = static_cast<Path>(state.range(0));
    sim::SimOptions options;
    options.PaceBaud = PcSpeed;
    options.PaceRs485 = true;
    options.Settings.SpeedCode = SpeedCode;
    sim::Simulator simulator(options);
    simulator.Start();
    TempDir dir;
    ScopedExecutableDir exeDir(dir.Path());
    std::unique_ptr<Ser2netServer> ser2net;
    std::unique_ptr<sim::NetListener> listener;
    std::string port = simulator.PortPath();
    if (path == Raw || path == Rfc2217) {
        ser2net = std::make_unique<Ser2netServer>(simulator.PortPath(), dir, PcSpeed);
        if (!ser2net->Started()) {
            state.SkipWithError("ser2net did not start");
            return;
        }
        port = path == Raw ? ser2net->RawAddress() : ser2net->RfcAddress();
    } else if (path == Delayed) {
        listener = std::make_unique<sim::NetListener>(
            simulator.PortPath(), sim::NetListenOptions{.delayMs = DelayMs, .speed = PcSpeed});
        listener->Start();
        port = listener->Address();
    }
    Result best;
    for (auto _ : state) {
        for (int i = 0; i < Reads; ++i) {
            simulator.ClearTranscript();
            const auto start = std::chrono::steady_clock::now();
            const CliResult r = Cli({"day", "--port", port, "--link", "i2c", "-o", dir.File("day.txt")});
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (r.status != 0) {
                state.SkipWithError(r.err.c_str());
                return;
            }
            if (i == 0 || seconds < best.seconds) {
                best = Result{};
                best.seconds = seconds;
                const auto trace = simulator.Transcript();
                best.lineLimit = LineLimitSeconds(trace, PcSpeed, sim::SpeedOfCode(SpeedCode));
                CountTurns(trace, best);
            }
            if (ser2net) Ser2netServer::LetGo(); // ser2net lets the device go before the next client
        }
        state.SetIterationTime(best.seconds);
    }
    results[path] = best;
    ran[path] = true;
    state.SetLabel(PathNames[path]);
    state.counters["round_trips_per_request"] =
        best.requests > 0 ? static_cast<double>(best.turnarounds) / best.requests : 0;
}

BENCHMARK(BM_DayArchive)->DenseRange(Pty, Delayed)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    RunHeadless(argc, argv);
    std::printf("\nDay archive (31 rows), PC line %d bit/s, meter line %.0f bit/s; best of %d reads.\n",
                PcSpeed, sim::SpeedOfCode(SpeedCode), Reads);
    std::printf("| path | time s | requests | round trips | per request | basis s | ratio | goal |\n"
                "|---|---|---|---|---|---|---|---|\n");
    for (int p = Pty; p <= Delayed; ++p) {
        if (!ran[p]) continue;
        const Result& r = results[p];
        // Through ser2net the basis is the pseudo-terminal read (goal 1.1);
        // delayed, the line time and a round trip for every turn (goal 1.2).
        double basis = 0, goal = 0;
        if ((p == Raw || p == Rfc2217) && ran[Pty]) basis = results[Pty].seconds, goal = 1.1;
        if (p == Delayed) basis = r.lineLimit + r.turnarounds * 2 * DelayMs / 1000.0, goal = 1.2;
        std::printf("| %s | %.2f | %d | %d | %.1f |", PathNames[p], r.seconds, r.requests, r.turnarounds,
                    r.requests > 0 ? static_cast<double>(r.turnarounds) / r.requests : 0.0);
        if (basis > 0)
            std::printf(" %.2f | %.3f | %.1f |\n", basis, r.seconds / basis, goal);
        else
            std::printf(" - | - | - |\n");
    }
    return 0;
}
