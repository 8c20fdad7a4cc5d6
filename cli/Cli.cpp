// The command-line tool's run: its arguments, the settings the window would
// use, the serial line, then one command.
#include "cli/Cli.h"

#include "base/Paths.h"
#include "base/StrToInt.h"
#include "cli/Commands.h"
#include "serial/Dialer.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"

#include <exception>

namespace {

// The message presenter, the one program-wide object a run changes, put
// back when it ends: tests run the tool in-process.
class PresenterScope {
public:
    explicit PresenterScope(MessagePresenter* presenter) : saved_(CurrentMessagePresenter()) {
        SetMessagePresenter(presenter);
    }
    ~PresenterScope() { SetMessagePresenter(saved_); }
    PresenterScope(const PresenterScope&) = delete;
    PresenterScope& operator=(const PresenterScope&) = delete;

private:
    MessagePresenter* saved_;
};

std::string PortName(const CliRun& run) {
    const CliArguments& a = run.args;
    if (a.DevicePath) return *a.DevicePath;
    const int n = a.PortNumber.value_or(run.options.PortNumber);
    return "COM" + std::to_string(n) + " (" + Rs232Port::DevicePathFor(n) + ")";
}

} // namespace

int CliRun::Fail(ExitStatus status, const std::string& text) {
    std::fprintf(err, "%s: %s\n", CliProgramName, text.c_str());
    return static_cast<int>(status);
}

void CliRun::Progress(const std::string& text) {
    std::fprintf(err, "%s\n", text.c_str());
}

void ConnectLine(CliRun& run, LineDriver& driver, AdapterLink& link) {
    link.SetStraySink(
        [&driver](const std::uint8_t* bytes, std::size_t count) { driver.Found(bytes, count); });
    if (run.args.Trace) driver.SetTrace([&run](const std::string& line) { run.Progress("линия: " + line); });
}

std::string CliRun::FirstMessage() const {
    if (collector.messages.empty()) return {};
    const auto& m = collector.messages.front();
    // A box with no text (the adapter's answer had no known code) is its caption.
    return m.text.empty() ? m.caption : m.caption + ": " + m.text;
}

namespace {

void TraceDialer(CliRun& run, ModemDialer& dialer) {
    if (run.args.Trace)
        dialer.Driver().SetTrace([&run](const std::string& line) { run.Progress("линия: " + line); });
}

} // namespace

void LineCloser::operator()(Rs232Port* port) const {
    if (port && dialled && run) {
        ModemDialer dialer([port] { return port; });
        TraceDialer(*run, dialer);
        dialer.HangUp();
        RunDialer(dialer);
        const std::string refused = HangUpOutcomeText(dialer.HangUpResult());
        run->Progress(refused.empty() ? "модем: трубка положена" : "модем: " + refused);
    }
    delete port;
}

LinePort OpenLine(CliRun& run, int& status) {
    const CliArguments& a = run.args;
    const int speed = a.Speed.value_or(run.options.BaudRate);
    LinePort port(a.DevicePath ? new Rs232Port(*a.DevicePath, speed)
                               : new Rs232Port(a.PortNumber.value_or(run.options.PortNumber), speed),
                  LineCloser{&run, false});
    if (!port->Ok) {
        // The window's words for the cause, with the programs that hold a busy port.
        const int error = port->OpenError != 0 ? port->OpenError : port->LastError;
        std::string text = "порт " + PortName(run) + " не открывается на " + std::to_string(speed) +
                           " бит/с: " + PortOpenCause(port->DevicePath, error);
        if (PortBusyError(error)) text += ". Закройте её и повторите команду";
        status = run.Fail(ExitStatus::PortNotOpened, text);
        return nullptr;
    }
    if (!a.DialNumber) return port;
    // Through the modem: the stored initialisation string, dialling mode
    // and connection wait, as the window dials.
    run.Progress("модем: набор номера " + *a.DialNumber);
    ModemDialer dialer([p = port.get()] { return p; });
    TraceDialer(run, dialer);
    const DialSettings settings = DialSettingsFrom(run.options, *a.DialNumber);
    dialer.Dial(settings);
    RunDialer(dialer);
    if (dialer.Outcome() != DialOutcome::Connected) {
        status = run.Fail(ExitStatus::NotDialled,
                          DialOutcomeText(dialer.Outcome(), run.options.ConnectWaitSeconds));
        return nullptr;
    }
    run.Progress("модем: " + dialer.ConnectLine());
    port.get_deleter().dialled = true;
    return port;
}

int RunCli(const std::vector<std::string>& args, std::FILE* out, std::FILE* err, char decimalSeparator) {
    CliRun run{out, err, {}, {}, {}, decimalSeparator};
    std::string error;
    auto parsed = ParseCommandLine(args, error);
    if (!parsed) return run.Fail(ExitStatus::Usage, error);
    run.args = *parsed;
    switch (run.args.Command) {
    case CliCommand::Help:
        std::fputs(CliUsage().c_str(), out);
        return 0;
    case CliCommand::Version:
        std::fprintf(out, "%s %s\n", CliProgramName, PROGRAM_VERSION);
        return 0;
    default:
        break;
    }

    PresenterScope presenter(&run.collector);
    // The window's settings: port, speed, link mode and the gateway's
    // addresses; the arguments override the first three.
    LoadOptions(OptionsFilePath(), run.options);
    if (run.args.LinkMode) run.options.LinkMode = *run.args.LinkMode;
    try {
        switch (run.args.Command) {
        case CliCommand::DayArchive:
        case CliCommand::HourArchive:
            return run.args.Addresses.size() > 1 ? RunBatch(run) : RunArchive(run);
        case CliCommand::ReadSettings:
            return RunReadSettings(run);
        case CliCommand::WriteSettings:
            return RunWriteSettings(run);
        case CliCommand::Csv:
            return RunCsv(run);
        case CliCommand::Scan:
            return RunScan(run);
        case CliCommand::Collect:
#ifdef CLI_COLLECT
            return RunCollect(run);
#else
            return run.Fail(ExitStatus::Usage, "команда collect есть только в Linux");
#endif
        default:
            return 0;
        }
    } catch (const std::exception& e) {
        return run.Fail(ExitStatus::Failed, e.what());
    }
}
