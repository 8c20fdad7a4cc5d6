// Reading day.txt and hour.txt back: the template in the first line gives the
// columns, every further line is one row of column texts. Dates and hours
// become one time axis, number texts become values (with either decimal
// separator); what does not fit is reported by its line number and left out,
// the rest of the file is kept.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ArchiveColumn {
    std::string Keyword; // as in the template (CP1251 bytes)
    std::int32_t Kind = 0;
    // Numbers (kinds 3 to 7): values that can be charted.
    bool Numeric() const;
};

struct ArchiveRow {
    int Line = 0; // line number in the file, from 1
    // Civil date and hour as seconds since 1970-01-01 00:00 (no time zone):
    // set when the row has a readable date.
    std::optional<std::int64_t> Time;
    // One text per column, as written (an hour keeps its leading blank).
    std::vector<std::string> Texts;
    // One value per column: NaN for dates, hours, "?", NAN, INF and -INF.
    std::vector<double> Values;
    // A column shows "?": the row arrived shorter than its template.
    bool Incomplete = false;
};

struct ArchiveProblem {
    int Line = 0;
    std::string Text; // UTF-8, names the line
};

struct ArchiveTable {
    std::string Template; // the first line, without its line end
    std::vector<ArchiveColumn> Columns;
    std::vector<ArchiveRow> Rows;
    std::vector<ArchiveProblem> Problems;
    // Problems beyond those kept in Problems.
    int MoreProblems = 0;
    // Index of the DATE and the HOUR/TIME column, -1 when absent.
    int DateColumn = -1;
    int HourColumn = -1;
};

// Problems kept in full; the rest are only counted.
inline constexpr int MaxArchiveProblems = 100;

// Reads a whole file's bytes (CR LF or LF line ends). Never fails: a file
// that is not an archive of this program is one problem for its first line.
ArchiveTable ReadArchiveText(std::string_view bytes);

// Reads the file; nullopt when it cannot be read (errno says why).
std::optional<ArchiveTable> ReadArchiveFile(const std::string& path);

// A number text as the archive writes it: digits with an optional sign,
// separator (',' or '.') and exponent ("1,234568E7", "1E-5", "-3").
bool ArchiveNumberText(std::string_view text);

// The same number without an exponent and with `separator` (for spreadsheets
// that take "1,2E7" as text): "1,234568E7" -> "12345680", "1E-5" -> "0,00001".
// Texts that are no number come back unchanged.
std::string PlainNumberText(std::string_view text, char separator);

// "dd.mm.yyyy hh:00" (with a date only: "dd.mm.yyyy") and ISO 8601
// "yyyy-mm-ddThh:mm:ss" of a row's time.
std::string CivilTimeText(std::int64_t seconds, bool withHour);
std::string IsoTimeText(std::int64_t seconds);

// The problems as lines for a message: each "Строка N: ...", and a count of
// those left out.
std::string ProblemsText(const ArchiveTable& table);
