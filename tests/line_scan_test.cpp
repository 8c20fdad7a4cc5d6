// The scan and the batch read against a simulated line of meters, driven by
// the poll() loop the command line uses: what each address answered, late
// answers at their own address, stop and a lost port; the batch's retry.
#include "adapter/Dataio.h"
#include "base/Timing.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"
#include "serial/LineDriver.h"
#include "sim/Simulator.h"
#include "support/Pty.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

sim::MeterSetup Meter(int address, std::function<void(sim::MeterSetup&)> set = {}) {
    sim::MeterSetup m;
    m.Address = address;
    m.Ident = sim::IdentificationForType(8);
    m.DayRows = 2;
    m.HourRows = 2;
    if (set) set(m);
    return m;
}

// A scan on the simulator's line, as the command line runs it; the observer
// may stop it after a given number of results.
struct ScanRig : ScanObserver {
    explicit ScanRig(const sim::SimOptions& options) : simulator(options) {
        simulator.Start();
        link.SetStraySink([this](const std::uint8_t* b, std::size_t n) { driver.Found(b, n); });
        driver.Attach(&scan);
    }

    void Run(int first, int last, int waitMs, ScanRecheck recheck = {}) {
        scan.Start(first, last, waitMs, recheck);
        RunLine(driver, {.Running = [&] { return scan.Running(); },
                         .Tick = [&](bool gone) { scan.Tick(gone); },
                         .MsUntilDue = [&] { return scan.MsUntilDue(); }});
    }
    void ResultChanged(std::size_t index, bool added) override {
        (void)index;
        if (added && ++results == stopAfter) scan.Stop();
    }
    const ScanResult& At(int address) const {
        for (const ScanResult& r : scan.Results())
            if (r.Address == address) return r;
        throw std::out_of_range("no result for address " + std::to_string(address));
    }

    sim::Simulator simulator;
    Rs232Port port{simulator.PortPath(), 115200};
    AdapterLink link{[this] { return &port; }, [] { return LinkSettings{.LinkMode = 1}; }};
    LineDriver driver{
        [this] { return &port; },
        [this](const std::uint8_t* b, std::int32_t n) { return link.SendPacketExchange(b, n); }};
    LineScan scan{*this, driver};
    int results = 0, stopAfter = -1;
};

TEST(LineScan, FindsExactlyTheMetersOnTheLineWithTheirAnswers) {
    sim::SimOptions o;
    o.MoreMeters = {Meter(5), Meter(9, [](auto& m) { m.ExceptionCode = 2; }),
                    Meter(12, [](auto& m) { m.Silent = true; })};
    ScanRig rig(o);
    rig.Run(1, 14, 60);
    ASSERT_EQ(rig.scan.End(), ScanEnd::Finished);
    ASSERT_EQ(rig.scan.Results().size(), 14u);
    for (const ScanResult& r : rig.scan.Results()) {
        const ScanResultKind expected = r.Address == 1 || r.Address == 5 ? ScanResultKind::Identified
                                        : r.Address == 9                 ? ScanResultKind::Exception
                                                                         : ScanResultKind::NoAnswer;
        EXPECT_EQ(r.Kind, expected) << int(r.Address);
    }
    EXPECT_EQ(rig.At(1).Identity.TypeNum, 4);
    EXPECT_EQ(rig.At(1).Identity.Version, 0x1203);
    EXPECT_EQ(rig.At(1).Identity.Config2, 0x00A10002);
    EXPECT_EQ(rig.At(5).Identity.TypeNum, 8);
    EXPECT_EQ(rig.At(9).Code, 2);
    EXPECT_GE(rig.At(5).AnswerMs, 0);
    EXPECT_EQ(rig.At(12).AnswerMs, -1);
    // The archive CSV's rules: a byte order mark, ';' beside a decimal comma,
    // ',' beside a decimal point with the header that holds one quoted.
    const std::string csv = ScanCsv(rig.scan.Results(), ',');
    EXPECT_EQ(csv.substr(0, csv.find("\r\n", csv.find("\r\n") + 2) + 2),
              "\xEF\xBB\xBF"
              "Адрес;Результат;Тип;Версия;Конфигурация 1;Конфигурация 2;Ответ, "
              "мс\r\n1;опознан;4;4611;1032;10551298;" +
                  std::to_string(rig.At(1).AnswerMs) + "\r\n");
    const std::string point = ScanCsv({rig.At(9)}, '.');
    EXPECT_EQ(point, "\xEF\xBB\xBF"
                     "Адрес,Результат,Тип,Версия,Конфигурация 1,Конфигурация 2,\"Ответ, мс\"\r\n"
                     "9,исключение 2,,,,," +
                         std::to_string(rig.At(9).AnswerMs) + "\r\n");
}

TEST(LineScan, ALateAnswerIsCreditedToItsOwnAddressNotTheNext) {
    sim::SimOptions o;
    o.MeterAddress = 3;
    o.MeterDelayMs = 150;
    o.MoreMeters = {Meter(4)};
    ScanRig rig(o);
    rig.Run(2, 8, 40); // the scan lasts beyond the late answer
    ASSERT_EQ(rig.scan.End(), ScanEnd::Finished);
    EXPECT_EQ(rig.At(3).Kind, ScanResultKind::Late);
    EXPECT_TRUE(rig.At(3).HasIdentity);
    EXPECT_GE(rig.At(3).AnswerMs, 150);
    EXPECT_EQ(ScanResultText(rig.At(3)), "поздний ответ: увеличьте ожидание");
    EXPECT_EQ(rig.At(4).Kind, ScanResultKind::Identified);
    EXPECT_EQ(rig.At(4).Identity.TypeNum, 8);
}

TEST(LineScan, ALateAnswerFromTheLastAddressIsStillHeard) {
    sim::SimOptions o;
    o.MeterAddress = 3;
    o.MeterDelayMs = 80;
    ScanRig rig(o);
    rig.Run(2, 3, 50);
    ASSERT_EQ(rig.scan.End(), ScanEnd::Finished);
    EXPECT_EQ(rig.At(3).Kind, ScanResultKind::Late);
    EXPECT_EQ(rig.At(2).Kind, ScanResultKind::NoAnswer);
}

// A late answer that breaks into a later exchange with the gateway is taken
// from that exchange, which goes on.
TEST(LineScan, ASlowMetersAnswerInALaterExchangeIsCreditedToItsOwnAddress) {
    sim::SimOptions o;
    o.MeterAddress = 3;
    o.MeterDelayMs = 150;
    o.AnswerOnNextExchange = true;
    o.MoreMeters = {Meter(4)};
    ScanRig rig(o);
    rig.Run(2, 9, 40);
    ASSERT_EQ(rig.scan.End(), ScanEnd::Finished);
    EXPECT_EQ(rig.At(3).Kind, ScanResultKind::Late);
    EXPECT_EQ(rig.At(3).Identity.TypeNum, 4);
    EXPECT_GE(rig.At(3).AnswerMs, 150);
    EXPECT_EQ(rig.At(4).Identity.TypeNum, 8);
    for (int silent : {2, 5, 6, 7, 8, 9})
        EXPECT_EQ(rig.At(silent).Kind, ScanResultKind::NoAnswer) << silent;
    EXPECT_EQ(rig.scan.Results().size(), 8u);
}

// Noise: a garbled answer is asked again and the meter found. With every
// silent address asked again, a meter whose first answer was lost is found
// with its answer time beyond the fast wait.
TEST(LineScan, GarbledAnswersAreAskedAgainAndSilentOnesOnRequest) {
    sim::SimOptions o;
    o.MoreMeters = {Meter(2, [](auto& m) { m.DelayMs = 150; })};
    ScanRig rig(o);
    rig.simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Corrupt, .index = 5});
    rig.Run(1, 1, 40);
    EXPECT_EQ(rig.At(1).Kind, ScanResultKind::Identified);
    EXPECT_EQ(rig.driver.Counts().AskedAgain, 1);
    rig.simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer});
    rig.Run(2, 2, 40, {.LongWaitMs = 400, .EverySilent = true});
    EXPECT_EQ(rig.At(2).Kind, ScanResultKind::Slow);
    EXPECT_GE(rig.At(2).AnswerMs, 150);
    EXPECT_EQ(ScanResultText(rig.At(2)), "медленный ответ: увеличьте ожидание");
}

TEST(LineScan, AStoppedScanKeepsItsTableAndALostPortEndsIt) {
    {
        ScanRig rig{sim::SimOptions{}};
        rig.stopAfter = 3;
        rig.Run(1, 247, 20);
        EXPECT_EQ(rig.scan.End(), ScanEnd::Stopped);
        ASSERT_EQ(rig.scan.Results().size(), 3u);
        EXPECT_EQ(rig.At(1).Kind, ScanResultKind::Identified);
        EXPECT_EQ(ScanEndText(rig.scan.End(), rig.scan.Progress().Address), "Поиск остановлен на адресе 3.");
    }
    ScanRig rig{sim::SimOptions{}};
    // The gateway hangs up instead of putting the third request on the line.
    rig.simulator.AddFault({.step = sim::Step::MeterRequest, .kind = sim::FaultKind::Close, .after = 2});
    rig.Run(1, 247, 20);
    EXPECT_EQ(rig.scan.End(), ScanEnd::PortGone);
    EXPECT_LE(rig.scan.Results().size(), 3u);
    EXPECT_EQ(ScanEndText(ScanEnd::PortGone, 3),
              "Поиск остановлен на адресе 3: порт отключён. Проверьте порт и начните заново.");
}

TEST(LineScan, TheWaitIsTheLineTimesAndTheAllowance) {
    // 9600: 8 + 13 bytes at 10 bits, two 3.5-character silences, 13 bytes at
    // 115200 and the allowance.
    const ScanWaitParts slow = ScanWait(9600, 115200);
    EXPECT_NEAR(slow.Request + slow.Answer + slow.Silences, 21 * 10 / 9.6 + 7 * 10 / 9.6, 1e-9);
    EXPECT_EQ(slow.TotalMs, 71);
    EXPECT_EQ(ScanWait(Rs485SpeedOfCode(16), 115200).TotalMs, 49); // 1.75 ms silences above 19200
}

TEST(LineScan, AddressListsAndBatchFileNames) {
    std::string error;
    EXPECT_EQ(ParseAddressList("1,5,7-9,5", error), (std::vector<int>{1, 5, 7, 8, 9}));
    for (const char* wrong : {"", "1,,2", "9-7", "256", "-1", "a"})
        EXPECT_TRUE(ParseAddressList(wrong, error).empty()) << wrong;
    EXPECT_EQ(BatchFileName(MeterArchive::Day, 3), "day-003.txt");
    EXPECT_EQ(BatchFileName(MeterArchive::Hour, 247), "hour-247.txt");
    std::tm t{};
    t.tm_year = 124, t.tm_mon = 4, t.tm_mday = 1, t.tm_hour = 14, t.tm_min = 30, t.tm_sec = 5;
    EXPECT_EQ(BatchFolderName(t), "архивы 2024-05-01 14-30-05");
}

struct BatchRig : BatchObserver {
    explicit BatchRig(const sim::SimOptions& options) : simulator(options) {
        simulator.Start();
        driver.Attach(&batch);
    }
    void Run(std::vector<ArchiveJob> jobs) {
        batch.Start(std::move(jobs));
        RunLine(driver, {.Running = [&] { return batch.Running(); },
                         .Tick =
                             [&](bool gone) {
                                 batch.Tick(gone);
                                 Ticked();
                             },
                         .MsUntilDue = {}});
    }
    void ReadStarted(std::size_t index, int attempt) override { started.push_back({index, attempt}); }
    void RowRead(std::size_t index, const ArchiveProgress& progress) override {
        if (index == 2 && progress.Rows == 1) progressLine = BatchProgressText(batch);
    }
    // The progress line while read 2 is identifying its meter.
    void Ticked() {
        if (batch.Running() && batch.Current() == 1 &&
            batch.Session().CurrentPhase() == ArchiveSession::Phase::Identifying)
            identifyingLine = BatchProgressText(batch);
    }

    sim::Simulator simulator;
    Rs232Port port{simulator.PortPath(), 115200};
    AdapterLink link{[this] { return &port; }, [] { return LinkSettings{.LinkMode = 1}; }};
    LineDriver driver{
        [this] { return &port; },
        [this](const std::uint8_t* b, std::int32_t n) { return link.SendPacketExchange(b, n); }};
    ArchiveBatch batch{*this,
                       [this](const RequestBlock& b) {
                           driver.Request(b.data(), static_cast<std::int32_t>(b.size()), {.Function = b[2]});
                       },
                       ','};
    std::vector<std::pair<std::size_t, int>> started;
    std::string progressLine, identifyingLine;
};

TEST(ArchiveBatch, AFailingMeterIsTriedOnceMoreAndTheBatchGoesOn) {
    TimingConstants fast;
    fast.ArchiveAnswerTimeoutMs = 150;
    SetTimingForTests(fast);
    sim::SimOptions o;
    o.MoreMeters = {Meter(5, [](auto& m) { m.Silent = true; }), Meter(17)};
    BatchRig rig(o);
    TempDir dir;
    rig.Run(BatchJobs({1, 5, 17}, BatchArchives::Day, dir.Path()));
    SetTimingForTests(TimingConstants{});

    EXPECT_FALSE(rig.batch.Stopped());
    EXPECT_EQ(rig.started, (std::vector<std::pair<std::size_t, int>>{{0, 1}, {1, 1}, {1, 2}, {2, 1}}));
    const auto& rows = rig.batch.Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_TRUE(rows[0].Complete);
    EXPECT_EQ(rows[0].Rows, 31);
    EXPECT_FALSE(rows[1].Complete);
    EXPECT_EQ(BatchRowText(rows[1]), "не прочитан: прибор не отвечает");
    EXPECT_EQ(rows[1].Rows, 0);
    EXPECT_TRUE(rows[2].Complete);
    EXPECT_EQ(rows[2].Rows, 2);
    EXPECT_EQ(rows[2].Job.File, dir.File("day-017.txt"));
    EXPECT_NE(dir.Read("day-017.txt"), dir.Read("day-001.txt"));
    EXPECT_EQ(rig.progressLine.rfind("Чтение 3 из 3: адрес 17, строк 1, ", 0), 0u) << rig.progressLine;
    // Not the 31 rows of the meter before.
    EXPECT_EQ(rig.identifyingLine.rfind("Чтение 2 из 3: адрес 5, строк 0, 0", 0), 0u) << rig.identifyingLine;
}

TEST(ArchiveBatch, ARetryThatReadsNothingKeepsTheRowsTheFirstAttemptLeft) {
    TimingConstants fast;
    fast.ArchiveAnswerTimeoutMs = 150;
    SetTimingForTests(fast);
    // Silent after a few rows, the second attempt's identification too.
    sim::SimOptions o;
    BatchRig rig(o);
    rig.simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1, .after = 20});
    TempDir dir;
    rig.Run(BatchJobs({1}, BatchArchives::Day, dir.Path()));
    SetTimingForTests(TimingConstants{});

    const BatchRow& row = rig.batch.Rows().at(0);
    EXPECT_EQ(row.Attempts, 2);
    EXPECT_FALSE(row.Complete);
    EXPECT_EQ(BatchRowText(row), "не прочитан: прибор не отвечает");
    EXPECT_EQ(row.LeftFile, dir.File("day-001.partial.txt"));
    ASSERT_GT(row.Rows, 0);
    const std::string left = dir.Read("day-001.partial.txt");
    EXPECT_EQ(std::count(left.begin(), left.end(), '\n'), row.Rows + 1); // the template, then the rows
    EXPECT_FALSE(std::filesystem::exists(dir.File("day-001.txt")));
}

} // namespace
