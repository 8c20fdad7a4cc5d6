// read-settings and write-settings: the gateway window's logic with the
// command line in place of its controls.
#include "base/Cp1251.h"
#include "cli/Commands.h"
#include "gateway/GatewaySettings.h"
#include "serial/Rs232.h"

namespace {

void Print(std::FILE* out, const PlainConfigScreen& s) {
    const bool known = s.speedItem >= 0 && s.speedItem < SpeedCount;
    std::fprintf(out, "address=%s\nrs485-speed=%s\npacket=%s\nmodem=%s\ninit-line=%s\n", s.address.c_str(),
                 known ? SpeedCaptions[s.speedItem] : "?", s.packet ? "on" : "off", s.modem ? "on" : "off",
                 Cp1251ToUtf8(s.initLine).c_str());
}

// The gateway exchanges need a link mode; without one they give up silently.
int CheckLinkMode(CliRun& run) {
    if (run.options.LinkMode == 1 || run.options.LinkMode == 2) return 0;
    return run.Fail(ExitStatus::Usage,
                    "режим связи со шлюзом не выбран: укажите --link i2c или --link zep-lan");
}

int GatewayFailure(CliRun& run) {
    const std::string message = run.FirstMessage();
    return run.Fail(ExitStatus::GatewaySilent, "шлюз не отвечает" + (message.empty() ? "" : ": " + message));
}

} // namespace

int RunReadSettings(CliRun& run) {
    if (int status = CheckLinkMode(run)) return status;
    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;
    PlainConfigScreen screen;
    CliLink link(run, port.get());
    GatewaySettings settings(screen, link);
    if (!settings.ReadGatewaySettings()) return GatewayFailure(run);
    Print(run.out, screen);
    return 0;
}

int RunWriteSettings(CliRun& run) {
    const CliArguments& a = run.args;
    // The window's checks on what was given, before anything is sent. What
    // is not given comes from the gateway and needs none.
    const std::string initLine = a.InitLine ? Utf8ToCp1251(*a.InitLine) : std::string();
    if (auto rejection = CheckGatewayInput(a.GatewayAddress.value_or("0"), initLine))
        return run.Fail(ExitStatus::DataRefused, std::string(DataErrorCaption) + ": " + rejection->Text);
    if (int status = CheckLinkMode(run)) return status;
    int status = 0;
    auto port = OpenLine(run, status);
    if (!port) return status;

    PlainConfigScreen screen;
    CliLink link(run, port.get());
    GatewaySettings settings(screen, link);
    // As in the window, a write follows a read unless everything is given.
    const bool complete = a.GatewayAddress && a.Rs485SpeedItem && a.Packet && a.Modem && a.InitLine;
    if (!complete && !settings.ReadGatewaySettings()) return GatewayFailure(run);
    if (a.GatewayAddress) screen.address = *a.GatewayAddress;
    if (a.Rs485SpeedItem) screen.speedItem = *a.Rs485SpeedItem;
    // The window would write its first speed over a code it does not know;
    // a script is told instead.
    if (screen.speedItem < 0)
        return run.Fail(ExitStatus::Usage, "скорость RS-485 шлюза не из списка: укажите --rs485-speed");
    if (a.Packet) screen.packet = *a.Packet;
    if (a.Modem) screen.modem = *a.Modem;
    if (a.InitLine) screen.initLine = initLine;
    if (!settings.WriteGatewaySettings()) {
        if (!run.collector.messages.empty() && run.collector.messages.front().caption == DataErrorCaption)
            return run.Fail(ExitStatus::DataRefused, run.FirstMessage());
        return GatewayFailure(run);
    }
    Print(run.out, screen);
    return 0;
}
