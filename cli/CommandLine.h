// The command-line tool's arguments, its help and its exit statuses. Only
// the shape of the arguments is checked here; values the windows check (the
// gateway's address and initialisation line) are checked by the same logic
// the windows use.
#pragma once
#include <optional>
#include <string>
#include <vector>

// Exit statuses, one for each way a run can end (listed in --help and in the
// manual page).
enum class ExitStatus : int {
    Ok = 0,
    Failed = 1,         // anything else, with its message
    Usage = 2,          // the command line is wrong
    PortNotOpened = 3,  // the serial port cannot be opened
    GatewaySilent = 4,  // the gateway does not answer or refuses an exchange
    MeterSilent = 5,    // the meter does not answer in time, or answers with an exception
    FileNotWritten = 6, // the archive file cannot be created or written
    DataRefused = 7,    // settings refused by the window's checks; nothing was sent
    SomeNotRead = 8,    // several meters: some of their archives were not read (see stderr)
    LineBusy = 9,       // collect: another collection holds the line
    NotStored = 10,     // collect: the database cannot be written
    NotPublished = 11,  // collect: the broker did not take every message; they wait for the next pass
    NotDialled = 12,    // --dial: the modem did not connect; the command did not run
};

enum class CliCommand {
    Help,
    Version,
    DayArchive,
    HourArchive,
    ReadSettings,
    WriteSettings,
    Csv,
    Scan,
    Collect
};

struct CliArguments {
    CliCommand Command = CliCommand::Help;

    // The line: unset values come from OPTIONS.INI, as in the window.
    std::optional<int> PortNumber;         // COMn
    std::optional<std::string> DevicePath; // or a device by its path
    std::optional<int> Speed;              // bit/s
    std::optional<int> LinkMode;           // 1 I2C, 2 ZEP-LAN

    // day, hour
    int MeterAddress = 1;
    std::string Output; // empty: day.txt or hour.txt in the archive folder
    // day, hour with several meters (each file from Output with {address}
    // replaced, or in a batch folder), and scan (every address to ask)
    std::vector<int> Addresses;

    // scan: the wait for each answer (unset: from the RS-485 speed), the
    // long wait for slow meters (unset: the default), and whether every
    // silent address is asked again with the long wait
    std::optional<int> WaitMs;
    std::optional<int> LongWaitMs;
    bool RecheckSilent = false;

    // Every byte of the line, frame, check, repeat and time-out on stderr.
    bool Trace = false;
    // Dial this number through the modem before the command, hang up after.
    std::optional<std::string> DialNumber;

    // csv: the archive file to convert (Output: the CSV, empty: beside it);
    // collect: the session file (empty: none)
    std::string Input;

    // collect: the session's keys given as options ("address", "1,5"), in
    // their order, each checked already; they override the session file's.
    std::vector<std::pair<std::string, std::string>> SessionOptions;
    // collect: how long to wait for another collection's lock on the line.
    int LockWaitSeconds = 60;

    // write-settings: unset values keep what the gateway holds.
    std::optional<std::string> GatewayAddress; // as typed, checked as the window checks it
    std::optional<int> Rs485SpeedItem;         // index into SpeedCaptions (also scan's speed)
    std::optional<bool> Packet;
    std::optional<bool> Modem;
    std::optional<std::string> InitLine; // UTF-8 as typed
};

// The arguments after the program's name. On a wrong command line the
// result holds nothing and `error` says why (one line, UTF-8).
std::optional<CliArguments> ParseCommandLine(const std::vector<std::string>& args, std::string& error);

// Stands for a meter's address (three digits) in the file pattern of a
// read of several meters.
inline constexpr const char* AddressField = "{address}";

// The program's name, for messages and --version.
inline constexpr const char* CliProgramName = "configurator-cli";

// --help (UTF-8).
std::string CliUsage();
