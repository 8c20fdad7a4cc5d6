// The latency of a USB-serial adapter. Such an adapter hands received bytes to
// the PC only when its buffer fills or its latency timer runs out (16 ms by
// default), which stretches every wait for the far end. On opening, the
// program asks the adapter's driver for low latency: the serial driver's
// low-latency flag, and the driver's `latency_timer` attribute in sysfs set to
// 1 ms where the user may write it. On closing, both go back to what they were.
// A port that is no USB-serial device (a pseudo-terminal, a built-in UART) is
// left alone.
#pragma once
#include <functional>
#include <optional>
#include <string>

// How the program reaches the driver: the sysfs folder and the serial
// driver's low-latency flag (TIOCGSERIAL/TIOCSSERIAL, ASYNC_LOW_LATENCY).
// Tests point the folder at a fake tree and replace the flag's calls.
struct SerialDriverAccess {
    std::string SysfsRoot = "/sys";
    // The flag as the driver has it now; nothing when the driver has none.
    std::function<std::optional<bool>(int fd)> GetLowLatency;
    // Sets or clears the flag; false when the driver refused.
    std::function<bool(int fd, bool on)> SetLowLatency;
};

// The access in force (the real one unless a test replaced it).
const SerialDriverAccess& SerialDriver();
// Test-only: replace it (pass SerialDriverAccess{} for the real one again;
// unset functions are the real calls).
void SetSerialDriverForTests(const SerialDriverAccess& access);

// What opening did to the adapter, and what closing puts back.
struct AdapterLatency {
    bool UsbSerial = false;     // the port is a USB-serial device
    std::string Name;           // its name in sysfs, e.g. ttyUSB0
    std::string TimerPath;      // its latency_timer attribute; empty when it has none
    int LatencyMs = -1;         // the attribute's value after opening; -1 unknown
    int PreviousLatencyMs = -1; // the value written over, to put back; -1 none
    bool FlagWasSet = false;    // the low-latency flag was switched on by opening

    // The adapter holds bytes back longer than it should, and the program
    // could not lower it.
    bool High() const;
};

// Asks the driver of the device `deviceId` (st_rdev of the node), opened as
// `fd`, for low latency. Errors are not reported: the result says what is.
AdapterLatency LowerAdapterLatency(int fd, unsigned long long deviceId);
// Puts back what LowerAdapterLatency changed.
void RestoreAdapterLatency(int fd, const AdapterLatency& adapter);

// The status line's addition for an open port: ", задержка адаптера N мс"
// where the latency is known, with a note where it stays high; else empty.
std::string AdapterLatencyStatus(const AdapterLatency& adapter);
// The fix for a latency that stays high, in Russian: the udev rule, where it
// goes and how it takes effect. Empty when there is nothing to fix.
std::string AdapterLatencyHint(const AdapterLatency& adapter);

// The udev rule that sets the latency of every such adapter when it is
// plugged in, and where it goes.
inline constexpr const char* LatencyUdevRule =
    R"(ACTION=="add", SUBSYSTEM=="usb-serial", DRIVER=="ftdi_sio", ATTR{latency_timer}="1")";
inline constexpr const char* LatencyUdevRuleFile = "/etc/udev/rules.d/99-usb-serial-latency.rules";
