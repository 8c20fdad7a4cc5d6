// configurator-cli collect against the simulated gateway and meters, a real
// broker (mosquitto on a free loopback port) and a subscriber: the files, the
// database, the messages, a pass that finds the broker down and the next
// one that sends what was left, the lock between two collections.
#include "base/Files.h"
#include "base/Timing.h"
#include "cli/Cli.h"
#include "collect/LineLock.h"
#include "sim/Simulator.h"
#include "support/CliRun.h"
#include "support/CollectFixtures.h"
#include "support/ConsoleArchives.h"
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>

namespace {

class CliCollect : public ::testing::Test {
protected:
    CliCollect() : simulator(FastSim()) {
        TimingConstants fast;
        fast.FinishWritePauseMs = 10;
        fast.ArchiveAnswerTimeoutMs = 150;
        SetTimingForTests(fast);
        setenv("CONFIGURATOR_LOCK_DIR", dir.Path().c_str(), 1);
        simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
        simulator.SetArchive(sim::ArchiveKind::Hour, SmallHourArchive());
        sim::MeterSetup five;
        five.Address = 5;
        five.Ident = sim::IdentificationForType(8);
        five.DayRows = 3;
        five.HourRows = 4;
        simulator.AddMeter(five);
        simulator.Start();
    }
    ~CliCollect() override {
        SetTimingForTests(TimingConstants{});
        unsetenv("CONFIGURATOR_LOCK_DIR");
    }
    static sim::SimOptions FastSim() {
        sim::SimOptions o;
        o.AnswerGapMs = 3;
        return o;
    }
    // A session file for the simulator's line; `extra` adds keys.
    std::string Session(const std::string& extra) {
        dir.Write("line.toml", "port = \"" + simulator.PortPath() +
                                   "\"\nlink = \"i2c\"\naddress = [1, 5]\noutput = \"out\"\n" + extra);
        return dir.File("line.toml");
    }
    std::string Db() const { return dir.File("out/archive.db"); }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
};

} // namespace

TEST_F(CliCollect, FilesDatabaseAndMessagesOnceEach) {
    const int port = FreeLoopbackPort();
    Broker broker(dir, port);
    Subscriber subscriber(port);
    const std::string session =
        Session("csv = true\nmqtt = \"127.0.0.1:" + std::to_string(port) + "\"\ntopic = \"t\"\n");

    const CliResult first = Cli({"collect", session});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(dir.Read("out/day-001.txt"), SmallDayFile);
    EXPECT_EQ(dir.Read("out/hour-001.txt"), SmallHourFile);
    EXPECT_FALSE(dir.Read("out/day-005.csv").empty());
    EXPECT_NE(first.out.find("адрес 1: day прочитан"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("адрес 5: day прочитан, строк 3; hour прочитан, строк 4; новых строк в базе 7, "
                             "отправлено 7 из 7"),
              std::string::npos)
        << first.out;
    const std::int64_t rows =
        Query(Db(), "SELECT (SELECT count(*) FROM day_rows) + (SELECT count(*) FROM hour_rows)");
    EXPECT_GT(rows, 7);
    EXPECT_EQ(Query(Db(), "SELECT count(*) FROM hour_rows WHERE published = 0"), 0);

    subscriber.Loop(3000, static_cast<std::size_t>(rows) + 2);
    EXPECT_EQ(subscriber.messages.size(), static_cast<std::size_t>(rows) + 2);
    EXPECT_EQ(subscriber.Count("t/5/day"), 3U);
    EXPECT_EQ(subscriber.Count("t/5/hour"), 4U);
    ASSERT_EQ(subscriber.Count("t/5/status"), 1U);
    const auto status = std::find_if(subscriber.messages.begin(), subscriber.messages.end(),
                                     [](const auto& m) { return m.first == "t/5/status"; });
    EXPECT_NE(status->second.find("\"outcome\":\"прочитан\",\"day_rows\":3,\"hour_rows\":4"),
              std::string::npos)
        << status->second;
    const auto row = std::find_if(subscriber.messages.begin(), subscriber.messages.end(),
                                  [](const auto& m) { return m.first == "t/1/hour"; });
    ASSERT_NE(row, subscriber.messages.end());
    EXPECT_EQ(row->second.rfind("{\"meter\":1,\"archive\":\"hour\",\"time\":\"", 0), 0U) << row->second;

    // The same archives again: nothing new in the database, only the statuses sent.
    subscriber.messages.clear();
    const CliResult second = Cli({"collect", session, "--address", "5"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_NE(second.out.find("новых строк в базе 0, отправлено 0 из 0"), std::string::npos) << second.out;
    subscriber.Loop(500);
    EXPECT_EQ(subscriber.messages.size(), 1U);
}

TEST_F(CliCollect, BrokerDownKeepsTheRowsForTheNextPass) {
    const int port = FreeLoopbackPort();
    const std::vector<std::string> args = {"collect",
                                           "--port",
                                           simulator.PortPath(),
                                           "--link",
                                           "i2c",
                                           "--address",
                                           "5",
                                           "--output",
                                           dir.File("out"),
                                           "--mqtt",
                                           "127.0.0.1:" + std::to_string(port),
                                           "--topic",
                                           "t"};
    const CliResult down = Cli(args);
    EXPECT_EQ(down.status, 11) << down.err;
    EXPECT_NE(down.err.find("брокер 127.0.0.1:" + std::to_string(port) + " недоступен"), std::string::npos)
        << down.err;
    EXPECT_EQ(Query(Db(), "SELECT count(*) FROM day_rows WHERE published = 0"), 3);

    Broker broker(dir, port);
    Subscriber subscriber(port);
    const CliResult up = Cli(args);
    EXPECT_EQ(up.status, 0) << up.err;
    EXPECT_NE(up.out.find("новых строк в базе 0, отправлено 7 из 7"), std::string::npos) << up.out;
    subscriber.Loop(3000, 8);
    EXPECT_EQ(subscriber.Count("t/5/day"), 3U);
    EXPECT_EQ(Query(Db(), "SELECT count(*) FROM day_rows WHERE published = 0"), 0);
}

TEST_F(CliCollect, LockSessionErrorsAndFailedMeters) {
    LineLock other;
    std::string holder;
    ASSERT_TRUE(other.Acquire(LockFileFor(simulator.PortPath()), "collect other.toml", 0, holder));
    const CliResult busy = Cli({"collect", Session(""), "--lock-wait", "0"});
    EXPECT_EQ(busy.status, 9) << busy.err;
    EXPECT_NE(busy.err.find("занята: её держит pid " + std::to_string(getpid()) + " (collect other.toml)"),
              std::string::npos)
        << busy.err;
    EXPECT_FALSE(FileExists(dir.File("out/day-001.txt")));

    dir.Write("bad.toml", "port = \"COM3\"\nmeters = [1]\n");
    const CliResult bad = Cli({"collect", dir.File("bad.toml")});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.toml, строка 2: неизвестный ключ 'meters'"), std::string::npos) << bad.err;
    EXPECT_EQ(Cli({"collect", "--db"}).status, 2);
    EXPECT_EQ(Cli({"collect", "--archives", "week"}).status, 2);

    // A broker password in a file others may read is named with the fix.
    dir.Write("open.toml", "port = \"/nonexistent/tty\"\nmqtt-password = \"secret\"\n");
    chmod(dir.File("open.toml").c_str(), 0644);
    EXPECT_NE(Cli({"collect", dir.File("open.toml")})
                  .err.find("с паролем брокера могут читать другие "
                            "пользователи; закройте его: chmod 600"),
              std::string::npos);
    chmod(dir.File("open.toml").c_str(), 0600);
    EXPECT_EQ(Cli({"collect", dir.File("open.toml")}).err.find("chmod 600"), std::string::npos);
}

TEST_F(CliCollect, OneSilentMeterNeverStopsTheOthers) {
    const CliResult r = Cli({"collect", Session("archives = \"day\"\ndb = \"a.db\"\n"), "--address", "9,5"});
    EXPECT_EQ(r.status, 8) << r.err;
    EXPECT_NE(r.out.find("адрес 9: day не прочитан: прибор не отвечает, строк 0; новых строк в базе 0"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("адрес 5: day прочитан, строк 3; новых строк в базе 3"), std::string::npos) << r.out;
    EXPECT_EQ(
        Query(
            dir.File("out/a.db"),
            "SELECT count(*) FROM meters WHERE address = 9 AND outcome = 'не прочитан: прибор не отвечает'"),
        1);
    EXPECT_EQ(Query(dir.File("out/a.db"), "SELECT count(*) FROM meters"), 2);
}
