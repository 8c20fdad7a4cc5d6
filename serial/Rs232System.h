// What the shared steps of Rs232Port (Rs232Common.cpp) take from the system's
// own file (Rs232Posix.cpp on POSIX, Rs232Win32.cpp on Windows): the codes its
// failures are reported with, and which errors mean the device has gone.
// Only those three files include it.
#pragma once

namespace Rs232System {

extern const int OpenFailed; // an opening that failed without a code of its own
extern const int Gone;       // a transfer on a port whose device went away
extern const int Refused;    // a transfer on a gated port that is not connected
extern const int NotOpen;    // a step on a port that never opened

// Whether a failed transfer's `error` means the device itself is gone (a USB
// adapter pulled out), not a failed transfer.
bool DeviceGone(int error);

} // namespace Rs232System
