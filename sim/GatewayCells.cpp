// The gateway's settings and control cells.
#include "sim/GatewayCells.h"

namespace sim {

namespace {
constexpr std::size_t SettingsCells = 64;
constexpr std::size_t InitLineLimit = 60; // cells 4..63
constexpr int ApplyCell = 2;              // of the control device
} // namespace

GatewayCells::GatewayCells(const GatewaySettings& settings) {
    devices_.push_back(
        {SettingsDeviceType, SettingsDeviceAddress, {{0, std::vector<std::uint8_t>(SettingsCells, 0)}}});
    devices_.push_back({ControlDeviceType,
                        ControlDeviceAddress,
                        {{0x0000, std::vector<std::uint8_t>(16, 0)}, {0x4000, {0x10, 0x02, 0x01, 0x05}}}});
    SetSettings(settings);
    applied_ = Settings();
}

CellDevice* GatewayCells::Find(std::uint8_t type, std::uint8_t address) {
    for (auto& d : devices_)
        if (d.type == type && d.address == address) return &d;
    return nullptr;
}

CellDevice* GatewayCells::FindByAddress(std::uint8_t address) {
    for (auto& d : devices_)
        if (d.address == address) return &d;
    return nullptr;
}

CellDevice* GatewayCells::FindByType(std::uint8_t type) {
    for (auto& d : devices_)
        if (d.type == type) return &d;
    return nullptr;
}

CellRange* GatewayCells::FindRange(CellDevice& device, int cell) {
    for (auto& r : device.ranges)
        if (cell >= r.base && cell < r.base + static_cast<int>(r.bytes.size())) return &r;
    return nullptr;
}

std::vector<std::uint8_t> GatewayCells::Read(std::uint8_t type, std::uint8_t address, int cell, int count) {
    std::vector<std::uint8_t> out;
    CellDevice* d = Find(type, address);
    for (int i = 0; i < count; ++i) {
        CellRange* r = d ? FindRange(*d, cell + i) : nullptr;
        out.push_back(r ? r->bytes[static_cast<std::size_t>(cell + i - r->base)] : 0);
    }
    return out;
}

void GatewayCells::Write(std::uint8_t type, std::uint8_t address, int cell,
                         const std::vector<std::uint8_t>& bytes) {
    CellDevice* d = Find(type, address);
    if (!d) return;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        int c = cell + static_cast<int>(i);
        if (CellRange* r = FindRange(*d, c)) r->bytes[static_cast<std::size_t>(c - r->base)] = bytes[i];
    }
}

bool GatewayCells::Store(std::uint8_t type, std::uint8_t address, int cell,
                         const std::vector<std::uint8_t>& bytes) {
    Write(type, address, cell, bytes);
    bool apply = type == ControlDeviceType && address == ControlDeviceAddress && cell <= ApplyCell &&
                 cell + static_cast<int>(bytes.size()) > ApplyCell;
    if (!apply) return false;
    applied_ = Settings();
    ++applyCount_;
    Write(type, address, ApplyCell, {0x00});
    return true;
}

GatewaySettings GatewayCells::Settings() {
    auto head = Read(SettingsDeviceType, SettingsDeviceAddress, 0, 4);
    GatewaySettings s;
    s.Address = head[0];
    s.Switches = head[1];
    s.SpeedCode = head[2];
    auto line = Read(SettingsDeviceType, SettingsDeviceAddress, 4, head[3]);
    s.InitLine.assign(line.begin(), line.end());
    return s;
}

void GatewayCells::SetSettings(const GatewaySettings& s) {
    std::string text = s.InitLine.substr(0, InitLineLimit);
    Write(SettingsDeviceType, SettingsDeviceAddress, 0,
          {s.Address, s.Switches, s.SpeedCode, static_cast<std::uint8_t>(text.size())});
    Write(SettingsDeviceType, SettingsDeviceAddress, 4, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::uint8_t GatewayCells::RangeCode(CellDevice& device, int cell, int count, std::uint8_t highCode,
                                     std::uint8_t lowCode) {
    CellRange* r = FindRange(device, cell);
    if (!r) {
        bool highKnown = false;
        for (auto& range : device.ranges)
            if ((range.base >> 8) == (cell >> 8)) highKnown = true;
        return highKnown ? lowCode : highCode;
    }
    if (count == 0 || cell + count > r->base + static_cast<int>(r->bytes.size())) return 6;
    return 0;
}

} // namespace sim
