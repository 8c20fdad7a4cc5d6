// Template parsing: keyword kinds in both archives, separators and empty
// tokens, exact matching, the column limit, descriptor widths.
#include "archive/Shablon.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::int32_t> Kinds(std::string_view shablon, int mode) {
    ShablonDescriptor d;
    EXPECT_TRUE(AnalizShablonStrArhiva(shablon, mode, d));
    return {d.ShablonColumns, d.ShablonColumns + d.ShablonColumnCount};
}

using K = std::vector<std::int32_t>;

TEST(ShablonParse, DayAndHourArchiveKindsAndWidths) {
    const std::string shablon = "DATE HOUR TNORM Q1 M1 ERRORCODE\n";
    ShablonDescriptor d;
    ASSERT_TRUE(AnalizShablonStrArhiva(shablon, 1, d));
    EXPECT_EQ(K(d.ShablonColumns, d.ShablonColumns + d.ShablonColumnCount), (K{1, 2, 4, 5, 5, 7}));
    EXPECT_EQ(DescriptorWidth(d), 15);
    ASSERT_TRUE(AnalizShablonStrArhiva(shablon, 0, d));
    EXPECT_EQ(K(d.ShablonColumns, d.ShablonColumns + d.ShablonColumnCount), (K{1, 2, 3, 5, 5, 7}));
    EXPECT_EQ(DescriptorWidth(d), 14);
    // Every mode other than 1 is the hour archive.
    EXPECT_EQ(Kinds("TNORM\n", 2), (K{3}));
    EXPECT_EQ(Kinds("TNORM\n", -1), (K{3}));
}

TEST(ShablonParse, SeparatorsAndEmptyTokens) {
    EXPECT_EQ(Kinds("DATE  HOUR\n", 1), (K{1, 5, 2}));
    EXPECT_EQ(Kinds(" DATE\n", 1), (K{5, 1}));
    EXPECT_EQ(Kinds("\n", 1), (K{5}));
    EXPECT_EQ(Kinds("DATE HOUR\nQ1 sTNORM\n", 1), (K{1, 2, 5, 6}));
    // Carriage return and tab are token characters, not separators.
    EXPECT_EQ(Kinds("DATE HOUR\r\nQ1 MODES\r\n", 1), (K{1, 5, 5, 5}));
    EXPECT_EQ(Kinds("DATE\tHOUR\n", 1), (K{5}));
    // A token not ended by a separator is dropped.
    EXPECT_EQ(Kinds("DATE", 1), K{});
    EXPECT_EQ(Kinds("", 1), K{});
    EXPECT_EQ(Kinds("DATE HOUR", 1), (K{1}));
}

TEST(ShablonParse, KeywordsMatchWholeAndCaseSensitively) {
    EXPECT_EQ(Kinds("date tnorm Date q1\n", 1), (K{5, 5, 5, 5}));
    EXPECT_EQ(Kinds("TNORM2 TNORM4 TNORM22 TNOR DATEX sTNORM4\n", 1), (K{4, 5, 5, 5, 5, 5}));
    EXPECT_EQ(Kinds("TNORM2\n", 0), (K{3}));
}

TEST(ShablonParse, EveryKeywordInBothArchives) {
    const std::vector<std::pair<std::string, std::int32_t>> fixed = {
        {"DATE", 1},       {"HOUR", 2},  {"TIME", 2},   {"ERRORCODE", 7}, {"ERRORCODE2", 7},
        {"ERRORCODE3", 7}, {"MODES", 7}, {"sTNORM", 6}, {"sTNORM2", 6},   {"sTNORM3", 6}};
    const std::vector<std::string> durations = {
        "TNORM", "TNORM2",  "TNORM3",   "TMIN",     "TMIN2",   "TMIN3",   "TMAX",     "TMAX2",
        "TMAX3", "TDELTAT", "TDELTAT2", "TDELTAT3", "TSUHOST", "TAVARIA", "TAVARIA2", "TNKP"};
    // The float keywords give kind 5 like any unknown token, so only these 26
    // can be told apart. A keyword with one more character is no keyword.
    for (int mode : {0, 1}) {
        for (const auto& [word, kind] : fixed) {
            EXPECT_EQ(Kinds(word + "\n", mode), (K{kind})) << word;
            EXPECT_EQ(Kinds(word + "x\n", mode), (K{5})) << word;
        }
        for (const auto& word : durations) {
            EXPECT_EQ(Kinds(word + "\n", mode), (K{mode == 1 ? 4 : 3})) << word;
            EXPECT_EQ(Kinds(word + "x\n", mode), (K{5})) << word;
        }
    }
}

TEST(ShablonParse, ReparsingRestartsTheDescriptor) {
    ShablonDescriptor d;
    ASSERT_TRUE(AnalizShablonStrArhiva("DATE HOUR TNORM\n", 1, d));
    ASSERT_TRUE(AnalizShablonStrArhiva("DATE HOUR TNORM\n", 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 3);
    ASSERT_TRUE(AnalizShablonStrArhiva("MODES\n", 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 1);
    EXPECT_EQ(d.ShablonColumns[0], ColByte);
}

TEST(ShablonParse, ThreeHundredColumnsFitAndOneMoreIsRefused) {
    std::string full;
    for (int i = 0; i < 299; ++i)
        full += "Q1 ";
    full += "DATE\n";
    ShablonDescriptor d;
    ASSERT_TRUE(AnalizShablonStrArhiva(full, 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 300);
    EXPECT_EQ(d.ShablonColumns[299], ColDate);
    EXPECT_EQ(DescriptorWidth(d), 299 * 4 + 3);

    // The 301st separator refuses the template; a token left unterminated
    // after the 300th does not count.
    EXPECT_FALSE(AnalizShablonStrArhiva(full + "HOUR\n", 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 0);
    EXPECT_EQ(DescriptorWidth(d), 0);
    EXPECT_TRUE(AnalizShablonStrArhiva(full + "HOUR", 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 300);
    EXPECT_FALSE(AnalizShablonStrArhiva(std::string(5000, ' '), 1, d));
    EXPECT_EQ(d.ShablonColumnCount, 0);
}

TEST(ShablonWidth, ByteCountsAndOutOfRangeDescriptors) {
    EXPECT_EQ((K{ColumnByteCount(1), ColumnByteCount(2), ColumnByteCount(3), ColumnByteCount(4),
                 ColumnByteCount(5), ColumnByteCount(6), ColumnByteCount(7)}),
              (K{3, 1, 1, 2, 4, 3, 1}));
    EXPECT_EQ(ColumnByteCount(0), 0);
    EXPECT_EQ(ColumnByteCount(8), 0);
    ShablonDescriptor d;
    EXPECT_EQ(DescriptorWidth(d), 0);
    d.ShablonColumnCount = -5;
    EXPECT_EQ(DescriptorWidth(d), 0);
    for (auto& c : d.ShablonColumns)
        c = ColByte;
    d.ShablonColumnCount = 100000; // a count past the table reads no further than the table
    EXPECT_EQ(DescriptorWidth(d), MaxShablonColumns);
}

} // namespace
