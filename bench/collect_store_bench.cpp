// A collection pass's own work beside the line: a year of hour rows (8,760)
// for each of 50 meters into a fresh database, one transaction per meter
// (goal 2 s), and 10,000 rows published to a local broker with QoS 1 and
// marked published once acknowledged (goal 5 s; skipped without mosquitto).
#include "archive/ArchiveFile.h"
#include "collect/ArchiveDb.h"
#include "collect/MqttPublisher.h"
#include "support/Pty.h"

#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {

constexpr int Meters = 50;
constexpr int HoursInYear = 8760;
constexpr int PublishedRows = 10000;

// A year of hour rows from 2025-01-01 of a heat meter's template.
ArchiveTable YearOfHours() {
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    std::string text = "DATE HOUR TNORM TMIN Q1 M1 M2 T1 T2 P1\r\n";
    int day = 1, month = 0;
    char line[160];
    for (int h = 0; h < HoursInYear; ++h) {
        std::snprintf(line, sizeof line,
                      "%02d-%02d-2025 %2d 1,00 0,00 %d,%03d 12,5 11,9 71,53 44,02 5,6 \r\n", day, month + 1,
                      h % 24, h / 1000, h % 1000);
        text += line;
        if (h % 24 == 23 && ++day > monthDays[month]) {
            day = 1;
            ++month;
        }
    }
    return ReadArchiveText(text);
}

void BM_StoreYearOfHourRows(benchmark::State& state) {
    const ArchiveTable table = YearOfHours();
    if (table.Rows.size() != HoursInYear || !table.Problems.empty()) state.SkipWithError("rows");
    const std::vector<MeterTable> tables = {{MeterArchive::Hour, table}};
    for (auto _ : state) {
        TempDir dir;
        ArchiveDb db;
        std::string error;
        if (!db.Open(dir.File("bench.db"), error)) state.SkipWithError(error.c_str());
        for (int meter = 1; meter <= Meters; ++meter) {
            StoreReport report;
            if (!db.StoreMeter(meter, tables, {"2026-01-01T00:05:00", "прочитан"}, report, error) ||
                report.Added != HoursInYear)
                state.SkipWithError(error.c_str());
        }
    }
    state.SetItemsProcessed(state.iterations() * Meters * HoursInYear);
    state.SetLabel("goal: 2 s for 50 meters");
}
BENCHMARK(BM_StoreYearOfHourRows)->Unit(benchmark::kMillisecond)->Iterations(3);

int FreeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    close(s);
    return ntohs(a.sin_port);
}

void BM_Publish10000Rows(benchmark::State& state) {
    if (access("/usr/sbin/mosquitto", X_OK) != 0) {
        state.SkipWithError("no /usr/sbin/mosquitto");
        return;
    }
    TempDir dir;
    const int port = FreeLoopbackPort();
    dir.Write("broker.conf",
              "listener " + std::to_string(port) + " 127.0.0.1\nallow_anonymous true\nlog_dest none\n");
    const std::string config = dir.File("broker.conf");
    const pid_t broker = fork();
    if (broker == 0) {
        execl("/usr/sbin/mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ArchiveTable table = YearOfHours();
    table.Rows.resize(PublishedRows / 2);
    ArchiveDb db;
    std::string error;
    db.Open(dir.File("bench.db"), error);
    StoreReport report;
    for (int meter : {1, 2})
        db.StoreMeter(meter, {{MeterArchive::Hour, table}}, {}, report, error);
    MqttPublisher publisher;
    for (int i = 0; i < 100 && !publisher.Connect({"127.0.0.1", port, {}, {}, 5000}, error); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!publisher.Connected()) state.SkipWithError(error.c_str());
    for (auto _ : state) {
        std::size_t sent = 0;
        for (int meter : {1, 2}) {
            const std::vector<PendingRow> rows = db.Unpublished(meter, error);
            for (const PendingRow& row : rows)
                publisher.Publish(RowTopic("bench", row), RowJson(row), false);
            sent += publisher.Flush().size();
            db.MarkPublished(rows, error);
        }
        if (sent != PublishedRows) state.SkipWithError("not every row acknowledged");
    }
    state.SetItemsProcessed(state.iterations() * PublishedRows);
    state.SetLabel("goal: 5 s");
    kill(broker, SIGTERM);
    waitpid(broker, nullptr, 0);
}
BENCHMARK(BM_Publish10000Rows)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
