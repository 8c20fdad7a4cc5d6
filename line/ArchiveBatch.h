// Reading the archives of several meters in one go: one meter after another
// through one archive session, each into its own file of a folder made for
// the batch. A meter whose read fails is tried once more, then marked, and
// the batch goes on; a port gone for good ends it. The batch is a
// conversation of the line's driver; its owner pumps the line and ticks it.
#pragma once
#include "archive/ArchiveSession.h"
#include "base/AddressList.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Which archives each meter is read for.
enum class BatchArchives { Day, Hour, Both };

// The batch's folder name for its start time: "архивы 2024-05-01 14-30-05".
std::string BatchFolderName(const std::tm& local);
// The folder for a batch started at `start`, under the archives' folder,
// ending in '/'.
std::string NewBatchFolder(std::time_t start);
// A meter's file in the batch folder, sorting by address: "day-003.txt".
std::string BatchFileName(MeterArchive archive, std::uint8_t address);
// The reads of a batch: for every address (in the order given) its day
// archive, its hour archive or both, into `folder` (ending in '/').
std::vector<ArchiveJob> BatchJobs(const std::vector<int>& addresses, BatchArchives archives,
                                  const std::string& folder);

// One read of the batch as it ended (or stands).
struct BatchRow {
    ArchiveJob Job;
    int Attempts = 0;
    bool Ended = false;
    bool Complete = false; // the whole archive is in the file
    ArchiveOutcome Outcome;
    // The file the read has left: the archive when complete, else the
    // incomplete file of the last attempt that wrote one; empty while no
    // attempt has written any. Rows: the complete rows in it.
    std::string LeftFile;
    std::int32_t Rows = 0;
    double Seconds = 0;
    std::int32_t AskedAgain = 0; // garbled answers asked again in its last attempt
};
// The outcome column (UTF-8): "прочитан", "не прочитан: прибор не отвечает", ...
std::string BatchRowText(const BatchRow& row);

class BatchObserver {
public:
    virtual ~BatchObserver() = default;
    // Read `index` begins (attempt 1 or 2).
    virtual void ReadStarted(std::size_t index, int attempt) {
        (void)index;
        (void)attempt;
    }
    // A row of read `index` went into its file.
    virtual void RowRead(std::size_t index, const ArchiveProgress& progress) {
        (void)index;
        (void)progress;
    }
    virtual void ReadEnded(std::size_t index) { (void)index; }
    // The batch is over; `stopped` when the user or a lost port ended it early.
    virtual void BatchEnded(bool stopped) { (void)stopped; }
};

class ArchiveBatch;
// The line of a batch under way (UTF-8):
// "Чтение 2 из 5: адрес 5, строк 12, 3.4 строк/с; прошло 0:07".
std::string BatchProgressText(const ArchiveBatch& batch);

class ArchiveBatch : public LineConversation, private ArchiveSessionObserver {
public:
    ArchiveBatch(BatchObserver& observer, RequestSender sender, char decimalSeparator,
                 SteadyClock clock = {});

    void Start(std::vector<ArchiveJob> jobs);
    // LineConversation: the frames and repeats of the line's driver, which
    // the sender sends through.
    void LineFrameEnded(const LineFrame& frame) override;
    void LineAskedAgain() override;
    // Checks the answer time and moves on to the next read when one has ended.
    void Tick(bool portGone);
    // Ends the batch now; the read under way keeps its complete rows.
    void Stop();

    bool Running() const { return running_; }
    bool Stopped() const { return stopped_; }
    const std::vector<BatchRow>& Rows() const { return rows_; }
    std::size_t Current() const { return current_; }
    double Seconds() const;
    const ArchiveSession& Session() const { return session_; }

private:
    void Begin(std::size_t index, int attempt);
    void Finish(bool stopped);
    std::chrono::steady_clock::time_point Now() const;

    // ArchiveSessionObserver
    void RowRead(std::int32_t rows) override;
    void Ended(const ArchiveOutcome& outcome) override;

    BatchObserver& observer_;
    SteadyClock clock_;
    ArchiveSession session_;
    std::vector<BatchRow> rows_;
    std::size_t current_ = 0;
    bool running_ = false, stopped_ = false;
    bool readEnded_ = false; // the session has an outcome the next tick acts on
    std::chrono::steady_clock::time_point start_{}, end_{};
};
