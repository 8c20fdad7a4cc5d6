// The session file and its keys, the line's lock between processes, and the
// database of collected rows.
#include "archive/ArchiveFile.h"
#include "base/Files.h"
#include "collect/ArchiveDb.h"
#include "collect/CollectSession.h"
#include "collect/LineLock.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::optional<CollectSession> Parse(const std::string& text, std::string& error) {
    return ParseSessionText(text, "line.toml", error);
}

} // namespace

TEST(CollectSessionFile, ReadsEveryKey) {
    std::string error;
    const auto s = Parse("# цех 2\n"
                         "port = \"tcp://10.0.0.5:4001\"\n"
                         "speed = 115200\n"
                         "link = \"zep-lan\"\n"
                         "rs485-speed = \"9600\"\n"
                         "wait = 120\n"
                         "address = [1, 5, \"7-9\"]\n"
                         "scan = true\n"
                         "archives = \"hour\"\n"
                         "output = \"архивы\"\n"
                         "csv = true\n"
                         "db = \"meters.db\"\n"
                         "mqtt = \"broker.local:1884\"\n"
                         "mqtt-user = \"u\"\n"
                         "mqtt-password = \"p w\"\n"
                         "topic = \"plant/line2/\"\n",
                         error);
    ASSERT_TRUE(s) << error;
    EXPECT_EQ(*s->Port, "tcp://10.0.0.5:4001");
    EXPECT_EQ(*s->Speed, 115200);
    EXPECT_EQ(*s->LinkMode, 2);
    EXPECT_EQ(*s->Rs485SpeedItem, 3);
    EXPECT_EQ(*s->WaitMs, 120);
    EXPECT_EQ(s->Addresses, (std::vector<int>{1, 5, 7, 8, 9}));
    EXPECT_TRUE(s->Scan);
    EXPECT_EQ(s->Archives, SessionArchives::Hour);
    EXPECT_EQ(s->Output, "архивы");
    EXPECT_TRUE(s->Csv);
    EXPECT_EQ(s->Database, "meters.db");
    EXPECT_EQ(s->MqttHost, "broker.local");
    EXPECT_EQ(s->MqttPort, 1884);
    EXPECT_EQ(s->MqttPassword, "p w");
    EXPECT_EQ(s->Topic, "plant/line2");
}

TEST(CollectSessionFile, NamesTheLineOfWhatIsWrong) {
    std::string error;
    EXPECT_FALSE(Parse("port = \"COM3\"\n\nadres = 5\n", error));
    EXPECT_NE(error.find("line.toml, строка 3: неизвестный ключ 'adres'"), std::string::npos) << error;
    EXPECT_FALSE(Parse("port = \"COM3\"\naddress = \"1-300\"\n", error));
    EXPECT_NE(error.find("строка 2: неверное значение address"), std::string::npos) << error;
    EXPECT_FALSE(Parse("mqtt = \"host:99999\"\n", error));
    EXPECT_NE(error.find("строка 1: неверное значение mqtt"), std::string::npos) << error;
    EXPECT_FALSE(Parse("port = \"COM100\"\n", error));
    EXPECT_NE(error.find("строка 1"), std::string::npos) << error;
    EXPECT_FALSE(Parse("archives = \"week\"\n", error));
    EXPECT_FALSE(Parse("topic = \"a/#\"\n", error));
    EXPECT_FALSE(Parse("[line]\nport = 3\n", error));
    EXPECT_NE(error.find("строка 1: неизвестный ключ 'line'"), std::string::npos) << error;
    // A broken TOML line is named too.
    EXPECT_FALSE(Parse("port = \"COM3\"\nwait = = 5\n", error));
    EXPECT_NE(error.find("строка 2: ошибка записи TOML"), std::string::npos) << error;
}

TEST(CollectSessionFile, MissingFileIsAnError) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(ReadSessionFile(dir.File("none.toml"), error));
    EXPECT_NE(error.find("не читается"), std::string::npos);
    dir.Write("empty.toml", "");
    EXPECT_TRUE(ReadSessionFile(dir.File("empty.toml"), error)) << error;
}

TEST(CollectSessionFile, WrittenTextReadsBackAsTheSameSession) {
    CollectSession s;
    s.Port = "tcp://10.0.0.5:4001";
    s.Speed = 57600;
    s.LinkMode = 2;
    s.Rs485SpeedItem = 4;
    s.WaitMs = 250;
    s.Addresses = {1, 2, 5, 7, 8, 9, 10, 200};
    s.Archives = SessionArchives::Day;
    s.Output = "C:\\архивы \"цех\"\nвторой";
    s.Csv = true;
    s.Database = "m.db";
    s.MqttHost = "broker.local";
    s.MqttPort = 1884;
    s.MqttUser = "u";
    s.MqttPassword = "p\tw\\";
    s.Topic = "plant/line2";
    const std::string text = SessionText(s);
    EXPECT_NE(text.find("address = [1, 2, 5, \"7-10\", 200]\n"), std::string::npos) << text;
    std::string error;
    const auto back = Parse(text, error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(back->Port, s.Port);
    EXPECT_EQ(back->Speed, s.Speed);
    EXPECT_EQ(back->LinkMode, s.LinkMode);
    EXPECT_EQ(back->Rs485SpeedItem, s.Rs485SpeedItem);
    EXPECT_EQ(back->WaitMs, s.WaitMs);
    EXPECT_EQ(back->Addresses, s.Addresses);
    EXPECT_FALSE(back->Scan);
    EXPECT_EQ(back->Archives, s.Archives);
    EXPECT_EQ(back->Output, s.Output);
    EXPECT_TRUE(back->Csv);
    EXPECT_EQ(back->Database, s.Database);
    EXPECT_EQ(back->MqttHost, s.MqttHost);
    EXPECT_EQ(back->MqttPort, s.MqttPort);
    EXPECT_EQ(back->MqttUser, s.MqttUser);
    EXPECT_EQ(back->MqttPassword, s.MqttPassword);
    EXPECT_EQ(back->Topic, s.Topic);
    EXPECT_EQ(SessionText(*back), text);
    // An empty session is a valid file too.
    EXPECT_TRUE(Parse(SessionText(CollectSession()), error)) << error;
}

TEST(CollectSessionFile, AFailedWriteLeavesTheOldFile) {
    TempDir dir;
    dir.Write("line.toml", "scan = true\n");
    // Where the new text would go first, a folder is in the way.
    ASSERT_EQ(mkdir(dir.File("line.toml.partial").c_str(), 0700), 0);
    std::string error;
    EXPECT_FALSE(WriteSessionFile(dir.File("line.toml"), CollectSession(), error));
    EXPECT_EQ(error.rfind("Сеанс не сохранён в " + dir.File("line.toml") + ": ", 0), 0U) << error;
    EXPECT_NE(error.find(". Выберите другую папку."), std::string::npos) << error;
    EXPECT_EQ(dir.Read("line.toml"), "scan = true\n");
}

TEST(CollectSessionFile, AFileClosedToOthersStaysClosed) {
    TempDir dir;
    dir.Write("line.toml", "");
    ASSERT_EQ(chmod(dir.File("line.toml").c_str(), 0600), 0);
    CollectSession s;
    std::string error;
    ASSERT_TRUE(WriteSessionFile(dir.File("line.toml"), s, error)) << error;
    struct stat st {};
    ASSERT_EQ(stat(dir.File("line.toml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    // A new file with a broker's password is its owner's alone.
    s.MqttPassword = "secret";
    ASSERT_TRUE(WriteSessionFile(dir.File("new.toml"), s, error)) << error;
    ASSERT_EQ(stat(dir.File("new.toml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_FALSE(FileExists(dir.File("new.toml.partial")));
}

TEST(CollectLineLock, SecondHolderWaitsThenNamesTheFirst) {
    TempDir dir;
    setenv("CONFIGURATOR_LOCK_DIR", dir.Path().c_str(), 1);
    const std::string path = LockFileFor("tcp://10.0.0.5:4001");
    EXPECT_EQ(path, dir.Path() + "/configurator-tcp___10.0.0.5_4001.lock");
    std::string holder;
    {
        LineLock first;
        ASSERT_TRUE(first.Acquire(path, "collect a.toml", 0, holder)) << holder;
        // flock locks belong to the open file: a second open in this process
        // is refused as another process's would be.
        LineLock second;
        EXPECT_FALSE(second.Acquire(path, "collect b.toml", 250, holder));
        EXPECT_EQ(holder, "pid " + std::to_string(getpid()) + " (collect a.toml)");
    }
    LineLock again;
    EXPECT_TRUE(again.Acquire(path, "collect b.toml", 0, holder));

    // A link planted under a lock's name is not followed (it would truncate its target).
    dir.Write("victim", "keep");
    const std::string planted = LockFileFor("/dev/planted");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), planted.c_str()), 0);
    LineLock refused;
    EXPECT_FALSE(refused.Acquire(planted, "collect", 0, holder));
    EXPECT_EQ(dir.Read("victim"), "keep");
    unsetenv("CONFIGURATOR_LOCK_DIR");
}

namespace {

ArchiveTable HourTable(const std::string& extraColumn = "") {
    std::string text = "DATE HOUR Q1" + extraColumn + "\r\n";
    for (int h = 0; h < 3; ++h)
        text += "25-01-2024  " + std::to_string(h) + " " + std::to_string(h) + ",5" +
                (extraColumn.empty() ? "" : " 7") + " \r\n";
    return ReadArchiveText(text);
}

std::int64_t Count(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
    const std::int64_t n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return n;
}

} // namespace

TEST(CollectDatabase, SameArchiveTwiceAddsNothingAndNewKeywordsAddColumns) {
    TempDir dir;
    const std::string path = dir.File("a.db");
    ArchiveDb db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    StoreReport report;
    const MeterStatus status{"2024-01-25T03:00:00", "прочитан"};
    ASSERT_TRUE(db.StoreMeter(5, {{MeterArchive::Hour, HourTable()}}, status, report, error)) << error;
    EXPECT_EQ(report.Added, 3);
    EXPECT_EQ(report.NewColumns, std::vector<std::string>{"hour_rows.Q1"});
    ASSERT_TRUE(db.StoreMeter(5, {{MeterArchive::Hour, HourTable()}}, status, report, error)) << error;
    EXPECT_EQ(report.Added, 0);
    EXPECT_TRUE(report.NewColumns.empty());

    ASSERT_TRUE(db.StoreMeter(5, {{MeterArchive::Hour, HourTable(" M1")}}, status, report, error)) << error;
    EXPECT_EQ(report.NewColumns, std::vector<std::string>{"hour_rows.M1"});
    EXPECT_EQ(Count(path, "SELECT count(*) FROM hour_rows WHERE meter = 5"), 3);
    EXPECT_EQ(Count(path, "SELECT Q1 * 10 FROM hour_rows WHERE time = '2024-01-25T02:00:00'"), 25);
    const auto meter = db.Meter(5, error);
    ASSERT_TRUE(meter);
    EXPECT_EQ(meter->HourRows, 3);
    EXPECT_EQ(meter->Outcome, "прочитан");

    const auto pending = db.Unpublished(5, error);
    ASSERT_EQ(pending.size(), 3U);
    EXPECT_EQ(pending[0].Time, "2024-01-25T00:00:00");
    ASSERT_TRUE(db.MarkPublished({pending[0]}, error)) << error;
    EXPECT_EQ(db.Unpublished(5, error).size(), 2U);
}

// Rows go in by groups: every row once, a row without a time skipped, the
// values on their own rows, whatever group a row falls in.
TEST(CollectDatabase, ManyRowsAreStoredOnceEachAcrossTheGroups) {
    std::string text = "DATE HOUR Q1\r\n";
    for (int h = 0; h < 150; ++h) {
        char row[40];
        std::snprintf(row, sizeof row, "%02d-01-2024 %2d %d \r\n", h / 24 + 10, h % 24, h);
        text += row;
    }
    text.replace(text.find("12-01-2024 22"), 10, "?"); // a row without its date
    ArchiveTable all = ReadArchiveText(text);
    ArchiveTable first = all;
    first.Rows.resize(100);
    TempDir dir;
    const std::string path = dir.File("a.db");
    ArchiveDb db;
    std::string error;
    ASSERT_TRUE(db.Open(path, error)) << error;
    StoreReport report;
    ASSERT_TRUE(db.StoreMeter(3, {{MeterArchive::Hour, first}}, {}, report, error)) << error;
    EXPECT_EQ(report.Added, 99);
    EXPECT_EQ(report.Skipped, 1);
    ASSERT_TRUE(db.StoreMeter(3, {{MeterArchive::Hour, all}}, {}, report, error)) << error;
    EXPECT_EQ(report.Added, 50);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM hour_rows WHERE meter = 3"), 149);
    EXPECT_EQ(Count(path, "SELECT Q1 FROM hour_rows WHERE time = '2024-01-16T05:00:00'"), 149);
    EXPECT_EQ(Count(path,
                    "SELECT count(*) FROM hour_rows WHERE Q1 = (CAST(substr(time, 9, 2) AS INTEGER) - 10) "
                    "* 24 + CAST(substr(time, 12, 2) AS INTEGER)"),
              149);
}

TEST(CollectDatabase, KilledPassLeavesTheMeterAsBefore) {
    TempDir dir;
    const std::string path = dir.File("a.db");
    {
        ArchiveDb db;
        std::string error;
        ASSERT_TRUE(db.Open(path, error));
        StoreReport report;
        ASSERT_TRUE(db.StoreMeter(1, {{MeterArchive::Day, HourTable()}}, {}, report, error));
    }
    // A child stops dead in the middle of a meter's transaction.
    const pid_t child = fork();
    if (child == 0) {
        ArchiveDb db;
        std::string error;
        if (!db.Open(path, error)) _exit(1);
        sqlite3* raw = nullptr;
        sqlite3_open(path.c_str(), &raw);
        sqlite3_exec(raw, "BEGIN; INSERT INTO day_rows(meter, time) VALUES(2, 'x');", nullptr, nullptr,
                     nullptr);
        _exit(0);
    }
    int wstatus = 0;
    waitpid(child, &wstatus, 0);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM day_rows WHERE meter = 2"), 0);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM day_rows WHERE meter = 1"), 3);
}

TEST(CollectDatabase, KeywordColumnsAvoidOwnNamesAndRepeats) {
    const ArchiveTable t = ReadArchiveText("DATE HOUR TIME Q1 Q1\r\n");
    std::vector<std::string> names;
    for (const auto& [index, name] : KeywordColumns(t))
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"TIME_2", "Q1", "Q1_2"}));
}
