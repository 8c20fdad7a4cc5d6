// What the program knows about serial devices without Qt: the devices present
// (from a lister the windows install), the link ports/COMn that binds a device
// to a COM number, and the texts that explain a port that does not open or has
// gone away: what happened, the device, what to do, then the system's text.
#pragma once
#include <functional>
#include <string>
#include <vector>

class Rs232Port;

// One serial device present now.
struct SerialDevice {
    std::string Path;        // the name to bind: a /dev/serial/by-id link where there is one
    std::string Device;      // the node it leads to, e.g. /dev/ttyUSB0
    std::string Description; // maker, description and serial number, as far as known
};

// Lists the devices present. The windows install one over their serial port
// library; tests install a fake. None installed: an empty list.
using SerialDeviceLister = std::function<std::vector<SerialDevice>()>;
void SetSerialDeviceLister(SerialDeviceLister lister);
std::vector<SerialDevice> PresentSerialDevices();

// The devices to offer, from the nodes a serial port library reports (Path
// empty, Device set): each named by its link in `byIdDir` where one leads to
// it, then the targets of the ports/COMn links that lead to a device not
// listed yet.
std::vector<SerialDevice> NameSerialDevices(const std::vector<SerialDevice>& nodes,
                                            const std::string& byIdDir);
inline constexpr const char* SerialByIdDir = "/dev/serial/by-id";

// The folder of the COMn links, with its trailing '/' (empty when unknown).
std::string PortsDir();
// Where ports/COM<n> leads now: the link's target, or empty when there is no
// such link.
std::string ComLinkTarget(int portNumber);
// Makes ports/COM<n> a link to `device`, replacing an existing link. Returns
// an empty string, or the reason in Russian when it could not (a file or a
// folder of that name is never replaced).
std::string BindComPort(int portNumber, const std::string& device);

// Makes ports/COM<n> lead to the network address `address` (tcp://host:port
// or rfc2217://host:port), so that OPTIONS.INI keeps its COM number. Returns
// an empty string, or the reason in Russian (a malformed address among them).
std::string BindComAddress(int portNumber, const std::string& address);

// Whether both paths lead, through their links, to the same existing node.
bool SameDevice(const std::string& a, const std::string& b);

// The device `path` stands for, for the user: "ports/COM3 -> /dev/ttyUSB0"
// style, following links to the final node.
std::string DeviceShownFor(const std::string& path);

// The group that owns the device node (e.g. "dialout"), empty when unknown.
std::string DeviceGroup(const std::string& path);
// Programs that hold the device open or locked: "name (pid N)", one each.
std::vector<std::string> DeviceHolders(const std::string& path);

// The text of the box shown when COM<portNumber> at `path` did not open with
// errno `error`; `present` is the list shown for a missing device, `baudRate`
// the speed named when the device refused it.
std::string PortOpenErrorText(int portNumber, const std::string& path, int error,
                              const std::vector<SerialDevice>& present, int baudRate = 0);

// Why the device at `path` did not open with `error`, in one line for a
// tool without a window: the known cause in Russian ("устройство занято
// другой программой: name (pid N)" naming the programs that hold it), else
// the system's text.
std::string PortOpenCause(const std::string& path, int error);

// The cases of a port that does not open that the program explains itself:
// the system's text in Russian ("нет такого устройства"), empty for others.
std::string KnownPortError(int error);
// Whether `error` says another program holds the device (EBUSY; on Windows
// the driver's "access denied" or a sharing violation).
bool PortBusyError(int error);
// The status line's short reason ("нет устройства", "занят другой
// программой", "нет прав", "скорость не поддерживается"); the system's text
// for a case not known.
std::string PortFailureReason(int error);

// Shows PortOpenErrorText for a port that failed to open (caption
// "ОШИБКА СИСТЕМЫ").
void ShowPortOpenError(const Rs232Port& port);

// The text printed before an exchange's own message while the port is
// disconnected.
std::string PortDisconnectedText(const Rs232Port& port);
// The same for a port that is not open (NotOpen()): that it is not, why, and
// what to do; PortDisconnectedText for one whose device went away.
std::string PortNotOpenText(const Rs232Port& port);

// The main window's status line: COM number, device, speed and state
// ("открыт", "не открыт: <причина>", "отключён"); an open USB-serial
// adapter adds its latency. Null port: not open.
std::string PortStatusText(const Rs232Port* port, int portNumber, int baudRate);
// The status line's tooltip: how to fix an adapter whose latency stays high;
// empty otherwise.
std::string PortStatusHint(const Rs232Port* port);
