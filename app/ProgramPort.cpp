// Opening the program's port and reporting a failure.
#include "app/ProgramPort.h"

#include "base/Messages.h"
#include "serial/Rs232.h"

void ReopenMainPort(const TAppOptions& options) {
    delete MainPort;
    MainPort = nullptr;
    MainPort = new Rs232Port(options.PortNumber, options.BaudRate);
    if (!MainPort->Ok) ShowSystemError(MainPort->LastError);
}
