// Number notations (general for the archive and the decoder, fixed with two
// decimals), their rounding at ties and boundaries, BCD texts, data type texts.
#include "archive/Procedures.h"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace {

std::string Archive(double v) {
    return FormatGeneral(v, ',', ArchiveGeneral);
}
std::string Decoder(double v) {
    return FormatGeneral(v, ',', DecoderGeneral);
}
std::string Fixed(double v) {
    return FormatFixed2(v, ',');
}

TEST(NumberTexts, GeneralArchiveNotation) {
    EXPECT_EQ(Archive(2.5), "2,5");
    EXPECT_EQ(Archive(3.0), "3");
    EXPECT_EQ(Archive(100.0), "100");
    EXPECT_EQ(Archive(0.5), "0,5");
    EXPECT_EQ(Archive(12345678.0), "1,234568E7");
    EXPECT_EQ(Archive(0.00001), "1E-5");
    EXPECT_EQ(Archive(3.125), "3,125");
    EXPECT_EQ(Archive(-2.5), "-2,5");
    EXPECT_EQ(Archive(-12345678.0), "-1,234568E7");
    EXPECT_EQ(Archive(0.000123456789), "0,0001234568");
    EXPECT_EQ(Archive(1e20), "1E20");
    EXPECT_EQ(Archive(1.5e-7), "1,5E-7");
    EXPECT_EQ(Archive(1234567.0), "1234567");
    // A single read from IEEE bits shows its short decimal form after rounding.
    EXPECT_EQ(Archive(0.1f), "0,1");
    EXPECT_EQ(Archive(16777215.0f), "1,677722E7");
}

TEST(NumberTexts, GeneralArchiveBoundaries) {
    EXPECT_EQ(Archive(0.0001), "0,0001");
    EXPECT_EQ(Archive(0.00009999999), "9,999999E-5");
    EXPECT_EQ(Archive(0.000099999996), "0,0001"); // rounds up into the positional range
    EXPECT_EQ(Archive(9999999.0), "9999999");
    EXPECT_EQ(Archive(9999999.4), "9999999");
    EXPECT_EQ(Archive(9999999.5), "1E7"); // rounds up out of it
    EXPECT_EQ(Archive(10000000.0), "1E7");
}

TEST(NumberTexts, ZeroInfinityAndNotANumber) {
    for (auto f : {Archive, Decoder, Fixed}) {
        EXPECT_EQ(f(std::numeric_limits<double>::infinity()), "INF");
        EXPECT_EQ(f(-std::numeric_limits<double>::infinity()), "-INF");
        EXPECT_EQ(f(std::numeric_limits<double>::quiet_NaN()), "NAN");
        EXPECT_EQ(f(-std::numeric_limits<double>::quiet_NaN()), "NAN");
    }
    EXPECT_EQ(Archive(0.0), "0");
    EXPECT_EQ(Archive(-0.0), "0");
    EXPECT_EQ(Decoder(-0.0), "0");
    EXPECT_EQ(Fixed(0.0), "0,00");
    EXPECT_EQ(Fixed(-0.0), "0,00");
    EXPECT_EQ(Fixed(-0.001), "0,00"); // rounds to zero, which has no sign
}

TEST(NumberTexts, RoundsHalfAwayFromZeroOnTheExactValue) {
    // Exact ties whose neighbour below is even: half to even would go down.
    EXPECT_EQ(Archive(1234568.5), "1234569");
    EXPECT_EQ(Archive(-1234568.5), "-1234569");
    EXPECT_EQ(Archive(1234567.5), "1234568");
    EXPECT_EQ(Archive(0.30078125), "0,3007813");
    EXPECT_EQ(Fixed(0.125), "0,13");
    EXPECT_EQ(Fixed(2.625), "2,63");
    // Not ties: the double lies just below or above the decimal half.
    EXPECT_EQ(Archive(1.0000015), "1,000001"); // 1.00000149999999998...
    EXPECT_EQ(Archive(1.0000005), "1,000001"); // 1.00000050000000006...
    EXPECT_EQ(Fixed(0.005), "0,01");           // 0.005000000000000000104...
    EXPECT_EQ(Fixed(1.005), "1,00");           // 1.00499999999999989...
}

TEST(NumberTexts, ExtremeMagnitudes) {
    EXPECT_EQ(Archive(DBL_MAX), "1,797693E308");
    EXPECT_EQ(Archive(std::numeric_limits<double>::denorm_min()), "4,940656E-324");
    EXPECT_EQ(Archive(std::numeric_limits<float>::denorm_min()), "1,401298E-45");
    EXPECT_EQ(Archive(FLT_MAX), "3,402823E38");
    EXPECT_EQ(Decoder(DBL_MAX), "1,797693E308");
}

TEST(NumberTexts, GeneralDecoderNotation) {
    EXPECT_EQ(Decoder(3.125), "3,125");
    EXPECT_EQ(Decoder(0.00001), "0,00001");
    EXPECT_EQ(Decoder(0.000009999999), "9,999999E-06");
    EXPECT_EQ(Decoder(0.000001), "1E-06");
    EXPECT_EQ(Decoder(12345678.0), "1,234568E07");
    EXPECT_EQ(Decoder(9999999.0), "9999999");
    EXPECT_EQ(Decoder(1e100), "1E100");
    EXPECT_EQ(Decoder(-1.5e-30), "-1,5E-30");
    EXPECT_EQ(FormatGeneral(2.5, '.', DecoderGeneral), "2.5");
}

TEST(NumberTexts, FixedTwoDecimals) {
    EXPECT_EQ(Fixed(90 / 60.0), "1,50");
    EXPECT_EQ(Fixed(1 / 60.0), "0,02");
    EXPECT_EQ(Fixed(65535 / 60.0), "1092,25");
    EXPECT_EQ(Fixed(1234.0), "1234,00");
    EXPECT_EQ(Fixed(65535.0), "65535,00");
    EXPECT_EQ(Fixed(16777215.0), "1,677722E7");
    EXPECT_EQ(Fixed(0.0049), "0,00");
    EXPECT_EQ(Fixed(0.0051), "0,01");
    EXPECT_EQ(Fixed(0.099), "0,10");
    EXPECT_EQ(Fixed(-1.5), "-1,50");
    EXPECT_EQ(Fixed(9999999.0), "9999999,00");
    EXPECT_EQ(Fixed(123456.785), "123456,80"); // 7 significant digits cut the decimals
    EXPECT_EQ(Fixed(1234567.8), "1234568,00");
    EXPECT_EQ(Fixed(9999999.5), "1E7"); // rounds past 7 digits: general notation
    EXPECT_EQ(Fixed(10000000.0), "1E7");
    EXPECT_EQ(FormatFixed2(0.5, '.'), "0.50");
}

TEST(BcdTexts, DateAndHour) {
    const std::uint8_t end2008[] = {0x31, 0x12, 0x08};
    const std::uint8_t start1999[] = {0x01, 0x01, 0x99};
    const std::uint8_t year2000[] = {0x15, 0x06, 0x00};
    const std::uint8_t notBcd[] = {0xAF, 0x3C, 0x98};
    EXPECT_EQ(BcdDateToText(end2008), "31-12-2008");
    EXPECT_EQ(BcdDateToText(start1999), "01-01-1999");
    EXPECT_EQ(BcdDateToText(year2000), "15-06-2000");
    EXPECT_EQ(BcdDateToText(notBcd), ":?-3<-2098");
    EXPECT_EQ(BcdHourToText(0x05), " 5");
    EXPECT_EQ(BcdHourToText(0x00), " 0");
    EXPECT_EQ(BcdHourToText(0x09), " 9");
    EXPECT_EQ(BcdHourToText(0x23), "23");
    EXPECT_EQ(BcdHourToText(0xF0), "?0");
}

TEST(ValueTexts, EveryDataType) {
    EXPECT_EQ(ValueToText(0x40480000, DataFlo32, ','), "3,125");
    EXPECT_EQ(ValueToText(0x41200000, DataFlo32, ','), "10");
    EXPECT_EQ(ValueToText(0x4B3C614E, DataFlo32, ','), "1,234568E7");
    EXPECT_EQ(ValueToText(0xFFFFFFFF, DataFlo32, ','), "NAN");
    EXPECT_EQ(ValueToText(0x7F800000, DataFlo32, ','), "INF");
    EXPECT_EQ(ValueToText(0xFF800000, DataFlo32, ','), "-INF");
    EXPECT_EQ(ValueToText(0x80000000, DataFlo32, ','), "0");
    EXPECT_EQ(ValueToText(0x00404800, DataFlo24, ','), "3,125");
    EXPECT_EQ(ValueToText(0x1FF, DataByte, ','), "255");
    EXPECT_EQ(ValueToText(0x12FFFF, DataInt16, ','), "-1");
    EXPECT_EQ(ValueToText(0x7FFF, DataInt16, ','), "32767");
    EXPECT_EQ(ValueToText(0x800000, DataInt24, ','), "-8388608");
    EXPECT_EQ(ValueToText(0x7FFFFF, DataInt24, ','), "8388607");
    EXPECT_EQ(ValueToText(0xFFFFFFFE, DataInt32, ','), "-2");
    EXPECT_EQ(ValueToText(0xFFFFFFFE, 9, ','), "4294967294");
}

} // namespace
