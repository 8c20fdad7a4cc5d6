// Serial devices for the user on POSIX: binding a device to COMn, the nodes
// behind a path, who holds a device, and what the texts of a port that does
// not open (PortDevicesCommon.cpp) need to know of the system.
#include "serial/PortDevices.h"

#include "base/ComNumber.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "serial/PortDevicesSystem.h"
#include "serial/Rs232.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace {

std::string ReadLink(const std::string& path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (n < 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string ProcessName(const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "?" : name;
}

void AddHolder(std::vector<std::string>& holders, const std::string& pid) {
    const std::string entry = ProcessName(pid) + " (pid " + pid + ")";
    for (const std::string& known : holders)
        if (known == entry) return;
    holders.push_back(entry);
}

bool AllDigits(const char* text) {
    if (!*text) return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9') return false;
    return true;
}

// Every link in a folder such as /dev/serial/by-id with the node it leads to.
std::vector<std::pair<std::string, std::string>> LinksIn(const std::string& folder) {
    std::vector<std::pair<std::string, std::string>> links; // link, node
    DIR* dir = opendir(folder.c_str());
    if (!dir) return links;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = folder + "/" + e->d_name;
        const std::string node = RealPath(link);
        if (!node.empty()) links.emplace_back(link, node);
    }
    closedir(dir);
    return links;
}

// The processes holding a lock on the device's node (/proc/locks names the
// file by its file system and inode: "MAJ:MIN:INODE").
void AddLockHolders(std::vector<std::string>& holders, const struct stat& device) {
    char lockId[64];
    std::snprintf(lockId, sizeof lockId, "%02x:%02x:%llu", major(device.st_dev), minor(device.st_dev),
                  static_cast<unsigned long long>(device.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, id;
        if (words >> number >> kind >> mode >> access >> pid >> id) {
            if (number.size() > 1 && pid == "->") continue; // a waiter
            if (id == lockId) AddHolder(holders, pid);
        }
    }
}

// Whether the process has a descriptor open on the device.
bool HasDeviceOpen(const std::string& pid, const struct stat& device) {
    const std::string fdDir = "/proc/" + pid + "/fd/";
    DIR* fds = opendir(fdDir.c_str());
    if (!fds) return false;
    bool found = false;
    while (const dirent* f = readdir(fds)) {
        if (!AllDigits(f->d_name)) continue;
        struct stat st {};
        if (stat((fdDir + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
            st.st_rdev == device.st_rdev) {
            found = true;
            break;
        }
    }
    closedir(fds);
    return found;
}

} // namespace

PortDevicesSystem::OpenFailure PortDevicesSystem::OpenFailureOf(int error) {
    if (error == EACCES || error == EPERM) return OpenFailure::NoRights;
    if (error == EBUSY) return OpenFailure::Busy;
    if (error == ENOENT || error == ENODEV || error == ENXIO) return OpenFailure::Missing;
    if (error == EINVAL) return OpenFailure::Settings;
    if (error == ENOTTY) return OpenFailure::NotSerial;
    if (error == EIO) return OpenFailure::DeviceError;
    if (error == EDESTADDRREQ) return OpenFailure::BadAddress;
    if (error == EADDRNOTAVAIL) return OpenFailure::HostUnknown;
    if (error == ECONNREFUSED) return OpenFailure::Refused;
    if (error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH) return OpenFailure::NoAnswer;
    return OpenFailure::Other;
}

std::vector<SerialDevice> PortDevicesSystem::SystemSerialDevices() {
    return {};
}

std::string PortDevicesSystem::PresentDeviceName(const SerialDevice& device) {
    if (device.Device.empty() || device.Device == device.Path) return device.Path;
    return device.Path + " -> " + device.Device;
}

std::string PortDevicesSystem::StatusDeviceName(const std::string& path) {
    const std::string real = RealPath(path);
    return real.empty() ? path : real;
}

std::string PortDevicesSystem::OpenPortStatus(const Rs232Port& port) {
    return AdapterLatencyStatus(port.Adapter);
}

std::vector<SerialDevice> NameSerialDevices(const std::vector<SerialDevice>& nodes,
                                            const std::string& byIdDir) {
    const auto byId = LinksIn(byIdDir);
    std::vector<SerialDevice> devices;
    auto listed = [&devices](const std::string& node) {
        for (const SerialDevice& d : devices)
            if (d.Device == node) return true;
        return false;
    };
    for (SerialDevice d : nodes) {
        if (d.Device.empty() || listed(d.Device)) continue;
        d.Path = d.Device;
        for (const auto& [link, node] : byId)
            if (node == d.Device) d.Path = link;
        devices.push_back(d);
    }
    const std::string ports = PortsDir();
    for (int n = FirstComNumber; !ports.empty() && n <= LastComNumber; ++n) {
        const std::string link = ports + "COM" + std::to_string(n);
        const std::string node = RealPath(link);
        struct stat st {};
        if (node.empty() || stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode) || listed(node)) continue;
        devices.push_back({ReadLink(link), node, "COM" + std::to_string(n)});
    }
    return devices;
}

std::string PortsDir() {
    const std::string dir = ConfigDir();
    return dir.empty() ? std::string() : dir + "ports/";
}

std::string ComLinkTarget(int portNumber) {
    const std::string dir = PortsDir();
    if (dir.empty()) return {};
    return ReadLink(dir + "COM" + std::to_string(portNumber));
}

std::string BindComPort(int portNumber, const std::string& device) {
    const std::string dir = PortsDir();
    if (dir.empty())
        return "Не найдена папка настроек: ссылку ports/COM" + std::to_string(portNumber) + " создать негде.";
    // An installed copy's configuration folder may not exist yet.
    if (!MakeFolder(dir)) return "Не удалось создать папку " + dir + ": " + SystemErrorText(errno);
    const std::string link = dir + "COM" + std::to_string(portNumber);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        return "В папке " + dir + " уже есть " + (S_ISDIR(st.st_mode) ? "папка" : "файл") + " COM" +
               std::to_string(portNumber) + ", а не ссылка. Уберите его или выберите другой номер порта.";
    // A new link under a temporary name, renamed over the old one: the name
    // always leads somewhere.
    const std::string temporary = link + ".new";
    unlink(temporary.c_str());
    if (symlink(device.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return "Не удалось создать ссылку " + link + ": " + SystemErrorText(error);
    }
    return {};
}

bool SameDevice(const std::string& a, const std::string& b) {
    const std::string node = RealPath(a);
    return !node.empty() && node == RealPath(b);
}

std::string DeviceShownFor(const std::string& path) {
    std::string shown = path;
    const std::string target = ReadLink(path);
    if (!target.empty()) shown += " -> " + target;
    const std::string real = RealPath(path);
    if (!real.empty() && real != path && real != target) shown += " -> " + real;
    return shown;
}

std::string DeviceGroup(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    if (const struct group* g = getgrgid(st.st_gid)) return g->gr_name;
    return std::to_string(st.st_gid);
}

std::vector<std::string> DeviceHolders(const std::string& path) {
    std::vector<std::string> holders;
    struct stat device {};
    if (stat(path.c_str(), &device) != 0) return holders;

    AddLockHolders(holders, device);
    // Open descriptors of the processes we may look at.
    if (DIR* proc = opendir("/proc")) {
        while (const dirent* p = readdir(proc))
            if (AllDigits(p->d_name) && HasDeviceOpen(p->d_name, device)) AddHolder(holders, p->d_name);
        closedir(proc);
    }
    return holders;
}

std::string PortStatusHint(const Rs232Port* port) {
    if (!port || port->Handle < 0) return {};
    return AdapterLatencyHint(port->Adapter);
}
