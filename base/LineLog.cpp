// Time stamps and the line log.
#include "base/LineLog.h"

#include "base/Timing.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::int64_t SystemNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string TimeOfDayText(std::int64_t ms) {
    std::int64_t seconds = ms / 1000, millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string TimePrefix(std::int64_t ms, std::int64_t gapMs) {
    char gap[24] = "";
    if (gapMs >= 0) std::snprintf(gap, sizeof gap, "+%lld", static_cast<long long>(gapMs));
    char text[48];
    std::snprintf(text, sizeof text, "%s %7s ", TimeOfDayText(ms).c_str(), gap);
    return text;
}

namespace {

std::string ReasonOf(int error) {
    switch (error) {
    case ENOSPC:
        return "нет места на диске";
    case EDQUOT:
        return "превышена квота диска";
    case EACCES:
    case EPERM:
        return "нет доступа";
    case ENOENT:
        return "папка не найдена";
    default:
        return "ошибка " + std::to_string(error) + " (" + std::strerror(error) + ")";
    }
}

} // namespace

bool LineLog::Open(const std::string& path, std::string& error) {
    Close();
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = ReasonOf(errno);
        return false;
    }
    fd_ = fd;
    path_ = path;
    lastFlushMs_ = clock_();
    return true;
}

void LineLog::Close() {
    if (fd_ < 0) return;
    Flush();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void LineLog::Write(const std::string& line) {
    if (fd_ < 0) return;
    buffer_ += line;
    buffer_ += '\n';
    if (clock_() - lastFlushMs_ >= Timing().LogFlushMs) Flush();
}

bool LineLog::Flush() {
    if (fd_ < 0) return false;
    lastFlushMs_ = clock_();
    // A removed file would swallow every line without an error.
    struct stat st {};
    if (fstat(fd_, &st) != 0 || st.st_nlink == 0) {
        Fail("файл удалён");
        return false;
    }
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(ReasonOf(n < 0 ? errno : ENOSPC));
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    buffer_.clear();
    return true;
}

void LineLog::Fail(const std::string& reason) {
    ::close(fd_);
    fd_ = -1;
    buffer_.clear();
    if (onFailure_) onFailure_(reason);
}
