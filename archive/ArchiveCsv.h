// An archive as CSV for spreadsheets: UTF-8 with a byte order mark, a header
// row of the template's keywords after a date-time column, numbers with the
// user's decimal separator and without exponents, fields quoted as RFC 4180
// says, lines ending in CR LF.
#pragma once
#include "archive/ArchiveFile.h"

#include <cstddef>
#include <limits>
#include <string>

// The header of the date-time column.
inline constexpr const char* CsvTimeHeader = "DATETIME";

// The field separator a spreadsheet expects beside a decimal separator: a
// semicolon where the decimal separator is a comma, else a comma.
char CsvFieldSeparator(char decimalSeparator);

// Appends `field` to `out`, quoted as RFC 4180 says where it holds the
// separator, a quote, a line end or an outer blank.
void AppendCsvField(std::string& out, const std::string& field, char separator);

// The byte order mark that begins every CSV file: spreadsheets then take the
// text as UTF-8.
inline constexpr const char* CsvByteOrderMark = "\xEF\xBB\xBF";

// Rows [first, last) of `table` (clamped to its rows) as CSV.
std::string ArchiveCsv(const ArchiveTable& table, char decimalSeparator, std::size_t first = 0,
                       std::size_t last = std::numeric_limits<std::size_t>::max());

// Writes the CSV to `path`; false when it cannot be written (errno says why).
bool WriteArchiveCsv(const std::string& path, const std::string& csv);
