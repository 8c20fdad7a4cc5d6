// day and hour: an archive session reads the meter's archive into its file,
// and a loop waiting for input on the port feeds it the bytes as they arrive and checks
// its time-out while the line is quiet, until the session has an outcome.
#include "archive/ArchiveSession.h"
#include "base/Timing.h"
#include "cli/Commands.h"
#include "serial/LineDriver.h"
#include "serial/Rs232.h"

#include <filesystem>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

// The session's reports as progress lines on stderr.
class ProgressReport : public ArchiveSessionObserver {
public:
    explicit ProgressReport(CliRun& run) : run_(run), tty_(IsTerminal(run.err)) {}

    void Identified(const DeviceIdentity& d) override {
        Line("Счётчик опознан: тип " + std::to_string(d.TypeNum) + ", версия " + std::to_string(d.Version) +
             ", конфигурация " + std::to_string(d.Config1) + " " + std::to_string(d.Config2));
    }
    void RowRead(std::int32_t rows) override {
        // One line per row, or one line rewritten on a terminal.
        std::fprintf(run_.err, tty_ ? "\rПрочитано строк: %d" : "Прочитано строк: %d\n", rows);
        rowLineOpen_ = tty_;
    }

    // Ends a row counter left open on a terminal.
    void CloseRowLine() {
        if (rowLineOpen_) std::fputc('\n', run_.err);
        rowLineOpen_ = false;
    }
    // A progress line of its own.
    void Line(const std::string& text) {
        CloseRowLine();
        run_.Progress(text);
    }

private:
    CliRun& run_;
    bool tty_;
    bool rowLineOpen_ = false;
};

// The exit status and line of a read that did not finish.
int Failure(CliRun& run, const ArchiveOutcome& outcome, MeterArchive archive, int address) {
    const ArchiveMessage m = OutcomeMessage(outcome, archive);
    const std::string shown = m.caption + ": " + m.text;
    if (outcome.kind == ArchiveOutcome::Kind::FileError) return run.Fail(ExitStatus::FileNotWritten, shown);
    switch (outcome.reason) {
    case ArchiveStopReason::MeterSilent:
    case ArchiveStopReason::Refused:
    case ArchiveStopReason::Garbled:
        return run.Fail(ExitStatus::MeterSilent, "счётчик " + std::to_string(address) + ": " + shown);
    case ArchiveStopReason::PortGone:
        return run.Fail(ExitStatus::PortNotOpened, "счётчик " + std::to_string(address) + ": " + shown);
    default:
        return run.Fail(ExitStatus::Failed, shown);
    }
}

// The exit status and line of a read that has its outcome.
int Ended(CliRun& run, ProgressReport& report, const ArchiveOutcome& outcome, MeterArchive archive,
          int address) {
    if (outcome.kind == ArchiveOutcome::Kind::Finished) {
        report.Line("Архив записан в файл " + outcome.file);
        return 0;
    }
    report.CloseRowLine();
    return Failure(run, outcome, archive, address);
}

// The repeats of garbled answers, when there were any.
void ReportRepeats(ProgressReport& report, const ArchiveProgress& progress) {
    if (progress.AskedAgain > 0)
        report.Line("Искажённых ответов запрошено повторно: " + std::to_string(progress.AskedAgain) +
                    ". Линия на пределе: проверьте согласование, экран и скорость.");
}

} // namespace

std::string AbsoluteUtf8(const std::string& name) {
    const std::u8string absolute =
        std::filesystem::absolute(std::filesystem::path(std::u8string(name.begin(), name.end()))).u8string();
    return std::string(absolute.begin(), absolute.end());
}

int RunArchive(CliRun& run) {
    const CliArguments& a = run.args;
    const MeterArchive archive =
        a.Command == CliCommand::HourArchive ? MeterArchive::Hour : MeterArchive::Day;
    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;

    ProgressReport report(run);
    bool gatewayFailed = false;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    LineDriver driver([line] { return line; },
                      [&](const std::uint8_t* block, std::int32_t count) {
                          // The exchange the window's SendPacket runs, with its outcome kept.
                          if (!link.SendPacketExchange(block, count)) gatewayFailed = true;
                          return !gatewayFailed;
                      });
    ConnectLine(run, driver, link);
    ArchiveSession session(
        report,
        [&](const RequestBlock& block) {
            driver.Request(block.data(), static_cast<std::int32_t>(block.size()), {.Function = block[2]});
        },
        run.decimalSeparator);
    SessionConversation conversation(session);
    driver.Attach(&conversation);
    const std::string file = a.Output.empty() ? DefaultArchiveFile(archive) : AbsoluteUtf8(a.Output);
    session.Start({static_cast<std::uint8_t>(a.MeterAddress), archive, file});

    RunLine(driver, {.Running = [&] { return !gatewayFailed && session.Active(); },
                     .Tick = [&](bool gone) { session.CheckAnswerTime(gone); },
                     .MsUntilDue = {}});
    driver.AwaitNothing();
    if (!session.HasOutcome() && session.Active()) {
        session.Abandon();
        report.CloseRowLine();
        const std::string message = run.FirstMessage();
        return run.Fail(ExitStatus::GatewaySilent,
                        "шлюз не принял запрос" + (message.empty() ? "" : ": " + message));
    }
    ReportRepeats(report, session.Progress());
    if (!session.HasOutcome()) return run.Fail(ExitStatus::Failed, "чтение архива остановилось");
    return Ended(run, report, session.Outcome(), archive, a.MeterAddress);
}
