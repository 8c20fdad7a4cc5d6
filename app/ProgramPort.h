// The program's port: opened when the main window is created and opened anew
// whenever the settings dialog's OK has stored the settings, or when its
// device comes back after it went away.
#pragma once
#include "base/Options.h"

// Closes MainPort first (it holds its device exclusively, so the same device
// can be opened again), then opens COM<PortNumber> at BaudRate in its place.
// A port that does not open is reported once in a box that names the COM
// number, the device, the cause and the fix, and stays in place, unusable,
// until the next reopening.
void ReopenMainPort(const TAppOptions& options);

// One look at MainPort, for a timer of about half a second: an open port whose
// device has hung up or gone is marked disconnected; a disconnected port is
// opened again with the same settings once its path leads to a device again
// (after the path was gone, or to another node than before). A port that did
// not open is watched the same way: opened once its path leads to a device
// not tried yet (plugged in, or a ports/COMn link made since), and a busy one
// tried again at every look. Returns true when the port's state may have
// changed (the status line is due).
bool WatchMainPort(const TAppOptions& options);
