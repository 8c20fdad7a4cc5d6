// flock on a file of the lock folder; the lock ends with the descriptor, so
// a killed collection never leaves the line taken.
#include "collect/LineLock.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool WritableFolder(const char* path) {
    return path && *path && access(path, W_OK | X_OK) == 0;
}

std::string ReadHolder(int fd) {
    char text[512] = {};
    const ssize_t n = pread(fd, text, sizeof text - 1, 0);
    std::string holder(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0'))
        holder.pop_back();
    // Another user's file: nothing in it may steer the terminal.
    for (char& c : holder)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return holder.empty() ? "неизвестный процесс" : holder;
}

} // namespace

std::string LockFolder() {
    const char* const candidates[] = {std::getenv("CONFIGURATOR_LOCK_DIR"), "/run/lock",
                                      std::getenv("XDG_RUNTIME_DIR")};
    for (const char* candidate : candidates)
        if (WritableFolder(candidate)) return candidate;
    return "/tmp";
}

std::string LockFileFor(const std::string& device) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(device, error);
    const std::string name = error ? device : resolved.string();
    std::string safe;
    for (const char c : name) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           c == '.' || c == '-';
        safe += plain ? c : '_';
    }
    while (!safe.empty() && safe.front() == '_')
        safe.erase(0, 1);
    return LockFolder() + "/configurator-" + safe + ".lock";
}

LineLock::~LineLock() {
    if (fd_ >= 0) close(fd_);
}

bool LineLock::Acquire(const std::string& path, const std::string& command, int waitMs, std::string& holder) {
    // Readable and writable by all: another user's collection of the same
    // line must be able to lock it too.
    // The folder is writable by everyone: a link planted under the lock's
    // name is never followed, and only a plain file is taken.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        holder = "файл блокировки " + path +
                 " не открывается: " + (fd < 0 ? std::strerror(errno) : "это не обычный файл") +
                 ". Удалите его";
        if (fd >= 0) close(fd);
        return false;
    }
    fchmod(fd, 0666); // the umask may have taken rights away
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            holder = "файл блокировки " + path + " не блокируется: " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            holder = ReadHolder(fd);
            close(fd);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string text = "pid " + std::to_string(getpid()) + " (" + command + ")\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, text.data(), text.size(), 0) < 0) {
        // Who holds it is only for messages: the lock itself holds.
    }
    fd_ = fd;
    return true;
}
