// Filling and checking the settings dialog, and its OK.
#include "app/OptionsEntry.h"

#include "app/ProgramPort.h"
#include "base/ComNumber.h"
#include "base/Files.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "base/Phone.h"
#include "base/StrToInt.h"

#include <cstdio>
#include <utility>

namespace {

std::string HexAddress(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value));
    return text;
}

OptionsRejection Reject(std::string text, OptionsPage page, const char* edit) {
    return {std::move(text), page, edit};
}

} // namespace

std::string PortNumberRefusedText() {
    return "Port must be from " + std::to_string(FirstComNumber) + " to " + std::to_string(LastComNumber);
}

OptionsFields FillOptions(const TAppOptions& o, const std::string& phone) {
    OptionsFields f;
    f.EditPhone = phone;
    f.Edit1 = std::to_string(o.BaudRate);
    f.Edit2 = std::to_string(o.PortNumber);
    // The stored string carries its own line end; a string read from a file
    // whose last line had none keeps all its characters.
    f.Edit5 = o.ModemInitString;
    if (!f.Edit5.empty() && f.Edit5.back() == '\n') f.Edit5.pop_back();
    f.RadioGroup1 = o.LinkMode >= 1 && o.LinkMode <= 2 ? o.LinkMode - 1 : -1;
    f.RadioGroup2 = o.DialMode >= 1 && o.DialMode <= 2 ? o.DialMode - 1 : -1;
    f.Edit3 = HexAddress(o.I2cAddress);
    f.Edit4 = HexAddress(o.ZepLanAddress);
    f.Edit6 = std::to_string(o.ConnectWaitSeconds);
    return f;
}

std::optional<OptionsRejection> CheckOptions(const OptionsFields& f, TAppOptions& o) {
    // 0 and negative multiples of 2400 are no speed a port can be opened at.
    const int speed = StrToInt(f.Edit1);
    if (speed <= 0 || speed % 2400 != 0)
        return Reject("Speed must be 19200,38400,57600,115200", OptionsPage::TabSheet1, "Edit1");
    o.BaudRate = speed;

    const int port = StrToInt(f.Edit2);
    if (!ValidComNumber(port)) return Reject(PortNumberRefusedText(), OptionsPage::TabSheet1, "Edit2");
    o.PortNumber = port;

    const int wait = StrToInt(f.Edit6);
    if (wait < 1 || wait > 200)
        return Reject("Время ожидания соединения должно быть от 1 до 200", OptionsPage::TabSheet2, "Edit6");
    o.ConnectWaitSeconds = wait;

    o.LinkMode = f.RadioGroup1 + 1;
    o.DialMode = f.RadioGroup2 + 1;

    const int i2c = StrToInt(f.Edit3);
    if (i2c < 1 || i2c > 127)
        return Reject("I2C address must be from 1 to 127", OptionsPage::TabSheet1, "Edit3");
    o.I2cAddress = i2c;

    const int zepLan = StrToInt(f.Edit4);
    if (zepLan < 0 || zepLan > 255)
        return Reject("ZEP-LAN address must be 0 (broadcasting) or from 1 to 255", OptionsPage::TabSheet1,
                      "Edit4");
    o.ZepLanAddress = zepLan;

    // The string must come back from line 8 of the file as it was written:
    // one line, no longer than the reader takes.
    if (f.Edit5.find_first_of("\r\n") != std::string::npos)
        return Reject("Строка инициализации должна быть одной строкой", OptionsPage::TabSheet2, "Edit5");
    if (static_cast<int>(f.Edit5.size()) > MaxModemInitLength)
        return Reject("Строка инициализации должна быть не длиннее " + std::to_string(MaxModemInitLength) +
                          " символов",
                      OptionsPage::TabSheet2, "Edit5");
    o.ModemInitString = f.Edit5 + "\n";

    // Kept in PHONE.TXT, not in the settings record; checked with them.
    if (const auto refusal = PhoneNumberRefusal(f.EditPhone))
        return Reject(*refusal, OptionsPage::TabSheet2, "EditPhone");
    return std::nullopt;
}

void AcceptOptions(const OptionsFields& fields, TAppOptions& options, const std::string& path,
                   OptionsScreen& screen) {
    // Checked on a copy: a refused entry leaves every setting as it was.
    TAppOptions accepted = options;
    if (auto rejection = CheckOptions(fields, accepted)) {
        ShowMessage(rejection->text, OptionsCaption, MessageIcon::Error);
        screen.ShowRefusedEntry(rejection->page, rejection->edit);
        return;
    }
    // An installed copy's configuration folder appears with its first save.
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    const std::string phonePath = path.empty() ? std::string() : PhoneFilePathBeside(path);
    // What PHONE.TXT held, put back when OPTIONS.INI then cannot be written:
    // a refused OK leaves both files as they were.
    const bool hadPhone = !phonePath.empty() && FileExists(phonePath);
    const std::string oldPhone = hadPhone ? LoadPhoneNumber(phonePath) : std::string();
    if (!path.empty() && (folder.empty() || MakeFolder(folder)) &&
        !SavePhoneNumber(phonePath, fields.EditPhone)) {
        ShowMessage(CantCreatePhoneText, OptionsCaption, MessageIcon::Error);
        return;
    }
    if (path.empty() || (!folder.empty() && !MakeFolder(folder)) || !SaveOptions(path, accepted)) {
        if (hadPhone)
            SavePhoneNumber(phonePath, oldPhone);
        else if (!phonePath.empty())
            RemoveFile(phonePath);
        ShowMessage(CantCreateOptionsText, OptionsCaption, MessageIcon::Error);
        return;
    }
    options = accepted;
    ReopenMainPort(options);
    screen.CloseDialog();
}
