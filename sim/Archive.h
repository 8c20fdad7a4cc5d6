// The meter's day and hour archives: templates, records and the raw bytes
// of the rows as the meter sends them.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

enum class ArchiveKind { Day, Hour };

// Column kinds of a template keyword, with the bytes each takes in a row:
// 1 date (3, BCD day month year), 2 hour (1, BCD), 3 minutes 8-bit (1),
// 4 minutes 16-bit (2, low byte first), 5 float (4, IEEE single, most
// significant byte first), 6 24-bit count (3, low byte first), 7 byte code (1).
enum ColumnKind : int {
    KindDate = 1,
    KindHour = 2,
    KindMinutes8 = 3,
    KindMinutes16 = 4,
    KindFloat = 5,
    KindCount24 = 6,
    KindByte = 7,
};

int ColumnWidth(int kind);

// The kind of one keyword: the duration keywords take 2 bytes in the day
// archive and 1 in the hour archive; unknown words are floats.
int KeywordKind(const std::string& keyword, ArchiveKind archive);

// Column kinds of a template, split the way the configurator splits it: the
// template plus a line feed, tokens ending at each space or line feed (two
// separators in a row make an empty token, which is a float column).
std::vector<int> TemplateColumnKinds(const std::string& templateText, ArchiveKind archive);

// Row width in bytes that a template describes.
int TemplateRowWidth(const std::string& templateText, ArchiveKind archive);

// One archive record. Date and hour are plain numbers (encoded as BCD);
// Values holds the value of each keyword; a keyword without a value gives 0.
struct ArchiveRecord {
    int Day = 1;
    int Month = 1;
    int Year = 24; // within the century, 0..99
    int Hour = 0;
    std::map<std::string, double> Values;
};

struct ArchiveData {
    // Keywords separated by single spaces, with no separator after the last.
    std::string Template;
    std::vector<ArchiveRecord> Records;
};

// The raw bytes of one row: each column of the template encoded from the
// record (minute and 24-bit counters are rounded and clamped to their width).
std::vector<std::uint8_t> EncodeArchiveRow(const std::string& templateText, ArchiveKind archive,
                                           const ArchiveRecord& record);

// The raw bytes of every row of an archive, in the order the meter sends them.
std::vector<std::vector<std::uint8_t>> ArchiveRowBytes(const ArchiveData& data, ArchiveKind archive);

// Default templates (see DefaultDayArchive / DefaultHourArchive).
extern const char* const DefaultDayTemplate;
extern const char* const DefaultHourTemplate;

// The default day archive: `rows` consecutive days from 01-01-2024 (31 by
// default, one month), every column kind present.
ArchiveData DefaultDayArchive(int rows = 31);
// The default hour archive: `rows` consecutive hours from 25-01-2024 00h
// (168 by default, one week).
ArchiveData DefaultHourArchive(int rows = 168);

// A template of exactly `bytes` bytes (at least 2) made of float keywords
// separated by single spaces, for reading templates in several chunks.
std::string TemplateOfLength(int bytes);

// An archive for any template: `rows` records dated like the defaults, each
// keyword given a deterministic value that varies by column and row.
ArchiveData GeneratedArchive(const std::string& templateText, ArchiveKind archive, int rows);

// `data` with its measured values moved by `seed`: flows, temperatures and
// pressures by seed / 4, Q1 by seed / 8, the normal-time counter sTNORM by
// 100 * seed (all exact in single precision), so that the archives of the
// meters on one line differ. Seed 0 leaves the data as it is.
ArchiveData VariedArchive(ArchiveData data, int seed);

} // namespace sim
