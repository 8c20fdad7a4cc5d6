// A collection pass beside the batch read it is built on, side by side in one
// run, against the simulator with real line timing (PC line 115200 bit/s,
// RS-485 at 19231): five meters, day and hour archives. The batch is
// `configurator-cli day` and `hour` with the address list; the pass is
// `configurator-cli collect` of the same meters into a fresh folder and
// SQLite database (the broker left out: its own benchmark is
// collect_store_bench). Goal: the pass within 1.1x of the batch.
#include "ArchiveBench.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

constexpr int PcSpeed = 115200;
constexpr std::uint8_t SpeedCode = 51; // 19231 bit/s
const int MeterAddresses[] = {1, 5, 17, 30, 200};
constexpr const char* AddressList = "1,5,17,30,200";
constexpr int DayRows = 31, HourRows = 48;

double batchSeconds = 0, passSeconds = 0;

sim::SimOptions Line() {
    sim::SimOptions o;
    o.PaceBaud = PcSpeed;
    o.PaceRs485 = true;
    o.Settings.SpeedCode = SpeedCode;
    o.MeterAddress = MeterAddresses[0];
    for (std::size_t i = 1; i < std::size(MeterAddresses); ++i) {
        sim::MeterSetup m;
        m.Address = MeterAddresses[i];
        m.DayRows = DayRows;
        m.HourRows = HourRows;
        o.MoreMeters.push_back(m);
    }
    return o;
}

double Timed(benchmark::State& state, const std::vector<std::string>& args) {
    const auto start = std::chrono::steady_clock::now();
    const CliResult r = Cli(args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.status != 0) state.SkipWithError(r.err.c_str());
    return seconds;
}

// arg: 0 the batch, 1 the collection pass.
void BM_FiveMeters(benchmark::State& state) {
    const bool pass = state.range(0) == 1;
    sim::Simulator simulator(Line());
    simulator.SetArchive(sim::ArchiveKind::Day, sim::DefaultDayArchive(DayRows));
    simulator.SetArchive(sim::ArchiveKind::Hour, sim::DefaultHourArchive(HourRows));
    simulator.Start();
    TempDir dir;
    ScopedExecutableDir exeDir(dir.Path());
    const std::vector<std::string> line = {
        "--port", simulator.PortPath(), "--speed", std::to_string(PcSpeed), "--link", "i2c"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin() + 1, line.begin(), line.end());
        return args;
    };
    for (auto _ : state) {
        double seconds = 0;
        if (pass) {
            seconds = Timed(state, with({"collect", "--address", AddressList, "--archives", "both",
                                         "--output", dir.File("pass"), "--db", dir.File("pass/archive.db")}));
        } else {
            seconds =
                Timed(state, with({"day", "--address", AddressList, "-o", dir.File("day-{address}.txt")}));
            seconds +=
                Timed(state, with({"hour", "--address", AddressList, "-o", dir.File("hour-{address}.txt")}));
        }
        state.SetIterationTime(seconds);
        (pass ? passSeconds : batchSeconds) = seconds;
    }
    state.SetLabel(pass ? "collect pass" : "batch day + hour");
}

BENCHMARK(BM_FiveMeters)->DenseRange(0, 1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    RunHeadless(argc, argv);
    if (batchSeconds > 0 && passSeconds > 0)
        std::printf("\nFive meters, %d day and %d hour rows each: batch %.2f s, collection pass %.2f s, "
                    "ratio %.3f (goal 1.1)\n",
                    DayRows, HourRows, batchSeconds, passSeconds, passSeconds / batchSeconds);
    return 0;
}
