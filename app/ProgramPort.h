// The program's port: opened when the main window is created and opened anew
// whenever the settings dialog's OK has stored the settings.
#pragma once
#include "base/Options.h"

// Closes MainPort first (it holds its device exclusively, so the same device
// can be opened again), then opens COM<PortNumber> at BaudRate in its place.
// A port that does not open is reported once as a system error and stays in
// place, unusable, until the next reopening.
void ReopenMainPort(const TAppOptions& options);
