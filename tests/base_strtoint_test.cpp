// StrToInt: the whole text must be one integer.
#include "base/Messages.h"
#include "base/StrToInt.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace {

TEST(StrToInt, AcceptsDecimalAndTheThreeHexPrefixes) {
    EXPECT_EQ(StrToInt("12"), 12);
    EXPECT_EQ(StrToInt("  -7"), -7);
    EXPECT_EQ(StrToInt("+8"), 8);
    EXPECT_EQ(StrToInt("0x0C"), 12);
    EXPECT_EQ(StrToInt("0X0c"), 12);
    EXPECT_EQ(StrToInt("$0C"), 12);
    EXPECT_EQ(StrToInt("x1F"), 31);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
}

TEST(StrToInt, AnythingElseIsAConversionErrorNamingTheText) {
    for (const char* bad : {"", "   ", "abc", "12abc", "1 2", "12 ", "-", "0x", "$", "$G", "1.5",
                            "2147483648", "-2147483649", "0x100000000", "99999999999999999999"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

TEST(SystemErrorText, NamesTheCauseOrTheCode) {
    EXPECT_FALSE(SystemErrorText(ENOENT).empty());
    EXPECT_NE(SystemErrorText(ENOENT), SystemErrorText(EBUSY));
    EXPECT_NE(SystemErrorText(98765).find("98765"), std::string::npos);
}

} // namespace
