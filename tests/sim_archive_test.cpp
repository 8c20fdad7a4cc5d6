// The meter's archive data as bytes: keyword kinds, row encoding with its
// mixed byte orders, the default archives and templates of a chosen length.
#include "sim/Archive.h"
#include "support/Pty.h"

#include <gtest/gtest.h>
#include <set>

namespace {

using sim::ArchiveKind;

TEST(SimArchive, RowEncodingKeepsEachColumnsByteOrder) {
    sim::ArchiveRecord r;
    r.Day = 31;
    r.Month = 12;
    r.Year = 8;
    r.Hour = 23;
    r.Values = {{"TNORM", 90}, {"Q1", 10.0}, {"ERRORCODE", 255}, {"sTNORM", 65535}};
    const std::string t = "DATE HOUR TNORM Q1 ERRORCODE sTNORM";
    EXPECT_EQ(Hex(sim::EncodeArchiveRow(t, ArchiveKind::Day, r)),
              "31 12 08 23 5A 00 41 20 00 00 FF FF FF 00");
    // The hour archive keeps its minute counters in one byte.
    EXPECT_EQ(Hex(sim::EncodeArchiveRow(t, ArchiveKind::Hour, r)), "31 12 08 23 5A 41 20 00 00 FF FF FF 00");
    // Counters are rounded and held within their width; missing values are 0.
    r.Values = {{"TNORM", 70000}, {"TMIN", -3}, {"sTNORM", 1e9}, {"MODES", 1.6}};
    EXPECT_EQ(Hex(sim::EncodeArchiveRow("TNORM TMIN sTNORM MODES M1", ArchiveKind::Day, r)),
              "FF FF 00 00 FF FF FF 02 00 00 00 00");
}

TEST(SimArchive, TemplatesSplitTheWayTheReaderSplitsThem) {
    using V = std::vector<int>;
    EXPECT_EQ(sim::TemplateColumnKinds("DATE HOUR TNORM Q1 M1 ERRORCODE", ArchiveKind::Day),
              (V{1, 2, 4, 5, 5, 7}));
    EXPECT_EQ(sim::TemplateColumnKinds("DATE HOUR TNORM Q1 M1 ERRORCODE", ArchiveKind::Hour),
              (V{1, 2, 3, 5, 5, 7}));
    EXPECT_EQ(sim::TemplateRowWidth("DATE HOUR TNORM Q1 M1 ERRORCODE", ArchiveKind::Day), 15);
    EXPECT_EQ(sim::TemplateColumnKinds("DATE  HOUR", ArchiveKind::Day), (V{1, 5, 2}));
    EXPECT_EQ(sim::TemplateColumnKinds("date TNORM4 TNORM2", ArchiveKind::Day), (V{5, 5, 4}));
    EXPECT_EQ(sim::TemplateColumnKinds("", ArchiveKind::Day), (V{5}));
}

TEST(SimArchive, DefaultArchivesCoverEveryColumnKind) {
    auto day = sim::DefaultDayArchive();
    auto hour = sim::DefaultHourArchive();
    ASSERT_EQ(day.Records.size(), 31u);
    ASSERT_EQ(hour.Records.size(), 168u);
    auto kinds = sim::TemplateColumnKinds(day.Template, ArchiveKind::Day);
    auto hourKinds = sim::TemplateColumnKinds(hour.Template, ArchiveKind::Hour);
    kinds.insert(kinds.end(), hourKinds.begin(), hourKinds.end());
    EXPECT_EQ(std::set<int>(kinds.begin(), kinds.end()), (std::set<int>{1, 2, 3, 4, 5, 6, 7}));
    for (const auto* t : {&day.Template, &hour.Template}) {
        EXPECT_EQ(t->find("  "), std::string::npos);
        EXPECT_NE(t->back(), ' ');
    }

    auto dayRows = sim::ArchiveRowBytes(day, ArchiveKind::Day);
    auto hourRows = sim::ArchiveRowBytes(hour, ArchiveKind::Hour);
    for (const auto& row : dayRows)
        EXPECT_EQ(row.size(), 49u);
    for (const auto& row : hourRows)
        EXPECT_EQ(row.size(), 38u);
    // A month of days, a week of hours: BCD dates and hours.
    EXPECT_EQ(Hex({dayRows[0].begin(), dayRows[0].begin() + 4}), "01 01 24 00");
    EXPECT_EQ(Hex({dayRows[30].begin(), dayRows[30].begin() + 4}), "31 01 24 00");
    EXPECT_EQ(Hex({hourRows[0].begin(), hourRows[0].begin() + 4}), "25 01 24 00");
    EXPECT_EQ(Hex({hourRows[167].begin(), hourRows[167].begin() + 4}), "31 01 24 23");
    // Longer archives run on across months.
    auto longer = sim::ArchiveRowBytes(sim::DefaultDayArchive(60), ArchiveKind::Day);
    EXPECT_EQ(Hex({longer[59].begin(), longer[59].begin() + 3}), "29 02 24");
    // Every day's duration counters add up to the day.
    for (const auto& r : day.Records) {
        double sum = 0;
        for (const char* k : {"TNORM", "TMIN", "TMAX", "TDELTAT", "TSUHOST", "TAVARIA"})
            sum += r.Values.at(k);
        EXPECT_EQ(sum, 1440);
    }
}

TEST(SimArchive, TemplateOfAnyLengthWithoutTrailingSeparator) {
    for (int n = 2; n <= 600; ++n) {
        std::string t = sim::TemplateOfLength(n);
        ASSERT_EQ(static_cast<int>(t.size()), n) << t;
        ASSERT_NE(t.front(), ' ');
        ASSERT_NE(t.back(), ' ');
        ASSERT_EQ(t.find("  "), std::string::npos) << t;
    }
    auto kinds = sim::TemplateColumnKinds(sim::TemplateOfLength(300), ArchiveKind::Day);
    EXPECT_LE(kinds.size(), 127u);
    EXPECT_EQ(std::set<int>(kinds.begin(), kinds.end()), std::set<int>{5});
}

TEST(SimArchive, GeneratedArchiveFillsEveryColumnOfAnyTemplate) {
    std::string t = sim::TemplateOfLength(300) + " DATE TNORM sTNORM MODES";
    auto data = sim::GeneratedArchive(t, ArchiveKind::Day, 3);
    auto rows = sim::ArchiveRowBytes(data, ArchiveKind::Day);
    ASSERT_EQ(rows.size(), 3u);
    for (const auto& row : rows)
        EXPECT_EQ(static_cast<int>(row.size()), sim::TemplateRowWidth(t, ArchiveKind::Day));
    EXPECT_NE(rows[0], rows[1]);
    EXPECT_EQ(Hex({rows[2].end() - 9, rows[2].end() - 6}), "03 01 24"); // the date column of the third day
}

} // namespace
