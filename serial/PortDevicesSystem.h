// What the shared texts of PortDevices (PortDevicesCommon.cpp) take from the
// system's own file (PortDevicesPosix.cpp on POSIX, PortDevicesWin32.cpp on
// Windows): the kind of a failed opening's code, the system's own list of
// devices, and how a device is named for the user. Only those three files
// include it.
#pragma once
#include "serial/PortDevices.h"

#include <string>
#include <vector>

namespace PortDevicesSystem {

// The causes of a port that does not open that the program explains itself.
enum class OpenFailure {
    NoRights,    // the user may not open the device
    Busy,        // another program holds it
    Missing,     // no such device now
    Settings,    // it refused the line's settings (the speed)
    NotSerial,   // it is no serial port
    DeviceError, // the device failed
    // A network port:
    BadAddress,  // the address is not one
    HostUnknown, // no such host
    Refused,     // nothing listens on that port
    NoAnswer,    // the host does not answer
    NotBuilt,    // network ports are not built on this system
    Other
};
OpenFailure OpenFailureOf(int error);

// The devices present when no lister is installed: the system's own list on
// Windows, none on POSIX (there the windows install a lister).
std::vector<SerialDevice> SystemSerialDevices();
// A device in the list of those present: its name, and on POSIX the node its
// link leads to.
std::string PresentDeviceName(const SerialDevice& device);
// The device of a port's path on the status line: the final node on POSIX,
// the COM name on Windows.
std::string StatusDeviceName(const std::string& path);
// The status line's addition for an open port (an adapter's latency on
// Linux); empty where there is none.
std::string OpenPortStatus(const Rs232Port& port);

} // namespace PortDevicesSystem
