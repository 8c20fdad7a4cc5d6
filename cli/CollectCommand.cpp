// collect: one pass of a collection session. The session comes from its
// TOML file and the options; the line is locked against other collections,
// optionally scanned, then every meter's archives are read as the batch reads
// them. As each meter's last read ends, its rows go into the database (one
// transaction) and its new rows to the broker; one line per meter on stdout.
#include "archive/ArchiveCsv.h"
#include "base/ComNumber.h"
#include "base/LineLog.h"
#include "base/Paths.h"
#include "base/TextFile.h"
#include "cli/Commands.h"
#include "collect/ArchiveDb.h"
#include "collect/CollectSession.h"
#include "collect/LineLock.h"
#include "collect/MqttPublisher.h"
#include "serial/Rs232.h"

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>

namespace {

namespace fs = std::filesystem;

// The broker's password when neither the session nor an option gives one.
constexpr const char* MqttPasswordVariable = "CONFIGURATOR_MQTT_PASSWORD";

fs::path PathOf(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

// `name` as an absolute path, a relative one taken from `base`.
std::string Under(const fs::path& base, const std::string& name) {
    const fs::path path = PathOf(name);
    return Utf8Of(path.is_absolute() ? path : base / path);
}

// A file that users other than its owner may read (group or others).
bool ReadableByOthers(const std::string& name) {
    std::error_code ec;
    const fs::perms p = fs::status(PathOf(name), ec).permissions();
    return !ec && (p & (fs::perms::group_read | fs::perms::others_read)) != fs::perms::none;
}

// The session file's keys, its relative names from the file's folder, then
// the options' keys, their relative names from the current folder.
std::optional<CollectSession> LoadSession(CliRun& run, int& status) {
    CollectSession s;
    if (!run.args.Input.empty()) {
        std::string error;
        auto read = ReadSessionFile(run.args.Input, error);
        if (!read) {
            status = run.Fail(ExitStatus::Usage, error);
            return std::nullopt;
        }
        s = *read;
        if (!s.MqttPassword.empty() && ReadableByOthers(run.args.Input))
            std::fprintf(run.err,
                         "configurator-cli: файл сеанса %s с паролем брокера могут читать другие "
                         "пользователи; закройте его: chmod 600 %s\n",
                         run.args.Input.c_str(), run.args.Input.c_str());
        const fs::path folder = fs::absolute(PathOf(run.args.Input)).parent_path();
        if (!s.Output.empty()) s.Output = Under(folder, s.Output);
    }
    const std::string fileOutput = s.Output;
    for (const auto& [key, value] : run.args.SessionOptions)
        TakeSessionValue(key, value, s); // checked while parsing
    if (s.Output != fileOutput) s.Output = AbsoluteUtf8(s.Output);
    // A password kept out of the session file and the process list.
    if (s.MqttPassword.empty())
        if (const char* password = std::getenv(MqttPasswordVariable)) s.MqttPassword = password;
    if (s.Output.empty()) s.Output = ArchiveDir();
    if (!s.Database.empty() || !s.MqttHost.empty())
        s.Database = Under(PathOf(s.Output), s.Database.empty() ? "archive.db" : s.Database);
    return s;
}

// The session's line into the run's arguments and settings.
void ApplyLine(CliRun& run, const CollectSession& s) {
    CliArguments& a = run.args;
    if (s.Port) {
        std::string number = *s.Port;
        if (number.size() > 3 && (number.compare(0, 3, "COM") == 0 || number.compare(0, 3, "com") == 0))
            number = number.substr(3);
        const bool digits = !number.empty() && number.size() <= 2 &&
                            number.find_first_not_of("0123456789") == std::string::npos;
        if (digits && ValidComNumber(std::stoi(number)))
            a.PortNumber = std::stoi(number);
        else
            a.DevicePath = *s.Port;
    }
    if (s.Speed) a.Speed = s.Speed;
    if (s.LinkMode) run.options.LinkMode = *s.LinkMode;
    if (s.Rs485SpeedItem) a.Rs485SpeedItem = s.Rs485SpeedItem;
    if (s.WaitMs) a.WaitMs = s.WaitMs;
}

std::string DeviceOf(const CliRun& run) {
    if (run.args.DevicePath) return *run.args.DevicePath;
    return Rs232Port::DevicePathFor(run.args.PortNumber.value_or(run.options.PortNumber));
}

std::string NowIso() {
    const std::tm t = LocalTimeOf(std::time(nullptr));
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

const char* ArchiveWord(MeterArchive archive) {
    return archive == MeterArchive::Hour ? "hour" : "day";
}

// What becomes of each meter once its reads have ended.
class Collector {
public:
    Collector(CliRun& run, const CollectSession& s) : run_(run), s_(s) {}

    // False when the database cannot be opened (reported).
    bool Open() {
        if (s_.Database.empty()) return true;
        db_ = std::make_unique<ArchiveDb>();
        std::string error;
        if (db_->Open(s_.Database, error)) return true;
        run_.Fail(ExitStatus::NotStored, error + ". Проверьте папку и права");
        dbFailed_ = true;
        return false;
    }

    void ReadEnded(const std::vector<BatchRow>& rows, std::size_t index) {
        const int address = rows[index].Job.Address;
        if (index + 1 < rows.size() && rows[index + 1].Job.Address == address) return;
        std::size_t first = index;
        while (first > 0 && rows[first - 1].Job.Address == address)
            --first;
        MeterEnded(address, std::vector<BatchRow>(rows.begin() + static_cast<std::ptrdiff_t>(first),
                                                  rows.begin() + static_cast<std::ptrdiff_t>(index) + 1));
    }

    // A line for each meter the batch never came to (it ended on a lost port).
    void ReportUnread(const std::vector<BatchRow>& rows) {
        for (const BatchRow& row : rows)
            if (reported_.insert(row.Job.Address).second)
                std::fprintf(run_.out, "адрес %d: не прочитан: %s\n", row.Job.Address,
                             row.Attempts == 0 ? "чтение не начато" : BatchRowText(row).c_str());
    }

    int Status(const std::vector<BatchRow>& rows) const {
        if (dbFailed_) return static_cast<int>(ExitStatus::NotStored);
        for (const BatchRow& row : rows)
            if (!row.Complete) return static_cast<int>(ExitStatus::SomeNotRead);
        if (unsent_) return static_cast<int>(ExitStatus::NotPublished);
        return 0;
    }

private:
    void MeterEnded(int address, const std::vector<BatchRow>& reads) {
        reported_.insert(address);
        std::string line = "адрес " + std::to_string(address) + ":";
        std::vector<MeterTable> tables;
        bool complete = true;
        std::string outcome;
        for (const BatchRow& row : reads) {
            line += std::string(" ") + ArchiveWord(row.Job.Archive) + " " + BatchRowText(row) + ", строк " +
                    std::to_string(row.Rows) + ";";
            complete = complete && row.Complete;
            if (!row.Complete && outcome.empty()) outcome = BatchRowText(row);
            if (row.LeftFile.empty()) continue;
            if (auto table = ReadArchiveFile(row.LeftFile)) {
                if (row.Complete && s_.Csv) WriteCsv(row.LeftFile, *table);
                tables.push_back({row.Job.Archive, std::move(*table)});
            }
        }
        if (db_ && !dbFailed_) line += Store(address, tables, complete ? "прочитан" : outcome);
        std::fprintf(run_.out, "%s\n", line.c_str());
        std::fflush(run_.out);
    }

    void WriteCsv(const std::string& archiveFile, const ArchiveTable& table) {
        fs::path csv = PathOf(archiveFile);
        csv.replace_extension(".csv");
        const std::string target = Utf8Of(csv), partial = target + ".partial";
        int error = 0;
        if (!WriteArchiveCsv(partial, ArchiveCsv(table, run_.decimalSeparator)) ||
            !ReplaceFile(partial, target, error))
            run_.Progress("файл " + target + " не записывается. Проверьте место на диске и права");
    }

    std::string Store(int address, const std::vector<MeterTable>& tables, const std::string& outcome) {
        StoreReport report;
        std::string error;
        if (!db_->StoreMeter(address, tables, {NowIso(), outcome}, report, error)) {
            dbFailed_ = true;
            run_.Progress("база " + s_.Database + " не записывается: " + error + ". Проверьте место и права");
            return " база не записана";
        }
        for (const std::string& column : report.NewColumns)
            run_.Progress("в базу добавлен столбец " + column + " (шаблон архива дополнен)");
        std::string text = " новых строк в базе " + std::to_string(report.Added);
        if (!s_.MqttHost.empty()) text += Publish(address);
        return text;
    }

    // The meter's rows not yet acknowledged, then its status (retained).
    std::string Publish(int address) {
        if (!ConnectOnce()) return ", не отправлено";
        std::string error;
        std::vector<PendingRow> rows = db_->Unpublished(address, error);
        std::vector<int> ids;
        ids.reserve(rows.size());
        for (const PendingRow& row : rows)
            ids.push_back(mqtt_->Publish(RowTopic(s_.Topic, row), RowJson(row), false));
        if (const auto meter = db_->Meter(address, error))
            mqtt_->Publish(StatusTopic(s_.Topic, address), StatusJson(*meter), true);
        const std::set<int> acked = mqtt_->Flush();
        std::vector<PendingRow> sent;
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (ids[i] >= 0 && acked.count(ids[i])) sent.push_back(std::move(rows[i]));
        if (!db_->MarkPublished(sent, error)) {
            dbFailed_ = true;
            run_.Progress("база " + s_.Database + " не записывается: " + error);
        }
        if (sent.size() < ids.size()) unsent_ = true;
        return ", отправлено " + std::to_string(sent.size()) + " из " + std::to_string(ids.size());
    }

    bool ConnectOnce() {
        if (mqtt_) return mqtt_->Connected();
        mqtt_ = std::make_unique<MqttPublisher>();
        std::string error;
        if (mqtt_->Connect({s_.MqttHost, s_.MqttPort, s_.MqttUser, s_.MqttPassword}, error)) return true;
        unsent_ = true;
        run_.Progress(error + ". Строки сохранены в базе и уйдут при следующем проходе");
        return false;
    }

    CliRun& run_;
    const CollectSession& s_;
    std::unique_ptr<ArchiveDb> db_;
    std::unique_ptr<MqttPublisher> mqtt_;
    bool dbFailed_ = false, unsent_ = false;
    std::set<int> reported_;
};

std::string CommandText(const CliRun& run) {
    return std::string(CliProgramName) + " collect" + (run.args.Input.empty() ? "" : " " + run.args.Input);
}

// The addresses to read: the session's, or those of its range that answered a scan.
std::optional<std::vector<int>> MetersToRead(CliRun& run, const CollectSession& s, Rs232Port* line,
                                             CliLink& link, int& status) {
    std::vector<int> addresses = s.Addresses;
    if (!s.Scan) return addresses;
    if (addresses.empty())
        for (int n = FirstMeterAddress; n <= LastMeterAddress; ++n)
            addresses.push_back(n);
    const auto scan = ScanOnLine(run, line, link, addresses, status);
    if (!scan) return std::nullopt;
    status = ScanFailure(run, *scan);
    if (status != 0) return std::nullopt;
    std::vector<int> found;
    for (const ScanResult& r : scan->Results)
        if (r.HasIdentity) found.push_back(r.Address);
    return found;
}

} // namespace

int RunCollect(CliRun& run) {
    int status = 0;
    const auto session = LoadSession(run, status);
    if (!session) return status;
    const CollectSession& s = *session;
    ApplyLine(run, s);
    if (s.Addresses.empty() && !s.Scan)
        return run.Fail(ExitStatus::Usage, "укажите счётчики: address в файле сеанса, --address или --scan");

    std::error_code made;
    fs::create_directories(PathOf(s.Output), made);
    if (made)
        return run.Fail(ExitStatus::FileNotWritten, "папка " + s.Output + " не создаётся: " + made.message());

    const std::string device = DeviceOf(run);
    LineLock lock;
    std::string holder;
    if (!lock.Acquire(LockFileFor(device), CommandText(run), run.args.LockWaitSeconds * 1000, holder))
        return run.Fail(ExitStatus::LineBusy, "линия " + device + " занята: её держит " + holder +
                                                  ". Повторите позже или увеличьте --lock-wait");

    Collector collector(run, s);
    if (!collector.Open()) return static_cast<int>(ExitStatus::NotStored);
    auto port = OpenLine(run, status);
    if (!port) return status;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    const auto addresses = MetersToRead(run, s, line, link, status);
    if (!addresses) return status;
    if (addresses->empty()) return run.Fail(ExitStatus::MeterSilent, "ни один прибор не ответил при поиске");

    const BatchArchives archives = s.Archives == SessionArchives::Day    ? BatchArchives::Day
                                   : s.Archives == SessionArchives::Hour ? BatchArchives::Hour
                                                                         : BatchArchives::Both;
    std::string folder = s.Output;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    const std::vector<BatchRow> rows = BatchOnLine(
        run, line, link, BatchJobs(*addresses, archives, folder),
        [&](const std::vector<BatchRow>& all, std::size_t index) { collector.ReadEnded(all, index); });
    collector.ReportUnread(rows);
    return collector.Status(rows);
}
