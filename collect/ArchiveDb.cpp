// SQLite through its C interface: statements prepared once per table and
// meter, storing 64 rows each, every value bound, never written into the SQL
// text; only the column names (the template's keywords) are, quoted as
// identifiers.
#include "collect/ArchiveDb.h"

#include "base/Cp1251.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <set>

namespace {

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

struct StatementEnd {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementEnd>;

Statement Prepare(sqlite3* db, const std::string& sql, std::string& error) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        sqlite3_finalize(s);
        return nullptr;
    }
    return Statement(s);
}

void BindText(sqlite3_stmt* s, int index, const std::string& text) {
    sqlite3_bind_text(s, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string ColumnText(sqlite3_stmt* s, int index) {
    const auto* text = sqlite3_column_text(s, index);
    return text ? reinterpret_cast<const char*>(text) : ""; // NOLINT(*-reinterpret-cast): SQLite's UTF-8
}

} // namespace

std::vector<std::pair<std::size_t, std::string>> KeywordColumns(const ArchiveTable& table) {
    std::vector<std::pair<std::size_t, std::string>> out;
    std::set<std::string> taken = {"meter", "time", "published"};
    for (std::size_t i = 0; i < table.Columns.size(); ++i) {
        if (static_cast<int>(i) == table.DateColumn || static_cast<int>(i) == table.HourColumn) continue;
        const std::string keyword = Cp1251ToUtf8(table.Columns[i].Keyword);
        std::string name = keyword.empty() ? "column" : keyword;
        for (int n = 2; taken.count(Lower(name)); ++n)
            name = keyword + "_" + std::to_string(n);
        taken.insert(Lower(name));
        out.emplace_back(i, name);
    }
    return out;
}

const char* ArchiveDb::TableOf(MeterArchive archive) {
    return archive == MeterArchive::Hour ? "hour_rows" : "day_rows";
}

ArchiveDb::~ArchiveDb() {
    sqlite3_close_v2(db_);
}

bool ArchiveDb::Exec(const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

bool ArchiveDb::Open(const std::string& path, std::string& error) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        error = "база " + path + " не открывается: " + (db_ ? sqlite3_errmsg(db_) : "нет памяти");
        return false;
    }
    // A second pass (or a reader) waits for the first rather than failing.
    sqlite3_busy_timeout(db_, 10000);
    std::string why;
    // WAL with NORMAL synchronisation: a commit does not wait for the disk;
    // a power cut may lose the last meters' transactions but never corrupts
    // the file, and the next pass stores those rows again from the meters.
    // A new database gets 16 KiB pages: a year of hour rows fills a quarter
    // as many pages, written and checkpointed in fewer, larger steps (an
    // existing one keeps its pages). The log is copied into the database
    // every 4096 pages rather than 1000: each copy waits for the disk twice,
    // and committed meters are as safe in the log as in the database.
    const bool ok =
        Exec("PRAGMA page_size=16384; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
             "PRAGMA wal_autocheckpoint=4096;"
             "CREATE TABLE IF NOT EXISTS meters(address INTEGER PRIMARY KEY, last_read TEXT, "
             "outcome TEXT, day_rows INTEGER NOT NULL DEFAULT 0, hour_rows INTEGER NOT NULL DEFAULT 0);"
             "CREATE TABLE IF NOT EXISTS day_rows(meter INTEGER NOT NULL, time TEXT NOT NULL, "
             "published INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(meter, time)) WITHOUT ROWID;"
             "CREATE TABLE IF NOT EXISTS hour_rows(meter INTEGER NOT NULL, time TEXT NOT NULL, "
             "published INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(meter, time)) WITHOUT ROWID;",
             why);
    if (!ok) error = "база " + path + " не создаётся: " + why;
    return ok;
}

std::vector<std::string> ArchiveDb::Columns(const std::string& table, std::string& error) {
    std::vector<std::string> names;
    Statement s = Prepare(db_, "PRAGMA table_info(" + Quoted(table) + ")", error);
    if (!s) return names;
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        names.push_back(Lower(ColumnText(s.get(), 1)));
    return names;
}

namespace {

// Rows stored by one INSERT: a statement per row spends much of its time
// starting and ending itself; 64 rows of a dozen columns stay far below
// SQLite's limit of bound values.
constexpr std::size_t RowsPerInsert = 64;

// "(?, ?, ...), (?, ?, ...)": `rows` groups of `columns` places.
std::string Places(std::size_t rows, std::size_t columns) {
    std::string group = "(?";
    for (std::size_t c = 1; c < columns; ++c)
        group += ", ?";
    group += ")";
    std::string out;
    out.reserve(rows * (group.size() + 2));
    for (std::size_t r = 0; r < rows; ++r)
        out += (r ? ", " : "") + group;
    return out;
}

} // namespace

namespace {

// Binds one row's meter, time and values from place `at` on and returns the
// next place; `time` keeps the time's text until the statement has run.
int BindRow(sqlite3_stmt* s, int at, int address, const ArchiveRow& row,
            const std::vector<std::pair<std::size_t, std::string>>& columns, std::string& time) {
    sqlite3_bind_int(s, at++, address);
    time = IsoTimeText(*row.Time);
    sqlite3_bind_text(s, at++, time.c_str(), static_cast<int>(time.size()), SQLITE_STATIC);
    for (const auto& [index, name] : columns) {
        const double v = index < row.Values.size() ? row.Values[index] : NAN;
        if (std::isfinite(v))
            sqlite3_bind_double(s, at, v);
        else
            sqlite3_bind_null(s, at);
        ++at;
    }
    return at;
}

} // namespace

std::optional<std::string>
ArchiveDb::InsertSql(const std::string& table,
                     const std::vector<std::pair<std::size_t, std::string>>& columns, StoreReport& report,
                     std::string& error) {
    const std::vector<std::string> present = Columns(table, error);
    if (present.empty()) return std::nullopt;
    std::string insert = "INSERT OR IGNORE INTO " + table + "(meter, time";
    for (const auto& [index, name] : columns) {
        if (std::find(present.begin(), present.end(), Lower(name)) == present.end()) {
            if (!Exec("ALTER TABLE " + table + " ADD COLUMN " + Quoted(name) + " REAL", error))
                return std::nullopt;
            report.NewColumns.push_back(table + "." + name);
        }
        insert += ", " + Quoted(name);
    }
    return insert + ") VALUES ";
}

bool ArchiveDb::StoreTable(int address, const MeterTable& t, StoreReport& report, std::string& error) {
    const auto columns = KeywordColumns(t.Table);
    const std::optional<std::string> insert = InsertSql(TableOf(t.Archive), columns, report, error);
    if (!insert) return false;
    std::vector<const ArchiveRow*> rows;
    rows.reserve(t.Table.Rows.size());
    for (const ArchiveRow& row : t.Table.Rows) {
        if (!row.Time || row.Incomplete)
            ++report.Skipped;
        else
            rows.push_back(&row);
    }
    // Groups of RowsPerInsert through one statement; the last, shorter group
    // through one of its own size.
    const std::size_t width = columns.size() + 2;
    Statement full;
    std::vector<std::string> times(RowsPerInsert);
    for (std::size_t first = 0; first < rows.size(); first += RowsPerInsert) {
        const std::size_t count = std::min(RowsPerInsert, rows.size() - first);
        Statement part;
        Statement& statement = count == RowsPerInsert ? full : part;
        if (!statement) statement = Prepare(db_, *insert + Places(count, width), error);
        if (!statement) return false;
        sqlite3_reset(statement.get());
        int at = 1;
        for (std::size_t r = 0; r < count; ++r)
            at = BindRow(statement.get(), at, address, *rows[first + r], columns, times[r]);
        if (sqlite3_step(statement.get()) != SQLITE_DONE) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        report.Added += sqlite3_changes(db_);
    }
    return true;
}

bool ArchiveDb::StoreMeter(int address, const std::vector<MeterTable>& tables, const MeterStatus& status,
                           StoreReport& report, std::string& error) {
    report = {};
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    bool ok = true;
    for (const MeterTable& t : tables)
        ok = ok && StoreTable(address, t, report, error);
    if (ok) {
        Statement s = Prepare(db_,
                              "INSERT INTO meters(address, last_read, outcome, day_rows, hour_rows) "
                              "VALUES(?1, ?2, ?3, (SELECT count(*) FROM day_rows WHERE meter = ?1), "
                              "(SELECT count(*) FROM hour_rows WHERE meter = ?1)) "
                              "ON CONFLICT(address) DO UPDATE SET last_read = excluded.last_read, "
                              "outcome = excluded.outcome, day_rows = excluded.day_rows, "
                              "hour_rows = excluded.hour_rows",
                              error);
        ok = s != nullptr;
        if (ok) {
            sqlite3_bind_int(s.get(), 1, address);
            BindText(s.get(), 2, status.LastRead);
            BindText(s.get(), 3, status.Outcome);
            ok = sqlite3_step(s.get()) == SQLITE_DONE;
            if (!ok) error = sqlite3_errmsg(db_);
        }
    }
    if (ok && Exec("COMMIT", error)) return true;
    std::string ignored;
    Exec("ROLLBACK", ignored);
    report.Added = 0;
    report.NewColumns.clear();
    return false;
}

std::vector<PendingRow> ArchiveDb::Unpublished(int address, std::string& error) {
    std::vector<PendingRow> rows;
    for (const MeterArchive archive : {MeterArchive::Day, MeterArchive::Hour}) {
        const std::string table = TableOf(archive);
        Statement s = Prepare(
            db_, "SELECT * FROM " + table + " WHERE meter = ? AND published = 0 ORDER BY time", error);
        if (!s) return {};
        sqlite3_bind_int(s.get(), 1, address);
        while (sqlite3_step(s.get()) == SQLITE_ROW) {
            PendingRow& row = rows.emplace_back();
            row.Archive = archive;
            row.Meter = address;
            for (int c = 0; c < sqlite3_column_count(s.get()); ++c) {
                const std::string name = sqlite3_column_name(s.get(), c);
                if (name == "time") row.Time = ColumnText(s.get(), c);
                if (name == "meter" || name == "time" || name == "published") continue;
                std::optional<double> value;
                if (sqlite3_column_type(s.get(), c) != SQLITE_NULL) value = sqlite3_column_double(s.get(), c);
                row.Values.emplace_back(name, value);
            }
        }
    }
    return rows;
}

bool ArchiveDb::MarkPublished(const std::vector<PendingRow>& rows, std::string& error) {
    if (rows.empty()) return true;
    if (!Exec("BEGIN IMMEDIATE", error)) return false;
    bool ok = true;
    for (const MeterArchive archive : {MeterArchive::Day, MeterArchive::Hour}) {
        Statement s = Prepare(db_,
                              std::string("UPDATE ") + TableOf(archive) +
                                  " SET published = 1 WHERE meter = ? AND time = ?",
                              error);
        ok = ok && s != nullptr;
        for (const PendingRow& row : rows) {
            if (!ok || row.Archive != archive) continue;
            sqlite3_reset(s.get());
            sqlite3_bind_int(s.get(), 1, row.Meter);
            BindText(s.get(), 2, row.Time);
            ok = sqlite3_step(s.get()) == SQLITE_DONE;
            if (!ok) error = sqlite3_errmsg(db_);
        }
    }
    if (ok && Exec("COMMIT", error)) return true;
    std::string ignored;
    Exec("ROLLBACK", ignored);
    return false;
}

std::optional<StoredMeter> ArchiveDb::Meter(int address, std::string& error) {
    Statement s = Prepare(
        db_, "SELECT address, last_read, outcome, day_rows, hour_rows FROM meters WHERE address = ?", error);
    if (!s) return std::nullopt;
    sqlite3_bind_int(s.get(), 1, address);
    if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
    return StoredMeter{sqlite3_column_int(s.get(), 0), ColumnText(s.get(), 1), ColumnText(s.get(), 2),
                       sqlite3_column_int64(s.get(), 3), sqlite3_column_int64(s.get(), 4)};
}
