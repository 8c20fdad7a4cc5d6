// The session's keys, their values as the command line writes them, and the
// TOML file read into the same values, so that the file and the options
// accept exactly the same things.
#include "collect/CollectSession.h"

#include "base/AddressList.h"
#include "base/ComNumber.h"
#include "base/Files.h"
#include "base/TextFile.h"
#include "gateway/GatewaySettings.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Misfit = std::optional<std::string>;

bool WholeNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

Misfit TakePort(const std::string& value, CollectSession& s) {
    std::string number = value;
    if (number.size() > 3 && (number.compare(0, 3, "COM") == 0 || number.compare(0, 3, "com") == 0))
        number = number.substr(3);
    int n = 0;
    if (!WholeNumber(number, FirstComNumber, LastComNumber, n) && value.find('/') == std::string::npos)
        return "нужен COM1..COM99, номер 1..99, путь к устройству или адрес вида tcp://узел:порт";
    s.Port = value;
    return std::nullopt;
}

Misfit TakeMqtt(const std::string& value, CollectSession& s) {
    const std::size_t colon = value.rfind(':');
    std::string host = value.substr(0, colon);
    int port = 1883;
    if (colon != std::string::npos && !WholeNumber(value.substr(colon + 1), 1, 65535, port))
        return "нужен узел или узел:порт, порт 1..65535";
    if (host.empty()) return "нужен узел или узел:порт";
    s.MqttHost = host;
    s.MqttPort = port;
    return std::nullopt;
}

Misfit TakeArchives(const std::string& value, CollectSession& s) {
    if (value == "day")
        s.Archives = SessionArchives::Day;
    else if (value == "hour")
        s.Archives = SessionArchives::Hour;
    else if (value == "both")
        s.Archives = SessionArchives::Both;
    else
        return "нужно day, hour или both";
    return std::nullopt;
}

Misfit TakeNumber(const std::string& value, int low, int high, std::optional<int>& target, const char* what) {
    int n = 0;
    if (!WholeNumber(value, low, high, n)) return std::string(what);
    target = n;
    return std::nullopt;
}

Misfit TakeText(const std::string& value, std::string& target, const char* what) {
    if (value.empty()) return std::string(what);
    target = value;
    return std::nullopt;
}

Misfit TakeOnOff(const std::string& value, bool& target) {
    if (value != "on" && value != "off") return "нужно on или off";
    target = value == "on";
    return std::nullopt;
}

Misfit TakeLine(const std::string& key, const std::string& value, CollectSession& s) {
    if (key == "port") return TakePort(value, s);
    if (key == "speed") return TakeNumber(value, 1, 99999999, s.Speed, "нужна скорость в бит/с");
    if (key == "link") {
        if (value != "i2c" && value != "zep-lan") return "нужно i2c или zep-lan";
        s.LinkMode = value == "i2c" ? 1 : 2;
        return std::nullopt;
    }
    if (key == "rs485-speed") {
        const auto* end = SpeedCaptions + SpeedCount;
        const auto* at = std::find(SpeedCaptions, end, value);
        if (at == end) return "нужно 57600, 38400, 19200, 9600 или 4800";
        s.Rs485SpeedItem = static_cast<int>(at - SpeedCaptions);
        return std::nullopt;
    }
    if (key == "wait") return TakeNumber(value, 1, 600000, s.WaitMs, "нужно время в мс, 1..600000");
    return "неизвестный ключ";
}

} // namespace

const std::vector<SessionKey>& SessionKeys() {
    static const std::vector<SessionKey> keys = {
        {"port"},    {"speed"},      {"link"},      {"rs485-speed"},   {"wait"},
        {"address"}, {"scan", true}, {"archives"},  {"output"},        {"csv"},
        {"db"},      {"mqtt"},       {"mqtt-user"}, {"mqtt-password"}, {"topic"},
    };
    return keys;
}

std::optional<std::string> TakeSessionValue(const std::string& key, const std::string& value,
                                            CollectSession& s) {
    if (key == "address") {
        std::string why;
        s.Addresses = ParseAddressList(value, why);
        if (s.Addresses.empty()) return "нужен адрес 0..255 или список, например 1,5,7-9";
        return std::nullopt;
    }
    if (key == "scan") return TakeOnOff(value, s.Scan);
    if (key == "archives") return TakeArchives(value, s);
    if (key == "output") return TakeText(value, s.Output, "нужно имя папки");
    if (key == "csv") return TakeOnOff(value, s.Csv);
    if (key == "db") return TakeText(value, s.Database, "нужно имя файла базы");
    if (key == "mqtt") return TakeMqtt(value, s);
    if (key == "mqtt-user") return TakeText(value, s.MqttUser, "нужно имя пользователя");
    if (key == "mqtt-password") {
        s.MqttPassword = value;
        return std::nullopt;
    }
    if (key == "topic") {
        if (value.empty() || value.find_first_of("#+") != std::string::npos)
            return "нужен префикс темы без # и +";
        s.Topic = value;
        while (s.Topic.size() > 1 && s.Topic.back() == '/')
            s.Topic.pop_back();
        return std::nullopt;
    }
    return TakeLine(key, value, s);
}

namespace {

// A TOML value as the command line would write it: numbers in decimal,
// true/false as on/off, a list of addresses joined by commas.
std::optional<std::string> CommandLineText(const toml::node& node) {
    if (const auto* text = node.as_string()) return text->get();
    if (const auto* number = node.as_integer()) return std::to_string(number->get());
    if (const auto* flag = node.as_boolean()) return flag->get() ? "on" : "off";
    if (const auto* list = node.as_array()) {
        std::string joined;
        for (const toml::node& item : *list) {
            const auto part = item.is_array() ? std::nullopt : CommandLineText(item);
            if (!part) return std::nullopt;
            joined += (joined.empty() ? "" : ",") + *part;
        }
        return joined;
    }
    return std::nullopt;
}

std::string Where(const std::string& fileName, const toml::source_region& region) {
    return fileName + ", строка " + std::to_string(region.begin.line) + ": ";
}

} // namespace

std::optional<CollectSession> ParseSessionText(const std::string& text, const std::string& fileName,
                                               std::string& error) {
    toml::table table;
    try {
        table = toml::parse(text, fileName);
    } catch (const toml::parse_error& e) {
        error = Where(fileName, e.source()) + "ошибка записи TOML (" + std::string(e.description()) +
                "). Исправьте строку";
        return std::nullopt;
    }
    CollectSession s;
    for (const auto& [key, node] : table) {
        const std::string name(key.str());
        const auto& keys = SessionKeys();
        if (std::none_of(keys.begin(), keys.end(), [&](const SessionKey& k) { return name == k.name; })) {
            error = Where(fileName, key.source()) + "неизвестный ключ '" + name +
                    "'. Допустимы: port, speed, link, rs485-speed, wait, address, scan, archives, output, "
                    "csv, db, mqtt, mqtt-user, mqtt-password, topic";
            return std::nullopt;
        }
        const auto value = CommandLineText(node);
        const Misfit misfit =
            value ? TakeSessionValue(name, *value, s) : Misfit("нужна строка, число, true/false или список");
        if (misfit) {
            error = Where(fileName, node.source()) + "неверное значение " + name + ": " + *misfit;
            return std::nullopt;
        }
    }
    return s;
}

std::optional<CollectSession> ReadSessionFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        error = "файл сеанса " + path + " не читается. Проверьте имя и права";
        return std::nullopt;
    }
    return ParseSessionText(text.str(), path, error);
}

namespace {

// A TOML basic string: quotes, backslashes and control characters escaped.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// [1, 5, "7-9"]: a run of three or more following addresses as a range.
std::string AddressArray(const std::vector<int>& addresses) {
    std::string out;
    for (std::size_t i = 0; i < addresses.size();) {
        std::size_t end = i + 1;
        while (end < addresses.size() && addresses[end] == addresses[end - 1] + 1)
            ++end;
        out += out.empty() ? "" : ", ";
        if (end - i >= 3) {
            out += "\"" + std::to_string(addresses[i]) + "-" + std::to_string(addresses[end - 1]) + "\"";
            i = end;
        } else {
            out += std::to_string(addresses[i]);
            ++i;
        }
    }
    return "[" + out + "]";
}

const char* ArchivesWord(SessionArchives archives) {
    switch (archives) {
    case SessionArchives::Day:
        return "day";
    case SessionArchives::Hour:
        return "hour";
    case SessionArchives::Both:
        break;
    }
    return "both";
}

} // namespace

std::string SessionText(const CollectSession& s) {
    std::string out = "# Сеанс сбора архивов: configurator-cli collect ФАЙЛ\n";
    const auto line = [&out](const char* key, const std::string& value) {
        out += std::string(key) + " = " + value + "\n";
    };
    if (s.Port) line("port", Quoted(*s.Port));
    if (s.Speed) line("speed", std::to_string(*s.Speed));
    if (s.LinkMode == 1 || s.LinkMode == 2) line("link", Quoted(*s.LinkMode == 1 ? "i2c" : "zep-lan"));
    if (s.Rs485SpeedItem && *s.Rs485SpeedItem >= 0 && *s.Rs485SpeedItem < SpeedCount)
        line("rs485-speed", Quoted(SpeedCaptions[*s.Rs485SpeedItem]));
    if (s.WaitMs) line("wait", std::to_string(*s.WaitMs));
    if (!s.Addresses.empty()) line("address", AddressArray(s.Addresses));
    line("scan", s.Scan ? "true" : "false");
    line("archives", Quoted(ArchivesWord(s.Archives)));
    if (!s.Output.empty()) line("output", Quoted(s.Output));
    if (s.Csv) line("csv", "true");
    if (!s.Database.empty()) line("db", Quoted(s.Database));
    if (!s.MqttHost.empty())
        line("mqtt", Quoted(s.MqttPort == 1883 ? s.MqttHost : s.MqttHost + ":" + std::to_string(s.MqttPort)));
    if (!s.MqttUser.empty()) line("mqtt-user", Quoted(s.MqttUser));
    if (!s.MqttPassword.empty()) line("mqtt-password", Quoted(s.MqttPassword));
    if (s.Topic != CollectSession().Topic) line("topic", Quoted(s.Topic));
    return out;
}

bool WriteSessionFile(const std::string& path, const CollectSession& s, std::string& error) {
    const std::string partial = path + ".partial";
    const std::string text = SessionText(s);
    // The new file keeps the old one's permissions: a file closed to others
    // because it holds a broker's password stays closed. A new file with a
    // password is made readable by its owner alone.
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    const mode_t mode = existed ? (old.st_mode & 07777) : s.MqttPassword.empty() ? 0666 : 0600;
    int code = 0;
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool ok = fd >= 0 && (!existed || ::fchmod(fd, mode) == 0);
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    if (!ok) code = errno;
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    ok = ok && ReplaceFile(partial, path, code);
    if (ok) return true;
    if (fd >= 0) RemoveFile(partial);
    error = "Сеанс не сохранён в " + path + ": " + std::strerror(code) + ". Выберите другую папку.";
    return false;
}
