// Where the files go: beside a copy in a folder of its own, in the user's
// configuration and documents folders for an installed copy.
#include "base/Options.h"
#include "base/Paths.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "support/InstalledCopy.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(FileLocations, InstalledFoldersAreTheUnwritableTheSystemsAndBinFolders) {
    TempDir dir;
    EXPECT_FALSE(InstalledFolder(dir.Path()));
    EXPECT_FALSE(InstalledFolder(dir.Path() + "missing/"));
    EXPECT_TRUE(InstalledFolder(dir.Path() + "bin/"));
    EXPECT_TRUE(InstalledFolder("/usr/lib/gateway-configurator/")); // root may write it
    EXPECT_TRUE(InstalledFolder("/usr/local/bin/"));
}

TEST(FileLocations, ACopyOfItsOwnKeepsEverythingBesideTheExecutable) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    ScopedEnv config{"XDG_CONFIG_HOME", dir.Path() + "config"};
    EXPECT_EQ(ConfigDir(), dir.Path());
    EXPECT_EQ(ArchiveDir(), dir.Path());
    EXPECT_EQ(OptionsFilePath(), dir.Path() + "OPTIONS.INI");
}

TEST(FileLocations, AnInstalledCopyUsesTheUsersFolders) {
    InstalledCopy copy;
    EXPECT_EQ(ConfigDir(), copy.ConfigFolder());
    EXPECT_EQ(ArchiveDir(), copy.ArchiveFolder());
    EXPECT_EQ(OptionsFilePath(), copy.ConfigFolder() + "OPTIONS.INI");
    EXPECT_EQ(Rs232Port::DevicePathFor(3), "/dev/ttyS2");
    EXPECT_EQ(BindComPort(3, "/dev/null"), ""); // the settings dialog's link, in a folder made for it
    EXPECT_EQ(Rs232Port::DevicePathFor(3), copy.ConfigFolder() + "ports/COM3");
    const std::string help = FileLocationsHelp();
    EXPECT_NE(help.find(copy.ConfigFolder()), std::string::npos) << help;
    EXPECT_NE(help.find(copy.ArchiveFolder()), std::string::npos) << help;
}

TEST(FileLocations, DocumentsFolderFromUserDirsElseDocumentsAndConfigElseDotConfig) {
    InstalledCopy copy;
    const std::string home = copy.root.Path() + "home";
    ScopedEnv homeVar{"HOME", home};
    ScopedEnv docs{"XDG_DOCUMENTS_DIR", std::nullopt};
    ScopedEnv config{"XDG_CONFIG_HOME", "relative/ignored"};
    EXPECT_EQ(ConfigDir(), home + "/.config/gateway-configurator/");
    EXPECT_EQ(ArchiveDir(), home + "/Documents/gateway-configurator/");

    ASSERT_TRUE(MakeFolder(home + "/.config"));
    copy.root.Write("home/.config/user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                                   "XDG_DESKTOP_DIR=\"$HOME/Рабочий стол\"\n"
                                                   "XDG_DOCUMENTS_DIR=\"$HOME/Документы\"\n");
    EXPECT_EQ(ArchiveDir(), home + "/Документы/gateway-configurator/");
}

TEST(FileLocations, MakeFolderCreatesParentsAndFailsUnderAFile) {
    TempDir dir;
    EXPECT_TRUE(MakeFolder(dir.Path() + "a/b/c/"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "a/b/c"));
    EXPECT_TRUE(MakeFolder(dir.Path() + "a/b/c/")); // already there
    dir.Write("file", "");
    EXPECT_FALSE(MakeFolder(dir.Path() + "file/sub/"));
}

} // namespace
