// Reading archive files back: files the transfer itself wrote from the
// simulated meter (incomplete rows, NAN and INF, hours with a leading blank),
// the messages for files that do not fit, number texts, the CSV bytes in both
// locales (also through configurator-cli csv), and the chart's point reduction.
#include "archive/ArchiveCsv.h"
#include "archive/ArchiveFile.h"
#include "archive/ChartPoints.h"
#include "cli/Cli.h"
#include "support/ConsoleArchives.h"
#include "support/ScopedExecutableDir.h"
#include "support/SimConsole.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

using sim::ArchiveKind;

class ReadBack : public ::testing::Test {
protected:
    ReadBack() {
        sim::SimOptions o;
        o.AnswerGapMs = 3;
        simulator = std::make_unique<sim::Simulator>(o);
        simulator->Start();
        console = std::make_unique<SimConsole>(*simulator);
    }
    // The archive through the real transfer into day.txt or hour.txt, read back.
    ArchiveTable Transfer(bool hour) {
        hour ? console->logic.Button4Click() : console->logic.Button3Click();
        EXPECT_TRUE(console->RunTransfer());
        const auto table = ReadArchiveFile(dir.File(hour ? "hour.txt" : "day.txt"));
        EXPECT_TRUE(table.has_value());
        return table.value_or(ArchiveTable{});
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    std::unique_ptr<sim::Simulator> simulator;
    std::unique_ptr<SimConsole> console;
};

std::int64_t Civil(int y, int m, int d, int h) {
    // Seconds of a civil date and hour, counted independently of the reader.
    std::tm t{};
    t.tm_year = y - 1900, t.tm_mon = m - 1, t.tm_mday = d, t.tm_hour = h;
    return static_cast<std::int64_t>(timegm(&t));
}

TEST_F(ReadBack, DayArchiveWithSpecialValuesAndAnIncompleteRow) {
    sim::ArchiveData data = SmallDayArchive();
    sim::ArchiveRecord special = data.Records[0];
    special.Values["Q1"] = std::numeric_limits<double>::quiet_NaN();
    special.Values["M1"] = -std::numeric_limits<double>::infinity();
    data.Records.push_back(special);
    auto rows = sim::ArchiveRowBytes(data, ArchiveKind::Day);
    rows.push_back(std::vector<std::uint8_t>(rows[0].begin(), rows[0].begin() + 8)); // stops inside sTNORM
    simulator->SetArchiveRaw(ArchiveKind::Day, data.Template, rows);

    const ArchiveTable t = Transfer(false);
    EXPECT_TRUE(t.Problems.empty()) << ProblemsText(t);
    ASSERT_EQ(t.Columns.size(), 7u);
    EXPECT_EQ(t.Columns[2].Keyword, "TNORM");
    EXPECT_EQ(t.DateColumn, 0);
    EXPECT_EQ(t.HourColumn, 1);
    ASSERT_EQ(t.Rows.size(), 5u);

    const ArchiveRow& b = t.Rows[1]; // 01-01-1999, hour " 5"
    EXPECT_EQ(b.Line, 3);
    EXPECT_EQ(b.Texts[1], " 5");
    EXPECT_EQ(b.Time, Civil(1999, 1, 1, 5));
    EXPECT_EQ(b.Texts[5], "1,234568E7");
    EXPECT_DOUBLE_EQ(b.Values[5], 12345680.0);
    EXPECT_DOUBLE_EQ(b.Values[2], 0.02);
    EXPECT_FALSE(b.Incomplete);
    EXPECT_DOUBLE_EQ(t.Rows[2].Values[5], 1e-5);
    EXPECT_DOUBLE_EQ(t.Rows[2].Values[6], 7);

    const ArchiveRow& s = t.Rows[3];
    EXPECT_EQ(s.Texts[4], "NAN");
    EXPECT_EQ(s.Texts[5], "-INF");
    EXPECT_TRUE(std::isnan(s.Values[4]) && std::isnan(s.Values[5]));

    const ArchiveRow& cut = t.Rows[4];
    EXPECT_TRUE(cut.Incomplete);
    EXPECT_EQ(cut.Texts[3], "?");
    EXPECT_TRUE(std::isnan(cut.Values[3]));
    EXPECT_DOUBLE_EQ(cut.Values[2], 1.5);
    EXPECT_EQ(cut.Time, Civil(2008, 12, 31, 23));
}

TEST_F(ReadBack, HourArchiveValuesAndTimesAreTheMetersOwn) {
    const sim::ArchiveData data = sim::DefaultHourArchive(30);
    simulator->SetArchive(ArchiveKind::Hour, data);
    const ArchiveTable t = Transfer(true);
    EXPECT_TRUE(t.Problems.empty()) << ProblemsText(t);
    ASSERT_EQ(t.Rows.size(), 30u);
    for (std::size_t r = 0; r < t.Rows.size(); ++r) {
        EXPECT_EQ(t.Rows[r].Time, Civil(2024, 1, 25, 0) + static_cast<std::int64_t>(r) * 3600) << r;
        for (std::size_t c = 0; c < t.Columns.size(); ++c) {
            const auto v = data.Records[r].Values.find(t.Columns[c].Keyword);
            if (v == data.Records[r].Values.end()) continue;
            // Minute counters are written in hours with two decimals.
            const bool minutes = t.Columns[c].Kind == ColMinutes8 || t.Columns[c].Kind == ColMinutes16;
            const double expected = minutes ? std::round(v->second / 60 * 100) / 100 : v->second;
            EXPECT_DOUBLE_EQ(t.Rows[r].Values[c], expected) << r << " " << t.Columns[c].Keyword;
        }
    }
}

TEST(ArchiveReader, ProblemsNameTheLineAndTheRestIsShown) {
    const ArchiveTable t = ReadArchiveText("DATE HOUR Q1\r\n"
                                           "25-01-2024 13 1,25 \r\n"
                                           "25-01-2024 14 abc \r\n"
                                           "25-01-2024 15 \r\n"
                                           "\r\n"
                                           "25-01-2024 16 2 7 \r\n"
                                           "31-02-2024  1 3 \r\n"
                                           "25-01-2024 17 2.5\n");
    ASSERT_EQ(t.Rows.size(), 3u);
    EXPECT_EQ(t.Rows[1].Line, 7);
    EXPECT_FALSE(t.Rows[1].Time);               // no 31 February: in the table, not on the chart
    EXPECT_DOUBLE_EQ(t.Rows[2].Values[2], 2.5); // a point and no closing blank
    EXPECT_EQ(ProblemsText(t),
              "Строка 3: не подходит к шаблону: в столбце Q1 «abc».\n"
              "Строка 4: не подходит к шаблону: нет столбца Q1 и дальше.\n"
              "Строка 5: пустая строка.\n"
              "Строка 6: не подходит к шаблону: после последнего столбца ещё «7 ».\n"
              "Строка 7: дата или час не читаются - строка есть в таблице, но не на графике.\n");

    const ArchiveTable other = ReadArchiveText("[Desktop Entry]\nName=x\n");
    ASSERT_FALSE(other.Problems.empty());
    EXPECT_EQ(other.Problems[0].Text, "Строка 1: нет шаблона архива (ни одного известного столбца) - это не "
                                      "архив day.txt или hour.txt этой программы.");
    EXPECT_EQ(ProblemsText(ReadArchiveText("")),
              "Строка 1: файл пуст - это не архив day.txt или hour.txt этой программы.\n");

    std::string many = "Q1\n";
    for (int i = 0; i < MaxArchiveProblems + 5; ++i)
        many += "x\n";
    const ArchiveTable capped = ReadArchiveText(many);
    EXPECT_EQ(capped.Problems.size(), static_cast<std::size_t>(MaxArchiveProblems));
    EXPECT_EQ(capped.MoreProblems, 5);
}

TEST(ArchiveReader, NumberTextsWithoutExponent) {
    EXPECT_EQ(PlainNumberText("1,234568E7", ','), "12345680");
    EXPECT_EQ(PlainNumberText("1E-5", ','), "0,00001");
    EXPECT_EQ(PlainNumberText("-2,5E-3", '.'), "-0.0025");
    EXPECT_EQ(PlainNumberText("1,677722E7", '.'), "16777220");
    EXPECT_EQ(PlainNumberText("1092,25", '.'), "1092.25");
    EXPECT_EQ(PlainNumberText("NAN", ','), "NAN");
    EXPECT_FALSE(ArchiveNumberText("1,"));
    EXPECT_FALSE(ArchiveNumberText("E5"));
    EXPECT_TRUE(ArchiveNumberText("-3"));
}

const std::string SmallDayCsvComma = "\xEF\xBB\xBF"
                                     "DATETIME;DATE;HOUR;TNORM;sTNORM;Q1;M1;ERRORCODE\r\n"
                                     "2008-12-31T23:00:00;31-12-2008;23;1,50;1234,00;2,5;100;255\r\n"
                                     "1999-01-01T05:00:00;01-01-1999;5;0,02;0,00;0,5;12345680;0\r\n"
                                     "2024-06-15T00:00:00;15-06-2024;0;24,00;16777220;-3;0,00001;7\r\n";

TEST(ArchiveCsv, BytesForADecimalCommaAndADecimalPoint) {
    const ArchiveTable t = ReadArchiveText(SmallDayFile);
    EXPECT_EQ(ArchiveCsv(t, ','), SmallDayCsvComma);
    EXPECT_EQ(ArchiveCsv(t, '.', 1, 2), "\xEF\xBB\xBF"
                                        "DATETIME,DATE,HOUR,TNORM,sTNORM,Q1,M1,ERRORCODE\r\n"
                                        "1999-01-01T05:00:00,01-01-1999,5,0.02,0.00,0.5,12345680,0\r\n");
    // RFC 4180: separators, quotes and outer blanks are quoted.
    const ArchiveTable odd = ReadArchiveText("a;b \"c\" DATE\n1 2 01-01-2024 \n");
    EXPECT_EQ(ArchiveCsv(odd, ','), "\xEF\xBB\xBF"
                                    "DATETIME;\"a;b\";\"\"\"c\"\"\";DATE\r\n"
                                    "2024-01-01T00:00:00;1;2;01-01-2024\r\n");
}

TEST(ArchiveCsv, CommandLineWritesTheLocalesCsv) {
    TempDir dir;
    dir.Write("day.txt", SmallDayFile);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(RunCli({"csv", dir.File("day.txt")}, out, err, ','), 0); // a locale with a comma
    std::fclose(out), std::fclose(err);
    EXPECT_EQ(dir.Read("day.csv"), SmallDayCsvComma);
}

TEST(ChartPoints, FewPointsPerSliceAndEveryPeakKept) {
    std::vector<ChartPoint> points;
    for (int i = 0; i < 10000; ++i)
        points.push_back({static_cast<double>(i), i == 5000 ? 1000.0 : i == 7000 ? -1000.0 : std::sin(i)});
    const auto shown = VisiblePoints(points, 1000, 9000, 100);
    EXPECT_LE(shown.size(), 4u * 100 + 10);
    EXPECT_EQ(shown.front().X, 999); // runs on to the edges
    EXPECT_EQ(shown.back().X, 9001);
    auto has = [&](double x, double y) {
        return std::any_of(shown.begin(), shown.end(),
                           [&](const ChartPoint& p) { return p.X == x && p.Y == y; });
    };
    EXPECT_TRUE(has(5000, 1000) && has(7000, -1000));
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [](auto& a, auto& b) { return a.X < b.X; }));
    EXPECT_EQ(VisiblePoints(points, 10, 20, 100).size(), 13u); // few: all of them
}

} // namespace
