// The speed a program has set on a terminal, read through either end of a
// pseudo-terminal pair (the master reports its slave's settings).
#pragma once

namespace sim {

// The output speed in bit/s; 0 when the descriptor is not a terminal.
double TerminalSpeed(int fd);

} // namespace sim

namespace sim {

// Sets the terminal's speed both ways to `baud` (any value, not only the
// B-constants), keeping its other settings; false when it is not a terminal.
bool SetTerminalSpeed(int fd, int baud);

} // namespace sim
