// Rs232Port on Windows: the device \\.\COMn opened without sharing, the line
// set through its DCB, the total time-outs in COMMTIMEOUTS, synchronous
// ReadFile and single-byte WriteFile; codes from GetLastError.
#include "serial/Rs232.h"

#include "base/PortAddress.h"
#include "base/Timing.h"
#include "base/WideText.h"
#include "serial/Rs232System.h"

#include <cctype>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

constexpr DWORD InputQueueBytes = 1024;
constexpr DWORD OutputQueueBytes = 512;

HANDLE Device(void* handle) {
    return static_cast<HANDLE>(handle);
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

// Reads and clears the device's error state, its queues' counts into
// `status`; false when the device did not answer (GetLastError says why).
bool ClearErrors(HANDLE device, COMSTAT& status) {
    DWORD errors = 0;
    return ClearCommError(device, &errors, &status) != 0;
}

// Whether the device has gone: it no longer answers for its error state.
bool DeviceLost(HANDLE device) {
    COMSTAT status{};
    return !ClearErrors(device, status) && Rs232System::DeviceGone(LastSystemError());
}

// A port held by this program or its command-line tool: a named mutex that
// exists while the port is open. The system's serial driver refuses a second
// opener by itself; Wine does not, so this keeps the rule there too.
HANDLE HoldPort(const std::string& devicePath, bool& heldElsewhere) {
    std::wstring name = L"Local\\gateway-configurator-port-";
    for (char c : devicePath)
        name += c == '\\' ? L'_' : static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(c)));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    heldElsewhere = mutex && GetLastError() == ERROR_ALREADY_EXISTS;
    if (heldElsewhere) {
        CloseHandle(mutex);
        return nullptr;
    }
    return mutex;
}

void SetModemLines(HANDLE device, bool raise) {
    // Results are ignored in both directions.
    EscapeCommFunction(device, raise ? SETDTR : CLRDTR);
    EscapeCommFunction(device, raise ? SETRTS : CLRRTS);
}

} // namespace

std::string Rs232Port::DevicePathFor(int portNumber) {
    return "\\\\.\\COM" + std::to_string(portNumber);
}

const int Rs232System::OpenFailed = ERROR_OPEN_FAILED;
const int Rs232System::Gone = ERROR_DEVICE_NOT_CONNECTED;
const int Rs232System::Refused = ERROR_ACCESS_DENIED;
const int Rs232System::NotOpen = ERROR_INVALID_HANDLE;

bool Rs232System::DeviceGone(int error) {
    switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_FILE_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

void Rs232Port::Disconnect(int error) {
    if (Handle >= 0) {
        _close(Handle); // closes the device's handle too
        Handle = -1;
        osHandle_ = nullptr;
    }
    if (holdHandle_) CloseHandle(holdHandle_);
    holdHandle_ = nullptr;
    Disconnected = true;
    Connected = false;
    Fail(error);
}

bool Rs232Port::CheckLine() {
    if (Handle < 0) return false;
    if (DeviceLost(Device(osHandle_))) {
        Disconnect(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return true;
}

void Rs232Port::Open(const std::string& devicePath, int baudRate) {
    DevicePath = devicePath;
    BaudRate = baudRate;
    // Network ports are not built for Windows yet: refused with a clear cause.
    if (IsNetworkAddress(devicePath)) {
        NetAddress = devicePath;
        Fail(ERROR_NOT_SUPPORTED);
        return;
    }
    // No sharing: exclusive use for as long as the object lives.
    HANDLE device = CreateFileW(Widen(devicePath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        Fail(LastSystemError());
        return;
    }
    // A device that refuses its settings is closed again: a port whose
    // opening failed is unusable, and it must not keep others out.
    auto refuse = [&](int error) {
        CloseHandle(device);
        if (holdHandle_) CloseHandle(holdHandle_);
        holdHandle_ = nullptr;
        Fail(error);
    };
    bool heldElsewhere = false;
    holdHandle_ = HoldPort(devicePath, heldElsewhere);
    if (heldElsewhere) return refuse(ERROR_ACCESS_DENIED); // what the driver answers for a port in use
    if (!SetupComm(device, InputQueueBytes, OutputQueueBytes)) return refuse(LastSystemError());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(device, &dcb)) return refuse(LastSystemError());
    // A speed of 0 or less is refused as the POSIX port refuses it.
    if (baudRate <= 0) return refuse(ERROR_INVALID_PARAMETER);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    if (!SetCommState(device, &dcb)) return refuse(LastSystemError());

    // The C runtime's descriptor stands for the handle in Handle; closing it
    // closes the handle.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(device), _O_BINARY);
    if (fd < 0) return refuse(ERROR_TOO_MANY_OPEN_FILES);
    Handle = fd;
    osHandle_ = device;
    Ok = true;
    // A driver can hold bytes from an earlier run.
    PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
    SetTimeouts();
    SetModemLines(device, true);
    Connected = false;
    Gated = false;
}

Rs232Port::~Rs232Port() {
    if (Handle >= 0) SetModemLines(Device(osHandle_), false);
    Pause(Timing().ClosePauseMs);
    if (Handle >= 0) {
        Ok = _close(Handle) == 0;
        Handle = -1;
        osHandle_ = nullptr;
    }
    if (holdHandle_) CloseHandle(holdHandle_);
}

void Rs232Port::SetTimeouts() {
    if (Handle < 0) {
        Fail(ERROR_INVALID_HANDLE);
        return;
    }
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(Device(osHandle_), &timeouts)) {
        Fail(LastSystemError());
        return;
    }
    readTimeoutBaseMs_ = Connected ? Timing().ConnectedReadTimeoutBaseMs : Timing().ReadTimeoutBaseMs;
    // A total limit per call, no limit between bytes.
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = static_cast<DWORD>(Timing().ReadTimeoutPerByteMs);
    timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(readTimeoutBaseMs_);
    timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(Timing().WriteTimeoutPerByteMs);
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(readTimeoutBaseMs_);
    if (!SetCommTimeouts(Device(osHandle_), &timeouts)) {
        Fail(LastSystemError());
        return;
    }
    Ok = true;
}

void Rs232Port::ReadBytes(unsigned char* buffer, std::uint32_t count, std::uint32_t& bytesRead) {
    // One call: the driver returns when all arrived or the total time-out ran
    // out, which is not a failure.
    DWORD got = 0;
    if (!ReadFile(Device(osHandle_), buffer, count, &got, nullptr)) {
        FailTransfer(LastSystemError());
        return;
    }
    bytesRead = got;
}

void Rs232Port::WriteBytes(const unsigned char* buffer, std::uint32_t count, std::int32_t& bytesWritten) {
    for (std::uint32_t i = 0; i < count; ++i) {
        DWORD written = 0;
        if (!WriteFile(Device(osHandle_), buffer + i, 1, &written, nullptr)) {
            FailTransfer(LastSystemError());
            return;
        }
        if (written != 1) {
            Fail(ERROR_TIMEOUT); // a single byte that cannot go out fails the write
            return;
        }
        Ok = true;
        ++bytesWritten;
    }
}

bool Rs232Port::DiscardQueues() {
    HANDLE device = Device(osHandle_);
    PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
    COMSTAT status{};
    return ClearErrors(device, status);
}

int Rs232Port::InQueue() {
    if (Handle < 0) return 0;
    COMSTAT status{};
    if (!ClearErrors(Device(osHandle_), status)) return 0;
    return static_cast<int>(status.cbInQue);
}

bool Rs232Port::HungUp() const {
    if (Handle < 0) return true;
    return DeviceLost(Device(osHandle_));
}

bool Rs232Port::SetDtr(bool raise) {
    if (Handle < 0 || Network()) return false;
    return EscapeCommFunction(Device(osHandle_), raise ? SETDTR : CLRDTR) != 0;
}

std::optional<bool> Rs232Port::CarrierDetect() const {
    DWORD status = 0;
    if (Handle < 0 || Network() || !GetCommModemStatus(Device(osHandle_), &status)) return std::nullopt;
    return (status & MS_RLSD_ON) != 0;
}

int Rs232Port::Pause(int milliseconds) {
    if (milliseconds <= 0) return 0;
    // An event that is never signalled: the wait always lasts the full time.
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    if (!event) return LastSystemError();
    ResetEvent(event);
    WaitForSingleObject(event, static_cast<DWORD>(milliseconds));
    CloseHandle(event);
    return 0;
}
