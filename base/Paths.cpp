// Finding the executable's directory through /proc/self/exe.
#include "base/Paths.h"

#include <limits.h>
#include <unistd.h>

namespace {
std::optional<std::string> overrideDir;
} // namespace

std::string ExecutableDir() {
    if (overrideDir) return *overrideDir;
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

void SetExecutableDir(const std::optional<std::string>& dir) {
    overrideDir = dir;
    if (overrideDir && !overrideDir->empty() && overrideDir->back() != '/') *overrideDir += '/';
}

std::optional<std::string> ExecutableDirOverride() {
    return overrideDir;
}
