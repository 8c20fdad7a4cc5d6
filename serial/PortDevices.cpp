// Serial devices for the user: binding a device to COMn, and the texts of a
// port that does not open or has gone away.
#include "serial/PortDevices.h"

#include "base/Messages.h"
#include "base/Paths.h"
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

SerialDeviceLister& Lister() {
    static SerialDeviceLister lister;
    return lister;
}

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

const char* const SystemErrorCaption = "ОШИБКА СИСТЕМЫ";

bool MissingDevice(int error) {
    return error == ENOENT || error == ENODEV || error == ENXIO;
}

// The system's line of a box: in Russian where the case is known, the
// system's own text and the code in brackets.
std::string SystemLine(int error) {
    const std::string known = KnownPortError(error);
    if (known.empty()) return "Система: " + SystemErrorText(error) + " (код " + std::to_string(error) + ")";
    return "Система: " + known + " (" + SystemErrorText(error) + ", код " + std::to_string(error) + ")";
}

std::string PresentList(const std::vector<SerialDevice>& present) {
    if (present.empty()) return "Последовательных устройств сейчас не найдено.";
    std::string text = "Сейчас есть:";
    for (const SerialDevice& d : present) {
        text += "\n    " + d.Path;
        if (!d.Device.empty() && d.Device != d.Path) text += " -> " + d.Device;
        if (!d.Description.empty()) text += " (" + d.Description + ")";
    }
    return text;
}

// "COMn " for a port opened by its number, nothing for one opened by path.
std::string ComName(int portNumber) {
    return portNumber > 0 ? "COM" + std::to_string(portNumber) + " " : std::string();
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

void SetSerialDeviceLister(SerialDeviceLister lister) {
    Lister() = std::move(lister);
}

std::vector<SerialDevice> PresentSerialDevices() {
    return Lister() ? Lister()() : std::vector<SerialDevice>{};
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
    for (int n = 1; !ports.empty() && n <= 99; ++n) {
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

std::string PortOpenErrorText(int portNumber, const std::string& path, int error,
                              const std::vector<SerialDevice>& present, int baudRate) {
    std::string text = "Не удалось открыть порт " + ComName(portNumber) + "(" + DeviceShownFor(path) + ").\n";
    switch (error) {
    case EACCES:
    case EPERM: {
        std::string group = DeviceGroup(path);
        if (group.empty()) group = "dialout";
        text += "Нет прав на устройство: им пользуется группа " + group +
                ", а вас в ней нет.\nДобавьте себя в группу командой\n    sudo usermod -aG " + group +
                " $USER\nи войдите в систему заново (выйдите из сеанса или перезагрузитесь).\n";
        break;
    }
    case EBUSY: {
        const std::vector<std::string> holders = DeviceHolders(path);
        text += "Устройство занято другой программой";
        if (!holders.empty()) {
            text += ": ";
            for (std::size_t i = 0; i < holders.size(); ++i)
                text += (i ? ", " : "") + holders[i];
        }
        text += ".\nЗакройте её и откройте порт снова: «Настройки», кнопка OK.\n";
        break;
    }
    case EINVAL:
        text += "Устройство не принимает скорость " + std::to_string(baudRate) +
                " бит/с. Выберите другую в «Настройки», страница «Связь», и нажмите OK.\n";
        break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        text += "Такого устройства сейчас нет. Подключите адаптер или выберите устройство в «Настройки», "
                "страница «Связь».\n" +
                PresentList(present) + "\n";
        break;
    default:
        break;
    }
    return text + SystemLine(error);
}

void ShowPortOpenError(const Rs232Port& port) {
    const int error = port.OpenError != 0 ? port.OpenError : port.LastError;
    const std::vector<SerialDevice> present =
        MissingDevice(error) ? PresentSerialDevices() : std::vector<SerialDevice>{};
    ShowMessage(PortOpenErrorText(port.PortNumber, port.DevicePath, error, present, port.BaudRate),
                SystemErrorCaption, MessageIcon::Information);
}

std::string PortDisconnectedText(const Rs232Port& port) {
    return "Порт " + ComName(port.PortNumber) + "отключён: устройство " + port.DevicePath +
           " пропало. Подключите адаптер снова, порт откроется сам.";
}

std::string KnownPortError(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "нет прав на устройство";
    case EBUSY:
        return "устройство занято другой программой";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "нет такого устройства";
    case EINVAL:
        return "устройство не принимает эти настройки (скорость)";
    case ENOTTY:
        return "это не последовательный порт";
    case EIO:
        return "ошибка ввода-вывода устройства";
    default:
        return {};
    }
}

bool PortBusyError(int error) {
    return error == EBUSY;
}

std::string PortFailureReason(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
        return "нет прав";
    case EBUSY:
        return "занят другой программой";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "нет устройства";
    case EINVAL:
        return "скорость не поддерживается";
    case ENOTTY:
        return "не последовательный порт";
    default:
        return SystemErrorText(error);
    }
}

std::string PortNotOpenText(const Rs232Port& port) {
    if (port.Disconnected) return PortDisconnectedText(port);
    const int error = port.OpenError != 0 ? port.OpenError : port.LastError;
    std::string text = "Порт " + ComName(port.PortNumber) + "не открыт: " + PortFailureReason(error) + " (" +
                       DeviceShownFor(port.DevicePath) + "), поэтому ничего не отправлено. ";
    switch (error) {
    case EACCES:
    case EPERM: {
        std::string group = DeviceGroup(port.DevicePath);
        if (group.empty()) group = "dialout";
        return text + "Добавьте себя в группу " + group + " и войдите в систему заново.";
    }
    case EBUSY:
        return text + "Закройте программу, которая его держит: порт откроется сам.";
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return text + "Подключите адаптер: порт откроется сам. Или выберите устройство в «Настройки», "
                      "страница «Связь».";
    case EINVAL:
        return text + "Выберите другую скорость в «Настройки» и нажмите OK.";
    default:
        return text + "Исправьте причину и откройте порт снова: «Настройки», кнопка OK.";
    }
}

std::string PortStatusText(const Rs232Port* port, int portNumber, int baudRate) {
    std::string text = "COM" + std::to_string(portNumber);
    if (port && !port->DevicePath.empty()) {
        const std::string real = RealPath(port->DevicePath);
        text += ", " + (real.empty() ? port->DevicePath : real);
    }
    text += ", " + std::to_string(baudRate) + " бит/с: ";
    if (!port) return text + "не открыт";
    if (port->Disconnected) return text + "отключён";
    if (port->Handle >= 0) return text + "открыт" + AdapterLatencyStatus(port->Adapter);
    // The opening's own cause: reads and writes tried on the unopened port
    // since then leave their errors in LastError, not here.
    return text + "не открыт: " + PortFailureReason(port->OpenError != 0 ? port->OpenError : port->LastError);
}

std::string PortStatusHint(const Rs232Port* port) {
    if (!port || port->Handle < 0) return {};
    return AdapterLatencyHint(port->Adapter);
}
