// The executable's own directory: OPTIONS.INI, day.txt, hour.txt and the
// ports/ links live there.
#pragma once
#include <string>

// Directory of the running executable including its trailing '/', or empty
// when it cannot be determined. SetExecutableDir overrides it (tests use a
// temporary directory).
std::string ExecutableDir();
void SetExecutableDir(const std::string& dir);
