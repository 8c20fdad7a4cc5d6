// An installed copy in a scratch folder: the executable's folder is a bin/
// folder, and the XDG variables point the per-user folders into the scratch
// folder too. Everything is restored at the end of the fixture's life.
#pragma once
#include "support/Pty.h"
#include "support/ScopedExecutableDir.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>

// Sets (or with nullopt unsets) an environment variable for its lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        Set(value);
    }
    ~ScopedEnv() { Set(saved_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void Set(const std::optional<std::string>& value) {
        if (value)
            setenv(name_, value->c_str(), 1);
        else
            unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> saved_;
};

class InstalledCopy {
public:
    InstalledCopy() { mkdir(root.File("bin").c_str(), 0755); }

    // The folders the program should choose.
    std::string ConfigFolder() const { return root.Path() + "config/gateway-configurator/"; }
    std::string ArchiveFolder() const { return root.Path() + "docs/gateway-configurator/"; }

    TempDir root;

private:
    ScopedExecutableDir exeDir_{root.File("bin")};
    ScopedEnv config_{"XDG_CONFIG_HOME", root.Path() + "config"};
    ScopedEnv docs_{"XDG_DOCUMENTS_DIR", root.Path() + "docs"};
};
