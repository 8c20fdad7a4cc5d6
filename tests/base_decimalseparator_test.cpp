// The decimal separator from a locale's decimal point: one CP1251 byte, or
// '.' for a point the code page cannot show in one byte.
#include "base/DecimalSeparator.h"

#include <cstdlib>
#include <gtest/gtest.h>

TEST(DecimalSeparator, OneByteOfTheCodePageOrAFullStop) {
    EXPECT_EQ(DecimalSeparatorOf(","), ',');
    EXPECT_EQ(DecimalSeparatorOf("."), '.');
    EXPECT_EQ(DecimalSeparatorOf("\xC2\xB7"), '\xB7'); // middle dot, in the code page
    EXPECT_EQ(DecimalSeparatorOf("\xD9\xAB"), '.');    // Arabic separator, not in it
    EXPECT_EQ(DecimalSeparatorOf(""), '.');
    EXPECT_EQ(DecimalSeparatorOf(",,"), '.');
    // The C locale, which every system has.
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(UserDecimalSeparator(), '.');
    unsetenv("LC_ALL");
}
