// The executable's folder through /proc/self/exe, and the per-user folders of
// an installed copy after the XDG base and user directory conventions.
#include "base/Paths.h"

#include "base/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<std::string> overrideDir;

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

// An environment variable that names an absolute folder; relative values are
// ignored, as the XDG conventions ask.
std::string AbsoluteEnv(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    return WithSlash(value);
}

std::string HomeDir() {
    if (std::string home = AbsoluteEnv("HOME"); !home.empty()) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return WithSlash(pw->pw_dir);
    return {};
}

std::string XdgConfigHome() {
    if (std::string dir = AbsoluteEnv("XDG_CONFIG_HOME"); !dir.empty()) return dir;
    const std::string home = HomeDir();
    return home.empty() ? std::string() : home + ".config/";
}

// XDG_DOCUMENTS_DIR="$HOME/..." or "/..." in user-dirs.dirs; empty when the
// file does not name it.
std::string DocumentsFromUserDirs(const std::string& configHome, const std::string& home) {
    std::ifstream file(configHome + "user-dirs.dirs");
    const std::string key = "XDG_DOCUMENTS_DIR=\"";
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        const auto end = line.find('"', key.size());
        if (end == std::string::npos) return {};
        std::string value = line.substr(key.size(), end - key.size());
        if (value.compare(0, 5, "$HOME") == 0) {
            if (home.empty()) return {};
            value = home + value.substr(value.size() > 5 && value[5] == '/' ? 6 : 5);
        }
        return value.empty() || value[0] != '/' ? std::string() : WithSlash(value);
    }
    return {};
}

std::string DocumentsDir() {
    if (std::string dir = AbsoluteEnv("XDG_DOCUMENTS_DIR"); !dir.empty()) return dir;
    const std::string home = HomeDir();
    const std::string configHome = XdgConfigHome();
    if (!configHome.empty()) {
        if (std::string dir = DocumentsFromUserDirs(configHome, home); !dir.empty()) return dir;
    }
    return home.empty() ? std::string() : home + "Documents/";
}

bool Installed() {
    return InstalledFolder(ExecutableDir());
}

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
    if (overrideDir && !overrideDir->empty()) *overrideDir = WithSlash(*overrideDir);
}

std::optional<std::string> ExecutableDirOverride() {
    return overrideDir;
}

bool InstalledFolder(const std::string& dir) {
    if (dir.empty()) return false;
    if (dir.compare(0, 5, "/usr/") == 0) return true;
    std::string name = dir;
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    name = name.substr(name.rfind('/') + 1);
    if (name == "bin") return true;
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) return false;
    return access(dir.c_str(), W_OK) != 0;
}

std::string ConfigDir() {
    if (!Installed()) return ExecutableDir();
    const std::string configHome = XdgConfigHome();
    return configHome.empty() ? std::string() : configHome + ProgramFolderName + "/";
}

std::string ArchiveDir() {
    if (!Installed()) return ExecutableDir();
    const std::string documents = DocumentsDir();
    return documents.empty() ? std::string() : documents + ProgramFolderName + "/";
}

bool MakeFolder(const std::string& dir) {
    if (dir.empty()) return false;
    // Each parent in turn, then the folder itself; the last refusal says why.
    int error = ENOTDIR;
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1))
        if (mkdir(dir.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) error = errno;
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) error = errno;
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    errno = error;
    return false;
}

std::string FileLocationsHelp() {
    std::string text = "  Копия в папке, куда можно писать (папка сборки, распакованная копия),\n"
                       "  держит их рядом с программой. Установленная копия (папка программы\n"
                       "  закрыта для записи, лежит под /usr или называется bin) держит\n"
                       "  OPTIONS.INI и ports/ в $XDG_CONFIG_HOME/gateway-configurator/\n"
                       "  (обычно ~/.config/gateway-configurator/), а архивы пишет в\n"
                       "  gateway-configurator/ в папке документов ($XDG_DOCUMENTS_DIR, обычно\n"
                       "  ~/Документы или ~/Documents). Папки создаются при первой записи.\n"
                       "  У этой копии:\n";
    auto shown = [](const std::string& dir) { return dir.empty() ? std::string("(не определена)") : dir; };
    text += "    OPTIONS.INI, ports/   " + shown(ConfigDir()) + "\n";
    text += "    day.txt, hour.txt     " + shown(ArchiveDir()) + "\n";
    return text;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool TruncateFile(std::FILE* file) {
    return ftruncate(fileno(file), 0) == 0;
}

bool FileRemoved(std::FILE* file) {
    struct stat st {};
    return fstat(fileno(file), &st) != 0 || st.st_nlink == 0;
}
