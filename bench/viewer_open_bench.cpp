// The archive viewer with a year of hour rows (8760 rows of the default hour
// template, written by the program's own row formatter): opening the file
// into table and chart with four series ticked and the window painted (goal
// 300 ms), one redraw after a zoom step and after a pan step (goal 16 ms),
// and the resident memory the open file adds to the empty window (goal
// 50 MB).
//
// Counters: BM_OpenYear rss_added_mb; BM_Redraw/0 zoom, /1 pan, points_drawn
// the points handed to drawing per series.
#include "ArchiveBench.h"
#include "archive/RowFormat.h"
#include "archive/Shablon.h"
#include "base/TextFile.h"
#include "sim/Archive.h"
#include "viewer/TimeChart.h"
#include "viewer/Uviewarchive.h"

#include <QApplication>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

constexpr int YearOfHours = 8760;

double ResidentMb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// hour.txt as the transfer writes it.
std::string YearFile() {
    const sim::ArchiveData data = sim::DefaultHourArchive(YearOfHours);
    ShablonDescriptor descriptor;
    AnalizShablonStrArhiva(data.Template + "\n", 0, descriptor);
    std::string text = data.Template + "\n";
    for (auto row : sim::ArchiveRowBytes(data, sim::ArchiveKind::Hour)) {
        FormatStrArhivToStrFile(descriptor, row.data(), static_cast<int>(row.size()), ',', text);
        text += "\n";
    }
    return TextModeBytes(text);
}

const QString& YearPath() {
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.path() + "/hour.txt";
        std::ofstream(p.toStdString(), std::ios::binary) << YearFile();
        return p;
    }();
    return path;
}

// Four float columns ticked: the two ticked at opening and two more.
void TickFour(TViewArchive& w) {
    int ticked = 0;
    for (int i = 0; i < w.ColumnList->count(); ++i)
        ticked += w.ColumnList->item(i)->checkState() == Qt::Checked;
    for (const char* name : {"T1", "P1"})
        if (ticked < 4) {
            w.ColumnList->findItems(name, Qt::MatchExactly)[0]->setCheckState(Qt::Checked);
            ++ticked;
        }
}

void BM_OpenYear(benchmark::State& state) {
    const QString path = YearPath();
    // The first opening counts: later ones reuse memory the allocator kept.
    double added = -1;
    for (auto _ : state) {
        state.PauseTiming();
        auto* w = new TViewArchive(nullptr);
        w->resize(980, 700);
        w->show();
        QApplication::processEvents();
        const double empty = ResidentMb();
        state.ResumeTiming();
        w->OpenFile(path);
        TickFour(*w);
        w->repaint();
        w->Chart->viewport()->repaint();
        state.PauseTiming();
        if (added < 0) added = ResidentMb() - empty;
        state.counters["rss_added_mb"] = added;
        state.counters["series"] = w->Chart->SeriesCount();
        state.counters["rows"] = static_cast<double>(w->Archive().Rows.size());
        delete w;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenYear)->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_Redraw(benchmark::State& state) {
    TViewArchive w(nullptr);
    w.resize(980, 700);
    w.show();
    w.OpenFile(YearPath());
    TickFour(w);
    QApplication::processEvents();
    const bool pan = state.range(0) != 0;
    if (pan) w.Chart->Zoom(0.5, (w.Chart->ShownFrom() + w.Chart->ShownTo()) / 2);
    int step = 0;
    for (auto _ : state) {
        if (pan)
            w.Chart->Pan(step++ % 20 < 10 ? 0.05 : -0.05);
        else
            w.Chart->Zoom(step++ % 20 < 10 ? 0.9 : 1 / 0.9, (w.Chart->ShownFrom() + w.Chart->ShownTo()) / 2);
        w.Chart->viewport()->repaint();
    }
    state.counters["points_drawn"] = w.Chart->LineSeries(0)->count();
}
BENCHMARK(BM_Redraw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    RunBenchmarks(argc, argv);
    return 0;
}
