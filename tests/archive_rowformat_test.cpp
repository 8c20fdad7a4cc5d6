// Row formatting: column conversions and byte orders, the in-place float
// reversal, short rows, and the 800-byte row area.
#include "archive/RowFormat.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

ShablonDescriptor Descriptor(std::initializer_list<std::int32_t> kinds) {
    ShablonDescriptor d;
    for (auto k : kinds)
        d.ShablonColumns[d.ShablonColumnCount++] = k;
    return d;
}

std::string Format(const ShablonDescriptor& d, std::vector<std::uint8_t> row, int rowLength) {
    std::string line;
    FormatStrArhivToStrFile(d, row.data(), rowLength, ',', line);
    return line;
}

std::string Format(const ShablonDescriptor& d, std::vector<std::uint8_t> row) {
    return Format(d, row, static_cast<int>(row.size()));
}

TEST(RowFormat, DayRowWithEveryTextFollowedByOneSpace) {
    const auto d = Descriptor({ColDate, ColHour, ColMinutes16, ColFloat32});
    std::vector<std::uint8_t> row = {0x31, 0x12, 0x08, 0x23, 0x5A, 0x00, 0x41, 0x20, 0x00, 0x00};
    std::string line = "kept ";
    FormatStrArhivToStrFile(d, row.data(), static_cast<int>(row.size()), ',', line);
    EXPECT_EQ(line, "kept 31-12-2008 23 1,50 10 ");
    // The float's bytes are reversed in place; the others are untouched.
    EXPECT_EQ(row, (std::vector<std::uint8_t>{0x31, 0x12, 0x08, 0x23, 0x5A, 0x00, 0x00, 0x00, 0x20, 0x41}));
    line.clear();
    row[6] = 0xC0; // -2.5, most significant byte first
    row[7] = 0x20;
    row[8] = row[9] = 0x00;
    FormatStrArhivToStrFile(d, row.data(), 10, '.', line);
    EXPECT_EQ(line, "31-12-2008 23 1.50 -2.5 ");
}

TEST(RowFormat, ColumnConversionsAndByteOrders) {
    // The hour archive's 1-byte minutes take only 0x5A; the next column starts at 0x00.
    EXPECT_EQ(Format(Descriptor({ColMinutes8, ColByte}), {0x5A, 0x00}), "1,50 0 ");
    EXPECT_EQ(Format(Descriptor({ColMinutes8}), {0x00}), "0,00 ");
    EXPECT_EQ(Format(Descriptor({ColMinutes16}), {0x01, 0x00}), "0,02 ");
    EXPECT_EQ(Format(Descriptor({ColMinutes16}), {0x00, 0x01}), "4,27 "); // 256 minutes
    EXPECT_EQ(Format(Descriptor({ColMinutes16}), {0xFF, 0xFF}), "1092,25 ");
    EXPECT_EQ(Format(Descriptor({ColCount24}), {0xFF, 0xFF, 0x00}), "65535,00 ");
    EXPECT_EQ(Format(Descriptor({ColCount24}), {0xD2, 0x04, 0x00}), "1234,00 ");
    EXPECT_EQ(Format(Descriptor({ColCount24}), {0xFF, 0xFF, 0xFF}), "1,677722E7 ");
    EXPECT_EQ(Format(Descriptor({ColCount24}), {0x80, 0x96, 0x98}), "1E7 ");
    EXPECT_EQ(Format(Descriptor({ColByte, ColByte}), {0xFF, 0x00}), "255 0 ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0, 0, 0, 0}), "0 ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0xFF, 0xFF, 0xFF, 0xFF}), "NAN ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0x40, 0x48, 0x00, 0x00}), "3,125 ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0xC0, 0x20, 0x00, 0x00}), "-2,5 ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0x4B, 0x3C, 0x61, 0x4E}), "1,234568E7 ");
    EXPECT_EQ(Format(Descriptor({ColFloat32}), {0x37, 0x27, 0xC5, 0xAC}), "1E-5 ");
}

TEST(RowFormat, BcdColumns) {
    // The hour's leading space follows the previous column's space.
    EXPECT_EQ(Format(Descriptor({ColDate, ColHour}), {0x01, 0x01, 0x99, 0x09}), "01-01-1999  9 ");
    EXPECT_EQ(Format(Descriptor({ColDate, ColHour}), {0x01, 0x01, 0x00, 0x00}), "01-01-2000  0 ");
    EXPECT_EQ(Format(Descriptor({ColDate}), {0x28, 0x02, 0x98}), "28-02-2098 ");
}

TEST(RowFormat, EmptyDescriptorAndSurplusBytes) {
    EXPECT_EQ(Format(ShablonDescriptor{}, {1, 2, 3}), "");
    EXPECT_EQ(Format(Descriptor({ColByte}), {7, 8, 9}), "7 ");
}

TEST(RowFormat, ShortRowMarksColumnsNotFullyReceived) {
    const auto d = Descriptor({ColDate, ColHour, ColMinutes16, ColFloat32});
    const std::vector<std::uint8_t> stale = {0x31, 0x12, 0x08, 0x23, 0x5A, 0x00, 0x41, 0x20, 0x00, 0x00};
    EXPECT_EQ(Format(d, stale, 10), "31-12-2008 23 1,50 10 ");
    EXPECT_EQ(Format(d, stale, 9), "31-12-2008 23 1,50 ? ");
    EXPECT_EQ(Format(d, stale, 6), "31-12-2008 23 1,50 ? ");
    EXPECT_EQ(Format(d, stale, 5), "31-12-2008 23 ? ? ");
    EXPECT_EQ(Format(d, stale, 2), "? ? ? ? ");
    EXPECT_EQ(Format(d, stale, 0), "? ? ? ? ");
    EXPECT_EQ(Format(d, stale, -3), "? ? ? ? ");

    // A marked float column is left as it was in the row area.
    std::vector<std::uint8_t> row = stale;
    std::string line;
    FormatStrArhivToStrFile(d, row.data(), 8, ',', line);
    EXPECT_EQ(row, stale);
}

TEST(RowFormat, UnknownKindCodesAndCountsOutsideTheTable) {
    // An unknown code takes no bytes and shows as "?"; the next column reads on.
    EXPECT_EQ(Format(Descriptor({ColByte, 0, 99, ColByte}), {1, 2}), "1 ? ? 2 ");
    auto d = Descriptor({ColByte});
    d.ShablonColumnCount = -1;
    EXPECT_EQ(Format(d, {1}), "");
}

TEST(RowFormat, NeverReadsPastTheRowArea) {
    // Exactly the row area on the heap, so that a read past it is caught by
    // the address sanitizer build.
    auto area = std::make_unique<std::uint8_t[]>(RowAreaSize);
    std::fill_n(area.get(), RowAreaSize, std::uint8_t{0x3F}); // 0x3F3F3F3F = 0,7470588
    ShablonDescriptor d;
    d.ShablonColumns[0] = ColDate; // 3 bytes, then floats: the 200th ends at byte 803
    for (int i = 1; i < MaxShablonColumns; ++i)
        d.ShablonColumns[i] = ColFloat32;
    d.ShablonColumnCount = MaxShablonColumns;
    ASSERT_EQ(DescriptorWidth(d), 3 + 299 * 4);

    for (int rowLength : {RowAreaSize, RowAreaSize + 1, 100000}) {
        std::string line;
        FormatStrArhivToStrFile(d, area.get(), rowLength, ',', line);
        std::string expected = "3?-3?-203? ";
        for (int i = 1; i < MaxShablonColumns; ++i)
            expected += i < 200 ? "0,7470588 " : "? ";
        EXPECT_EQ(line, expected) << rowLength;
    }
    // A count past the table formats no more than the table's columns.
    d.ShablonColumnCount = 100000;
    std::string line;
    FormatStrArhivToStrFile(d, area.get(), RowAreaSize, ',', line);
    EXPECT_EQ(std::count(line.begin(), line.end(), ' '), MaxShablonColumns);
}

TEST(RowFormat, ParsedTemplateEndToEnd) {
    ShablonDescriptor d;
    ASSERT_TRUE(AnalizShablonStrArhiva("DATE HOUR TNORM Q1 M1 ERRORCODE\n", 1, d));
    EXPECT_EQ(
        Format(d, {0x31, 0x12, 0x08, 0x23, 0x5A, 0x00, 0x41, 0x20, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x02}),
        "31-12-2008 23 1,50 10 0,5 2 ");
    ASSERT_TRUE(AnalizShablonStrArhiva("DATE HOUR TNORM Q1 M1 ERRORCODE\n", 0, d));
    EXPECT_EQ(Format(d, {0x31, 0x12, 0x08, 0x23, 0x5A, 0x41, 0x20, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x02}),
              "31-12-2008 23 1,50 10 0,5 2 ");
}

} // namespace
