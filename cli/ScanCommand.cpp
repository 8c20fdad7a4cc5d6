// scan: the identification request to every address of a list, the results
// as CSV; and day or hour for a list of meters, one file each.
#include "base/Files.h"
#include "base/TextFile.h"
#include "cli/Commands.h"
#include "gateway/GatewaySettings.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"
#include "serial/Rs232.h"

#include <cmath>
#include <ctime>
#include <filesystem>

namespace {

// Every result as a progress line on stderr, and the end.
class ScanReport : public ScanObserver {
public:
    explicit ScanReport(CliRun& run) : run_(run) {}
    void Watch(const LineScan& scan) { scan_ = &scan; }
    void ResultChanged(std::size_t index, bool added) override {
        (void)added;
        const ScanResult& r = scan_->Results()[index];
        if (r.Kind == ScanResultKind::NoAnswer) return;
        std::string line = "адрес " + std::to_string(r.Address) + ": " + ScanResultText(r);
        if (r.HasIdentity)
            line += ", тип " + std::to_string(r.Identity.TypeNum) + ", версия " +
                    std::to_string(r.Identity.Version) + ", конфигурация " +
                    std::to_string(r.Identity.Config1) + " " + std::to_string(r.Identity.Config2);
        if (r.AnswerMs >= 0) line += ", " + std::to_string(r.AnswerMs) + " мс";
        run_.Progress(line);
    }

private:
    CliRun& run_;
    const LineScan* scan_ = nullptr;
};

std::string Replace(std::string text, const std::string& field, const std::string& value) {
    for (std::size_t at = text.find(field); at != std::string::npos; at = text.find(field, at + value.size()))
        text.replace(at, field.size(), value);
    return text;
}

// A read of the batch as one line on stderr.
class BatchReport : public BatchObserver {
public:
    BatchReport(CliRun& run, BatchReadEnded readEnded) : run_(run), readEnded_(std::move(readEnded)) {}
    void Watch(const ArchiveBatch& batch) { batch_ = &batch; }
    void ReadStarted(std::size_t index, int attempt) override {
        if (attempt > 1) run_.Progress(Meter(index) + ": ещё одна попытка");
    }
    void ReadEnded(std::size_t index) override {
        const BatchRow& row = batch_->Rows()[index];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", row.Seconds);
        run_.Progress(Meter(index) + ": " + BatchRowText(row) + ", строк " + std::to_string(row.Rows) + ", " +
                      seconds + " с" +
                      (row.AskedAgain > 0 ? ", повторов " + std::to_string(row.AskedAgain) : "") + ", " +
                      (row.LeftFile.empty() ? "файл не записан" : "файл " + row.LeftFile));
        if (readEnded_) readEnded_(batch_->Rows(), index);
    }

private:
    std::string Meter(std::size_t index) const {
        const ArchiveJob& job = batch_->Rows()[index].Job;
        return std::string("счётчик ") + std::to_string(job.Address) +
               (job.Archive == MeterArchive::Hour ? ", часовой архив" : ", суточный архив");
    }
    CliRun& run_;
    BatchReadEnded readEnded_;
    const ArchiveBatch* batch_ = nullptr;
};

} // namespace

int ScanFailure(CliRun& run, const ScanOutcome& scan) {
    switch (scan.End) {
    case ScanEnd::PortGone:
        return run.Fail(ExitStatus::PortNotOpened, ScanEndText(scan.End, scan.LastAddress));
    case ScanEnd::GatewayFailed: {
        const std::string message = run.FirstMessage();
        return run.Fail(ExitStatus::GatewaySilent,
                        ScanEndText(scan.End, scan.LastAddress) + (message.empty() ? "" : " " + message));
    }
    default:
        return 0;
    }
}

std::optional<ScanOutcome> ScanOnLine(CliRun& run, Rs232Port* line, CliLink& link,
                                      const std::vector<int>& addresses, int& status) {
    const CliArguments& a = run.args;
    int waitMs = a.WaitMs.value_or(0);
    if (!a.WaitMs) {
        double speed = 0;
        if (a.Rs485SpeedItem) {
            speed = Rs485SpeedOfCode(SpeedCodes[*a.Rs485SpeedItem]);
        } else {
            const auto code = ReadGatewaySpeedCode(link);
            if (!code) {
                const std::string message = run.FirstMessage();
                status = run.Fail(ExitStatus::GatewaySilent, "шлюз не отвечает" +
                                                                 (message.empty() ? "" : ": " + message) +
                                                                 " (или укажите --rs485-speed либо --wait)");
                return std::nullopt;
            }
            speed = Rs485SpeedOfCode(*code);
        }
        waitMs = ScanWait(speed, line->BaudRate).TotalMs;
        run.Progress("ожидание ответа: " + std::to_string(waitMs) + " мс (RS-485 " +
                     std::to_string(std::lround(speed)) + " бит/с)");
    }

    ScanReport report(run);
    LineDriver driver(
        [line] { return line; },
        [&](const std::uint8_t* block, std::int32_t count) { return link.SendPacketExchange(block, count); });
    ConnectLine(run, driver, link);
    LineScan scan(report, driver);
    driver.Attach(&scan);
    report.Watch(scan);
    scan.Start(addresses, waitMs,
               {.LongWaitMs = a.LongWaitMs.value_or(DefaultLongWaitMs), .EverySilent = a.RecheckSilent});
    RunLine(driver, {.Running = [&] { return scan.Running(); },
                     .Tick = [&](bool gone) { scan.Tick(gone); },
                     .MsUntilDue = [&] { return scan.MsUntilDue(); }});
    return ScanOutcome{scan.Results(), scan.End(), scan.Progress().Address};
}

int RunScan(CliRun& run) {
    const CliArguments& a = run.args;
    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    const auto scan = ScanOnLine(run, line, link, a.Addresses, status);
    if (!scan) return status;

    const std::string csv = ScanCsv(scan->Results, run.decimalSeparator);
    if (a.Output.empty()) {
        std::fwrite(csv.data(), 1, csv.size(), run.out);
    } else {
        std::FILE* file = OpenFile(a.Output, "wb");
        if (!file || !WriteAndClose(file, csv))
            return run.Fail(ExitStatus::FileNotWritten, "файл " + a.Output + " не записывается");
    }
    const int failed = ScanFailure(run, *scan);
    if (failed != 0) return failed;
    int found = 0;
    for (const ScanResult& r : scan->Results)
        found += r.Kind != ScanResultKind::NoAnswer;
    run.Progress(ScanEndText(scan->End, scan->LastAddress) + " Ответили адресов: " + std::to_string(found) +
                 ".");
    return 0;
}

std::vector<BatchRow> BatchOnLine(CliRun& run, Rs232Port* line, CliLink& link, std::vector<ArchiveJob> jobs,
                                  const BatchReadEnded& readEnded) {
    BatchReport report(run, readEnded);
    LineDriver driver(
        [line] { return line; },
        [&](const std::uint8_t* block, std::int32_t count) { return link.SendPacketExchange(block, count); });
    ConnectLine(run, driver, link);
    ArchiveBatch batch(
        report,
        [&](const RequestBlock& block) {
            driver.Request(block.data(), static_cast<std::int32_t>(block.size()), {.Function = block[2]});
        },
        run.decimalSeparator);
    driver.Attach(&batch);
    report.Watch(batch);
    batch.Start(std::move(jobs));
    RunLine(driver, {.Running = [&] { return batch.Running(); },
                     .Tick = [&](bool gone) { batch.Tick(gone); },
                     .MsUntilDue = {}});
    return batch.Rows();
}

int RunBatch(CliRun& run) {
    const CliArguments& a = run.args;
    const BatchArchives archives =
        a.Command == CliCommand::HourArchive ? BatchArchives::Hour : BatchArchives::Day;
    std::vector<ArchiveJob> jobs;
    if (a.Output.empty()) {
        const std::string folder = NewBatchFolder(std::time(nullptr));
        std::error_code error;
        // By its UTF-8 name: Windows would take a narrow one in its ANSI code page.
        std::filesystem::create_directories(
            std::filesystem::path(std::u8string(folder.begin(), folder.end())), error);
        if (error)
            return run.Fail(ExitStatus::FileNotWritten,
                            "папка " + folder + " не создаётся: " + error.message());
        jobs = BatchJobs(a.Addresses, archives, folder);
    } else {
        for (int address : a.Addresses) {
            char digits[8];
            std::snprintf(digits, sizeof digits, "%03d", address);
            const std::string file = AbsoluteUtf8(Replace(a.Output, AddressField, digits));
            jobs.push_back({static_cast<std::uint8_t>(address),
                            archives == BatchArchives::Hour ? MeterArchive::Hour : MeterArchive::Day, file});
        }
    }

    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    const std::vector<BatchRow> rows = BatchOnLine(run, line, link, std::move(jobs), {});
    int read = 0;
    for (const BatchRow& row : rows)
        read += row.Complete;
    const int total = static_cast<int>(rows.size());
    if (read == total) {
        run.Progress("Прочитаны все архивы: " + std::to_string(total) + ".");
        return 0;
    }
    return run.Fail(ExitStatus::SomeNotRead, "прочитано архивов: " + std::to_string(read) + " из " +
                                                 std::to_string(total) + "; остальные - в строках выше");
}
