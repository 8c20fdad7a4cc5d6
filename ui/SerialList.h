// The serial devices present, from Qt's serial port module (udev on Linux),
// named by their stable /dev/serial/by-id links where they have one.
#pragma once
#include "serial/PortDevices.h"

#include <string>
#include <vector>

std::vector<SerialDevice> ListSerialDevices(const std::string& byIdDir = SerialByIdDir);
