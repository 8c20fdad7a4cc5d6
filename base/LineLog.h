// Time stamps for shown lines and a line log: a UTF-8 file that receives every
// line as it is shown, with its time. Both read time from an injected clock so
// that tests can drive it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <utility>

// Milliseconds since the epoch, as the wall clock tells them.
using WallClock = std::function<std::int64_t()>;
std::int64_t SystemNowMs();

// The calendar fields of `t` in local time, on either system.
std::tm LocalTimeOf(std::time_t t);
// "hh:mm:ss.mmm" in local time.
std::string TimeOfDayText(std::int64_t ms);
// The time and the gap in milliseconds before a line: "12:34:56.789     +15 ";
// a negative gap (none known) leaves the field blank.
std::string TimePrefix(std::int64_t ms, std::int64_t gapMs);

// Appends lines to a file opened for appending. Lines are buffered and written
// out once the last write-out is Timing().LogFlushMs old, and whenever Flush is called;
// the owner calls Flush at least once a second. The first failure (no space,
// the file removed, any write error) closes the log and is reported once
// through the failure handler; later lines are dropped.
class LineLog {
public:
    using FailureHandler = std::function<void(const std::string& reason)>;
    explicit LineLog(WallClock clock = SystemNowMs) : clock_(std::move(clock)) {}
    ~LineLog() { Close(); }
    LineLog(const LineLog&) = delete;
    LineLog& operator=(const LineLog&) = delete;

    // Opens `path` (UTF-8) for appending, creating it; false with the reason
    // in `error` when it cannot be opened.
    bool Open(const std::string& path, std::string& error);
    // Writes out what is buffered and closes the file.
    void Close();
    bool IsOpen() const { return file_ != nullptr; }
    const std::string& Path() const { return path_; }
    void OnFailure(FailureHandler handler) { onFailure_ = std::move(handler); }

    // One line, without its line end.
    void Write(const std::string& line);
    // Writes out what is buffered; false when the log has failed now.
    bool Flush();

private:
    void Fail(const std::string& reason);

    WallClock clock_;
    FailureHandler onFailure_;
    std::string path_;
    std::string buffer_;
    std::FILE* file_ = nullptr;
    std::int64_t lastFlushMs_ = 0;
};
