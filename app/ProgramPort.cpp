// Opening the program's port, reporting a failure, and following its device
// when it goes away and comes back, or appears after a failed opening.
#include "app/ProgramPort.h"

#include "base/Timing.h"
#include "serial/PortDescriptor.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"

#include <chrono>

namespace {

// Since the port was found disconnected: whether its path was seen without a
// device.
bool pathWasGone = false;

// A port that did not open: the path and node its last opening tried (node 0:
// no device there), so that the same device is not tried again and again.
std::string triedPath;
unsigned long long triedNode = 0;

// The device number of the character device `path` leads to; 0 when none.
// A system that numbers no devices (Windows) gives 1 for any present one.
unsigned long long NodeAt(const std::string& path) {
    unsigned long long device = 0;
    if (!DevicePresentAt(path, device)) return 0;
    return device != 0 ? device : 1;
}

// Where the port's COM number leads now: a ports/COMn link made after the
// start replaces the fallback device.
std::string PathNow(const Rs232Port& port) {
    return port.PortNumber > 0 ? Rs232Port::DevicePathFor(port.PortNumber) : port.DevicePath;
}

// The same settings the port was opened with, also when the dialog holds
// other values not yet stored.
TAppOptions SameSettings(const TAppOptions& options) {
    TAppOptions same = options;
    same.PortNumber = MainPort->PortNumber;
    same.BaudRate = MainPort->BaudRate;
    return same;
}

Rs232Port* OpenPort(const TAppOptions& options) {
    delete MainPort;
    MainPort = nullptr;
    MainPort = new Rs232Port(options.PortNumber, options.BaudRate);
    pathWasGone = false;
    triedPath = MainPort->DevicePath;
    triedNode = NodeAt(triedPath);
    return MainPort;
}

// A port that did not open is opened once its path leads to a device it has
// not tried yet: one plugged in, or a ports/COMn link made meanwhile. A
// failure then is reported once. A busy device is tried again quietly at
// every look, so that the port opens when the other program lets it go.
bool RetryUnopened(const TAppOptions& options) {
    const std::string path = PathNow(*MainPort);
    const unsigned long long node = NodeAt(path);
    if (node == 0) {
        triedNode = 0; // nothing there: the next device that appears is new
        return false;
    }
    if (PortBusyError(MainPort->OpenError) && path == triedPath && node == triedNode) {
        OpenPort(SameSettings(options));
        return MainPort->IsOpen();
    }
    if (path == triedPath && node == triedNode) return false; // tried already
    ReopenMainPort(SameSettings(options));
    return true;
}

// A network port that dropped or did not connect is connected again, quietly,
// every NetReconnectMs: a server has no node to watch for.
bool RetryNetwork(const TAppOptions& options) {
    static std::chrono::steady_clock::time_point lastTry{};
    const auto now = std::chrono::steady_clock::now();
    if (now - lastTry < std::chrono::milliseconds(Timing().NetReconnectMs)) return false;
    lastTry = now;
    OpenPort(SameSettings(options));
    return true;
}

} // namespace

void ReopenMainPort(const TAppOptions& options) {
    if (!OpenPort(options)->Ok) ShowPortOpenError(*MainPort);
}

bool WatchMainPort(const TAppOptions& options) {
    if (!MainPort) return false;
    if (MainPort->Network() && (MainPort->OpenError != 0 || MainPort->Disconnected))
        return RetryNetwork(options);
    if (MainPort->OpenError != 0) return RetryUnopened(options);
    if (!MainPort->Disconnected) {
        if (MainPort->Handle < 0) return false; // a stand-in
        return !MainPort->CheckLine();
    }
    unsigned long long device = 0;
    if (!DevicePresentAt(MainPort->DevicePath, device)) {
        pathWasGone = true;
        return false;
    }
    if (!pathWasGone && device == MainPort->DeviceId) return false; // the same node, still hung up
    ReopenMainPort(SameSettings(options));
    return true;
}
