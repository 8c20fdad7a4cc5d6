// A collection session: which line, which meters, which archives, and where
// they go (files, a database, a broker). A session comes from a small TOML
// file that a service engineer writes by hand and keeps under version
// control, and every key can be given on the command line as well, so that a
// timer entry needs no file.
//
// TOML because its files are flat "key = value" lines with comments, which a
// hand edit rarely breaks, and because Debian keeps a maintained C++ library
// for it (libtomlplusplus-dev) whose parser reports the line of every value
// and of every error.
#pragma once
#include <optional>
#include <string>
#include <vector>

// The archives read from every meter.
enum class SessionArchives { Day, Hour, Both };

struct CollectSession {
    // The line; unset values come from OPTIONS.INI. The port is carried as
    // written: "COM3", "3", a device path or a network address such as
    // "tcp://host:port".
    std::optional<std::string> Port;
    std::optional<int> Speed;          // the port's speed, bit/s
    std::optional<int> LinkMode;       // 1 I2C, 2 ZEP-LAN
    std::optional<int> Rs485SpeedItem; // index into SpeedCaptions: 57600 ... 4800
    std::optional<int> WaitMs;         // the scan's wait for each answer

    // The meters: these addresses, or (with Scan) the range to scan, whose
    // answering addresses are then read.
    std::vector<int> Addresses;
    bool Scan = false;
    SessionArchives Archives = SessionArchives::Both;

    // The output folder (empty: the archives' folder); the archive files
    // day-003.txt and hour-003.txt are replaced there on every pass.
    std::string Output;
    bool Csv = false;     // a CSV beside every archive file
    std::string Database; // SQLite file; relative: in the output folder; empty: none
    std::string MqttHost; // empty: nothing published
    int MqttPort = 1883;
    std::string MqttUser, MqttPassword;
    std::string Topic = "configurator"; // prefix of every topic
};

// The session's keys: the TOML file's keys and, with "--" before them, the
// command line's options. `isSwitch`: an option without a value (in the file:
// true or false).
struct SessionKey {
    const char* name;
    bool isSwitch = false;
};
const std::vector<SessionKey>& SessionKeys();

// Takes one key's value as the command line writes it into `s`; when it does
// not fit, what it should be instead (UTF-8), else nothing.
std::optional<std::string> TakeSessionValue(const std::string& key, const std::string& value,
                                            CollectSession& s);

// Reads a session from TOML text. `fileName` names the file in messages;
// `error` says what is wrong and on which line ("session.toml, строка 4:
// ..."). Relative folders and files stay as written.
std::optional<CollectSession> ParseSessionText(const std::string& text, const std::string& fileName,
                                               std::string& error);
// Reads the file; a file that cannot be read is an error too.
std::optional<CollectSession> ReadSessionFile(const std::string& path, std::string& error);

// The session as TOML text that ParseSessionText reads back to the same
// session: one "key = value" line for every key it sets, in the order of
// SessionKeys(). Runs of three or more addresses are written as "7-9".
std::string SessionText(const CollectSession& s);
// Writes the session's text into `path` in one step: into a file beside it
// first, renamed over it once written and flushed, so that a failed write
// leaves the old file as it was. False with `error` (UTF-8) saying why.
bool WriteSessionFile(const std::string& path, const CollectSession& s, std::string& error);
