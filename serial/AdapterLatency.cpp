// Low latency for a USB-serial adapter: found through the device's node in
// sysfs (<root>/dev/char/MAJOR:MINOR/device, a port of the usb-serial bus),
// lowered through the driver's flag and its latency_timer attribute.
#include "serial/AdapterLatency.h"

#include "base/Timing.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int LowLatencyFlag = static_cast<int>(ASYNC_LOW_LATENCY);

std::optional<bool> IoctlGetLowLatency(int fd) {
    struct serial_struct info {};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return std::nullopt;
    return (info.flags & LowLatencyFlag) != 0;
}

bool IoctlSetLowLatency(int fd, bool on) {
    struct serial_struct info {};
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) return false;
    if (on)
        info.flags |= LowLatencyFlag;
    else
        info.flags &= ~LowLatencyFlag;
    return ioctl(fd, TIOCSSERIAL, &info) == 0;
}

SerialDriverAccess& Current() {
    static SerialDriverAccess access;
    return access;
}

std::optional<bool> GetFlag(int fd) {
    const auto& get = SerialDriver().GetLowLatency;
    return get ? get(fd) : IoctlGetLowLatency(fd);
}

bool SetFlag(int fd, bool on) {
    const auto& set = SerialDriver().SetLowLatency;
    return set ? set(fd, on) : IoctlSetLowLatency(fd, on);
}

// A sysfs attribute holding a number of milliseconds; -1 when it cannot be
// read or holds something else.
int ReadMs(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    char text[32] = {};
    const ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || value < 0 || value > 255) return -1;
    return static_cast<int>(value);
}

bool WriteMs(const std::string& path, int ms) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC); // O_TRUNC for a plain file
    if (fd < 0) return false;
    const std::string text = std::to_string(ms);
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return close(fd) == 0 && written;
}

bool InGroup(gid_t gid) {
    if (gid == getegid()) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = getgroups(count, groups.data());
    for (int i = 0; i < got; ++i)
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    return false;
}

// Whether the attribute's mode lets this user write it. sysfs decides by the
// mode bits alone, for root too (a read-only attribute stays read-only), so
// the bits are asked rather than access(2), which lets root through.
bool MayWrite(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    if (st.st_uid == geteuid()) return (st.st_mode & S_IWUSR) != 0;
    if (InGroup(st.st_gid)) return (st.st_mode & S_IWGRP) != 0;
    return (st.st_mode & S_IWOTH) != 0;
}

std::string CanonicalTimerPath(const AdapterLatency& adapter) {
    return SerialDriver().SysfsRoot + "/bus/usb-serial/devices/" + adapter.Name + "/latency_timer";
}

} // namespace

const SerialDriverAccess& SerialDriver() {
    return Current();
}

void SetSerialDriverForTests(const SerialDriverAccess& access) {
    Current() = access;
}

bool AdapterLatency::High() const {
    return UsbSerial && LatencyMs > Timing().AdapterLatencyMs;
}

AdapterLatency LowerAdapterLatency(int fd, unsigned long long deviceId) {
    namespace fs = std::filesystem;
    AdapterLatency adapter;
    const auto id = static_cast<dev_t>(deviceId);
    const fs::path device = fs::path(SerialDriver().SysfsRoot) / "dev" / "char" /
                            (std::to_string(major(id)) + ":" + std::to_string(minor(id))) / "device";
    std::error_code error;
    const fs::path subsystem = fs::canonical(device / "subsystem", error);
    if (error || subsystem.filename() != "usb-serial") return adapter;
    adapter.UsbSerial = true;
    adapter.Name = fs::canonical(device, error).filename().string();

    // The flag alone lowers the timer of some drivers; others ignore it.
    if (const std::optional<bool> flag = GetFlag(fd); flag && !*flag) adapter.FlagWasSet = SetFlag(fd, true);

    const fs::path timer = device / "latency_timer";
    if (!fs::exists(timer, error)) return adapter;
    adapter.TimerPath = timer.string();
    const int target = Timing().AdapterLatencyMs;
    const int before = ReadMs(adapter.TimerPath);
    if (before > target && MayWrite(adapter.TimerPath) && WriteMs(adapter.TimerPath, target))
        adapter.PreviousLatencyMs = before;
    adapter.LatencyMs = ReadMs(adapter.TimerPath);
    return adapter;
}

void RestoreAdapterLatency(int fd, const AdapterLatency& adapter) {
    if (adapter.PreviousLatencyMs >= 0) WriteMs(adapter.TimerPath, adapter.PreviousLatencyMs);
    if (adapter.FlagWasSet) SetFlag(fd, false);
}

std::string AdapterLatencyStatus(const AdapterLatency& adapter) {
    if (!adapter.UsbSerial || adapter.LatencyMs < 0) return {};
    std::string text = ", задержка адаптера " + std::to_string(adapter.LatencyMs) + " мс";
    if (adapter.High()) text += " (снизить не удалось, см. подсказку)";
    return text;
}

std::string AdapterLatencyHint(const AdapterLatency& adapter) {
    if (!adapter.High()) return {};
    const std::string path = CanonicalTimerPath(adapter);
    const std::string target = std::to_string(Timing().AdapterLatencyMs);
    return "Адаптер " + adapter.Name + " отдаёт принятые байты с задержкой до " +
           std::to_string(adapter.LatencyMs) +
           " мс:\nобмены со шлюзом и чтение архивов идут медленнее.\n"
           "Программе снизить задержку не удалось: файл\n    " +
           path +
           "\nменяет только администратор.\n\n"
           "Чтобы задержка была " +
           target + " мс при каждом подключении адаптера, создайте файл\n    " + LatencyUdevRuleFile +
           "\nсо строкой\n    " + LatencyUdevRule +
           "\nвыполните\n    sudo udevadm control --reload-rules\nи подключите адаптер заново.\n\n"
           "Разово, до отключения адаптера:\n    echo " +
           target + " | sudo tee " + path;
}
