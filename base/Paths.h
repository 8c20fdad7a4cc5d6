// The executable's own directory: OPTIONS.INI, day.txt, hour.txt and the
// ports/ links live there.
#pragma once
#include <optional>
#include <string>

// Directory of the running executable including its trailing '/', or empty
// when it cannot be determined.
std::string ExecutableDir();

// Test-only: makes ExecutableDir() answer `dir` (a trailing '/' is added);
// nullopt goes back to the running executable's own directory.
void SetExecutableDir(const std::optional<std::string>& dir);
// The directory set by SetExecutableDir, if any (so a test can restore it).
std::optional<std::string> ExecutableDirOverride();
