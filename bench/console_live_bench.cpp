// The console's polling for an hour at 100 ms: 36,000 synthetic points in
// each of four series of the values window's chart. One new answer appended and the
// chart redrawn (the chart follows the end), and a redraw after a zoom or a
// pan step (goal 16 ms each), with the points handed to drawing per series.
//
// Counters: points_kept per series, points_drawn per series.
#include "ArchiveBench.h"
#include "console/Uviewlive.h"
#include "viewer/TimeChart.h"

#include <QApplication>
#include <QLineSeries>
#include <benchmark/benchmark.h>
#include <cmath>

namespace {

constexpr int HourAt100Ms = 36000;
constexpr double StepMs = 100;
constexpr double StartMs = 1.7e12;

double Value(int series, int i) {
    return 10.0 * (series + 1) + std::sin(i / 300.0 + series) * (series + 1) + (i % 7) * 0.01;
}

// The values window's chart after an hour of answers, fed as points.
struct HourOfPolling {
    TimeChart chart;
    int next = HourAt100Ms;
    HourOfPolling() {
        chart.SetNarrowestRange(LiveNarrowestMs);
        chart.SetTimeFormat("hh:mm:ss");
        chart.resize(980, 500);
        std::vector<TimeChart::Series> series(4);
        for (int s = 0; s < 4; ++s) {
            series[static_cast<std::size_t>(s)].Name = QString("G%1").arg(s + 1);
            for (int i = 0; i < HourAt100Ms; ++i)
                series[static_cast<std::size_t>(s)].Points.push_back({StartMs + i * StepMs, Value(s, i)});
        }
        chart.show();
        chart.SetSeries(std::move(series));
        QApplication::processEvents();
    }
    // The next answer, as the values window hands it on.
    void Add() {
        std::vector<double> values;
        for (int s = 0; s < 4; ++s)
            values.push_back(Value(s, next));
        chart.AppendPoints(StartMs + next * StepMs, values, LivePointsKept);
        ++next;
    }
};

void BM_AppendAndRedraw(benchmark::State& state) {
    HourOfPolling poll;
    for (auto _ : state) {
        poll.Add();
        poll.chart.viewport()->repaint();
    }
    state.counters["points_kept"] = static_cast<double>(poll.chart.PointCount(0));
    state.counters["points_drawn"] = poll.chart.LineSeries(0)->count();
}
BENCHMARK(BM_AppendAndRedraw)->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_ZoomPanRedraw(benchmark::State& state) {
    HourOfPolling poll;
    TimeChart& chart = poll.chart;
    const bool pan = state.range(0) != 0;
    if (pan) chart.Zoom(0.5, (chart.ShownFrom() + chart.ShownTo()) / 2);
    int step = 0;
    for (auto _ : state) {
        if (pan)
            chart.Pan(step++ % 20 < 10 ? 0.05 : -0.05);
        else
            chart.Zoom(step++ % 20 < 10 ? 0.9 : 1 / 0.9, (chart.ShownFrom() + chart.ShownTo()) / 2);
        chart.viewport()->repaint();
    }
    state.counters["points_drawn"] = chart.LineSeries(0)->count();
}
BENCHMARK(BM_ZoomPanRedraw)->Arg(0)->Arg(1)->Iterations(200)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    RunBenchmarks(argc, argv);
    return 0;
}
