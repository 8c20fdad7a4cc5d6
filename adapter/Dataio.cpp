// The adapter exchanges: strict ping-pong of short writes and one-byte
// answers on the port the link is handed, three attempts for the opening and
// header steps, one for the data phase, failures reported in message boxes.
#include "adapter/Dataio.h"

#include "base/Messages.h"
#include "base/Timing.h"
#include "serial/PortDevices.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int Attempts = 3;
constexpr std::uint8_t OpenByte = 0xB0;
constexpr std::uint8_t ReadyByte = 0xDD;
constexpr std::uint8_t ReadyNoSignOn = 0x08;     // GetData only: skip the marker
constexpr std::uint8_t SignOn[2] = {0x5A, 0x50}; // "ZP"
constexpr std::uint8_t CommandAccepted = 0x01;
constexpr std::uint8_t PacketOpenByte = 0x11;
constexpr std::uint8_t PacketReady = 0x22;

const char* const LinkCaption = "ОШИБКА СВЯЗИ";
const char* const SetDataExhaustedCaption = "SetData (5): ОШИБКА СВЯЗИ";
const char* const GetDataExhaustedCaption = "GetData:(5) ОШИБКА СВЯЗИ";

const char* const SetNotTaking1 = "SetData:(1) Адаптер не принимает.";
const char* const SetNotAnswering2 = "SetData:(2) Адаптер не отвечает.";
const char* const SetNotTaking3 = "SetData:(3) Адаптер не принимает.";
const char* const SetNotAnswering4 = "SetData:(4) Адаптер не отвечает.";
const char* const SetNotTaking6 = "SetData:(6) Адаптер не принимает.";
const char* const SetNotAnswering7 = "SetData:(7) Адаптер не отвечает.";
const char* const SetDeviceError8 = "SetData:(8) Ошибка передачи устройству.";
const char* const SetByteRefused9 = "SetData:(9) Адаптер не смог принять байт.";
const char* const GetNotTaking1 = "GetData:(1) Адаптер не принимает.";
const char* const GetNotAnswering2 = "GetData:(2) Адаптер не отвечает.";
const char* const GetNotTaking3 = "GetData:(3) Адаптер не принимает.";
const char* const GetNotAnswering4 = "GetData:(4) Адаптер не отвечает.";
const char* const GetNoData6 = "GetData:(6) Адаптер не передал данные.";
const char* const GetNoRepeat7 = "GetData:(7) Устройство не ответило на повторный адрес.";
const char* const GetShortData8 = "GetData:(8) Адаптер не передал все данные.";
const char* const GetNotAnswering9 = "GetData:(9) Адаптер не отвечает.";

// Bounds a public operation: the busy flag set for its duration, cleared on
// every way out.
class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy), entered_(!busy) {
        if (entered_) busy_ = true;
    }
    ~BusyScope() {
        if (entered_) busy_ = false;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    // False when another operation holds the link: decline.
    bool Entered() const { return entered_; }

private:
    bool& busy_;
    bool entered_;
};

bool ValidLinkMode(int mode) {
    return mode == 1 || mode == 2;
}

} // namespace

// Outcome of one WriteBlock or ReadBlock: the one result every step examines.
struct AdapterLink::Transfer {
    bool complete = false; // every byte was counted
    bool portOk = false;   // the port's Ok afterwards
    std::uint32_t count = 0;
    int lastError = 0;
    bool Succeeded() const { return complete && portOk; }
    // The port failed although all bytes went through: the system's error
    // says more than the step's own text.
    bool SystemError() const { return complete && !portOk; }
};

// How one attempt of the opening and header steps ended.
enum class AdapterLink::Attempt {
    Accepted, // header taken: go on to the data phase
    Hard,     // a write or read failed, or the command was refused
    Soft,     // a wrong ready byte or an error code after the header
    Stop      // no usable link mode: give up silently
};

AdapterLink::AdapterLink(PortAccessor port, LinkSettingsAccessor settings)
    : port_(std::move(port)), settings_(std::move(settings)) {}

bool AdapterLink::LinkModeChosen() const {
    return settings_ && ValidLinkMode(settings_().LinkMode);
}

AdapterLink::Transfer AdapterLink::Write(const std::uint8_t* bytes, std::uint32_t count) {
    Transfer t;
    Rs232Port* port = port_();
    if (!port) return t;
    std::int32_t written = 0;
    port->WriteBlock(bytes, count, written);
    t.count = static_cast<std::uint32_t>(written);
    t.complete = t.count == count;
    t.portOk = port->Ok;
    t.lastError = port->LastError;
    return t;
}

AdapterLink::Transfer AdapterLink::Read(std::uint8_t* bytes, int count) {
    Transfer t;
    Rs232Port* port = port_();
    if (!port) return t;
    std::uint32_t got = 0;
    port->ReadBlock(bytes, count, got);
    t.count = got;
    t.complete = got == static_cast<std::uint32_t>(count);
    t.portOk = port->Ok;
    t.lastError = port->LastError;
    return t;
}

void AdapterLink::Purge() {
    Rs232Port* port = port_();
    if (!port) {
        Rs232Port::Pause(Timing().PurgePauseMs);
        return;
    }
    if (stray_ && port->IsOpen()) {
        // What arrived meanwhile is handed over before the queues are
        // discarded: the rest of a meter's answer that broke into the exchange.
        Rs232Port::Pause(Timing().PurgePauseMs);
        std::uint8_t bytes[512];
        const int waiting = std::min(port->InQueue(), static_cast<int>(sizeof bytes));
        std::uint32_t got = 0;
        if (waiting > 0) port->ReadBlock(bytes, waiting, got);
        Stray(bytes, got);
        port->Discard();
        return;
    }
    port->Purge();
}

bool AdapterLink::ReadyAfterStray() {
    // At most one Modbus RTU frame can stand in front of the ready byte.
    std::uint8_t late[256];
    std::size_t count = 0;
    late[count++] = ExchangeBuf[0];
    bool ready = false;
    while (stray_ && count < sizeof late && Read(ExchangeBuf, 1).Succeeded()) {
        ready = ExchangeBuf[0] == PacketReady;
        if (ready) break;
        late[count++] = ExchangeBuf[0];
    }
    Stray(late, count);
    return ready;
}

void AdapterLink::Stray(const std::uint8_t* bytes, std::size_t count) {
    if (stray_ && count > 0) stray_(bytes, count);
}

// The report of an exhausted attempt loop: a code without a text shows an
// empty message.
void AdapterLink::Show(const char* text, MessageIcon icon, const char* caption) {
    if (LinkMessages) ShowMessage(text ? text : "", caption, icon);
}

// Every step's failure goes through here: the step's own message (none for
// nullptr), or the system's text when the port failed although every byte
// went through and the step allows that variant.
void AdapterLink::Report(const char* text, MessageIcon icon, const Transfer& t, bool systemVariant) {
    if (!LinkMessages) return;
    // A port whose device went away says so first, instead of blaming the
    // adapter.
    if (const Rs232Port* port = port_(); port && port->Disconnected) {
        ShowMessage(PortDisconnectedText(*port) + (text ? std::string("\n") + text : std::string()),
                    LinkCaption, icon);
        return;
    }
    if (systemVariant && t.SystemError()) {
        ShowSystemError(t.lastError);
    } else if (text) {
        ShowMessage(text, LinkCaption, icon);
    }
}

// Fills ExchangeBuf with the request header for the link mode; returns its
// length (5 or 7).
int AdapterLink::BuildHeader(const LinkSettings& settings, std::uint8_t deviceType,
                             std::uint8_t deviceAddress, std::int32_t cellAddress, std::int32_t count) {
    const auto cellHigh = static_cast<std::uint8_t>((cellAddress >> 8) & 0xFF);
    const auto cellLow = static_cast<std::uint8_t>(cellAddress & 0xFF);
    const auto countByte = static_cast<std::uint8_t>(count & 0xFF);
    const auto zepLan = static_cast<std::uint8_t>(settings.ZepLanAddress & 0xFF);
    if (settings.LinkMode == 1) {
        const std::uint8_t h[5] = {deviceType, deviceAddress, cellHigh, cellLow, countByte};
        std::copy(h, h + 5, ExchangeBuf);
        return 5;
    }
    if (deviceAddress == settings.I2cAddress) {
        const std::uint8_t h[5] = {deviceType, zepLan, cellHigh, cellLow, countByte};
        std::copy(h, h + 5, ExchangeBuf);
        return 5;
    }
    const std::uint8_t h[7] = {0x00,       zepLan,    static_cast<std::uint8_t>(deviceAddress | 0x80),
                               deviceType, countByte, cellHigh,
                               cellLow};
    std::copy(h, h + 7, ExchangeBuf);
    return 7;
}

// Ends an attempt that failed hard: silently retried in attempts 1 and 2;
// in attempt 3 the step's message is shown before the purge.
void AdapterLink::HardFailure(int attempt, const char* text, MessageIcon icon, const Transfer& t,
                              bool systemVariant) {
    if (attempt == Attempts) Report(text, icon, t, systemVariant);
    Purge();
}

// A write step of the attempt loop; false after a hard failure.
bool AdapterLink::WriteStep(int attempt, const std::uint8_t* bytes, std::uint32_t count, const char* text,
                            MessageIcon icon, bool systemVariant) {
    Transfer t = Write(bytes, count);
    if (t.Succeeded()) return true;
    HardFailure(attempt, text, icon, t, systemVariant);
    return false;
}

// A one-byte read step into ExchangeBuf[0]; false after a hard failure.
bool AdapterLink::ReadStep(int attempt, const char* text, MessageIcon icon, bool systemVariant) {
    Transfer t = Read(ExchangeBuf, 1);
    if (t.Succeeded()) return true;
    HardFailure(attempt, text, icon, t, systemVariant);
    return false;
}

// The opening byte and the adapter's ready byte (left in ExchangeBuf[0]):
// the same steps and texts in all three exchanges.
bool AdapterLink::OpeningStep(int attempt, std::uint8_t openByte) {
    ExchangeBuf[0] = openByte;
    return WriteStep(attempt, ExchangeBuf, 1, SetNotTaking1, MessageIcon::Error, true) &&
           ReadStep(attempt, SetNotAnswering2, MessageIcon::Information, false);
}

AdapterLink::Attempt AdapterLink::SetDataAttempt(int attempt, std::uint8_t deviceType,
                                                 std::uint8_t deviceAddress, std::int32_t cellAddress,
                                                 std::int32_t count) {
    if (!OpeningStep(attempt, OpenByte)) return Attempt::Hard;
    if (ExchangeBuf[0] != ReadyByte) {
        Purge();
        return Attempt::Soft;
    }
    if (!WriteStep(attempt, SignOn, 2, SetNotTaking1, MessageIcon::Error, true)) return Attempt::Hard;
    const LinkSettings settings = settings_();
    if (!ValidLinkMode(settings.LinkMode)) return Attempt::Stop;
    ExchangeBuf[0] = settings.LinkMode == 1 ? 0x01 : 0x81;
    if (!WriteStep(attempt, ExchangeBuf, 1, SetNotTaking1, MessageIcon::Error, true)) return Attempt::Hard;
    if (Transfer t = Read(ExchangeBuf, 1); !t.Succeeded() || ExchangeBuf[0] != CommandAccepted) {
        HardFailure(attempt, SetNotAnswering2, MessageIcon::Information, t, false);
        return Attempt::Hard;
    }
    const int headerLength = BuildHeader(settings, deviceType, deviceAddress, cellAddress, count);
    if (!WriteStep(attempt, ExchangeBuf, static_cast<std::uint32_t>(headerLength), SetNotTaking3,
                   MessageIcon::Information, true))
        return Attempt::Hard;
    ExchangeBuf[0] = 0x00;
    if (!ReadStep(attempt, SetNotAnswering4, MessageIcon::Information, true)) return Attempt::Hard;
    // An error code after the header: the next attempt starts at once.
    return ExchangeBuf[0] == 0x00 ? Attempt::Accepted : Attempt::Soft;
}

AdapterLink::Attempt AdapterLink::GetDataAttempt(int attempt, std::uint8_t deviceType,
                                                 std::uint8_t deviceAddress, std::int32_t cellAddress,
                                                 std::int32_t count) {
    if (!OpeningStep(attempt, OpenByte)) return Attempt::Hard;
    if (ExchangeBuf[0] == ReadyByte) {
        if (!WriteStep(attempt, SignOn, 2, SetNotTaking1, MessageIcon::Error, true)) return Attempt::Hard;
    } else if (ExchangeBuf[0] != ReadyNoSignOn) {
        Purge();
        return Attempt::Soft;
    }
    const LinkSettings settings = settings_();
    if (!ValidLinkMode(settings.LinkMode)) return Attempt::Stop;
    ExchangeBuf[0] = settings.LinkMode == 1 ? 0x02 : 0x82;
    if (!WriteStep(attempt, ExchangeBuf, 1, GetNotTaking1, MessageIcon::Error, true)) return Attempt::Hard;
    if (Transfer t = Read(ExchangeBuf, 1); !t.Succeeded() || ExchangeBuf[0] != CommandAccepted) {
        // The system's text only where the adapter did accept the command.
        HardFailure(attempt, GetNotAnswering2, MessageIcon::Information, t,
                    ExchangeBuf[0] == CommandAccepted);
        return Attempt::Hard;
    }
    const int headerLength = BuildHeader(settings, deviceType, deviceAddress, cellAddress, count);
    if (!WriteStep(attempt, ExchangeBuf, static_cast<std::uint32_t>(headerLength), GetNotTaking3,
                   MessageIcon::Information, true))
        return Attempt::Hard;
    if (!ReadStep(attempt, GetNotAnswering4, MessageIcon::Information, true)) return Attempt::Hard;
    if (ExchangeBuf[0] != 0x00) {
        Purge();
        return Attempt::Soft;
    }
    return Attempt::Accepted;
}

// Runs up to three attempts. True when the header was accepted; false after
// the loop has reported (or silently stopped) and purged.
template <class AttemptFn>
bool AdapterLink::OpenWithAttempts(AttemptFn attemptFn, const char* exhaustedCaption) {
    for (int attempt = 1; attempt <= Attempts; ++attempt) {
        switch (attemptFn(attempt)) {
        case Attempt::Accepted:
            return true;
        case Attempt::Stop:
            return false;
        case Attempt::Hard:
            if (attempt == Attempts) return false; // reported and purged already
            break;
        case Attempt::Soft:
            break;
        }
    }
    // Attempt 3 ended soft: name the adapter's last answer.
    Show(AdapterErrorText(ExchangeBuf[0]), MessageIcon::Information, exhaustedCaption);
    Purge();
    return false;
}

const char* AdapterErrorText(unsigned code) {
    switch (code) {
    case 1:
        return "Ошибка в передаче кода ОК.";
    case 2:
        return "Ошибка в приеме адаптером Типа устройства.";
    case 3:
        return "Ошибка в приеме адаптером Адреса устройства.";
    case 4:
        return "Ошибка в приеме адаптером Старшего адреса ячейки.";
    case 5:
        return "Ошибка в приеме адаптером Младшего адреса ячейки.";
    case 6:
        return "Ошибка в приеме адаптером Количества байтов в блоке.";
    case 7:
        return "Линия занята.";
    case 8:
        return "Устройство не ответило.";
    case 10:
        return "Ошибка в приеме адаптером Старшего адреса ячейки удаленного устройства.";
    case 11:
        return "Ошибка в приеме адаптером Младшего адреса ячейки удаленного устройства.";
    default:
        return nullptr;
    }
}

bool AdapterLink::SetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                          const std::uint8_t* data, std::int32_t count) {
    // A negative count would make the data phase read far past `data`.
    if (count < 0) return false;
    if (!OpenWithAttempts(
            [&](int attempt) {
                return SetDataAttempt(attempt, deviceType, deviceAddress, cellAddress, count);
            },
            SetDataExhaustedCaption))
        return false;

    // Data phase, once only.
    if (Transfer t = Write(data, static_cast<std::uint32_t>(count)); !t.Succeeded()) {
        Report(SetNotTaking6, MessageIcon::Error, t, true);
        Purge();
        return false;
    }
    ExchangeBuf[0] = 0xFF;
    const Transfer t = Read(ExchangeBuf, 1);
    if (t.Succeeded() && ExchangeBuf[0] == 0x00) return true;
    // Another status than 0x00, 0x01 or 0x02 fails without a message.
    const char* text = t.count == 0             ? SetNotAnswering7
                       : ExchangeBuf[0] == 0x02 ? SetDeviceError8
                       : ExchangeBuf[0] == 0x01 ? SetByteRefused9
                                                : nullptr;
    Report(text, MessageIcon::Information, t, true);
    Purge();
    return false;
}

bool AdapterLink::GetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                          std::int32_t count, std::uint8_t* buffer) {
    if (count < 0) return false;
    if (!OpenWithAttempts(
            [&](int attempt) {
                return GetDataAttempt(attempt, deviceType, deviceAddress, cellAddress, count);
            },
            GetDataExhaustedCaption))
        return false;

    // Data phase, once only: the block in one read, then a trailing byte.
    if (const Transfer data = Read(buffer, count); !data.Succeeded()) {
        // A block cut short is named by its last byte: 0x01 is the device's
        // refusal of the repeated address.
        const char* text = data.count == 0                  ? GetNoData6
                           : buffer[data.count - 1] == 0x01 ? GetNoRepeat7
                                                            : GetShortData8;
        Report(text, MessageIcon::Information, data, true);
        Purge();
        return false;
    }
    // The trailing byte's value is not examined.
    if (Transfer t = Read(ExchangeBuf, 1); !t.Succeeded()) {
        Report(GetNotAnswering9, MessageIcon::Information, t, true);
        Purge();
        return false;
    }
    return true;
}

bool AdapterLink::SendPacketExchange(const std::uint8_t* block, std::int32_t count) {
    if (count < 0) return false;
    for (int attempt = 1; attempt <= Attempts; ++attempt) {
        if (!OpeningStep(attempt, PacketOpenByte)) continue;
        if (ExchangeBuf[0] != PacketReady && !ReadyAfterStray()) {
            Purge();
            continue;
        }
        // Neither the block's write nor the status read is examined: silence
        // after the block counts as taken.
        Write(block, static_cast<std::uint32_t>(count));
        ExchangeBuf[0] = 0x00;
        Read(ExchangeBuf, 1);
        if (ExchangeBuf[0] == 0x00) return true;
        Stray(ExchangeBuf, 1);
    }
    return false;
}

std::int32_t MapCellAddress(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress) {
    if ((deviceType & 0x60) == 0 && (deviceAddress & 0xF0) != 0x50) return cellAddress + 0x8000;
    return cellAddress;
}

bool AdapterLink::PortNotOpen() {
    const Rs232Port* port = port_ ? port_() : nullptr;
    if (!port || !port->NotOpen()) return false;
    // Every write would fail, so every exchange would end in its third attempt
    // with this message: it comes at once, after why the port is not open.
    if (LinkMessages)
        ShowMessage(PortNotOpenText(*port) + "\n" + SetNotTaking1, LinkCaption, MessageIcon::Error);
    return true;
}

bool AdapterLink::WriteData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                            const std::uint8_t* data, std::int32_t count) {
    BusyScope busy(LinkBusy);
    if (!busy.Entered() || PortNotOpen()) return false;
    return SetData(deviceType, deviceAddress, cellAddress, data, count);
}

bool AdapterLink::WriteDataMapped(std::uint8_t deviceType, std::uint8_t deviceAddress,
                                  std::int32_t cellAddress, const std::uint8_t* data, std::int32_t count) {
    BusyScope busy(LinkBusy);
    if (!busy.Entered() || PortNotOpen()) return false;
    return SetData(deviceType, deviceAddress, MapCellAddress(deviceType, deviceAddress, cellAddress), data,
                   count);
}

bool AdapterLink::WriteValue(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                             std::int32_t value, std::int32_t count) {
    // The value has four bytes; a longer count would send bytes beyond it.
    if (count < 0 || count > 4) return false;
    const auto v = static_cast<std::uint32_t>(value);
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    return WriteDataMapped(deviceType, deviceAddress, cellAddress, bytes, count);
}

bool AdapterLink::ReadData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                           std::int32_t count, std::uint8_t* buffer) {
    BusyScope busy(LinkBusy);
    if (!busy.Entered() || PortNotOpen()) return false;
    constexpr std::int32_t Block = 64; // bounds the time and buffer of one GetData
    const std::int32_t cell = MapCellAddress(deviceType, deviceAddress, cellAddress);
    const std::int32_t blocks = count / Block;
    const std::int32_t rest = count % Block;
    for (std::int32_t i = 0; i < blocks; ++i) {
        if (!GetData(deviceType, deviceAddress, cell + Block * i, Block, buffer + Block * i)) return false;
    }
    if (rest > 0)
        return GetData(deviceType, deviceAddress, cell + Block * blocks, rest, buffer + Block * blocks);
    return true;
}

bool AdapterLink::SendPacket(const std::uint8_t* block, std::int32_t count) {
    BusyScope busy(LinkBusy);
    if (!busy.Entered() || PortNotOpen()) return false;
    return SendPacketExchange(block, count);
}

void AdapterLink::EnableLinkMessages() {
    LinkMessages = true;
}
