#include "ArchiveBench.h"

#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "serial/Rs232.h"
#include "sim/LineTiming.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMdiArea>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// How long a read may take before the wait for its outcome gives up.
constexpr int ReadGiveUpMs = 900000;
// How often the wait looks at the read's outcome.
constexpr int OutcomeCheckMs = 5;

class PrintingPresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
    }
};

} // namespace

double LineLimitSeconds(const std::vector<sim::TraceEntry>& trace, int pcSpeed, double meterSpeed) {
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
    return std::chrono::duration<double>(sim::LineTime(pcBytes, pcSpeed) + meter).count();
}

void RunBenchmarks(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}

void RunHeadless(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    PrintingPresenter presenter;
    MessagePresenter* const previous = CurrentMessagePresenter();
    SetMessagePresenter(&presenter);
    RunBenchmarks(argc, argv);
    SetMessagePresenter(previous);
}

ArchiveButtonBench::ArchiveButtonBench(sim::Simulator& simulator, const ArchiveButtonRun& run)
    : simulator_(simulator), run_(run), savedDir_(ExecutableDirOverride()), savedPort_(MainPort) {
    if (run.hour)
        simulator.SetArchive(sim::ArchiveKind::Hour, sim::DefaultHourArchive(run.rows));
    else
        simulator.SetArchive(sim::ArchiveKind::Day, sim::DefaultDayArchive(run.rows));
    simulator.Start();
    SetExecutableDir(run.dir);
    MainPort = new Rs232Port(simulator.PortPath(), run.pcSpeed);
}

ArchiveButtonBench::~ArchiveButtonBench() {
    delete MainPort;
    MainPort = savedPort_;
    SetExecutableDir(savedDir_);
}

ArchiveButtonTimes ArchiveButtonBench::Time(benchmark::State& state) {
    AdapterLink link{[] { return MainPort; }, [] { return LinkSettings{}; }};
    ArchiveButtonTimes times;
    for (auto _ : state) {
        QMdiArea area;
        area.resize(1200, 900);
        area.show();
        TViewRS232* window = CreateOrRaise(&area, ViewRS232, PortAccessor([] { return MainPort; }), link);
        window->ReadOnArrival = run_.onArrival;
        QApplication::processEvents();
        simulator_.ClearTranscript();

        QEventLoop loop;
        QTimer check;
        check.setInterval(OutcomeCheckMs);
        QElapsedTimer clock;
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (window->Logic().Session.HasOutcome() || clock.elapsed() > ReadGiveUpMs) loop.quit();
        });
        clock.start();
        (run_.hour ? window->Button4 : window->Button3)->click();
        check.start();
        loop.exec();
        times.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        state.SetIterationTime(times.seconds);
        if (window->Logic().Session.Transfer().ArhivStep != ArchiveState::Finished ||
            window->Logic().Session.Transfer().ArhivRowCount != run_.rows)
            state.SkipWithError("the transfer did not complete");
        window->close();
        QApplication::processEvents();
    }
    times.limit = LineLimitSeconds(simulator_.Transcript(), run_.pcSpeed, run_.meterSpeed);
    return times;
}
