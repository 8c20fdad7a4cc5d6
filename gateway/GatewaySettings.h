// The gateway's own settings: reading them into the configuration window,
// checking what the user typed, and writing them back through the adapter.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

class AdapterLink;

// Gateway settings cells (device type 0x81, address 0x58).
inline constexpr std::uint8_t GatewayType = 0x81;
inline constexpr std::uint8_t GatewayAddress = 0x58;
// Service cells of the gateway (device type 0xEF, address 0x0C).
inline constexpr std::uint8_t ServiceType = 0xEF;
inline constexpr std::uint8_t ServiceAddress = 0x0C;

// Switches cell bits.
inline constexpr std::uint8_t ModemSwitch = 0x02;
inline constexpr std::uint8_t PacketSwitch = 0x04;

// Longest modem initialisation line in bytes, without its carriage return.
inline constexpr int MaxInitLineLength = 31;

// SpeedGroup items and their speed codes (1000000 / speed - 1).
inline constexpr int SpeedCount = 5;
inline constexpr const char* SpeedCaptions[SpeedCount] = {"57600", "38400", "19200", "9600", "4800"};
inline constexpr std::uint8_t SpeedCodes[SpeedCount] = {16, 25, 51, 103, 207};

// The item whose code this is, or -1.
int SpeedItemOfCode(std::uint8_t code);

// The caption of a refused input.
inline constexpr const char* DataErrorCaption = "ОШИБКА ДАННЫХ";

// The checks a write makes before it sends anything: the address text must
// be an integer 0..255, the initialisation line (CP1251) at most
// MaxInitLineLength bytes. The message of the first that fails, or nothing.
struct GatewayInputRejection {
    std::string Text;
    bool InitLine = false; // the line was refused (the window focuses its edit)
};
std::optional<GatewayInputRejection> CheckGatewayInput(const std::string& addressText,
                                                       const std::string& initLine);

// The screen operations the logic needs; the configuration window implements
// them. Texts of the edits are CP1251 bytes.
class ConfigScreen {
public:
    virtual ~ConfigScreen() = default;
    virtual std::string AddressText() const = 0;
    virtual void SetAddressText(const std::string& text) = 0;
    virtual std::string InitLineText() const = 0;
    virtual void SetInitLineText(const std::string& text) = 0;
    virtual bool ModemChecked() const = 0;
    virtual void SetModemChecked(bool checked) = 0;
    virtual bool PacketChecked() const = 0;
    virtual void SetPacketChecked(bool checked) = 0;
    virtual int SpeedItem() const = 0;
    virtual void SetSpeedItem(int item) = 0;
    virtual void EnableWrite() = 0;
    virtual void FocusInitLine() = 0;
    // Disable the window and show the wait window, painted; and back.
    virtual void BeginWait() = 0;
    virtual void EndWait() = 0;
    // The settings have been written to the gateway.
    virtual void ReportWritten() = 0;
};

// The controls as plain values, for a caller without a window (the command
// line prints them); the window's own operations do nothing.
class PlainConfigScreen : public ConfigScreen {
public:
    std::string AddressText() const override { return address; }
    void SetAddressText(const std::string& text) override { address = text; }
    std::string InitLineText() const override { return initLine; }
    void SetInitLineText(const std::string& text) override { initLine = text; }
    bool ModemChecked() const override { return modem; }
    void SetModemChecked(bool checked) override { modem = checked; }
    bool PacketChecked() const override { return packet; }
    void SetPacketChecked(bool checked) override { packet = checked; }
    int SpeedItem() const override { return speedItem; }
    void SetSpeedItem(int item) override { speedItem = item; }
    void EnableWrite() override {}
    void FocusInitLine() override {}
    void BeginWait() override {}
    void EndWait() override {}
    void ReportWritten() override {}

    std::string address, initLine; // CP1251
    bool modem = false, packet = false;
    int speedItem = -1; // a speed code without an item leaves it unknown
};

class GatewaySettings {
public:
    // The exchanges go through `link`, the program's one link to the adapter.
    GatewaySettings(ConfigScreen& screen, AdapterLink& link) : screen_(screen), link_(link) {}

    // With no link mode chosen: a message that says where to choose it, and
    // nothing is sent. Otherwise BeginWait, ReadGatewaySettings, EndWait.
    void ReadClick();
    // The same check of the link mode, then BeginWait, WriteGatewaySettings,
    // EndWait.
    void WriteClick();

    // Fills the controls from the gateway; enables Write when every step got
    // through. The adapter operations report their own failures.
    bool ReadGatewaySettings();
    // Checks the input (a rejected input sends nothing), then writes the
    // settings block, the initialisation line, and FinishWrite.
    bool WriteGatewaySettings();
    // Tells the gateway to apply its new settings and gives it time to.
    bool FinishWrite();

private:
    bool LinkModeReady();
    // While a scan or a batch read holds the line: says so, and true.
    bool RefusedWhileLineHeld();

    ConfigScreen& screen_;
    AdapterLink& link_;
};
