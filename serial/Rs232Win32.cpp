// Rs232Port on Windows: the device \\.\COMn opened without sharing, the line
// set through its DCB, the total time-outs in COMMTIMEOUTS, synchronous
// ReadFile and single-byte WriteFile; codes from GetLastError. A network
// port's steps are in Rs232Network.cpp, over Winsock.
#include "serial/Rs232.h"

#include "base/Paths.h"
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "base/WideText.h"
#include "serial/NetSocket.h"
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

// A device path (\\.\COMn) is never opened as a file.
std::string Rs232Port::AddressInFile(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0) return {};
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    char text[512];
    DWORD got = 0;
    const BOOL read = ReadFile(file, text, sizeof text, &got, nullptr);
    CloseHandle(file);
    if (!read) return {};
    std::string line(text, got);
    line = line.substr(0, line.find_first_of("\r\n"));
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())))
        line.pop_back();
    return IsNetworkAddress(line) ? line : std::string();
}

std::string Rs232Port::AddressFileFor(int portNumber) {
    const std::string dir = ConfigDir();
    return dir.empty() ? std::string() : dir + "ports\\COM" + std::to_string(portNumber) + "-address.txt";
}

// COMn is a serial device server when ports\COMn-address.txt in the
// configuration folder names its address on its first line (Windows'
// counterpart of a ports/COMn link to an address on POSIX; a file named COMn
// would be the device COMn itself, in any folder); else the device \\.\COMn.
std::string Rs232Port::DevicePathFor(int portNumber) {
    const std::string file = AddressFileFor(portNumber);
    if (!file.empty() && !AddressInFile(file).empty()) return file;
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
    // A network port's connection that the far end closed or reset has gone
    // as an unplugged adapter has.
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
        return true;
    default:
        return false;
    }
}

// The C runtime's descriptor of a socket: closing the socket first (as
// Winsock wants) leaves the descriptor's own close, which also closes its
// handle, failing harmlessly on the handle already closed.
void Rs232Port::CloseDescriptor() {
    if (socket_ >= 0) NetSocket::Close(socket_);
    socket_ = -1;
    if (Handle >= 0) _close(Handle); // a device's descriptor closes its handle too
    Handle = -1;
    osHandle_ = nullptr;
}

void Rs232Port::Disconnect(int error) {
    CloseDescriptor();
    if (holdHandle_) CloseHandle(holdHandle_);
    holdHandle_ = nullptr;
    Disconnected = true;
    Connected = false;
    Fail(error);
}

bool Rs232Port::CheckLine() {
    if (Handle < 0) return false;
    if (Network()) {
        if (!NetworkClosed()) return true;
        Disconnect(NetSocket::ConnectionLost);
        return false;
    }
    if (DeviceLost(Device(osHandle_))) {
        Disconnect(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    return true;
}

void Rs232Port::Open(const std::string& devicePath, int baudRate) {
    DevicePath = devicePath;
    BaudRate = baudRate;
    if (IsNetworkAddress(devicePath)) return OpenNetwork(devicePath, baudRate);
    if (const std::string address = AddressInFile(devicePath); !address.empty())
        return OpenNetwork(address, baudRate);
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

// The socket stands in Handle as a descriptor of the C runtime, so that
// the windows' port watch takes it as it takes a COM port's.
int Rs232Port::AdoptSocket() {
    const int fd = _open_osfhandle(static_cast<intptr_t>(socket_), _O_BINARY);
    if (fd < 0) return ERROR_TOO_MANY_OPEN_FILES;
    Handle = fd;
    return 0;
}

Rs232Port::~Rs232Port() {
    if (Handle >= 0 && !Network()) SetModemLines(Device(osHandle_), false);
    Pause(Timing().ClosePauseMs);
    if (Handle >= 0) {
        if (Network())
            CloseDescriptor();
        else
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
    readTimeoutBaseMs_ = Connected ? Timing().ConnectedReadTimeoutBaseMs : Timing().ReadTimeoutBaseMs;
    if (Network()) {
        // Network reads wait against their own deadline, a round trip longer.
        readTimeoutBaseMs_ += RoundTripMs;
        Ok = true;
        return;
    }
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(Device(osHandle_), &timeouts)) {
        Fail(LastSystemError());
        return;
    }
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
    if (Network()) return ReadNetwork(buffer, count, bytesRead);
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
    if (Network()) return WriteNetwork(buffer, count, bytesWritten);
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
    if (Network()) return DiscardNetwork();
    HANDLE device = Device(osHandle_);
    PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
    COMSTAT status{};
    return ClearErrors(device, status);
}

int Rs232Port::InQueue() {
    if (Handle < 0) return 0;
    if (Network()) return NetworkInQueue();
    COMSTAT status{};
    if (!ClearErrors(Device(osHandle_), status)) return 0;
    return static_cast<int>(status.cbInQue);
}

bool Rs232Port::HungUp() const {
    if (Handle < 0) return true;
    if (Network()) return NetworkClosed();
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
