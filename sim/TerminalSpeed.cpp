// Kept apart from <termios.h>: the kernel's termios2 (any speed, not only
// the B-constants) cannot share a translation unit with it.
#include "sim/TerminalSpeed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

double TerminalSpeed(int fd) {
    struct termios2 tio {};
    if (fd < 0 || ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return static_cast<double>(tio.c_ospeed);
}

} // namespace sim
