// The values of a poll logged as CSV while it runs, by the rules of the
// archive viewer's export: UTF-8 with a byte order mark, a date-time column
// (local time, ISO 8601 with milliseconds) and the answer time before one
// column per register value, numbers with the decimal separator given and
// without exponents, fields quoted as RFC 4180 says, lines ending in CR LF.
#pragma once
#include "console/ValuePoller.h"

#include <cstdio>
#include <string>

// The header of the answer time column.
inline constexpr const char* CsvAnswerTimeHeader = "ANSWER_MS";

// The header line of a log whose rows hold the values of `sample`.
std::string PollCsvHeader(const PollSample& sample, char decimalSeparator);
// The line of one sample.
std::string PollCsvRow(const PollSample& sample, char decimalSeparator);
// "yyyy-mm-ddThh:mm:ss.mmm" of a wall time in the local time zone.
std::string LocalIsoTimeText(std::int64_t wallMs);

// live-yyyymmdd-hhmmss.csv (local time of `wallMs`) in the archive folder,
// which is made if it is missing.
std::string DefaultPollLogFile(std::int64_t wallMs);

// A log file: created empty by Open, its header written before the first
// sample, every sample written out at once.
class PollCsvLog {
public:
    explicit PollCsvLog(char decimalSeparator) : separator_(decimalSeparator) {}
    ~PollCsvLog() { Close(); }
    PollCsvLog(const PollCsvLog&) = delete;
    PollCsvLog& operator=(const PollCsvLog&) = delete;

    // False when the file cannot be created (errno says why).
    bool Open(const std::string& path);
    // False when the line cannot be written; the log is then closed.
    bool Append(const PollSample& sample);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }

private:
    char separator_;
    std::FILE* file_ = nullptr;
    std::string path_;
    bool headerWritten_ = false;
};
