// The PC side of the adapter's byte-level exchange protocol: the exchanges
// SetData, GetData and SendPacket, and the guarded operations the windows call
// them through. An AdapterLink is handed the port and the link settings; it
// names no program-wide object itself.
#pragma once
#include "base/Messages.h"
#include "serial/Rs232.h"

#include <cstdint>
#include <functional>

// The settings an exchange puts into its command and header.
struct LinkSettings {
    int LinkMode = 0;      // 1 = I2C, 2 = ZEP-LAN; anything else stops an exchange silently
    int I2cAddress = 12;   // link mode 2: the device reached with the short header
    int ZepLanAddress = 1; // link mode 2: its low 8 bits go into the header
};

// How the link reaches its settings: read afresh for every attempt of an
// exchange.
using LinkSettingsAccessor = std::function<LinkSettings()>;

// Shown instead of an exchange when no link mode is chosen.
inline constexpr const char* NoLinkModeCaption = "Тип соединения";
inline constexpr const char* NoLinkModeText =
    "Не выбран тип соединения со шлюзом, поэтому ничего не отправлено.\n"
    "Выберите его в окне «Настройки» (меню View), страница «Связь», «Тип соединения»: "
    "«Связь по I2C» или «Связь по ZEP-LAN», и нажмите OK.";

// Text of an adapter error code, or nullptr for a code without a text.
const char* AdapterErrorText(unsigned code);

// Cells of ordinary devices live 0x8000 higher: types with bit 5 or 6 set and
// device addresses 0x50..0x5F keep their cell address.
std::int32_t MapCellAddress(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress);

// The program's one link to the adapter: strict ping-pong of short writes and
// one-byte answers on the port, three attempts for the opening and header
// steps, one for the data phase, failures reported in message boxes. The port
// is fetched afresh for every write, read and purge: a handler running inside
// a failure message may have replaced it. No port at all writes nothing.
class AdapterLink {
public:
    AdapterLink(PortAccessor port, LinkSettingsAccessor settings);
    AdapterLink(const AdapterLink&) = delete;
    AdapterLink& operator=(const AdapterLink&) = delete;

    // Writes count bytes of data into consecutive cells of a device behind the
    // adapter. True when the adapter confirmed the block. The low 16 bits of
    // the cell address and the low 8 bits of count go into the header.
    bool SetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                 const std::uint8_t* data, std::int32_t count);
    // Reads count bytes from consecutive cells into buffer. True when all
    // arrived.
    bool GetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                 std::int32_t count, std::uint8_t* buffer);
    // Hands the adapter a block to put on the RS-485 line; true when the
    // adapter took it (status 0x00 or no status at all).
    bool SendPacketExchange(const std::uint8_t* block, std::int32_t count);

    // Public operations. Each runs with LinkBusy set; one that finds LinkBusy
    // already set (it was called from a handler running inside another
    // exchange's failure message) declines at once: nothing is sent or shown,
    // and the result is false. One that finds the port not open (its opening
    // failed, or its device went away) sends nothing and says so, with the
    // reason, before the message every exchange would end with.

    // SetData with the cell address unchanged.
    bool WriteData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                   const std::uint8_t* data, std::int32_t count);
    // SetData after MapCellAddress.
    bool WriteDataMapped(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                         const std::uint8_t* data, std::int32_t count);
    // WriteDataMapped of the first count (0..4) bytes of value, least
    // significant first.
    bool WriteValue(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                    std::int32_t value, std::int32_t count);
    // GetData after MapCellAddress, in blocks of at most 64 bytes; stops at the
    // first failing block. Count 0 reads nothing and succeeds.
    bool ReadData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                  std::int32_t count, std::uint8_t* buffer);
    // The SendPacket exchange; the caller reads the line's answer from the
    // port. True when the adapter took the block; false when it did not, or
    // nothing went out at all (the port not open, another exchange under way):
    // then no answer will come.
    bool SendPacket(const std::uint8_t* block, std::int32_t count);
    // Whether the settings name a link mode an exchange can use (1 or 2).
    bool LinkModeChosen() const;
    // Switches the failure messages on.
    void EnableLinkMessages();
    // Receives the bytes an exchange found on the line instead of the
    // gateway's answer (a meter's late answer passed on by the gateway in the
    // middle of the exchange): the bytes in front of the packet ready byte
    // (the exchange then goes on), a wrong status byte, and what a purge
    // would have discarded. None set: they are discarded as before.
    using StraySink = std::function<void(const std::uint8_t* bytes, std::size_t count)>;
    void SetStraySink(StraySink sink) { stray_ = std::move(sink); }

    // While set, exchange failures are shown to the user. Set at start.
    bool LinkMessages = true;
    // Set while a public operation runs an exchange.
    bool LinkBusy = false;

private:
    struct Transfer;
    enum class Attempt;

    Transfer Write(const std::uint8_t* bytes, std::uint32_t count);
    Transfer Read(std::uint8_t* bytes, int count);
    void Purge();
    // The port is there but not open: shown (when messages are on), true.
    bool PortNotOpen();
    void Show(const char* text, MessageIcon icon, const char* caption);
    void Report(const char* text, MessageIcon icon, const Transfer& t, bool systemVariant);
    void HardFailure(int attempt, const char* text, MessageIcon icon, const Transfer& t, bool systemVariant);
    bool WriteStep(int attempt, const std::uint8_t* bytes, std::uint32_t count, const char* text,
                   MessageIcon icon, bool systemVariant);
    bool ReadStep(int attempt, const char* text, MessageIcon icon, bool systemVariant);
    int BuildHeader(const LinkSettings& settings, std::uint8_t deviceType, std::uint8_t deviceAddress,
                    std::int32_t cellAddress, std::int32_t count);
    bool OpeningStep(int attempt, std::uint8_t openByte);
    Attempt SetDataAttempt(int attempt, std::uint8_t deviceType, std::uint8_t deviceAddress,
                           std::int32_t cellAddress, std::int32_t count);
    Attempt GetDataAttempt(int attempt, std::uint8_t deviceType, std::uint8_t deviceAddress,
                           std::int32_t cellAddress, std::int32_t count);
    template <class AttemptFn> bool OpenWithAttempts(AttemptFn attemptFn, const char* exhaustedCaption);

    // The byte read in place of the packet ready byte (in ExchangeBuf) with a
    // stray sink set: a late answer the gateway passed on in front of its
    // reply. Its bytes are read on up to the ready byte and go to the sink as
    // one piece; true when the ready byte followed them. Without a sink: false.
    bool ReadyAfterStray();
    // A byte read in place of the gateway's answer goes to the stray sink.
    void Stray(const std::uint8_t* bytes, std::size_t count);

    PortAccessor port_;
    LinkSettingsAccessor settings_;
    StraySink stray_;
    // Holds each command byte before it is sent, each one-byte answer, and the
    // request header. After a failed attempt it still holds the last byte
    // received, which the report of an exhausted attempt loop names.
    std::uint8_t ExchangeBuf[7] = {};
};
