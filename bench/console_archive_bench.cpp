// Both archive buttons in the real console window against the simulator with
// real line timing, side by side: the receive loop driven by its 100 ms timer
// alone and driven by the port's bytes as they arrive. Each run is set
// against the time its bytes must take on the two lines (sim/LineTiming.h):
// every byte of the PC line at its speed, and every meter exchange with its
// end-of-frame silences at the meter line's speed.
#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "serial/Rs232.h"
#include "sim/LineTiming.h"
#include "sim/Simulator.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QPushButton>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
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

// A message box would stop the run: a read that stops says why on stderr.
class PrintingPresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
    }
};

// The time the transcript's bytes take on the lines.
double LineLimitSeconds(const std::vector<sim::TraceEntry>& trace, double meterSpeed) {
    std::size_t pcBytes = 0;
    std::chrono::nanoseconds meter{0};
    std::size_t request = 0, answer = 0;
    auto exchange = [&] {
        if (request + answer > 0) meter += sim::MeterExchangeTime(request, answer, meterSpeed);
        request = answer = 0;
    };
    for (const auto& e : trace) {
        switch (e.Dir) {
        case sim::Direction::FromPc:
        case sim::Direction::ToPc:
            ++pcBytes;
            break;
        case sim::Direction::ToMeter:
            if (answer > 0) exchange();
            ++request;
            break;
        case sim::Direction::FromMeter:
            ++answer;
            break;
        }
    }
    exchange();
    return std::chrono::duration<double>(sim::LineTime(pcBytes, PcSpeed) + meter).count();
}

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
    if (hour)
        simulator.SetArchive(sim::ArchiveKind::Hour, sim::DefaultHourArchive(rows));
    else
        simulator.SetArchive(sim::ArchiveKind::Day, sim::DefaultDayArchive(rows));
    simulator.Start();
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    Rs232Port* const previous = MainPort;
    MainPort = new Rs232Port(simulator.PortPath(), PcSpeed);
    AdapterLink link{[] { return MainPort; }, [] { return LinkSettings{}; }};

    double seconds = 0;
    for (auto _ : state) {
        QMdiArea area;
        area.resize(1200, 900);
        area.show();
        TViewRS232* window = CreateOrRaise(&area, ViewRS232, PortAccessor([] { return MainPort; }), link);
        window->ReadOnArrival = onArrival;
        QApplication::processEvents();
        simulator.ClearTranscript();

        QEventLoop loop;
        QTimer check;
        check.setInterval(5);
        QElapsedTimer clock;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (window->Logic().Session.HasOutcome() || clock.elapsed() > 900000) loop.quit();
        });
        clock.start();
        (hour ? window->Button4 : window->Button3)->click();
        check.start();
        loop.exec();
        seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(seconds);
        if (window->Logic().Session.Transfer().ArhivStep != ArchiveState::Finished ||
            window->Logic().Session.Transfer().ArhivRowCount != rows)
            state.SkipWithError("the transfer did not complete");
        window->close();
        QApplication::processEvents();
    }
    const double limit = LineLimitSeconds(simulator.Transcript(), sim::SpeedOfCode(speedCode));
    state.counters["rows"] = rows;
    state.counters["limit_s"] = limit;
    state.counters["ratio"] = seconds / limit;
    const int meterSpeed = static_cast<int>(sim::SpeedOfCode(speedCode) + 0.5);
    const std::string name = std::string(hour ? "hour" : "day") + " " + std::to_string(PcSpeed) + "/" +
                             std::to_string(meterSpeed) + (onArrival ? " on arrival" : " timer alone");
    state.SetLabel(name);
    results.push_back({name, rows, seconds, limit});

    delete MainPort;
    MainPort = previous;
}

// Meter line at 19231 and 9615 bit/s: speed codes 51 and 103.
BENCHMARK(BM_ArchiveButton)
    ->ArgsProduct({{0, 1}, {51, 103}, {0, 1}})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    PrintingPresenter presenter;
    SetMessagePresenter(&presenter);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!results.empty()) {
        std::printf("\n| run | rows | time s | line limit s | ratio |\n|---|---|---|---|---|\n");
        for (const Result& r : results)
            std::printf("| %s | %d | %.2f | %.2f | %.2f |\n", r.name.c_str(), r.rows, r.seconds, r.limit,
                        r.seconds / r.limit);
    }
    return 0;
}
