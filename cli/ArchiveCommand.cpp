// day and hour: the console's own logic presses its archive button, and a
// poll() loop on the port runs its receive loop whenever bytes arrive and its
// timers when they are due, as the window does, until the archive ends or
// something stops it (the console's own time-out among them).
#include "base/Timing.h"
#include "cli/Commands.h"
#include "console/ConsoleLogic.h"
#include "serial/Rs232.h"

#include <QLocale>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The console window without a screen: its edits hold what the window shows
// at start, with the meter's address in Edit3; progress goes to stderr.
class HeadlessConsole : public ConsoleScreen {
public:
    HeadlessConsole(CliRun& run, int meterAddress)
        : run_(run), address_(std::to_string(meterAddress)), tty_(isatty(fileno(run.err))) {}

    // The request fields as the window starts, with the meter's address.
    std::string DeviceAddressText() override { return address_; }
    std::string FunctionText() override { return "4"; }
    std::string StartRegisterText() override { return "0"; }
    std::string RegisterCountText() override { return "4"; }
    void SetRowNumber(const std::string& text) override {
        if (text.empty()) return;
        // One line per row, or one line rewritten on a terminal.
        std::fprintf(run_.err, tty_ ? "\rПрочитано строк: %s" : "Прочитано строк: %s\n", text.c_str());
        rowLineOpen_ = tty_;
    }
    void SetRowLength(const std::string&) override {}
    void AppendToPane(ConsolePane, const std::string&) override {}
    void AddProgressLine(const std::string&) override {}
    void ClearPanes() override {}
    // No panes to fill: the logic skips the dumps.
    bool PanesActive() override { return false; }
    void EnableReceiveTimer(bool) override {}
    void EnableIdentificationPoll(bool enabled) override {
        if (enabled && !identificationPolling) pollDue = Clock::now() + PollPeriod();
        identificationPolling = enabled;
    }
    void ShowDeviceType(const std::string& text) override {
        Line("Счётчик опознан: тип " + text + ", версия " + version_ + ", конфигурация " + config1_ + " " +
             config2_);
    }
    void ShowVersion(const std::string& text) override { version_ = text; }
    void ShowConfig1(const std::string& text) override { config1_ = text; }
    void ShowConfig2(const std::string& text) override { config2_ = text; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.push_back({text, caption});
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

    static std::chrono::milliseconds PollPeriod() {
        return std::chrono::milliseconds(Timing().IdentificationPollMs);
    }

    // The identification's polling timer: enabled, and when it ticks next.
    bool identificationPolling = false;
    Clock::time_point pollDue{};
    std::vector<MessageCollector::Message> messages;

private:
    CliRun& run_;
    std::string address_;
    std::string version_, config1_, config2_;
    bool tty_;
    bool rowLineOpen_ = false;
};

// The decimal separator of the user's locale, by the rule the window uses.
char LocaleDecimalSeparator() {
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 0x80 ? static_cast<char>(point[0].unicode()) : '.';
}

bool FileMessage(const MessageCollector::Message& m) {
    return m.text.find("Файл с именем") != std::string::npos;
}

} // namespace

int RunArchive(CliRun& run) {
    const CliArguments& a = run.args;
    const bool hour = a.Command == CliCommand::HourArchive;
    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;

    HeadlessConsole screen(run, a.MeterAddress);
    auto lastActivity = Clock::now();
    bool gatewayFailed = false;
    Rs232Port* line = port.get();
    CliLink link(run, line);
    ConsoleLogic logic(
        screen, [line] { return line; },
        [&](const std::uint8_t* block, std::int32_t count) {
            // The exchange the window's SendPacket runs, with its outcome kept.
            if (!link.SendPacketExchange(block, count)) gatewayFailed = true;
            lastActivity = Clock::now();
        },
        LocaleDecimalSeparator());
    if (!a.Output.empty()) logic.Archive.OutputFile = std::filesystem::absolute(a.Output).string();

    if (hour)
        logic.Button4Click();
    else
        logic.Button3Click();

    // The window's receive tick, which also stops a read whose answer is
    // overdue; and a backstop beyond that time-out, should a run ever be left
    // without one.
    const auto tick = std::chrono::milliseconds(Timing().ConsoleTickMs);
    const auto backstop = 2 * std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs) + tick;
    auto nextTick = Clock::now() + tick;
    const std::string meter = "счётчик " + std::to_string(a.MeterAddress);
    auto fail = [&](ExitStatus code, const std::string& text) {
        screen.CloseRowLine();
        return run.Fail(code, text);
    };
    auto shown = [&] { return screen.messages.front().caption + ": " + screen.messages.front().text; };
    for (;;) {
        if (gatewayFailed) {
            const std::string message = run.FirstMessage();
            return fail(ExitStatus::GatewaySilent,
                        "шлюз не принял запрос" + (message.empty() ? "" : ": " + message));
        }
        if (logic.Archive.ArhivStep == ArchiveState::Stopped && !screen.messages.empty()) {
            const bool portGone = logic.Archive.StopReason == ArchiveStop::PortGone;
            return fail(portGone ? ExitStatus::PortNotOpened : ExitStatus::MeterSilent,
                        meter + ": " + shown());
        }
        if (!screen.messages.empty())
            return fail(FileMessage(screen.messages.front()) ? ExitStatus::FileNotWritten
                                                             : ExitStatus::Failed,
                        shown());
        if (logic.Archive.ArhivStep == ArchiveState::Finished) {
            screen.Line("Архив записан в файл " + logic.Archive.ArhivFileName);
            return 0;
        }
        if (!logic.WaitAnswer && !screen.identificationPolling)
            return fail(ExitStatus::Failed, "чтение архива остановилось");
        const auto now = Clock::now();
        if (now - lastActivity > backstop) return fail(ExitStatus::MeterSilent, meter + " не отвечает");

        auto due = nextTick;
        if (screen.identificationPolling) due = std::min(due, screen.pollDue);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
        pollfd pfd{line->Handle, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(std::max<long long>(0, wait)));
        if (ready < 0 && errno != EINTR) return fail(ExitStatus::Failed, SystemErrorText(errno));
        if (ready > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return fail(ExitStatus::PortNotOpened, "порт отключён");
        if (ready > 0) {
            // Bytes waiting: the console takes them at once, as its window's
            // port watch makes it.
            logic.PortReadable();
            lastActivity = Clock::now();
            continue;
        }
        // The window's timers.
        if (Clock::now() >= nextTick) {
            logic.Timer1Timer();
            nextTick = Clock::now() + tick;
        }
        if (screen.identificationPolling && Clock::now() >= screen.pollDue) {
            logic.TimerQueryConfTimer();
            screen.pollDue = Clock::now() + HeadlessConsole::PollPeriod();
        }
    }
}
