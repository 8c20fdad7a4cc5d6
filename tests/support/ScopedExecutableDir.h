// Points ExecutableDir() at a test's folder for the fixture's lifetime and
// restores whatever was there before, also when an assertion ends the test.
#pragma once
#include "base/Paths.h"

#include <optional>
#include <string>

class ScopedExecutableDir {
public:
    explicit ScopedExecutableDir(const std::string& dir) : saved_(ExecutableDirOverride()) {
        SetExecutableDir(dir);
    }
    ~ScopedExecutableDir() { SetExecutableDir(saved_); }
    ScopedExecutableDir(const ScopedExecutableDir&) = delete;
    ScopedExecutableDir& operator=(const ScopedExecutableDir&) = delete;

private:
    std::optional<std::string> saved_;
};
