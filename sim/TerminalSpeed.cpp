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

bool SetTerminalSpeed(int fd, int baud) {
    struct termios2 tio {};
    if (fd < 0 || ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = tio.c_ospeed = static_cast<speed_t>(baud);
    return ioctl(fd, TCSETS2, &tio) == 0;
}

} // namespace sim
