// Serial devices for the user on Windows: a COM number is the device itself,
// the system lists its serial ports (with the names Device Manager shows),
// and what the texts of a port that does not open (PortDevicesCommon.cpp)
// need to know of the system.
#include "serial/PortDevices.h"

#include "base/ComNumber.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "base/PortAddress.h"
#include "base/WideText.h"
#include "serial/PortDescriptor.h"
#include "serial/PortDevicesSystem.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <windows.h>
// After windows.h:
#include <devguid.h>
#include <setupapi.h>

namespace {

// "COM3" from "\\.\COM3" or "COM3".
std::string PortNameOf(const std::string& path) {
    const std::string prefix = "\\\\.\\";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

std::wstring RegistryString(HKEY key, const wchar_t* name) {
    wchar_t value[256] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return value;
}

// The ports of the "Ports (COM & LPT)" class with their friendly names.
void AddPortsClass(std::vector<SerialDevice>& devices) {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::string port = Narrow(RegistryString(key, L"PortName"));
        RegCloseKey(key);
        if (port.compare(0, 3, "COM") != 0) continue; // a printer port
        wchar_t name[256] = {};
        std::string friendly;
        if (SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(name), sizeof name - sizeof(wchar_t),
                                              nullptr))
            friendly = Narrow(name);
        devices.push_back({port, "\\\\.\\" + port, friendly});
    }
    SetupDiDestroyDeviceInfoList(set);
}

// Ports the system's serial map names that the class did not list.
void AddSerialMap(std::vector<SerialDevice>& devices) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameSize = 256;
        wchar_t value[256] = {};
        DWORD valueSize = sizeof value - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value),
                          &valueSize) != ERROR_SUCCESS)
            break;
        if (type != REG_SZ) continue;
        const std::string port = Narrow(value);
        bool listed = false;
        for (const SerialDevice& d : devices)
            listed = listed || d.Path == port;
        if (!listed) devices.push_back({port, "\\\\.\\" + port, {}});
    }
    RegCloseKey(key);
}

// COM numbers in their numeric order.
int NumberOf(const std::string& port) {
    return port.size() > 3 ? std::atoi(port.c_str() + 3) : 0;
}

// COM numbers that answer but neither list names (Wine's dosdevices links).
void AddAnswering(std::vector<SerialDevice>& devices) {
    for (int n = FirstComNumber; n <= LastComNumber; ++n) {
        const std::string port = "COM" + std::to_string(n);
        bool listed = false;
        for (const SerialDevice& d : devices)
            listed = listed || d.Path == port;
        unsigned long long number = 0;
        if (!listed && DevicePresentAt("\\\\.\\" + port, number))
            devices.push_back({port, "\\\\.\\" + port, {}});
    }
}

} // namespace

// Windows answers a port held by another program with "access denied" (or a
// sharing violation); a COM port has no per-user rights to lack. A speed the
// driver refuses fails SetCommState with "invalid parameter".
PortDevicesSystem::OpenFailure PortDevicesSystem::OpenFailureOf(int error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
        return OpenFailure::Missing;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenFailure::Busy;
    case ERROR_INVALID_PARAMETER:
        return OpenFailure::Settings;
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return OpenFailure::DeviceError;
    case ERROR_NOT_SUPPORTED:
        return OpenFailure::NotBuilt;
    case WSAEDESTADDRREQ:
        return OpenFailure::BadAddress;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
        return OpenFailure::HostUnknown;
    case WSAECONNREFUSED:
        return OpenFailure::Refused;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return OpenFailure::NoAnswer;
    default:
        return OpenFailure::Other;
    }
}

std::vector<SerialDevice> PortDevicesSystem::SystemSerialDevices() {
    std::vector<SerialDevice> devices;
    AddPortsClass(devices);
    AddSerialMap(devices);
    AddAnswering(devices);
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return NumberOf(a.Path) < NumberOf(b.Path);
    });
    return devices;
}

std::string PortDevicesSystem::PresentDeviceName(const SerialDevice& device) {
    return device.Path;
}

std::string PortDevicesSystem::StatusDeviceName(const std::string& path) {
    return PortNameOf(path);
}

std::string PortDevicesSystem::OpenPortStatus(const Rs232Port&) {
    return {};
}

std::vector<SerialDevice> NameSerialDevices(const std::vector<SerialDevice>& nodes, const std::string&) {
    std::vector<SerialDevice> devices;
    for (SerialDevice d : nodes) {
        if (d.Device.empty()) continue;
        if (d.Path.empty()) d.Path = PortNameOf(d.Device);
        devices.push_back(d);
    }
    return devices;
}

std::string PortsDir() {
    return {};
}

// A COM number leads to a network address through its ports\COMn-address.txt.
std::string ComLinkTarget(int portNumber) {
    const std::string file = Rs232Port::AddressFileFor(portNumber);
    return file.empty() ? std::string() : Rs232Port::AddressInFile(file);
}

// A device cannot be bound (a COM port is the device itself), a network
// address can: ports\COMn-address.txt names it, written afresh.
std::string BindComPort(int portNumber, const std::string& device) {
    const std::string com = "COM" + std::to_string(portNumber);
    if (!IsNetworkAddress(device))
        return "В Windows порт " + com + " — это само устройство; номер порта меняют в диспетчере устройств.";
    const std::string file = Rs232Port::AddressFileFor(portNumber);
    if (file.empty()) return "Не найдена папка настроек: файл ports\\" + com + "-address.txt создать негде.";
    const std::string dir = file.substr(0, file.find_last_of('\\') + 1);
    if (!MakeFolder(dir))
        return "Не удалось создать папку " + dir + ": " + SystemErrorText(static_cast<int>(GetLastError()));
    HANDLE out = CreateFileW(Widen(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    const std::string line = device + "\r\n";
    DWORD written = 0;
    const bool ok = out != INVALID_HANDLE_VALUE &&
                    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                    written == line.size();
    const int error = static_cast<int>(GetLastError());
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!ok) return "Не удалось записать файл " + file + ": " + SystemErrorText(error);
    return {};
}

// The same COM port under either spelling ("COM3", "\\.\com3"), present now.
bool SameDevice(const std::string& a, const std::string& b) {
    auto upper = [](std::string name) {
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return name;
    };
    const std::string port = upper(PortNameOf(a));
    unsigned long long number = 0;
    return !port.empty() && port == upper(PortNameOf(b)) && DevicePresentAt("\\\\.\\" + port, number);
}

std::string DeviceShownFor(const std::string& path) {
    const std::string port = PortNameOf(path);
    for (const SerialDevice& d : PortDevicesSystem::SystemSerialDevices())
        if (d.Path == port && !d.Description.empty()) return port + ": " + d.Description;
    return port;
}

std::string DeviceGroup(const std::string&) {
    return {};
}

std::vector<std::string> DeviceHolders(const std::string&) {
    return {};
}

// The adapter's latency is asked of the Linux driver only: nothing to fix here.
std::string PortStatusHint(const Rs232Port*) {
    return {};
}
