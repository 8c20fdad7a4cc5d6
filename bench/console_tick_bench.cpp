// The console's receive tick in its window: 4095 waiting bytes (as many as a
// pseudo-terminal queues) drained with the memos active, on empty memos and
// on memos already holding 2 MB of dump; with and without the repaint that
// follows the tick.
#include "ArchiveBench.h"
#include "adapter/Dataio.h"
#include "console/Uviewrs232.h"
#include "support/FakeConsoleScreen.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>

namespace {

constexpr int TickBytes = 4095;

// An answer of 250 data bytes from register 100 (62 value lines in Memo3),
// then idle bytes up to TickBytes.
std::vector<std::uint8_t> TickLoad() {
    std::vector<std::uint8_t> bytes = {0x01, 0x04, 0xFA};
    for (int i = 0; i < 250; ++i)
        bytes.push_back(static_cast<std::uint8_t>(0x40 + i % 8));
    bytes.push_back(0x12);
    bytes.push_back(0x34);
    for (int i = static_cast<int>(bytes.size()); i < TickBytes; ++i)
        bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

void RunTicks(benchmark::State& state, bool withPaint) {
    const int prefillBytes = static_cast<int>(state.range(0));
    AdapterLink link{[] { return MainPort; }, [] { return LinkSettings{}; }}; // the ticks send nothing
    QMdiArea area;
    area.resize(1200, 900);
    area.show();
    ConsolePort port;
    TViewRS232* window = CreateOrRaise(&area, ViewRS232, port.Accessor(), link);
    window->Timer1->stop(); // the benchmark runs the ticks itself
    ConsoleLogic& logic = window->Logic();

    // A memo already holding the given amount of dump, Memo2 its share.
    std::string line;
    for (int i = 0; i < 16; ++i)
        line += "A5 ";
    line += "\r\n";
    std::string block, chars;
    while (static_cast<int>(block.size()) < prefillBytes) {
        block += line;
        chars += "ABCDEFGHIJKLMNOP\r\n";
    }
    if (!block.empty()) {
        window->AppendToPane(ConsolePane::HexDump, block);
        window->AppendToPane(ConsolePane::CharDump, chars);
    }
    QApplication::processEvents();

    const auto load = TickLoad();
    for (auto _ : state) {
        logic.ManualRequest = 1;
        logic.WaitAnswer = true;
        logic.AnswerPos = logic.AnswerByteCount = logic.ValueByteCnt = 0;
        logic.ValueAddr = 100;
        port.Deliver(load);
        const auto t0 = std::chrono::steady_clock::now();
        logic.Timer1Timer();
        if (withPaint) QApplication::processEvents();
        const auto t1 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
        if (MainPort->InQueue() != 0) state.SkipWithError("tick left bytes behind");
        if (!withPaint) QApplication::processEvents();
    }
    state.counters["memo1_MB"] = window->Memo1->document()->characterCount() / 1e6;
    state.SetBytesProcessed(state.iterations() * TickBytes);
    window->close();
    QApplication::processEvents();
}

void BM_Tick4095Bytes(benchmark::State& state) {
    RunTicks(state, false);
}
void BM_Tick4095BytesAndRepaint(benchmark::State& state) {
    RunTicks(state, true);
}

BENCHMARK(BM_Tick4095Bytes)
    ->Arg(0)
    ->Arg(2 << 20)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Tick4095BytesAndRepaint)
    ->Arg(0)
    ->Arg(2 << 20)
    ->UseManualTime()
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    RunHeadless(argc, argv);
    return 0;
}
