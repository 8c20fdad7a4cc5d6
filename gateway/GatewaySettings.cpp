// Reading and writing the gateway's settings cells.
#include "gateway/GatewaySettings.h"

#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/StrToInt.h"
#include "base/Timing.h"
#include "serial/LineDriver.h"
#include "serial/Rs232.h"

#include <algorithm>

namespace {

// Pairs BeginWait with EndWait on every way out.
class WaitScope {
public:
    explicit WaitScope(ConfigScreen& screen) : screen_(screen) { screen_.BeginWait(); }
    ~WaitScope() { screen_.EndWait(); }
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

private:
    ConfigScreen& screen_;
};

} // namespace

int SpeedItemOfCode(std::uint8_t code) {
    for (int i = 0; i < SpeedCount; ++i)
        if (SpeedCodes[i] == code) return i;
    return -1;
}

// Without a link mode the exchanges would stop silently: say so instead.
bool GatewaySettings::LinkModeReady() {
    if (link_.LinkModeChosen()) return true;
    ShowMessage(NoLinkModeText, NoLinkModeCaption, MessageIcon::Warning);
    return false;
}

std::optional<GatewayInputRejection> CheckGatewayInput(const std::string& addressText,
                                                       const std::string& initLine) {
    int address = -1;
    if (!TryStrToInt(addressText, address) || address < 0 || address > 255)
        return GatewayInputRejection{"Адрес должен быть от 0 для мастера и от 1 до 255 для подчиненных.",
                                     false};
    if (static_cast<int>(initLine.size()) > MaxInitLineLength)
        return GatewayInputRejection{"Номер должен состоять из " + std::to_string(MaxInitLineLength) +
                                         " латинских букв или цифр.",
                                     true};
    return std::nullopt;
}

bool GatewaySettings::RefusedWhileLineHeld() {
    if (!LineBusyFor(this)) return false;
    ShowMessage(LineBusyText(), LineBusyCaption, MessageIcon::Information);
    return true;
}

void GatewaySettings::ReadClick() {
    if (RefusedWhileLineHeld()) return;
    if (!LinkModeReady()) return;
    WaitScope wait(screen_);
    ReadGatewaySettings();
}

void GatewaySettings::WriteClick() {
    if (RefusedWhileLineHeld()) return;
    if (!LinkModeReady()) return;
    bool written = false;
    {
        WaitScope wait(screen_);
        written = WriteGatewaySettings();
    }
    if (written) screen_.ReportWritten();
}

bool GatewaySettings::ReadGatewaySettings() {
    // The service cells are not used, but the gateway must answer for them.
    std::uint8_t service[4] = {};
    if (!link_.ReadData(ServiceType, ServiceAddress, 0x4000, 4, service)) return false;

    std::uint8_t b[MaxInitLineLength + 2] = {};
    if (!link_.ReadData(GatewayType, GatewayAddress, 0, 4, b)) return false;
    screen_.SetAddressText(std::to_string(b[0]));
    screen_.SetModemChecked((b[1] & ModemSwitch) != 0);
    screen_.SetPacketChecked((b[1] & PacketSwitch) != 0);
    if (int item = SpeedItemOfCode(b[2]); item >= 0) screen_.SetSpeedItem(item);

    // Cell 3 holds the line's length including its carriage return; a length
    // out of range leaves the line as it is shown.
    const int length = b[3];
    if (length >= 1 && length <= MaxInitLineLength + 1) {
        if (!link_.ReadData(GatewayType, GatewayAddress, 4, length, b)) return false;
        b[length - 1] = 0;                                         // the carriage return
        screen_.SetInitLineText(reinterpret_cast<const char*>(b)); // up to the first zero byte
    }
    screen_.EnableWrite();
    return true;
}

bool GatewaySettings::WriteGatewaySettings() {
    const std::string addressText = screen_.AddressText();
    const std::string line = screen_.InitLineText();
    if (auto rejection = CheckGatewayInput(addressText, line)) {
        ShowMessage(rejection->Text, DataErrorCaption, MessageIcon::Information);
        if (rejection->InitLine) screen_.FocusInitLine();
        return false;
    }
    const int address = StrToInt(addressText);
    const int length = static_cast<int>(line.size());

    int item = screen_.SpeedItem();
    if (item < 0 || item >= SpeedCount) item = 0; // a radio group always has a selection
    const std::uint8_t block[4] = {
        static_cast<std::uint8_t>(address),
        static_cast<std::uint8_t>((screen_.ModemChecked() ? ModemSwitch : 0) |
                                  (screen_.PacketChecked() ? PacketSwitch : 0)),
        SpeedCodes[item],
        static_cast<std::uint8_t>(length + 1),
    };
    if (!link_.WriteData(GatewayType, GatewayAddress, 0, block, 4)) return false;

    // The line as the gateway keeps it: its characters, then a carriage
    // return (no terminating zero). CheckGatewayInput bounded its length.
    std::uint8_t bytes[MaxInitLineLength + 1];
    std::copy(line.begin(), line.end(), bytes);
    bytes[length] = 0x0D;
    if (!link_.WriteData(GatewayType, GatewayAddress, 4, bytes, length + 1)) return false;
    FinishWrite();
    return true;
}

bool GatewaySettings::FinishWrite() {
    if (!link_.WriteValue(ServiceType, ServiceAddress, 2, 0, 1)) return false;
    Rs232Port::Pause(Timing().FinishWritePauseMs);
    return true;
}
