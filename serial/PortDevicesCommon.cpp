// The parts of PortDevices that are the same on every system: the installed
// lister, and the texts of a port that does not open or has gone away, worded
// by the kind of failure the system's own file reads from the code.
#include "serial/PortDevices.h"

#include "base/Messages.h"
#include "base/PortAddress.h"
#include "serial/PortDevicesSystem.h"
#include "serial/Rs232.h"

#include <utility>

using PortDevicesSystem::OpenFailure;
using PortDevicesSystem::OpenFailureOf;

namespace {

SerialDeviceLister& Lister() {
    static SerialDeviceLister lister;
    return lister;
}

const char* const SystemErrorCaption = "ОШИБКА СИСТЕМЫ";

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
        text += "\n    " + PortDevicesSystem::PresentDeviceName(d);
        if (!d.Description.empty()) text += " (" + d.Description + ")";
    }
    return text;
}

// "COMn " for a port opened by its number, nothing for one opened by path.
std::string ComName(int portNumber) {
    return portNumber > 0 ? "COM" + std::to_string(portNumber) + " " : std::string();
}

// The group a user must join for the device; the usual one when unknown.
std::string GroupToJoin(const std::string& path) {
    const std::string group = DeviceGroup(path);
    return group.empty() ? "dialout" : group;
}

// Why the port did not open: the opening's own cause, else the last error.
int OpenFailureCode(const Rs232Port& port) {
    return port.OpenError != 0 ? port.OpenError : port.LastError;
}

// A known cause's texts: the system's own text in Russian for a box, and the
// status line's short reason; null where the program has none of its own.
struct FailureTexts {
    const char* Known = nullptr;
    const char* Reason = nullptr;
};

FailureTexts TextsOf(OpenFailure kind) {
    switch (kind) {
    case OpenFailure::NoRights:
        return {"нет прав на устройство", "нет прав"};
    case OpenFailure::Busy:
        return {"устройство занято другой программой", "занят другой программой"};
    case OpenFailure::Missing:
        return {"нет такого устройства", "нет устройства"};
    case OpenFailure::Settings:
        return {"устройство не принимает эти настройки (скорость)", "скорость не поддерживается"};
    case OpenFailure::NotSerial:
        return {"это не последовательный порт", "не последовательный порт"};
    case OpenFailure::DeviceError:
        return {"ошибка ввода-вывода устройства", nullptr};
    case OpenFailure::BadAddress:
        return {"неверный сетевой адрес", "неверный адрес"};
    case OpenFailure::HostUnknown:
        return {"узел не найден", "узел не найден"};
    case OpenFailure::Refused:
        return {"соединение отвергнуто: на этом порту узла никто не слушает", "соединение отвергнуто"};
    case OpenFailure::NoAnswer:
        return {"узел не отвечает", "узел не отвечает"};
    case OpenFailure::NotBuilt:
        return {"сетевые порты в этой версии не поддерживаются", "сетевые порты не поддерживаются"};
    case OpenFailure::Other:
        break;
    }
    return {};
}

// ": name (pid N), ..." naming the programs that hold `path`; empty when
// none can be found.
std::string HoldersText(const std::string& path) {
    const std::vector<std::string> holders = DeviceHolders(path);
    std::string text;
    for (std::size_t i = 0; i < holders.size(); ++i)
        text += (i ? ", " : ": ") + holders[i];
    return text;
}

} // namespace

void SetSerialDeviceLister(SerialDeviceLister lister) {
    Lister() = std::move(lister);
}

std::vector<SerialDevice> PresentSerialDevices() {
    return Lister() ? Lister()() : PortDevicesSystem::SystemSerialDevices();
}

std::string PortOpenErrorText(int portNumber, const std::string& path, int error,
                              const std::vector<SerialDevice>& present, int baudRate) {
    std::string text = "Не удалось открыть порт " + ComName(portNumber) + "(" + DeviceShownFor(path) + ").\n";
    switch (OpenFailureOf(error)) {
    case OpenFailure::NoRights: {
        const std::string group = GroupToJoin(path);
        text += "Нет прав на устройство: им пользуется группа " + group +
                ", а вас в ней нет.\nДобавьте себя в группу командой\n    sudo usermod -aG " + group +
                " $USER\nи войдите в систему заново (выйдите из сеанса или перезагрузитесь).\n";
        break;
    }
    case OpenFailure::Busy:
        text += "Устройство занято другой программой" + HoldersText(path) +
                ".\nЗакройте её и откройте порт снова: «Настройки», кнопка OK.\n";
        break;
    case OpenFailure::Settings:
        text += "Устройство не принимает скорость " + std::to_string(baudRate) +
                " бит/с. Выберите другую в «Настройки», страница «Связь», и нажмите OK.\n";
        break;
    case OpenFailure::Missing:
        text += "Такого устройства сейчас нет. Подключите адаптер или выберите устройство в «Настройки», "
                "страница «Связь».\n" +
                PresentList(present) + "\n";
        break;
    case OpenFailure::BadAddress:
    case OpenFailure::HostUnknown:
    case OpenFailure::Refused:
    case OpenFailure::NoAnswer:
        text += "Сервер порта недоступен: " + KnownPortError(error) +
                ". Проверьте адрес в «Настройки», страница «Связь», и что сервер включён; порт подключится "
                "сам.\n";
        break;
    case OpenFailure::NotSerial:
    case OpenFailure::DeviceError:
    case OpenFailure::NotBuilt:
    case OpenFailure::Other:
        break;
    }
    return text + SystemLine(error);
}

void ShowPortOpenError(const Rs232Port& port) {
    const int error = OpenFailureCode(port);
    const std::vector<SerialDevice> present =
        OpenFailureOf(error) == OpenFailure::Missing ? PresentSerialDevices() : std::vector<SerialDevice>{};
    ShowMessage(PortOpenErrorText(port.PortNumber, port.DevicePath, error, present, port.BaudRate),
                SystemErrorCaption, MessageIcon::Information);
}

std::string PortDisconnectedText(const Rs232Port& port) {
    if (port.Network())
        return "Порт " + ComName(port.PortNumber) + "отключён: соединение с " + port.NetAddress +
               " разорвано. Порт подключится сам, когда сервер снова ответит.";
    return "Порт " + ComName(port.PortNumber) + "отключён: устройство " + port.DevicePath +
           " пропало. Подключите адаптер снова, порт откроется сам.";
}

std::string PortOpenCause(const std::string& path, int error) {
    const std::string known = KnownPortError(error);
    if (known.empty()) return SystemErrorText(error);
    return OpenFailureOf(error) == OpenFailure::Busy ? known + HoldersText(path) : known;
}

std::string KnownPortError(int error) {
    const char* known = TextsOf(OpenFailureOf(error)).Known;
    return known ? known : std::string();
}

bool PortBusyError(int error) {
    return OpenFailureOf(error) == OpenFailure::Busy;
}

std::string PortFailureReason(int error) {
    const char* reason = TextsOf(OpenFailureOf(error)).Reason;
    return reason ? reason : SystemErrorText(error);
}

std::string PortNotOpenText(const Rs232Port& port) {
    if (port.Disconnected) return PortDisconnectedText(port);
    const int error = OpenFailureCode(port);
    const std::string text = "Порт " + ComName(port.PortNumber) + "не открыт: " + PortFailureReason(error) +
                             " (" + DeviceShownFor(port.DevicePath) + "), поэтому ничего не отправлено. ";
    switch (OpenFailureOf(error)) {
    case OpenFailure::NoRights:
        return text + "Добавьте себя в группу " + GroupToJoin(port.DevicePath) +
               " и войдите в систему заново.";
    case OpenFailure::Busy:
        return text + "Закройте программу, которая его держит: порт откроется сам.";
    case OpenFailure::Missing:
        return text + "Подключите адаптер: порт откроется сам. Или выберите устройство в «Настройки», "
                      "страница «Связь».";
    case OpenFailure::Settings:
        return text + "Выберите другую скорость в «Настройки» и нажмите OK.";
    case OpenFailure::BadAddress:
    case OpenFailure::HostUnknown:
    case OpenFailure::Refused:
    case OpenFailure::NoAnswer:
        return text +
               "Проверьте адрес в «Настройки», страница «Связь», и что сервер включён: порт подключится сам.";
    case OpenFailure::NotSerial:
    case OpenFailure::DeviceError:
    case OpenFailure::NotBuilt:
    case OpenFailure::Other:
        break;
    }
    return text + "Исправьте причину и откройте порт снова: «Настройки», кнопка OK.";
}

std::string PortStatusText(const Rs232Port* port, int portNumber, int baudRate) {
    std::string text = "COM" + std::to_string(portNumber);
    if (port && port->Network())
        text += ", " + port->NetAddress;
    else if (port && !port->DevicePath.empty())
        text += ", " + PortDevicesSystem::StatusDeviceName(port->DevicePath);
    text += ", " + std::to_string(baudRate) + " бит/с: ";
    if (!port) return text + "не открыт";
    if (port->Disconnected) return text + "отключён";
    if (port->Handle >= 0 && port->Network())
        return text + "подключён, круговая задержка " + std::to_string(port->RoundTripMs) + " мс" +
               (port->NetAddress.rfind("rfc2217://", 0) == 0 && !port->SettingsAcknowledged
                    ? ", сервер не подтвердил настройки"
                    : "");
    if (port->Handle >= 0) return text + "открыт" + PortDevicesSystem::OpenPortStatus(*port);
    // The opening's own cause: reads and writes tried on the unopened port
    // since then leave their errors in LastError, not here.
    return text + "не открыт: " + PortFailureReason(OpenFailureCode(*port));
}

std::string BindComAddress(int portNumber, const std::string& address) {
    std::string why;
    const std::optional<PortAddress> a = ParsePortAddress(address, &why);
    if (!a) return "Адрес «" + address + "» не подходит: " + why + ". Например: tcp://192.168.0.7:4001.";
    return BindComPort(portNumber, PortAddressText(*a));
}
