// day and hour: an archive session reads the meter's archive into its file,
// and a loop waiting for input on the port feeds it the bytes as they arrive and checks
// its time-out while the line is quiet, until the session has an outcome.
#include "archive/ArchiveSession.h"
#include "base/Timing.h"
#include "cli/Commands.h"
#include "serial/PortDescriptor.h"
#include "serial/Rs232.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

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

// Why the line cannot be read on.
struct LineFault {
    ExitStatus status;
    std::string text;
};

// Waits up to a tick for the line and hands the session what has arrived of
// its awaited answer; then lets it check its answer time.
std::optional<LineFault> FeedSession(Rs232Port& line, ArchiveSession& session,
                                     Clock::time_point& lastActivity, std::chrono::milliseconds tick) {
    const PortInput input = WaitForInput(line, static_cast<int>(tick.count()));
    if (input == PortInput::Failed) return LineFault{ExitStatus::Failed, SystemErrorText(line.LastError)};
    if (input == PortInput::HungUp) return LineFault{ExitStatus::PortNotOpened, "порт отключён"};
    if (input == PortInput::Waiting) {
        // Only the awaited answer's bytes: the next request's exchange
        // with the gateway reads the line itself.
        std::uint8_t bytes[512];
        const int want = std::min({line.InQueue(), session.Lacking(), static_cast<int>(sizeof bytes)});
        std::uint32_t got = 0;
        if (want > 0) line.ReadBlock(bytes, want, got);
        if (got > 0) {
            lastActivity = Clock::now();
            session.Receive(bytes, got);
        }
    }
    session.CheckAnswerTime(line.HungUp());
    return std::nullopt;
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
    auto lastActivity = Clock::now();
    bool gatewayFailed = false;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    ArchiveSession session(
        report,
        [&](const RequestBlock& block) {
            // The exchange the window's SendPacket runs, with its outcome kept.
            if (!link.SendPacketExchange(block.data(), static_cast<std::int32_t>(block.size())))
                gatewayFailed = true;
            lastActivity = Clock::now();
        },
        run.decimalSeparator);
    const std::string file = a.Output.empty() ? DefaultArchiveFile(archive) : AbsoluteUtf8(a.Output);
    session.Start({static_cast<std::uint8_t>(a.MeterAddress), archive, file});

    // The session's time-out is checked at least this often; a backstop
    // beyond it, should a read ever be left waiting without one.
    const auto tick = std::chrono::milliseconds(Timing().ConsoleTickMs);
    const auto backstop = 2 * std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs) + tick;
    const std::string meter = "счётчик " + std::to_string(a.MeterAddress);
    auto fail = [&](ExitStatus failure, const std::string& text) {
        report.CloseRowLine();
        return run.Fail(failure, text);
    };
    for (;;) {
        if (gatewayFailed) {
            const std::string message = run.FirstMessage();
            return fail(ExitStatus::GatewaySilent,
                        "шлюз не принял запрос" + (message.empty() ? "" : ": " + message));
        }
        if (session.HasOutcome()) return Ended(run, report, session.Outcome(), archive, a.MeterAddress);
        if (!session.Awaiting()) return fail(ExitStatus::Failed, "чтение архива остановилось");
        if (Clock::now() - lastActivity > backstop)
            return fail(ExitStatus::MeterSilent, meter + " не отвечает");
        if (const auto fault = FeedSession(*line, session, lastActivity, tick))
            return fail(fault->status, fault->text);
    }
}
