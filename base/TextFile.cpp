// CR LF text bytes and a checked write-and-close.
#include "base/TextFile.h"

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include "base/WideText.h"

#include <windows.h>
#undef ReplaceFile // the system's macro for ReplaceFileW, not this one
#else
#include <fcntl.h>
#include <unistd.h>
#endif

std::string TextModeBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool WriteAndClose(std::FILE* file, std::string_view bytes) {
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    return std::fclose(file) == 0 && ok;
}

#ifdef _WIN32
// The data flushed through a handle of its own, then one move over the old
// file by wide names; `error` is GetLastError, as the system's texts expect.
bool ReplaceFile(const std::string& from, const std::string& to, int& error) {
    HANDLE file = CreateFileW(Widen(from).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    const bool synced = FlushFileBuffers(file) != 0;
    error = synced ? 0 : static_cast<int>(GetLastError());
    CloseHandle(file);
    if (!synced) return false;
    if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0) {
        error = static_cast<int>(GetLastError());
        return false;
    }
    return true;
}
#else
bool ReplaceFile(const std::string& from, const std::string& to, int& error) {
    const int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    error = synced ? 0 : errno;
    ::close(fd);
    if (!synced) return false;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = errno;
        return false;
    }
    // The rename itself reaches the disk with its folder.
    const std::size_t slash = to.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : to.substr(0, slash + 1);
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
#endif
