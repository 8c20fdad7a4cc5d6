// Reading the command line: a command word and --options, each option with
// its value as the next word or after "=".
#include "cli/CommandLine.h"

#include "base/ComNumber.h"
#include "base/Paths.h"
#include "base/Phone.h"
#include "base/PortAddress.h"
#include "base/StrToInt.h"
#ifdef CLI_COLLECT
#include "collect/CollectSession.h"
#endif
#include "gateway/GatewaySettings.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"

#include <algorithm>
#include <cstdlib>
#include <set>

namespace {

const char* const UsageHead = R"(Использование:
  configurator-cli [ЛИНИЯ] day|hour [--address N] [--output ФАЙЛ]
  configurator-cli [ЛИНИЯ] day|hour --address СПИСОК [--output ШАБЛОН]
  configurator-cli [ЛИНИЯ] scan [--address СПИСОК] [--wait МС]
                   [--rs485-speed N] [--long-wait МС] [--recheck-silent]
                   [--output ФАЙЛ.csv]
  configurator-cli [ЛИНИЯ] read-settings
  configurator-cli [ЛИНИЯ] write-settings [--address N] [--rs485-speed N]
                   [--packet on|off] [--modem on|off] [--init-line ТЕКСТ]
  configurator-cli csv ФАЙЛ [-o ФАЙЛ.csv]
  configurator-cli collect [СЕАНС.toml] [ЛИНИЯ] [--address СПИСОК] [--scan]
                   [--archives day|hour|both] [--output ПАПКА] [--csv on|off]
                   [--db ФАЙЛ] [--mqtt УЗЕЛ[:ПОРТ]] [--mqtt-user ИМЯ]
                   [--mqtt-password ПАРОЛЬ] [--topic ПРЕФИКС] [--wait МС]
                   [--rs485-speed N] [--lock-wait С]
  configurator-cli --help | --version
Команды для сценариев: архивы счётчика за шлюзом RS-232 <-> RS-485 и
настройки шлюза, как в окнах configurator, без экрана.

Команды:
  day, hour        опознать счётчик и считать его суточный (day) или часовой
                   (hour) архив в файл, как кнопки «Считать суточный архив»
                   и «Считать часовой архив»; ход чтения - в stderr
  scan             найти приборы на линии RS-485: каждому адресу списка
                   (по умолчанию 1-247) - запрос опознания, ответ ждать
                   --wait мс (по умолчанию - по скорости RS-485: --rs485-speed
                   или считанной из шлюза). Таблица - CSV (UTF-8, строка
                   заголовка) в stdout или в --output; ход - в stderr
  read-settings    считать настройки шлюза и напечатать их строками
                   ключ=значение (address, rs485-speed, packet, modem,
                   init-line)
  write-settings   записать в шлюз заданные настройки; незаданные остаются,
                   как в шлюзе (их сначала считывают). Проверки - как в окне
                   «Настройка шлюза»: при ошибке ничего не отправляется
  csv ФАЙЛ         записать архив (day.txt, hour.txt) как CSV для таблиц:
                   UTF-8, столбец DATETIME (ISO 8601) и столбцы архива;
                   десятичная запятая и поля через «;» или точка и поля
                   через «,» - по языковым настройкам. По умолчанию -
                   ФАЙЛ с расширением .csv рядом; -o - в stdout
  collect          один проход сбора (для таймера): по желанию поиск,
                   затем архивы каждого счётчика в папку --output (файлы
                   day-003.txt, hour-003.txt заменяются), новые строки - в
                   базу SQLite и брокеру MQTT; по строке на счётчик в
                   stdout. Параметры - из файла сеанса TOML (ключи - имена
                   параметров без «--»), параметры командной строки важнее

Линия (по умолчанию - из OPTIONS.INI, как у окна):
  --port COMn|n|ПУТЬ|АДРЕС
                       порт: номер COM (ports/COMn в папке настроек, иначе
                       /dev/ttyS<n-1>), путь к устройству или сетевой порт
                       сервера: tcp://УЗЕЛ:ПОРТ (байты как есть) или
                       rfc2217://УЗЕЛ:ПОРТ (с настройкой линии)
  --speed N            скорость порта, бит/с
  --link i2c|zep-lan   режим связи со шлюзом (для настроек шлюза)
  --trace              в stderr - каждый байт линии, кадр, проверка CRC,
                       повтор и тайм-аут со временем (для разбора сбоев)
  --dial НОМЕР         до команды набрать НОМЕР через модем на порту
                       (строка инициализации, тип набора и время ожидания
                       соединения - из OPTIONS.INI), после неё положить
                       трубку, даже если команда не удалась

Архив:
  --address N          адрес счётчика (0..255, можно $hex или 0xhex).
                       По умолчанию 1
  --address СПИСОК     несколько счётчиков, например 1,5,7-9: архивы по
                       очереди, каждый в свой файл; по строке на счётчик
                       в stderr. Сбой - ещё одна попытка, затем следующий
  -o, --output ФАЙЛ    куда записать архив. По умолчанию day.txt или
                       hour.txt в папке архивов (ниже)
  -o, --output ШАБЛОН  для списка: имя файла с {address} (адрес из трёх
                       цифр), например day-{address}.txt. По умолчанию -
                       новая папка «архивы ДАТА ВРЕМЯ» в папке архивов,
                       файлы day-003.txt, hour-003.txt

Поиск (scan):
  --address СПИСОК     адреса, например 1-247 (по умолчанию) или 0-255
  --wait МС            ожидание ответа каждого адреса, мс
  --long-wait МС       долгое ожидание для медленных приборов (по умолчанию
                       1000): им переспрашивается адрес, чей поздний ответ
                       пришёл не вовремя
  --recheck-silent     переспросить с долгим ожиданием все молчавшие адреса
  --rs485-speed N      скорость линии RS-485 для расчёта ожидания
  -o, --output ФАЙЛ    CSV в файл. По умолчанию - в stdout

Сбор (collect):
  --address СПИСОК     счётчики, например 1,5,7-9 (со --scan - что искать)
  --scan               сначала найти приборы, читать ответивших
  --archives day|hour|both   какие архивы читать (по умолчанию both)
  --output ПАПКА       папка файлов архивов и базы (по умолчанию - папка
                       архивов); в файле сеанса - от папки файла
  --csv on|off         рядом с каждым архивом - CSV (по умолчанию off)
  --db ФАЙЛ            база SQLite (имя без пути - в папке --output); с
                       --mqtt без --db - archive.db
  --mqtt УЗЕЛ[:ПОРТ]   брокер MQTT (порт по умолчанию 1883); сообщения с QoS 1:
                       ПРЕФИКС/адрес/day, .../hour и .../status (retained)
  --mqtt-user ИМЯ      пользователь брокера
  --mqtt-password ПАРОЛЬ
                       пароль брокера (виден в списке процессов: лучше
                       файл сеанса с правами 600 или переменная
                       CONFIGURATOR_MQTT_PASSWORD)
  --topic ПРЕФИКС      начало тем (по умолчанию configurator)
  --lock-wait С        сколько ждать, пока линию держит другой сбор
                       (по умолчанию 60 с)

Настройки шлюза (write-settings):
  --address N          адрес шлюза на линии RS-485: 0 - мастер, 1..255
  --rs485-speed N      57600, 38400, 19200, 9600 или 4800
  --packet on|off      пакетный протокол
  --modem on|off       поддержка модема
  --init-line ТЕКСТ    строка инициализации модема, до 31 символа

  --help               показать эту справку
  --version            показать версию

Коды выхода:
  0  получилось
  1  другая ошибка (сообщение говорит, какая)
  2  неверная командная строка (или не выбран режим связи)
  3  порт не открывается или отключился
  4  шлюз не отвечает или отказал в обмене
  5  счётчик не ответил за 3 с, ответил исключением или его ответы искажены
  6  файл архива не создаётся или не записывается
  7  настройки не прошли проверку (ОШИБКА ДАННЫХ); в шлюз ничего не отправлено
  8  список счётчиков: архивы некоторых не прочитаны (какие - в stderr)
  9  collect: линию держит другой сбор (кто - в сообщении)
  10 collect: база не записывается
  11 collect: брокер принял не все сообщения; они уйдут в следующий проход
  12 --dial: модем не соединился (причина - в сообщении); команда не выполнялась
При ошибке в stderr - одна строка с её описанием.

Файлы (те же, что у configurator): OPTIONS.INI (порт, скорость, режим связи,
адреса шлюза), ports/COMn, day.txt, hour.txt.
)";

// An option takes a value unless it is a switch; `commands` empty: it
// belongs to every command.
struct OptionRule {
    const char* name;
    std::set<CliCommand> commands;
    bool isSwitch = false;
};

const std::vector<OptionRule>& Options() {
    using C = CliCommand;
    static const std::vector<OptionRule> options = {
        {"--port", {}},
        {"--speed", {}},
        {"--link", {}},
        {"--address", {C::DayArchive, C::HourArchive, C::WriteSettings, C::Scan, C::Collect}},
        {"--output", {C::DayArchive, C::HourArchive, C::Csv, C::Scan, C::Collect}},
        {"--rs485-speed", {C::WriteSettings, C::Scan, C::Collect}},
        {"--wait", {C::Scan, C::Collect}},
        {"--scan", {C::Collect}, true},
        {"--archives", {C::Collect}},
        {"--csv", {C::Collect}},
        {"--db", {C::Collect}},
        {"--mqtt", {C::Collect}},
        {"--mqtt-user", {C::Collect}},
        {"--mqtt-password", {C::Collect}},
        {"--topic", {C::Collect}},
        {"--lock-wait", {C::Collect}},
        {"--long-wait", {C::Scan}},
        {"--recheck-silent", {C::Scan}, true},
        {"--trace", {}, true},
        {"--dial", {C::DayArchive, C::HourArchive, C::ReadSettings, C::WriteSettings, C::Scan, C::Collect}},
        {"--packet", {C::WriteSettings}},
        {"--modem", {C::WriteSettings}},
        {"--init-line", {C::WriteSettings}},
    };
    return options;
}

std::optional<CliCommand> CommandOf(const std::string& word) {
    if (word == "day") return CliCommand::DayArchive;
    if (word == "hour") return CliCommand::HourArchive;
    if (word == "read-settings") return CliCommand::ReadSettings;
    if (word == "write-settings") return CliCommand::WriteSettings;
    if (word == "csv") return CliCommand::Csv;
    if (word == "scan") return CliCommand::Scan;
    if (word == "collect") return CliCommand::Collect;
    return std::nullopt;
}

bool WholeNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoi(text.c_str());
    return value >= low && value <= high;
}

std::optional<bool> Switch(const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    return std::nullopt;
}

// Each of these takes one option's value into `a`; when the value does not
// fit, what it should be instead.
using Misfit = std::optional<std::string>;

Misfit TakePort(const std::string& value, CliArguments& a) {
    std::string number = value;
    if (number.size() > 3 && (number.compare(0, 3, "COM") == 0 || number.compare(0, 3, "com") == 0))
        number = number.substr(3);
    int n = 0;
    std::string why;
    if (IsNetworkAddress(value) && !ParsePortAddress(value, &why)) return why;
    if (WholeNumber(number, FirstComNumber, LastComNumber, n)) {
        a.PortNumber = n;
        a.DevicePath.reset();
    } else if (value.find('/') != std::string::npos) {
        a.DevicePath = value;
        a.PortNumber.reset();
    } else {
        const std::string first = std::to_string(FirstComNumber), last = std::to_string(LastComNumber);
        return "нужен COM" + first + "..COM" + last + ", номер " + first + ".." + last +
               " или путь к устройству";
    }
    return std::nullopt;
}

Misfit TakeSpeed(const std::string& value, CliArguments& a) {
    int n = 0;
    if (!WholeNumber(value, 1, 99999999, n)) return "нужна скорость в бит/с";
    a.Speed = n;
    return std::nullopt;
}

Misfit TakeLink(const std::string& value, CliArguments& a) {
    if (value == "i2c")
        a.LinkMode = 1;
    else if (value == "zep-lan")
        a.LinkMode = 2;
    else
        return "нужно i2c или zep-lan";
    return std::nullopt;
}

// The gateway's address for write-settings; otherwise one meter's address,
// or a list of them (always a list for scan).
Misfit TakeAddress(const std::string& value, CliArguments& a) {
    if (a.Command == CliCommand::WriteSettings) {
        a.GatewayAddress = value; // the window's check decides
        return std::nullopt;
    }
    int n = 0;
    if (TryStrToInt(value, n) && a.Command != CliCommand::Scan) {
        if (n < 0 || n > 255) return "нужен адрес 0..255";
        a.MeterAddress = n;
        a.Addresses = {n};
        return std::nullopt;
    }
    std::string why;
    a.Addresses = ParseAddressList(value, why);
    if (a.Addresses.empty()) return "нужен адрес 0..255 или список, например 1,5,7-9";
    a.MeterAddress = a.Addresses.front();
    return std::nullopt;
}

Misfit TakeWait(const std::string& value, CliArguments& a) {
    int n = 0;
    if (!WholeNumber(value, 1, 600000, n)) return "нужно время в мс, 1..600000";
    a.WaitMs = n;
    return std::nullopt;
}

Misfit TakeLongWait(const std::string& value, CliArguments& a) {
    int n = 0;
    if (!WholeNumber(value, 1, 600000, n)) return "нужно время в мс, 1..600000";
    a.LongWaitMs = n;
    return std::nullopt;
}

Misfit TakeDial(const std::string& value, CliArguments& a) {
    if (DialString(value).empty()) return "нужен номер телефона";
    if (const auto refusal = PhoneNumberRefusal(value)) return *refusal;
    a.DialNumber = value;
    return std::nullopt;
}

Misfit TakeOutput(const std::string& value, CliArguments& a) {
    if (value.empty()) return "нужно имя файла";
    a.Output = value;
    return std::nullopt;
}

Misfit TakeRs485Speed(const std::string& value, CliArguments& a) {
    for (int i = 0; i < SpeedCount; ++i)
        if (value == SpeedCaptions[i]) a.Rs485SpeedItem = i;
    if (!a.Rs485SpeedItem) return "нужно 57600, 38400, 19200, 9600 или 4800";
    return std::nullopt;
}

Misfit TakeSwitch(const std::string& value, std::optional<bool>& target) {
    const auto on = Switch(value);
    if (!on) return "нужно on или off";
    target = on;
    return std::nullopt;
}

Misfit TakeValue(const std::string& name, const std::string& value, CliArguments& a) {
    if (name == "--port") return TakePort(value, a);
    if (name == "--speed") return TakeSpeed(value, a);
    if (name == "--link") return TakeLink(value, a);
    if (name == "--address") return TakeAddress(value, a);
    if (name == "--wait") return TakeWait(value, a);
    if (name == "--long-wait") return TakeLongWait(value, a);
    if (name == "--recheck-silent") a.RecheckSilent = true;
    if (name == "--trace") a.Trace = true;
    if (name == "--dial") return TakeDial(value, a);
    if (name == "--output") return TakeOutput(value, a);
    if (name == "--rs485-speed") return TakeRs485Speed(value, a);
    if (name == "--packet") return TakeSwitch(value, a.Packet);
    if (name == "--modem") return TakeSwitch(value, a.Modem);
    if (name == "--init-line") a.InitLine = value;
    return std::nullopt;
}

// Takes one option's value into `a`; false with `error` set when it does not fit.
bool TakeOption(const std::string& name, const std::string& value, CliArguments& a, std::string& error) {
    const Misfit misfit = TakeValue(name, value, a);
    if (misfit) error = "неверное значение " + name + " '" + value + "': " + *misfit;
    return !misfit;
}

// --help (an empty command) or --version, wherever they stand.
std::optional<CliArguments> HelpOrVersion(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") return CliArguments{};
        if (arg == "--version") {
            CliArguments a;
            a.Command = CliCommand::Version;
            return a;
        }
    }
    return std::nullopt;
}

// The words of a command line: the command, csv's input file, and the
// options with their values, in their order.
struct Words {
    std::optional<CliCommand> command;
    std::string input;
    std::vector<std::pair<std::string, std::string>> options;
};

// A word that is not an option: the command, or csv's input file after it.
bool TakeWord(const std::string& arg, Words& w, std::string& error) {
    if ((w.command == CliCommand::Csv || w.command == CliCommand::Collect) && w.input.empty()) {
        w.input = arg; // the file to convert
        return true;
    }
    if (w.command) {
        error = "лишнее слово '" + arg + "'";
        return false;
    }
    w.command = CommandOf(arg);
    if (!w.command) error = "неизвестная команда '" + arg + "'";
    return w.command.has_value();
}

bool KnownOption(const std::string& name) {
    const auto& options = Options();
    return std::any_of(options.begin(), options.end(),
                       [&](const OptionRule& rule) { return name == rule.name; });
}

bool IsSwitch(const std::string& name) {
    const auto& options = Options();
    return std::any_of(options.begin(), options.end(),
                       [&](const OptionRule& rule) { return name == rule.name && rule.isSwitch; });
}

// The option at args[i] with its value after "=" or as the next word (then
// i moves on to it).
bool TakeOptionWord(const std::vector<std::string>& args, std::size_t& i, Words& w, std::string& error) {
    std::string arg = args[i] == "-o" ? "--output" : args[i];
    std::string value;
    const auto eq = arg.find('=');
    if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
    }
    if (!KnownOption(arg)) {
        error = "неизвестный параметр " + arg;
        return false;
    }
    if (IsSwitch(arg)) {
        if (eq != std::string::npos) {
            error = "у параметра " + arg + " не бывает значения";
            return false;
        }
    } else if (eq == std::string::npos) {
        if (i + 1 >= args.size()) {
            error = "у параметра " + arg + " нет значения";
            return false;
        }
        value = args[++i];
    }
    w.options.emplace_back(arg, value);
    return true;
}

std::optional<Words> SplitWords(const std::vector<std::string>& args, std::string& error) {
    Words w;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const bool option = args[i] == "-o" || args[i].compare(0, 2, "--") == 0;
        if (!(option ? TakeOptionWord(args, i, w, error) : TakeWord(args[i], w, error))) return std::nullopt;
    }
    return w;
}

// Whether an option may be given with the command.
bool BelongsTo(const std::string& name, CliCommand command) {
    for (const auto& rule : Options())
        if (name == rule.name && !rule.commands.empty() && !rule.commands.count(command)) return false;
    return true;
}

// collect's options: the session's keys are checked as the session file's
// values are and kept for the session; the rest as for every command.
bool TakeCollectOption(const std::string& name, const std::string& value, CliArguments& a,
                       std::string& error) {
    if (name == "--lock-wait") {
        if (!WholeNumber(value, 0, 86400, a.LockWaitSeconds)) {
            error = "неверное значение --lock-wait '" + value + "': нужно время в секундах, 0..86400";
            return false;
        }
        return true;
    }
#ifdef CLI_COLLECT
    const std::string key = name.substr(2);
    const auto& keys = SessionKeys();
    if (std::none_of(keys.begin(), keys.end(), [&](const SessionKey& k) { return key == k.name; }))
        return TakeOption(name, value, a, error);
    CollectSession scratch;
    const std::string text = IsSwitch(name) ? "on" : value;
    if (const auto misfit = TakeSessionValue(key, text, scratch)) {
        error = "неверное значение " + name + " '" + value + "': " + *misfit;
        return false;
    }
    a.SessionOptions.emplace_back(key, text);
    return true;
#else
    return TakeOption(name, value, a, error);
#endif
}

// The options' values into `a`, whose command is known.
bool TakeOptions(const Words& w, CliArguments& a, std::string& error) {
    for (const auto& [name, value] : w.options) {
        if (!BelongsTo(name, a.Command)) {
            error = "параметр " + name + " не относится к этой команде";
            return false;
        }
        if (a.Command == CliCommand::Collect) {
            if (!TakeCollectOption(name, value, a, error)) return false;
            continue;
        }
        if (!TakeOption(name, value, a, error)) return false;
    }
    return true;
}

// What the options say together: write-settings has something to write, a
// read of several meters names a file for each.
bool CheckCombination(const CliArguments& a, std::string& error) {
    if (a.Command == CliCommand::WriteSettings && !a.GatewayAddress && !a.Rs485SpeedItem && !a.Packet &&
        !a.Modem && !a.InitLine) {
        error = "write-settings: укажите, что записать (--address, --rs485-speed, --packet, --modem, "
                "--init-line)";
        return false;
    }
    if ((a.Command == CliCommand::DayArchive || a.Command == CliCommand::HourArchive) &&
        a.Addresses.size() > 1 && !a.Output.empty() && a.Output.find(AddressField) == std::string::npos) {
        error = "для нескольких счётчиков --output должен содержать {address}, например day-{address}.txt";
        return false;
    }
    return true;
}

} // namespace

std::string CliUsage() {
    return std::string(UsageHead) + FileLocationsHelp();
}

std::optional<CliArguments> ParseCommandLine(const std::vector<std::string>& args, std::string& error) {
    if (auto help = HelpOrVersion(args)) return help;
    // The command first, so that options know what they belong to.
    const std::optional<Words> words = SplitWords(args, error);
    if (!words) return std::nullopt;
    if (!words->command) {
        error = "не указана команда: day, hour, scan, collect, read-settings или write-settings (--help - "
                "справка)";
        return std::nullopt;
    }
    CliArguments a;
    a.Command = *words->command;
    a.Input = words->input;
    if (a.Command == CliCommand::Csv && a.Input.empty()) {
        error = "csv: укажите файл архива";
        return std::nullopt;
    }
    if (!TakeOptions(*words, a, error) || !CheckCombination(a, error)) return std::nullopt;
    if (a.Command == CliCommand::Scan && a.Addresses.empty())
        for (int n = FirstMeterAddress; n <= LastMeterAddress; ++n)
            a.Addresses.push_back(n);
    return a;
}
