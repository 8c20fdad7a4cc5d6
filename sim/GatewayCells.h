// The gateway's cells: its settings device (0x81/0x58) and its control device
// (0xEF/0x0C), as ranges of byte cells that the adapter protocol reads and
// writes. Not thread-safe by itself; the simulator guards it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Device type and address of the gateway's settings cells, and of its
// control cells (0x4000..0x4003 identify it; a write to cell 2 applies the
// settings).
inline constexpr std::uint8_t SettingsDeviceType = 0x81;
inline constexpr std::uint8_t SettingsDeviceAddress = 0x58;
inline constexpr std::uint8_t ControlDeviceType = 0xEF;
inline constexpr std::uint8_t ControlDeviceAddress = 0x0C;

// The gateway's settings cells: 0 address, 1 switches (0x02 modem, 0x04
// packet protocol), 2 speed code (1000000 / speed - 1), 3 length L of the
// init line, 4.. the init line (L bytes, normally ending in 0x0D).
struct GatewaySettings {
    std::uint8_t Address = 1;
    std::uint8_t Switches = 0x04;
    std::uint8_t SpeedCode = 0x10;  // 57600
    std::string InitLine = "ATZ\r"; // cell 3 holds its length
    bool operator==(const GatewaySettings&) const = default;
};

// One device of the gateway: ranges of cells.
struct CellRange {
    int base;
    std::vector<std::uint8_t> bytes;
};
struct CellDevice {
    std::uint8_t type;
    std::uint8_t address;
    std::vector<CellRange> ranges;
};

class GatewayCells {
public:
    // The settings and control devices, the settings applied as given.
    explicit GatewayCells(const GatewaySettings& settings);

    CellDevice* Find(std::uint8_t type, std::uint8_t address);
    CellDevice* FindByAddress(std::uint8_t address);
    CellDevice* FindByType(std::uint8_t type);

    // Cells outside every range read as 0 and ignore writes.
    std::vector<std::uint8_t> Read(std::uint8_t type, std::uint8_t address, int cell, int count);
    void Write(std::uint8_t type, std::uint8_t address, int cell, const std::vector<std::uint8_t>& bytes);
    // A write as the PC makes it: a write that covers control cell 2 applies
    // the settings (and clears the cell again). True when it applied them.
    bool Store(std::uint8_t type, std::uint8_t address, int cell, const std::vector<std::uint8_t>& bytes);

    GatewaySettings Settings();
    void SetSettings(const GatewaySettings& settings);
    const GatewaySettings& Applied() const { return applied_; }
    int ApplyCount() const { return applyCount_; }

    // The error code for a cell range of a device: `highCode` when no range
    // knows the cell's high byte, `lowCode` when one does but none holds the
    // cell, 6 when the count is 0 or runs past the range; 0 when it is good.
    static std::uint8_t RangeCode(CellDevice& device, int cell, int count, std::uint8_t highCode,
                                  std::uint8_t lowCode);

private:
    static CellRange* FindRange(CellDevice& device, int cell);

    std::vector<CellDevice> devices_;
    GatewaySettings applied_;
    int applyCount_ = 0;
};

} // namespace sim
