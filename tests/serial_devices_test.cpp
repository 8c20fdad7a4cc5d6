// Serial devices for the user: binding a device under a by-id-like name to
// COMn, the texts of a port that does not open (missing, busy, no permission,
// anything else), and a port whose device goes away under it.
#include "base/Messages.h"
#include "base/Timing.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
namespace fs = std::filesystem;

class SerialDevices : public ::testing::Test {
protected:
    void SetUp() override {
        TimingConstants fast;
        fast.ReadTimeoutBaseMs = 200;
        fast.PurgePauseMs = 50;
        fast.ClosePauseMs = 0;
        SetTimingForTests(fast);
        fs::create_directories(byId);
        fs::create_symlink(pty.SlavePath(), adapterLink);
        TheRecorder().Clear();
    }
    void TearDown() override {
        SetSerialDeviceLister(nullptr);
        SetTimingForTests(TimingConstants{});
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    PtyPair pty;
    std::string byId = dir.File("by-id");
    std::string adapterLink = byId + "/usb-Neutral_Serial_Bridge_A0001-if00-port0";
};

TEST_F(SerialDevices, ListedUnderTheByIdNameAndBoundToComN) {
    // The library reports the node; the list names it by its stable link.
    const auto devices = NameSerialDevices({{"", pty.SlavePath(), "Bridge"}}, byId);
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].Path, adapterLink);
    EXPECT_EQ(devices[0].Device, pty.SlavePath());

    EXPECT_EQ(BindComPort(4, devices[0].Path), "");
    EXPECT_EQ(ComLinkTarget(4), adapterLink);
    Rs232Port port(4, 9600);
    EXPECT_TRUE(port.Ok) << port.LastError;
    EXPECT_EQ(port.DevicePath, dir.File("ports/COM4"));

    // Choosing again replaces the link.
    EXPECT_EQ(BindComPort(4, byId + "/usb-other"), "");
    EXPECT_EQ(ComLinkTarget(4), byId + "/usb-other");
    // A device reached only through a COMn link still shows up, by that link.
    EXPECT_EQ(BindComPort(6, adapterLink), "");
    const auto withLink = NameSerialDevices({}, dir.File("none"));
    ASSERT_EQ(withLink.size(), 1u);
    EXPECT_EQ(withLink[0].Path, adapterLink);
    EXPECT_EQ(withLink[0].Description, "COM6");

    // A file or folder in the way is never replaced.
    dir.Write("ports/COM5", "keep");
    EXPECT_PRED2(Contains, BindComPort(5, adapterLink), "файл COM5, а не ссылка");
    EXPECT_EQ(dir.Read("ports/COM5"), "keep");
    fs::create_directories(dir.File("ports/COM7"));
    EXPECT_PRED2(Contains, BindComPort(7, adapterLink), "папка COM7");
}

TEST_F(SerialDevices, MissingAndOtherErrorsNameThePortTheDeviceAndTheFix) {
    dir.LinkCom(3, byId + "/usb-gone");
    SetSerialDeviceLister([&] {
        return std::vector<SerialDevice>{{adapterLink, pty.SlavePath(), "Bridge"}};
    });
    Rs232Port missing(3, 9600);
    ASSERT_EQ(missing.LastError, ENOENT);
    ShowPortOpenError(missing);
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    const RecordedMessage& box = TheRecorder().messages[0];
    EXPECT_EQ(box.caption, "ОШИБКА СИСТЕМЫ");
    EXPECT_PRED2(Contains, box.text, "COM3 (" + dir.File("ports/COM3") + " -> " + byId + "/usb-gone)");
    EXPECT_PRED2(Contains, box.text, "Такого устройства сейчас нет");
    EXPECT_PRED2(Contains, box.text, adapterLink + " -> " + pty.SlavePath() + " (Bridge)");
    EXPECT_PRED2(Contains, box.text,
                 "Система: нет такого устройства (" + SystemErrorText(ENOENT) + ", код 2)");
    EXPECT_EQ(PortStatusText(&missing, 3, 9600),
              "COM3, " + dir.File("ports/COM3") + ", 9600 бит/с: не открыт: нет устройства");

    // Not a terminal at all: said in Russian, the system's text in brackets.
    const std::string other = PortOpenErrorText(1, "/dev/null", ENOTTY, {});
    EXPECT_PRED2(Contains, other, "COM1 (/dev/null)");
    EXPECT_PRED2(Contains, other,
                 "Система: это не последовательный порт (" + SystemErrorText(ENOTTY) + ", код 25)");
    // A case the program does not know: the system's text alone.
    EXPECT_PRED2(Contains, PortOpenErrorText(1, "/dev/null", EMFILE, {}),
                 "Система: " + SystemErrorText(EMFILE) + " (код " + std::to_string(EMFILE) + ")");
}

// The cases the program knows are named in Russian in the status line and in
// the box's system line; a speed the device refuses names the speed.
TEST_F(SerialDevices, KnownCausesAreSaidInRussian) {
    const std::pair<int, const char*> reasons[] = {{ENOENT, "нет устройства"},
                                                   {ENODEV, "нет устройства"},
                                                   {EBUSY, "занят другой программой"},
                                                   {EACCES, "нет прав"},
                                                   {EINVAL, "скорость не поддерживается"}};
    for (auto [error, reason] : reasons) {
        EXPECT_EQ(PortFailureReason(error), reason) << error;
        EXPECT_PRED2(Contains, PortOpenErrorText(1, "/dev/null", error, {}),
                     "Система: " + KnownPortError(error) + " (" + SystemErrorText(error) + ", код ");
    }
    Rs232Port zero(pty.SlavePath(), 0);
    ASSERT_EQ(zero.OpenError, EINVAL);
    EXPECT_PRED2(Contains, PortStatusText(&zero, 1, 0), "0 бит/с: не открыт: скорость не поддерживается");
    EXPECT_PRED2(Contains, PortOpenErrorText(1, pty.SlavePath(), EINVAL, {}, 0),
                 "Устройство не принимает скорость 0 бит/с");
}

TEST_F(SerialDevices, BusyNamesTheProgramThatHoldsIt) {
    Rs232Port first(adapterLink, 9600);
    ASSERT_TRUE(first.Ok);
    Rs232Port second(adapterLink, 9600);
    ASSERT_EQ(second.LastError, EBUSY);
    const std::string text = PortOpenErrorText(2, adapterLink, EBUSY, {});
    EXPECT_PRED2(Contains, text, "занято другой программой");
    EXPECT_PRED2(Contains, text, "(pid " + std::to_string(getpid()) + ")");
    EXPECT_PRED2(Contains, text, "Закройте её");
}

TEST_F(SerialDevices, PermissionNamesTheGroupAndTheCommand) {
    const passwd* nobody = getpwnam("nobody");
    if (getuid() != 0 || !nobody) GTEST_SKIP() << "needs root to open the device as the user nobody";
    // A child that drops to nobody tries the device (mode 620, group tty);
    // it does nothing but system calls, then reports the errno.
    const std::string path = pty.SlavePath();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)
            _exit(255);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        _exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), EACCES);
    const std::string group = DeviceGroup(path);
    ASSERT_FALSE(group.empty());
    const std::string text = PortOpenErrorText(1, path, EACCES, {});
    EXPECT_PRED2(Contains, text, "группа " + group);
    EXPECT_PRED2(Contains, text, "sudo usermod -aG " + group + " $USER");
    EXPECT_PRED2(Contains, text, "войдите в систему заново");
}

TEST_F(SerialDevices, AHangUpDisconnectsThePortAndStopsItsIoAtOnce) {
    Rs232Port port(adapterLink, 19200);
    ASSERT_TRUE(port.CheckLine());
    EXPECT_EQ(PortStatusText(&port, 2, 19200), "COM2, " + pty.SlavePath() + ", 19200 бит/с: открыт");
    pty.CloseMaster();
    EXPECT_FALSE(port.CheckLine());
    EXPECT_TRUE(port.Disconnected);
    EXPECT_EQ(port.Handle, -1);
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t buffer[4];
    std::uint32_t got = 0;
    port.ReadBlock(buffer, 4, got);
    std::int32_t written = 0;
    port.WriteBlock(buffer, 4, written);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(got + static_cast<std::uint32_t>(written), 0u);
    EXPECT_EQ(port.LastError, ENODEV);
    EXPECT_PRED2(Contains, PortStatusText(&port, 2, 19200), "19200 бит/с: отключён");
}

TEST_F(SerialDevices, AReadThatFindsTheFarEndGoneDisconnects) {
    Rs232Port port(pty.SlavePath(), 19200);
    ASSERT_TRUE(port.Ok);
    pty.CloseMaster();
    std::uint8_t byte = 0;
    std::uint32_t got = 0;
    port.ReadBlock(&byte, 1, got);
    EXPECT_TRUE(port.Disconnected);
    EXPECT_FALSE(port.Ok);
}

} // namespace
