// The CP1251 conversions that every byte between line, file and screen takes.
#include "base/Cp1251.h"
#include "ui/TextCodec.h"

#include <gtest/gtest.h>

namespace {

TEST(Cp1251, EveryByteButTheUnassignedOneRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        if (b == 0x98) continue; // no character in the code page
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(byte)), byte) << b;
        EXPECT_EQ(ToCp1251(FromCp1251(byte)), byte) << b;
    }
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "?");
}

TEST(Cp1251, RussianLettersAndTheScreenAgree) {
    EXPECT_EQ(Cp1251ToUtf8("\xC0\xF2\xE7"), "Атз");
    EXPECT_EQ(Utf8ToCp1251("ЖДИТЕ"), "\xC6\xC4\xC8\xD2\xC5");
    EXPECT_EQ(FromCp1251("\xB8\xA8"), QString::fromUtf8("ёЁ"));
    EXPECT_EQ(ToCp1251(QString::fromUtf8("№")), "\xB9");
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a€b"), "a\x88"
                                   "b"); // the euro sign exists in CP1251
    EXPECT_EQ(Utf8ToCp1251("a中b"), "a?b");
    EXPECT_EQ(ToCp1251(QString::fromUtf8("😀!")), "?!");
}

} // namespace
