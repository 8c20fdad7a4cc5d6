// Time stamps and the line log.
#include "base/LineLog.h"

#include "base/Files.h"
#include "base/Timing.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

std::int64_t SystemNowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::tm LocalTimeOf(std::time_t t) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    return local;
}

std::string TimeOfDayText(std::int64_t ms) {
    std::int64_t seconds = ms / 1000, millis = ms % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::tm local = LocalTimeOf(static_cast<std::time_t>(seconds));
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
#ifdef EDQUOT
    case EDQUOT:
        return "превышена квота диска";
#endif
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
    std::FILE* file = OpenFile(path, "ab");
    if (!file) {
        error = ReasonOf(errno);
        return false;
    }
    file_ = file;
    path_ = path;
    lastFlushMs_ = clock_();
    return true;
}

void LineLog::Close() {
    if (!file_) return;
    Flush();
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

void LineLog::Write(const std::string& line) {
    if (!file_) return;
    buffer_ += line;
    buffer_ += '\n';
    if (clock_() - lastFlushMs_ >= Timing().LogFlushMs) Flush();
}

bool LineLog::Flush() {
    if (!file_) return false;
    lastFlushMs_ = clock_();
    // A removed file would swallow every line without an error.
    if (FileRemoved(file_)) {
        Fail("файл удалён");
        return false;
    }
    errno = 0;
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size() || std::fflush(file_) != 0) {
        Fail(ReasonOf(errno != 0 ? errno : ENOSPC));
        return false;
    }
    buffer_.clear();
    return true;
}

void LineLog::Fail(const std::string& reason) {
    std::fclose(file_);
    file_ = nullptr;
    buffer_.clear();
    if (onFailure_) onFailure_(reason);
}
