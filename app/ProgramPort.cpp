// Opening the program's port, reporting a failure, and following its device
// when it goes away and comes back.
#include "app/ProgramPort.h"

#include "serial/PortDevices.h"
#include "serial/Rs232.h"

#include <sys/stat.h>

namespace {

// Since the port was found disconnected: whether its path was seen without a
// device.
bool pathWasGone = false;

} // namespace

void ReopenMainPort(const TAppOptions& options) {
    delete MainPort;
    MainPort = nullptr;
    MainPort = new Rs232Port(options.PortNumber, options.BaudRate);
    pathWasGone = false;
    if (!MainPort->Ok) ShowPortOpenError(*MainPort);
}

bool WatchMainPort(const TAppOptions& options) {
    if (!MainPort) return false;
    if (!MainPort->Disconnected) {
        if (MainPort->Handle < 0) return false; // never opened: waits for the dialog
        return !MainPort->CheckLine();
    }
    struct stat st {};
    if (stat(MainPort->DevicePath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        pathWasGone = true;
        return false;
    }
    if (!pathWasGone && st.st_rdev == MainPort->DeviceId) return false; // the same node, still hung up
    // The same settings the port was opened with, also when the dialog holds
    // other values not yet stored.
    TAppOptions same = options;
    same.PortNumber = MainPort->PortNumber;
    same.BaudRate = MainPort->BaudRate;
    ReopenMainPort(same);
    return true;
}
