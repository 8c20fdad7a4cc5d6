// On Windows a COM handle signals no readiness to an event loop: a window
// watches the port's own descriptor through an InputWatch, a thread that looks
// at its input queue. A port is present while the system knows its DOS device
// name. A network port's descriptor stands for its socket, looked at with
// select.
#include "serial/PortDescriptor.h"

#include "base/Timing.h"
#include "base/WideText.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

#include <io.h>
#include <windows.h>
#include <winsock2.h>

namespace {

std::intptr_t OsHandle(int fd) {
    return _get_osfhandle(fd);
}

// Whether a handle is a socket: only a socket has a socket type.
bool IsSocket(std::intptr_t handle) {
    int type = 0;
    int length = sizeof type;
    return getsockopt(static_cast<SOCKET>(handle), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                      &length) == 0;
}

} // namespace

// The port's own descriptor, not a duplicate: a second handle would keep the
// COM port, which opens only once, held after the program has closed it. The
// device's HANDLE tells it from a descriptor number reused later.
int DuplicateForWatch(int fd, DescriptorIdentity& identity) {
    if (fd < 0) return -1;
    const std::intptr_t handle = OsHandle(fd);
    if (handle == -1) return -1;
    identity = {static_cast<unsigned long long>(handle), 0, 0};
    return fd;
}

void CloseWatchDuplicate(int) {}

bool SameDevice(int fd, const DescriptorIdentity& identity) {
    return fd >= 0 && static_cast<unsigned long long>(OsHandle(fd)) == identity.File;
}

InputSource InputSourceOf(int fd) {
    const std::intptr_t handle = OsHandle(fd);
    return {static_cast<long long>(handle), handle != -1 && IsSocket(handle)};
}

// A handle closed meanwhile fails the call: reported as input, so that the
// reader finds the port gone. A socket is readable with bytes, at the far
// end's close and on an error.
bool InputWaiting(InputSource source) {
    if (source.Socket) {
        const SOCKET s = static_cast<SOCKET>(source.Value);
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval now{0, 0};
        return select(0, &readable, nullptr, nullptr, &now) != 0;
    }
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(source.Value)), &errors, &status))
        return true;
    return status.cbInQue > 0;
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
        // Bytes already received are read before a hang-up is told.
        if (port.Handle < 0) return PortInput::HungUp;
        if (port.InQueue() > 0) return PortInput::Waiting;
        if (port.HungUp()) return PortInput::HungUp;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) return PortInput::TimedOut;
        Sleep(static_cast<DWORD>(std::min<long long>(left, Timing().InputLookMs)));
    }
}
