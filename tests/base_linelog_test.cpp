// Time prefixes and the line log: buffered lines written out after a second
// and at close, appended to what the file held, and the first failure (no
// space, the file removed) reported once with the log closed.
#include "base/LineLog.h"
#include "support/Pty.h"

#include <ctime>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// 12:34:56.789 today, local time.
std::int64_t LocalMs(int hour, int minute, int second, int millis) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) * 1000 + millis;
}

struct FakeClock {
    std::int64_t now = LocalMs(8, 0, 0, 0);
    WallClock Clock() {
        return [this] { return now; };
    }
};

} // namespace

TEST(TimePrefix, TimeOfDayWithMillisecondsAndTheGapRightAligned) {
    EXPECT_EQ(TimePrefix(LocalMs(12, 34, 56, 789), 15), "12:34:56.789     +15 ");
    EXPECT_EQ(TimePrefix(LocalMs(0, 0, 5, 7), 1234567), "00:00:05.007 +1234567 ");
    EXPECT_EQ(TimePrefix(LocalMs(23, 59, 59, 999), -1), "23:59:59.999         ");
}

TEST(LineLog, AppendsLinesWrittenOutAfterASecondAndAtClose) {
    TempDir dir;
    dir.Write("log.txt", "earlier\n");
    FakeClock clock;
    LineLog log(clock.Clock());
    std::string error;
    ASSERT_TRUE(log.Open(dir.File("log.txt"), error)) << error;
    log.Write("первая");
    clock.now += 999;
    log.Write("second");
    EXPECT_EQ(dir.Read("log.txt"), "earlier\n");
    clock.now += 1;
    log.Write("third");
    EXPECT_EQ(dir.Read("log.txt"), "earlier\nпервая\nsecond\nthird\n");
    log.Write("fourth");
    log.Close();
    EXPECT_EQ(dir.Read("log.txt"), "earlier\nпервая\nsecond\nthird\nfourth\n");
    EXPECT_FALSE(log.IsOpen());
}

TEST(LineLog, FirstFailureIsReportedOnceAndClosesTheLog) {
    TempDir dir;
    struct Case {
        std::string path, reason;
        bool removeFirst;
    } cases[] = {{"/dev/full", "нет места на диске", false}, {dir.File("gone.txt"), "файл удалён", true}};
    for (const Case& c : cases) {
        FakeClock clock;
        LineLog log(clock.Clock());
        std::vector<std::string> reasons;
        log.OnFailure([&](const std::string& reason) { reasons.push_back(reason); });
        std::string error;
        ASSERT_TRUE(log.Open(c.path, error)) << error;
        if (c.removeFirst) unlink(c.path.c_str());
        log.Write("a line");
        EXPECT_FALSE(log.Flush());
        log.Write("dropped");
        log.Close();
        EXPECT_EQ(reasons, std::vector<std::string>{c.reason}) << c.path;
        EXPECT_FALSE(log.IsOpen());
    }
}

TEST(LineLog, AFileThatCannotBeOpenedSaysWhy) {
    LineLog log;
    std::string error;
    EXPECT_FALSE(log.Open("/nonexistent/folder/log.txt", error));
    EXPECT_EQ(error, "папка не найдена");
}
