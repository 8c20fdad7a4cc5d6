// Where the program keeps its files, decided here and nowhere else.
//
// A copy in a folder it may write (the build folder, an unpacked copy) keeps
// OPTIONS.INI, ports/COMn, day.txt and hour.txt beside the executable. An
// installed copy keeps OPTIONS.INI and ports/ in the user's configuration
// folder and writes the archives into the user's documents folder, both in a
// folder of the program's own (ProgramFolderName).
#pragma once
#include <optional>
#include <string>

// The per-user folders' own name: shared by the window and the command-line
// tool, so that both find the same settings.
inline constexpr const char* ProgramFolderName = "gateway-configurator";

// Directory of the running executable including its trailing '/', or empty
// when it cannot be determined.
std::string ExecutableDir();

// Test-only: makes ExecutableDir() answer `dir` (a trailing '/' is added);
// nullopt goes back to the running executable's own directory.
void SetExecutableDir(const std::optional<std::string>& dir);
// The directory set by SetExecutableDir, if any (so a test can restore it).
std::optional<std::string> ExecutableDirOverride();

// Whether a program in `dir` is an installed copy: its folder is not
// writable, lies under /usr, or is a bin/ folder (/usr/local/bin,
// ~/.local/bin). Write access alone cannot tell, since root may write /usr/bin.
// A folder that does not exist is taken as a copy of its own.
bool InstalledFolder(const std::string& dir);

// The folder of OPTIONS.INI and ports/ (trailing '/'): beside the executable,
// or $XDG_CONFIG_HOME/gateway-configurator/ (~/.config/...) for an installed
// copy. Empty when it cannot be determined.
std::string ConfigDir();

// The folder day.txt and hour.txt are written to (trailing '/'): beside the
// executable, or gateway-configurator/ in the user's documents folder for an
// installed copy. The documents folder is $XDG_DOCUMENTS_DIR, else the one
// named in $XDG_CONFIG_HOME/user-dirs.dirs (~/Документы on a Russian desktop),
// else ~/Documents: archives are files the user opens and passes on, so they
// go where the file manager shows them.
std::string ArchiveDir();

// Creates `dir` with its missing parents. True when it is a folder afterwards;
// otherwise errno says why.
bool MakeFolder(const std::string& dir);

// The rule above and this copy's folders, for --help (UTF-8).
std::string FileLocationsHelp();
