// The collected archives in one SQLite database per output folder.
//
//   meters(address PRIMARY KEY, last_read, outcome, day_rows, hour_rows)
//   day_rows, hour_rows(meter, time, published, <one REAL column per keyword
//                       of the archive's template>, PRIMARY KEY (meter, time))
//
// `time` is the row's ISO 8601 civil time; a row already stored is left as it
// is (INSERT OR IGNORE), so reading the same archive again adds nothing. A
// meter's rows and its status go in one transaction: a pass killed midway
// leaves the database as it was before that meter. A template that gains
// keywords gains columns (ALTER TABLE). `published` is 0 until a broker has
// acknowledged the row's message.
#pragma once
#include "archive/ArchiveFile.h"
#include "archive/ArchiveSession.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// One archive of a meter as read back from its file.
struct MeterTable {
    MeterArchive Archive = MeterArchive::Day;
    ArchiveTable Table;
};

// What a pass did with one meter, for its status.
struct MeterStatus {
    std::string LastRead; // ISO 8601 time of the pass
    std::string Outcome;  // UTF-8, as the pass line says it
};

struct StoreReport {
    int Added = 0;   // rows new to the database
    int Skipped = 0; // rows without a readable time
    // "day_rows.E3" for every column added to a table.
    std::vector<std::string> NewColumns;
};

// A stored row whose message has not been acknowledged yet.
struct PendingRow {
    MeterArchive Archive = MeterArchive::Day;
    int Meter = 0;
    std::string Time;
    std::vector<std::pair<std::string, std::optional<double>>> Values;
};

struct StoredMeter {
    int Address = 0;
    std::string LastRead, Outcome;
    std::int64_t DayRows = 0, HourRows = 0;
};

class ArchiveDb {
public:
    ArchiveDb() = default;
    ~ArchiveDb();
    ArchiveDb(const ArchiveDb&) = delete;
    ArchiveDb& operator=(const ArchiveDb&) = delete;

    // Opens (or creates) the database; false with `error` set (UTF-8).
    bool Open(const std::string& path, std::string& error);
    // A meter's tables and status in one transaction; on failure nothing of
    // it is kept and `error` says why.
    bool StoreMeter(int address, const std::vector<MeterTable>& tables, const MeterStatus& status,
                    StoreReport& report, std::string& error);
    // Rows of `address` not yet published, oldest first.
    std::vector<PendingRow> Unpublished(int address, std::string& error);
    // Marks the rows published, all in one transaction.
    bool MarkPublished(const std::vector<PendingRow>& rows, std::string& error);
    std::optional<StoredMeter> Meter(int address, std::string& error);

    // The table of an archive.
    static const char* TableOf(MeterArchive archive);

private:
    bool Exec(const std::string& sql, std::string& error);
    std::vector<std::string> Columns(const std::string& table, std::string& error);
    bool StoreTable(int address, const MeterTable& t, StoreReport& report, std::string& error);
    // "INSERT OR IGNORE INTO table(meter, time, columns...) VALUES ", the
    // columns the table lacks added first.
    std::optional<std::string> InsertSql(const std::string& table,
                                         const std::vector<std::pair<std::size_t, std::string>>& columns,
                                         StoreReport& report, std::string& error);

    sqlite3* db_ = nullptr;
};

// The column names a template gives: its keywords as UTF-8 without the date
// and hour columns; a keyword met again or equal to meter, time or published
// gets "_2", "_3", ... Each with the index of its column in the table.
std::vector<std::pair<std::size_t, std::string>> KeywordColumns(const ArchiveTable& table);
