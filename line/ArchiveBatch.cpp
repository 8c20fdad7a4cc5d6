// One meter after another through one archive session.
#include "line/ArchiveBatch.h"

#include "base/LineLog.h"
#include "base/Paths.h"
#include "line/LineScan.h"

#include <algorithm>
#include <cstdio>

std::string BatchFolderName(const std::tm& t) {
    char text[64];
    std::snprintf(text, sizeof text, "архивы %04d-%02d-%02d %02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string NewBatchFolder(std::time_t start) {
    return ArchiveDir() + BatchFolderName(LocalTimeOf(start)) + "/";
}

std::string BatchFileName(MeterArchive archive, std::uint8_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "%s-%03d.txt", archive == MeterArchive::Hour ? "hour" : "day", address);
    return text;
}

std::vector<ArchiveJob> BatchJobs(const std::vector<int>& addresses, BatchArchives archives,
                                  const std::string& folder) {
    std::vector<ArchiveJob> jobs;
    for (int a : addresses) {
        const auto address = static_cast<std::uint8_t>(a);
        if (archives != BatchArchives::Hour)
            jobs.push_back({address, MeterArchive::Day, folder + BatchFileName(MeterArchive::Day, address)});
        if (archives != BatchArchives::Day)
            jobs.push_back(
                {address, MeterArchive::Hour, folder + BatchFileName(MeterArchive::Hour, address)});
    }
    return jobs;
}

std::string BatchRowText(const BatchRow& row) {
    if (!row.Ended) return row.Attempts > 0 ? "читается" : "ждёт";
    if (row.Complete) return row.Attempts > 1 ? "прочитан со второй попытки" : "прочитан";
    const ArchiveOutcome& o = row.Outcome;
    std::string why;
    if (row.Attempts == 0)
        why = "чтение не начато";
    else if (o.kind == ArchiveOutcome::Kind::FileError)
        why = "файл не записывается";
    else if (o.reason == ArchiveStopReason::UserStopped)
        why = row.LeftFile.empty() ? "чтение остановлено" : "чтение остановлено, файл неполный";
    else
        switch (o.reason) {
        case ArchiveStopReason::MeterSilent:
            why = "прибор не отвечает";
            break;
        case ArchiveStopReason::Refused:
            why = "прибор ответил ошибкой " + std::to_string(o.code);
            break;
        case ArchiveStopReason::PortGone:
            why = "порт отключён";
            break;
        case ArchiveStopReason::Garbled:
            why = "ответы искажены, проверьте линию";
            break;
        default:
            why = "строка архива не помещается";
            break;
        }
    return "не прочитан: " + why;
}

std::string BatchProgressText(const ArchiveBatch& batch) {
    const ArchiveProgress p = batch.Session().Progress();
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", p.RowsPerSecond);
    return "Чтение " + std::to_string(batch.Current() + 1) + " из " + std::to_string(batch.Rows().size()) +
           ": адрес " + std::to_string(batch.Rows()[batch.Current()].Job.Address) + ", строк " +
           std::to_string(p.Rows) + ", " + rate + " строк/с; прошло " + MinutesSeconds(batch.Seconds());
}

ArchiveBatch::ArchiveBatch(BatchObserver& observer, RequestSender sender, char decimalSeparator,
                           SteadyClock clock)
    : observer_(observer), clock_(clock), session_(*this, std::move(sender), decimalSeparator, clock) {}

std::chrono::steady_clock::time_point ArchiveBatch::Now() const {
    return clock_ ? clock_() : std::chrono::steady_clock::now();
}

void ArchiveBatch::Start(std::vector<ArchiveJob> jobs) {
    rows_.clear();
    for (auto& job : jobs)
        rows_.emplace_back().Job = std::move(job);
    running_ = true;
    stopped_ = false;
    readEnded_ = false;
    start_ = Now();
    if (rows_.empty()) return Finish(false);
    Begin(0, 1);
}

void ArchiveBatch::Begin(std::size_t index, int attempt) {
    current_ = index;
    readEnded_ = false;
    rows_[index].Attempts = attempt;
    rows_[index].Ended = false;
    observer_.ReadStarted(index, attempt);
    session_.Start(rows_[index].Job);
}

void ArchiveBatch::LineFrameEnded(const LineFrame& frame) {
    if (running_) session_.TakeFrame(frame);
}

void ArchiveBatch::LineAskedAgain() {
    if (running_) session_.AskedAgain();
}

void ArchiveBatch::Tick(bool portGone) {
    if (!running_) return;
    if (!readEnded_) session_.CheckAnswerTime(portGone);
    if (!readEnded_) return;
    // The next read starts here, outside the session's own calls.
    BatchRow& row = rows_[current_];
    const ArchiveOutcome& o = row.Outcome;
    const bool retry =
        !row.Complete && row.Attempts < 2 && o.kind == ArchiveOutcome::Kind::Stopped &&
        (o.reason == ArchiveStopReason::MeterSilent || o.reason == ArchiveStopReason::Refused ||
         o.reason == ArchiveStopReason::PortGone || o.reason == ArchiveStopReason::Garbled);
    if (retry) return Begin(current_, row.Attempts + 1);
    row.Ended = true;
    observer_.ReadEnded(current_);
    if (!row.Complete && o.kind == ArchiveOutcome::Kind::Stopped && o.reason == ArchiveStopReason::PortGone)
        return Finish(true); // no later meter can be read either
    if (current_ + 1 < rows_.size()) return Begin(current_ + 1, 1);
    Finish(false);
}

void ArchiveBatch::Stop() {
    if (!running_) return;
    if (session_.Active()) {
        // The session reports what this read wrote (Ended below).
        session_.Stop(ArchiveStopReason::UserStopped);
        rows_[current_].Ended = true;
        observer_.ReadEnded(current_);
    }
    Finish(true);
}

void ArchiveBatch::Finish(bool stopped) {
    running_ = false;
    stopped_ = stopped;
    end_ = Now();
    for (BatchRow& row : rows_)
        row.Ended = true;
    observer_.BatchEnded(stopped);
}

double ArchiveBatch::Seconds() const {
    return std::chrono::duration<double>((running_ ? Now() : end_) - start_).count();
}

void ArchiveBatch::RowRead(std::int32_t rows) {
    (void)rows;
    if (running_) observer_.RowRead(current_, session_.Progress());
}

void ArchiveBatch::Ended(const ArchiveOutcome& outcome) {
    BatchRow& row = rows_[current_];
    row.Outcome = outcome;
    row.Complete = outcome.kind == ArchiveOutcome::Kind::Finished;
    row.Seconds = session_.Progress().Seconds;
    row.AskedAgain = session_.Progress().AskedAgain;
    // An attempt that wrote no file of its own leaves what an earlier one
    // wrote (its incomplete file is only replaced once a transfer starts).
    const std::string& left = row.Complete ? outcome.file : outcome.partialFile;
    if (!left.empty()) {
        row.LeftFile = left;
        row.Rows = outcome.rows;
    }
    readEnded_ = true;
}
