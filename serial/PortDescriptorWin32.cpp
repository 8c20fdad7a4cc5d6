// On Windows a COM handle signals no readiness to an event loop: nothing to
// watch, the callers' timers drive the reads. A port is present while the
// system knows its DOS device name.
#include "serial/PortDescriptor.h"

#include "base/Timing.h"
#include "base/WideText.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <chrono>

#include <windows.h>

int DuplicateForWatch(int, DescriptorIdentity&) {
    return -1;
}

void CloseWatchDuplicate(int) {}

bool SameDevice(int, const DescriptorIdentity&) {
    return false;
}

// Asked by opening it for no access at all, which a port in use allows or
// refuses as "access denied"; only a missing name is absent.
bool DevicePresentAt(const std::string& path, unsigned long long& deviceNumber) {
    deviceNumber = 0;
    HANDLE device = CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        CloseHandle(device);
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

PortInput WaitForInput(Rs232Port& port, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (port.Handle < 0 || port.HungUp()) return PortInput::HungUp;
        if (port.InQueue() > 0) return PortInput::Waiting;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return PortInput::TimedOut;
        Sleep(static_cast<DWORD>(std::min<long long>(left, Timing().InputLookMs)));
    }
}
