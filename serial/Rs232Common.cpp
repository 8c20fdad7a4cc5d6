// The parts of Rs232Port that are the same on every system: the globals, the
// constructors, how a failure is recorded, the checks before a transfer and
// what a transfer of nothing does, and the pause before a purge.
// The system's own steps are in Rs232Posix.cpp and Rs232Win32.cpp.
#include "serial/Rs232.h"

#include "base/Timing.h"
#include "serial/Rs232System.h"

#include <chrono>

Rs232Port* MainPort = nullptr;

Rs232Port::Rs232Port(int portNumber, int baudRate) : PortNumber(portNumber) {
    Open(DevicePathFor(portNumber), baudRate);
    if (Handle < 0) OpenError = LastError != 0 ? LastError : Rs232System::OpenFailed;
}

Rs232Port::Rs232Port(const std::string& devicePath, int baudRate) {
    Open(devicePath, baudRate);
    if (Handle < 0) OpenError = LastError != 0 ? LastError : Rs232System::OpenFailed;
}

bool Rs232Port::Fail(int error) {
    Ok = false;
    LastError = error;
    return false;
}

bool Rs232Port::Admitted() {
    if (Disconnected) return Fail(Rs232System::Gone);
    if (Gated && !Connected) return Fail(Rs232System::Refused);
    return true;
}

bool Rs232Port::ReadyForTransfer() {
    if (!Admitted()) return false;
    if (Handle < 0) return Fail(Rs232System::NotOpen);
    return true;
}

void Rs232Port::ReadBlock(void* buffer, int count, std::uint32_t& bytesRead) {
    bytesRead = 0;
    if (!ReadyForTransfer()) return;
    Ok = true;
    if (count <= 0) return;
    ReadBytes(static_cast<unsigned char*>(buffer), static_cast<std::uint32_t>(count), bytesRead);
}

void Rs232Port::WriteBlock(const void* buffer, std::uint32_t count, std::int32_t& bytesWritten) {
    bytesWritten = 0;
    if (!ReadyForTransfer()) return;
    Ok = true;
    if (count == 0) return;
    WriteBytes(static_cast<const unsigned char*>(buffer), count, bytesWritten);
}

bool Rs232Port::Purge() {
    Pause(Timing().PurgePauseMs);
    if (Handle < 0) return false;
    return DiscardQueues();
}

void Rs232Port::FailTransfer(int error) {
    if (Rs232System::DeviceGone(error)) {
        Disconnect(error);
    } else {
        Fail(error);
    }
}

long long Rs232Port::TransferDeadline(int perByteMs, std::uint32_t bytes) const {
    using namespace std::chrono;
    const long long now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return now + static_cast<long long>(perByteMs) * bytes + readTimeoutBaseMs_;
}
