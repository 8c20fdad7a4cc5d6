// AppOptions, the global settings record, and its file OPTIONS.INI: ten
// lines, CP1251, CR LF line ends, read from the configuration folder
// (base/Paths.h).
#pragma once
#include <string>

struct TAppOptions {
    int PortNumber = 2;                    // COMn, 1..99
    int BaudRate = 115200;                 // any whole multiple of 2400
    int LinkMode = 0;                      // 1 = I2C, 2 = ZEP-LAN, 0 = no choice made
    int I2cAddress = 12;                   // 1..127
    int ZepLanAddress = 1;                 // 0..255, 0 = broadcasting
    int Reserved6 = 1;                     // 1..2, only loaded and saved
    int Reserved7 = 1;                     // 1..3, only loaded and saved
    std::string ModemInitString = "ATZ\n"; // CP1251, carries its own "\n"
    int DialMode = 1;                      // 1 = pulse, 2 = tone
    int ConnectWaitSeconds = 60;           // 1..200
};

extern TAppOptions AppOptions;

// Longest line 8 the file can hold, line end excluded.
inline constexpr int MaxModemInitLength = 58;

// Full name of OPTIONS.INI in ConfigDir() (empty when that is unknown).
std::string OptionsFilePath();

// Reads the file into options: values out of range or missing keep what
// options held. A missing file changes nothing. Returns whether it was read.
bool LoadOptions(const std::string& path, TAppOptions& options);

// The file's bytes for the given options: "%d\n%d\n%d\n%d\n%d\n%d\n%d\n%s%d\n%d\n"
// with every "\n" stored as CR LF; a string without its own line end gets one.
std::string FormatOptions(const TAppOptions& options);

// Writes the file anew (through a temporary file, so a failure leaves the old
// file whole). Returns false when it cannot be created or written.
bool SaveOptions(const std::string& path, const TAppOptions& options);
