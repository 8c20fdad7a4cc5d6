// termios2 calls for arbitrary line speeds.
#include "serial/LineSettings.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

int ReadLineSettings(int fd) {
    struct termios2 tio {};
    return ioctl(fd, TCGETS2, &tio) == 0 ? 0 : errno;
}

int ApplyLineSettings(int fd, int baudRate) {
    if (baudRate <= 0) return EINVAL;
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    // Raw binary line: no translation, no echo, no signals.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CS8 | CREAD | CLOCAL | CRTSCTS | BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(baudRate);
    tio.c_ospeed = static_cast<speed_t>(baudRate);
    // VMIN 1: with O_NONBLOCK an empty queue reads as EAGAIN, not as end of file.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int ReadLineSpeed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    return static_cast<int>(tio.c_ospeed);
}
