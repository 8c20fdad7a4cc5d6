// The packet monitor's view over a long run: one million packet lines shown
// in batches as a dense stream produces them, with the view at its limit of
// the most recent lines. The resident memory should stop growing once the
// limit is reached, and a batch at the limit should cost what it costs in an
// empty view.
//
// BM_MillionLines counters: rss_start_mb before the first line,
// rss_limit_mb when the view first holds its limit, rss_250k_mb, rss_500k_mb
// and rss_1m_mb after that many lines, blocks the lines the
// view holds at the end. BM_Batch/0 and BM_Batch/1: the time to show one
// batch of 32 lines (and process the events that paint it) in a view that
// holds almost nothing, and in one at its limit.
#include "ArchiveBench.h"
#include "monitor/Uviewpacket.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int BatchLines = 32; // about 40 ms of a dense stream at 115200 bit/s

double ResidentMb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// A realistic mix: mostly OK lines of 14 bytes, every tenth a CRC line.
void ShowBatch(TViewPacket& view, int& serial) {
    std::uint8_t bytes[14] = {0x01, 0x08, 0x00, 0x00, 0x10, 0x20, 0x30,
                              0x40, 0x50, 0x60, 0x70, 0x80, 0x00, 0xAA};
    for (int i = 0; i < BatchLines; ++i, ++serial) {
        bytes[12] = static_cast<std::uint8_t>(serial);
        view.ClassifyAndShow(bytes, 14, serial % 10 == 0 ? PacketClass::CRC : PacketClass::OK);
    }
    view.ShowPending();
    QCoreApplication::processEvents();
}

void BM_MillionLines(benchmark::State& state) {
    for (auto _ : state) {
        const double start = ResidentMb();
        TViewPacket view(nullptr, PortAccessor{});
        view.show();
        int serial = 0;
        double atLimit = 0, atQuarter = 0, atHalf = 0;
        while (serial < 1000000) {
            ShowBatch(view, serial);
            if (atLimit == 0 && serial >= TViewPacket::MaxShownLines) atLimit = ResidentMb();
            if (atQuarter == 0 && serial >= 250000) atQuarter = ResidentMb();
            if (atHalf == 0 && serial >= 500000) atHalf = ResidentMb();
        }
        state.counters["rss_start_mb"] = start;
        state.counters["rss_limit_mb"] = atLimit;
        state.counters["rss_250k_mb"] = atQuarter;
        state.counters["rss_500k_mb"] = atHalf;
        state.counters["rss_1m_mb"] = ResidentMb();
        state.counters["blocks"] = view.RichEdit->document()->blockCount();
    }
}
BENCHMARK(BM_MillionLines)->Iterations(1)->Unit(benchmark::kSecond);

void BM_Batch(benchmark::State& state) {
    TViewPacket view(nullptr, PortAccessor{});
    view.show();
    int serial = 0;
    const bool atLimit = state.range(0) != 0;
    while (atLimit && serial < TViewPacket::MaxShownLines + BatchLines)
        ShowBatch(view, serial);
    for (auto _ : state) {
        if (!atLimit && view.RichEdit->document()->blockCount() > 1000) {
            state.PauseTiming();
            view.RichEdit->clear();
            state.ResumeTiming();
        }
        ShowBatch(view, serial);
    }
    state.counters["blocks"] = view.RichEdit->document()->blockCount();
}
BENCHMARK(BM_Batch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    RunBenchmarks(argc, argv);
    return 0;
}
