// The numbers a port may have, COM1 to COM99, on either system: what the
// settings file, the settings dialog and the command line accept and how far
// the lists of ports look.
#pragma once

inline constexpr int FirstComNumber = 1;
inline constexpr int LastComNumber = 99;

// Whether COM<number> is one of them.
constexpr bool ValidComNumber(long long number) {
    return number >= FirstComNumber && number <= LastComNumber;
}
