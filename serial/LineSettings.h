// Line settings through the Linux termios2 interface, which accepts any
// speed (BOTHER), not only the standard table; a standard speed is set by its
// table code all the same. Kept apart from <termios.h>,
// whose definitions clash with the kernel's.
#pragma once

// Reads the current settings of fd; returns 0 or errno.
int ReadLineSettings(int fd);
// 8 data bits, no parity, one stop bit, RTS/CTS, no XON/XOFF, raw, at
// baudRate bit/s; returns 0 or errno (EINVAL for a speed <= 0).
int ApplyLineSettings(int fd, int baudRate);
// Speed the driver reports for fd, or -1.
int ReadLineSpeed(int fd);
