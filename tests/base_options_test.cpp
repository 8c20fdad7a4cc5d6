// OPTIONS.INI: reading with its limits and checks, writing its exact bytes.
#include "base/Options.h"
#include "support/Pty.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

TAppOptions Load(const std::string& bytes) {
    TempDir dir;
    dir.Write("OPTIONS.INI", bytes);
    TAppOptions o;
    EXPECT_TRUE(LoadOptions(dir.File("OPTIONS.INI"), o));
    return o;
}

TEST(OptionsFile, MissingFileKeepsEveryInitialValue) {
    TAppOptions o;
    EXPECT_FALSE(LoadOptions("/nonexistent/OPTIONS.INI", o));
    EXPECT_EQ(o.PortNumber, 2);
    EXPECT_EQ(o.BaudRate, 115200);
    EXPECT_EQ(o.LinkMode, 0);
    EXPECT_EQ(o.I2cAddress, 12);
    EXPECT_EQ(o.ZepLanAddress, 1);
    EXPECT_EQ(o.ModemInitString, "ATZ\n");
    EXPECT_EQ(o.DialMode, 1);
    EXPECT_EQ(o.ConnectWaitSeconds, 60);
}

TEST(OptionsFile, InitialValuesWriteTheTenLinesWithCrLf) {
    EXPECT_EQ(FormatOptions(TAppOptions{}), "2\r\n115200\r\n0\r\n12\r\n1\r\n1\r\n1\r\nATZ\r\n1\r\n60\r\n");
}

TEST(OptionsFile, WrittenFileReadsBackTheSameValues) {
    TempDir dir;
    TAppOptions o;
    o.PortNumber = 7;
    o.BaudRate = 9600;
    o.LinkMode = 2;
    o.I2cAddress = 100;
    o.ZepLanAddress = 0;
    o.Reserved6 = 2;
    o.Reserved7 = 3;
    o.ModemInitString = "AT&F\xC0\n"; // a CP1251 letter survives as a byte
    o.DialMode = 2;
    o.ConnectWaitSeconds = 200;
    ASSERT_TRUE(SaveOptions(dir.File("OPTIONS.INI"), o));
    EXPECT_EQ(dir.Read("OPTIONS.INI"), "7\r\n9600\r\n2\r\n100\r\n0\r\n2\r\n3\r\nAT&F\xC0\r\n2\r\n200\r\n");
    TAppOptions back;
    ASSERT_TRUE(LoadOptions(dir.File("OPTIONS.INI"), back));
    EXPECT_EQ(FormatOptions(back), FormatOptions(o));
}

TEST(OptionsFile, LinkModeZeroIsWrittenButNotTakenBack) {
    auto o = Load("2\r\n115200\r\n0\r\n");
    EXPECT_EQ(o.LinkMode, 0);
    o = Load("2\n115200\n3\n");
    EXPECT_EQ(o.LinkMode, 0);
    o = Load("2\n115200\n2\n");
    EXPECT_EQ(o.LinkMode, 2);
}

TEST(OptionsFile, OutOfRangeValuesKeepTheFieldAndLaterLinesAreStillRead) {
    auto o = Load("0\n9601\n1\n128\n256\n3\n4\nX\n3\n201\n");
    EXPECT_EQ(o.PortNumber, 2);
    EXPECT_EQ(o.BaudRate, 115200);
    EXPECT_EQ(o.LinkMode, 1);
    EXPECT_EQ(o.I2cAddress, 12);
    EXPECT_EQ(o.ZepLanAddress, 1);
    EXPECT_EQ(o.Reserved6, 1);
    EXPECT_EQ(o.Reserved7, 1);
    EXPECT_EQ(o.ModemInitString, "X\n");
    EXPECT_EQ(o.DialMode, 1);
    EXPECT_EQ(o.ConnectWaitSeconds, 60);

    o = Load("100\n");
    EXPECT_EQ(o.PortNumber, 2);
    o = Load("99\n9600\n1\n1\n0\n2\n3\nATZ\n2\n1\n");
    EXPECT_EQ(o.PortNumber, 99);
    EXPECT_EQ(o.BaudRate, 9600);
    EXPECT_EQ(o.ZepLanAddress, 0);
    EXPECT_EQ(o.Reserved7, 3);
    EXPECT_EQ(o.ConnectWaitSeconds, 1);
}

TEST(OptionsFile, NumbersConvertLikeAtoi) {
    auto o = Load("2\n\n1\n  +12\n");
    EXPECT_EQ(o.BaudRate, 0); // empty line converts to 0, a multiple of 2400
    EXPECT_EQ(o.I2cAddress, 12);
    o = Load("2\n-2400\n1\n12abc\n");
    EXPECT_EQ(o.BaudRate, -2400);
    EXPECT_EQ(o.I2cAddress, 12);
    o = Load("2\n115200\n1\nabc\n");
    EXPECT_EQ(o.I2cAddress, 12); // letters give 0, out of range
    o = Load("\t 5xyz\n");
    EXPECT_EQ(o.PortNumber, 5);
}

TEST(OptionsFile, LineEightKeepsItsCharactersAndLineEnd) {
    auto o = Load("2\n115200\n1\n12\n1\n1\n1\nAT&F\r\n2\n30\n");
    EXPECT_EQ(o.ModemInitString, "AT&F\n");
    EXPECT_EQ(o.DialMode, 2);
    EXPECT_EQ(o.ConnectWaitSeconds, 30);

    // Line 8 as the last line without a line end: no "\n", lines 9 and 10 untouched.
    o = Load("2\n115200\n1\n12\n1\n1\n1\nATDT");
    EXPECT_EQ(o.ModemInitString, "ATDT");
    EXPECT_EQ(o.DialMode, 1);
    EXPECT_EQ(o.ConnectWaitSeconds, 60);
    // Saved, it still ends its line, so lines 9 and 10 read back as they were.
    o.DialMode = 2;
    TempDir dir;
    ASSERT_TRUE(SaveOptions(dir.File("OPTIONS.INI"), o));
    TAppOptions back;
    ASSERT_TRUE(LoadOptions(dir.File("OPTIONS.INI"), back));
    EXPECT_EQ(back.ModemInitString, "ATDT\n");
    EXPECT_EQ(back.DialMode, 2);
    EXPECT_EQ(back.ConnectWaitSeconds, 60);

    // An empty line 8 is an empty string with its line end.
    o = Load("2\n115200\n1\n12\n1\n1\n1\n\n2\n");
    EXPECT_EQ(o.ModemInitString, "\n");
    EXPECT_EQ(o.DialMode, 2);
}

TEST(OptionsFile, FewerLinesSetOnlyThoseFields) {
    auto o = Load("5\n");
    EXPECT_EQ(o.PortNumber, 5);
    EXPECT_EQ(o.BaudRate, 115200);
    o = Load("");
    EXPECT_EQ(o.PortNumber, 2);
}

TEST(OptionsFile, OverlongLinesAreCutAndEveryLaterValueComesFromItsOwnLine) {
    // 40 characters on line 1: the value is cut at 17 characters, the rest skipped.
    auto o = Load("0000000000000003999999999999999999999999\n9600\n2\n");
    EXPECT_EQ(o.PortNumber, 39); // the first 17 characters: 00000000000000039
    EXPECT_EQ(o.BaudRate, 9600);
    EXPECT_EQ(o.LinkMode, 2);

    o = Load("00000000000000007\n9600\n");
    EXPECT_EQ(o.PortNumber, 7); // 17 characters fit exactly

    std::string longInit(100, 'A');
    o = Load("2\n115200\n1\n12\n1\n1\n1\n" + longInit + "\r\n2\n33\n");
    EXPECT_EQ(o.ModemInitString, std::string(58, 'A') + "\n");
    EXPECT_EQ(o.DialMode, 2);
    EXPECT_EQ(o.ConnectWaitSeconds, 33);
}

TEST(OptionsFile, BinaryGarbageNeverCrashesAndKeepsDefaults) {
    std::string junk;
    for (int i = 0; i < 5000; ++i)
        junk += static_cast<char>((i * 7919) & 0xFF);
    auto o = Load(junk);
    EXPECT_GE(o.PortNumber, 1);
    EXPECT_LE(o.PortNumber, 99);
    EXPECT_LE(o.ModemInitString.size(), 59u);
    EXPECT_GE(o.ConnectWaitSeconds, 1);
    EXPECT_LE(o.ConnectWaitSeconds, 200);
}

TEST(OptionsFile, SaveIntoAMissingDirectoryFailsAndLeavesNoFile) {
    EXPECT_FALSE(SaveOptions("/nonexistent-dir/OPTIONS.INI", TAppOptions{}));
}

TEST(OptionsFile, SaveReplacesAnOlderFileWhole) {
    TempDir dir;
    dir.Write("OPTIONS.INI", std::string(500, 'x'));
    ASSERT_TRUE(SaveOptions(dir.File("OPTIONS.INI"), TAppOptions{}));
    EXPECT_EQ(dir.Read("OPTIONS.INI"), FormatOptions(TAppOptions{}));
}

// Sets or clears the immutable flag of a directory: no new entry can be made
// in it, even by root, while its files stay writable.
bool SetImmutable(const std::string& dir, bool on) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    close(fd);
    return ok;
}

TEST(OptionsFile, AFolderThatTakesNoNewFileStillGetsItsFileRewritten) {
    TempDir dir;
    dir.Write("OPTIONS.INI", std::string(300, 'x'));
    if (!SetImmutable(dir.Path(), true)) GTEST_SKIP() << "the file system has no immutable flag";
    TAppOptions o;
    o.PortNumber = 9;
    const bool saved = SaveOptions(dir.File("OPTIONS.INI"), o);
    SetImmutable(dir.Path(), false);
    EXPECT_TRUE(saved);
    EXPECT_EQ(dir.Read("OPTIONS.INI"), FormatOptions(o));
}

} // namespace
