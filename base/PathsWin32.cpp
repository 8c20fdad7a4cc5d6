// The executable's folder and the per-user folders on Windows: a copy that
// may write its own folder keeps everything there; otherwise the settings go
// to %APPDATA% and the archives to the Documents folder. Names pass through
// the wide-character calls.
#include "base/Files.h"
#include "base/Paths.h"
#include "base/WideText.h"

#include <cerrno>
#include <io.h>
#include <shlobj.h>
#include <windows.h>

namespace {

std::optional<std::string> overrideDir;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string WithSeparator(std::string dir) {
    if (!dir.empty() && !IsSeparator(dir.back())) dir += '\\';
    return dir;
}

std::string KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::string dir;
    if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK && path)
        dir = WithSeparator(Narrow(path));
    CoTaskMemFree(path);
    return dir;
}

// Whether a new file can be made in `dir`: the folder's access rights, not
// its read-only attribute, decide that on Windows.
bool Writable(const std::string& dir) {
    const std::wstring probe =
        Widen(WithSeparator(dir) + ".write-test-" + std::to_string(GetCurrentProcessId()));
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool Installed() {
    return InstalledFolder(ExecutableDir());
}

int ErrnoFor(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

} // namespace

std::string ExecutableDir() {
    if (overrideDir) return *overrideDir;
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::string utf8 = Narrow(path);
    const auto slash = utf8.find_last_of("\\/");
    if (slash == std::string::npos) return {};
    return utf8.substr(0, slash + 1);
}

void SetExecutableDir(const std::optional<std::string>& dir) {
    overrideDir = dir;
    if (overrideDir && !overrideDir->empty()) *overrideDir = WithSeparator(*overrideDir);
}

std::optional<std::string> ExecutableDirOverride() {
    return overrideDir;
}

bool InstalledFolder(const std::string& dir) {
    if (dir.empty()) return false;
    const DWORD attributes = GetFileAttributesW(Widen(dir).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return !Writable(dir);
}

std::string ConfigDir() {
    if (!Installed()) return ExecutableDir();
    const std::string appData = KnownFolder(FOLDERID_RoamingAppData);
    return appData.empty() ? std::string() : appData + ProgramFolderName + "\\";
}

std::string ArchiveDir() {
    if (!Installed()) return ExecutableDir();
    const std::string documents = KnownFolder(FOLDERID_Documents);
    return documents.empty() ? std::string() : documents + ProgramFolderName + "\\";
}

bool MakeFolder(const std::string& dir) {
    if (dir.empty()) return false;
    // Each parent in turn (after a drive or server part), then the folder.
    DWORD error = ERROR_PATH_NOT_FOUND;
    const std::size_t start = dir.size() > 2 && dir[1] == ':' ? 3 : 0;
    for (std::size_t i = start; i <= dir.size(); ++i) {
        if (i < dir.size() && !IsSeparator(dir[i])) continue;
        const std::string part = dir.substr(0, i);
        if (part.empty() || part.size() == start) continue;
        if (!CreateDirectoryW(Widen(part).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            error = GetLastError();
    }
    const DWORD attributes = GetFileAttributesW(Widen(dir).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    errno = ErrnoFor(error);
    return false;
}

std::string FileLocationsHelp() {
    std::string text = "  Копия в папке, куда можно писать (распакованный архив), держит их\n"
                       "  рядом с программой. Копия в папке, закрытой для записи (Program Files),\n"
                       "  держит OPTIONS.INI в %APPDATA%\\gateway-configurator\\, а архивы пишет\n"
                       "  в gateway-configurator\\ в папке «Документы». Папки создаются при\n"
                       "  первой записи.\n"
                       "  У этой копии:\n";
    auto shown = [](const std::string& dir) { return dir.empty() ? std::string("(не определена)") : dir; };
    text += "    OPTIONS.INI           " + shown(ConfigDir()) + "\n";
    text += "    day.txt, hour.txt     " + shown(ArchiveDir()) + "\n";
    return text;
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Widen(path).c_str(), Widen(mode).c_str());
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MoveFileOver(const std::string& from, const std::string& to) {
    return MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(Widen(path).c_str()) != 0;
}

bool TruncateFile(std::FILE* file) {
    return _chsize_s(_fileno(file), 0) == 0;
}

bool FileRemoved(std::FILE*) {
    return false;
}
