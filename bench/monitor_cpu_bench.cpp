// CPU use of the packet monitor, run the way the program runs it: the main
// window on COM2, "Тест пакетов" from its menu, the nested receive loop.
// Idle with the window open, and under a continuous stream of framed packets
// delivered at 115200 bit/s; plus the receive loop without its window (a
// pass reading a full input queue) and the framer's own throughput.
//
// Counters: gui_cpu_pct is the GUI thread's CPU time over wall time (the whole
// program's work; the packet source runs in a thread of its own), bytes_per_s
// what the line delivered, max_backlog/end_backlog the bytes waiting in the
// port's input queue (sampled every 100 ms), lines the packets shown.
// Run it through bench/monitor_cpu.sh.
#include "ArchiveBench.h"
#include "app/MainForm.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "monitor/PacketFramer.h"
#include "monitor/PacketMonitor.h"
#include "monitor/Uviewpacket.h"
#include "serial/Rs232.h"
#include "sim/Packets.h"
#include "support/Pty.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <thread>

namespace {

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double EnvNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    const double value = text ? std::atof(text) : 0;
    return value > 0 ? value : fallback;
}

// Writes packets to the line at `baud` (10 bits a byte) from a thread of its
// own, in slices of `sliceMs` as a serial driver hands them on (a UART's FIFO
// every millisecond or two, a USB adapter every few milliseconds).
class PacedSource {
public:
    PacedSource(PtyPair& pty, int baud, double sliceMs)
        : pty_(pty), bytesPerSecond_(baud / 10), slice_(static_cast<long long>(sliceMs * 1000)) {}
    ~PacedSource() { Stop(); }
    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    long long Sent() const { return sent_; }

private:
    void Run() {
        using sim::PacketItem;
        const PacketItem pattern[] = {PacketItem::Ok, PacketItem::Ok, PacketItem::WrongCrc, PacketItem::Ok};
        std::vector<std::uint8_t> pending;
        int sequence = 0;
        const auto start = std::chrono::steady_clock::now();
        auto due = start;
        while (!stop_) {
            due += slice_;
            std::this_thread::sleep_until(due);
            const double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            long long owed = static_cast<long long>(elapsed * bytesPerSecond_) - sent_;
            while (static_cast<long long>(pending.size()) < owed) {
                auto bytes = sim::PacketStreamBytes(pattern[sequence % 4], sequence);
                pending.insert(pending.end(), bytes.begin(), bytes.end());
                ++sequence;
            }
            if (owed <= 0) continue;
            std::vector<std::uint8_t> slice(pending.begin(), pending.begin() + owed);
            pending.erase(pending.begin(), pending.begin() + owed);
            pty_.Send(slice);
            sent_ += owed;
        }
    }

    PtyPair& pty_;
    const int bytesPerSecond_;
    const std::chrono::microseconds slice_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long long> sent_{0};
};

void RunMonitor(benchmark::State& state, bool stream) {
    for (auto _ : state) {
        TempDir dir;
        PtyPair line;
        SetExecutableDir(dir.Path());
        dir.LinkCom(2, line.SlavePath());
        AppOptions = TAppOptions{};
        TMainForm form;
        form.showMaximized();
        PacedSource source(line, 115200, EnvNumber("MONITOR_BENCH_SLICE_MS", 2));

        const double seconds = EnvNumber("MONITOR_BENCH_SECONDS", 10);
        double cpuStart = 0, cpuEnd = 0;
        QElapsedTimer wall;
        qint64 wallMs = 0;
        int maxBacklog = 0, endBacklog = 0, lines = 0;
        long long sentAtStart = 0, sentAtEnd = 0;

        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (MainPort) maxBacklog = std::max(maxBacklog, MainPort->InQueue());
        });
        QTimer::singleShot(200, [&] {
            // Measure from here: the window is up and its loop runs.
            if (stream) source.Start();
            sampler.start(100);
            cpuStart = ThreadCpuMs();
            wall.start();
            QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
                cpuEnd = ThreadCpuMs();
                wallMs = wall.elapsed();
                sentAtEnd = source.Sent();
                endBacklog = MainPort ? MainPort->InQueue() : 0;
                if (ViewPacket) {
                    lines = ViewPacket->RichEdit->document()->blockCount();
                    ViewPacket->close();
                }
            });
        });
        form.mnuTestPacket->trigger();
        source.Stop();
        sampler.stop();
        SetExecutableDir(std::nullopt);

        const auto wallTime = static_cast<double>(wallMs);
        state.SetIterationTime(wallTime / 1000.0);
        state.counters["gui_cpu_pct"] = wallMs > 0 ? 100.0 * (cpuEnd - cpuStart) / wallTime : 0;
        state.counters["bytes_per_s"] =
            wallMs > 0 ? 1000.0 * static_cast<double>(sentAtEnd - sentAtStart) / wallTime : 0;
        state.counters["max_backlog"] = maxBacklog;
        state.counters["end_backlog"] = endBacklog;
        state.counters["lines"] = lines;
    }
}

void BM_MonitorIdle(benchmark::State& state) {
    RunMonitor(state, false);
}
BENCHMARK(BM_MonitorIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MonitorStream115200(benchmark::State& state) {
    RunMonitor(state, true);
}
BENCHMARK(BM_MonitorStream115200)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The receive loop without its window: one pass reading a queue of packets
// from the port byte by byte into the framer. Bytes per second of the pass.
class NullMonitorScreen : public PacketMonitorScreen {
public:
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override {
        benchmark::DoNotOptimize(PacketLineText(bytes, length, cls));
    }
    void WatchDescriptor(int) override {}
    void EnableWatch(bool) override {}
    void RestartTicks() override {}
};

void BM_ReceivePassBytes(benchmark::State& state) {
    std::vector<std::uint8_t> queue;
    for (int i = 0; queue.size() < 3800; ++i) {
        auto bytes = sim::PacketStreamBytes(i % 4 == 2 ? sim::PacketItem::WrongCrc : sim::PacketItem::Ok, i);
        queue.insert(queue.end(), bytes.begin(), bytes.end());
    }
    PtyPair line;
    Rs232Port port(line.SlavePath(), 115200);
    NullMonitorScreen screen;
    PacketMonitor monitor(screen, [&port] { return &port; });
    monitor.Start();
    for (auto _ : state) {
        line.Send(queue);
        while (port.InQueue() < static_cast<int>(queue.size())) {
            pollfd p{port.Handle, POLLIN, 0};
            poll(&p, 1, 10);
        }
        const auto start = std::chrono::steady_clock::now();
        monitor.Woken();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(queue.size()));
}
BENCHMARK(BM_ReceivePassBytes)->UseManualTime();

// The framer alone on a stream of packets: bytes per second.
class NullScreen : public PacketScreen {
public:
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override {
        benchmark::DoNotOptimize(PacketLineText(bytes, length, cls));
    }
};

void BM_FramerBytes(benchmark::State& state) {
    std::vector<std::uint8_t> stream;
    for (int i = 0; i < 256; ++i) {
        auto bytes = sim::PacketStreamBytes(i % 4 == 2 ? sim::PacketItem::WrongCrc : sim::PacketItem::Ok, i);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    NullScreen screen;
    PacketFramer framer(screen);
    framer.Start(0);
    for (auto _ : state)
        for (std::uint8_t b : stream)
            framer.Feed(b);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_FramerBytes);

} // namespace

int main(int argc, char** argv) {
    RunBenchmarks(argc, argv);
    return 0;
}
