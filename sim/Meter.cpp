// The meter: its registers, its archive window and its answers, built by
// libmodbus's server calls from its own register map.
#include "sim/Meter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

constexpr int ArchiveCommandRegister = 1000;
constexpr int ArchiveLengthRegister = 1001;
constexpr int ArchiveDataRegister = 1002;

bool Supported(int function) {
    return function == 3 || function == 4 || function == 6 || function == 16;
}

// 1 start / 2 next row / 4 finish for days, 5 / 6 / 8 for hours.
bool ValidCommand(int value) {
    return value == 1 || value == 2 || value == 4 || value == 5 || value == 6 || value == 8;
}

} // namespace

Meter::Meter(const MeterSetup& setup)
    : address_(setup.Address), delayMs_(setup.DelayMs), silent_(setup.Silent),
      exceptionCode_(setup.ExceptionCode) {
    SetIdentification(setup.Ident);
    for (auto [reg, value] : DefaultFloatRegisters())
        SetFloat(reg, value);
    for (ArchiveKind k : {ArchiveKind::Day, ArchiveKind::Hour}) {
        ArchiveData d =
            k == ArchiveKind::Day ? DefaultDayArchive(setup.DayRows) : DefaultHourArchive(setup.HourRows);
        d = VariedArchive(std::move(d), setup.Seed);
        SetArchiveRaw(k, d.Template, ArchiveRowBytes(d, k));
    }
}

Identification Meter::GetIdentification() const {
    return {regs_[4], regs_[5], static_cast<std::uint32_t>(regs_[6]) << 16 | regs_[7]};
}

void Meter::SetIdentification(const Identification& id) {
    regs_[4] = id.Version;
    regs_[5] = id.Config1;
    regs_[6] = static_cast<std::uint16_t>(id.Config2 >> 16);
    regs_[7] = static_cast<std::uint16_t>(id.Config2 & 0xFFFF);
}

float Meter::Float(int reg) const {
    if (reg < 0 || reg + 1 >= MeterRegisters) return 0.0f;
    std::uint32_t bits = static_cast<std::uint32_t>(regs_[static_cast<std::size_t>(reg)]) << 16 |
                         regs_[static_cast<std::size_t>(reg + 1)];
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void Meter::SetFloat(int reg, float value) {
    if (reg < 0 || reg + 1 >= MeterRegisters) return;
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    regs_[static_cast<std::size_t>(reg)] = static_cast<std::uint16_t>(bits >> 16);
    regs_[static_cast<std::size_t>(reg + 1)] = static_cast<std::uint16_t>(bits & 0xFFFF);
}

std::uint16_t Meter::Register(int reg) const {
    return reg >= 0 && reg < MeterRegisters ? regs_[static_cast<std::size_t>(reg)] : 0;
}

void Meter::SetRegister(int reg, std::uint16_t value) {
    if (reg >= 0 && reg < MeterRegisters) regs_[static_cast<std::size_t>(reg)] = value;
}

void Meter::SetArchiveRaw(ArchiveKind kind, const std::string& templateText,
                          const std::vector<std::vector<std::uint8_t>>& rows) {
    ArchiveStore& s = Store(kind);
    s.templateText = templateText;
    s.rows = rows;
    s.cursor = -1;
}

void Meter::Command(int value) {
    lastCommand_ = value;
    ArchiveKind kind = value <= 4 ? ArchiveKind::Day : ArchiveKind::Hour;
    ArchiveStore& s = Store(kind);
    int op = value <= 4 ? value : value - 4;
    if (op == 1) {
        current_ = kind;
        s.cursor = -1;
        window_.assign(s.templateText.begin(), s.templateText.end());
    } else if (op == 2) {
        if (current_ != kind) s.cursor = -1;
        current_ = kind;
        if (s.cursor < static_cast<int>(s.rows.size())) ++s.cursor;
        if (s.cursor < static_cast<int>(s.rows.size()))
            window_ = s.rows[static_cast<std::size_t>(s.cursor)];
        else
            window_.clear();
    } else {
        s.cursor = -1;
        window_.clear();
    }
}

// Registers 1001 and 1002.. show the archive window: the length, then its
// bytes from the byte offset (start register - 1002) on.
void Meter::FillArchiveWindow(int start, int count) {
    int dataStart = std::max(start, ArchiveDataRegister);
    for (int r = start; r < start + count && r < MeterRegisters; ++r) {
        if (r == ArchiveLengthRegister) {
            regs_[static_cast<std::size_t>(r)] =
                static_cast<std::uint16_t>(std::min<std::size_t>(window_.size(), 0xFFFF));
        } else if (r >= ArchiveDataRegister) {
            std::size_t at =
                static_cast<std::size_t>((dataStart - ArchiveDataRegister) + 2 * (r - dataStart));
            std::uint8_t hi = at < window_.size() ? window_[at] : 0;
            std::uint8_t lo = at + 1 < window_.size() ? window_[at + 1] : 0;
            regs_[static_cast<std::size_t>(r)] = static_cast<std::uint16_t>(hi << 8 | lo);
        }
    }
}

// The archive command a write request puts into register 1000; 0 for none.
int Meter::CommandWritten(const std::uint8_t* req, int length) const {
    int function = req[1];
    int address = req[2] << 8 | req[3];
    int value = req[4] << 8 | req[5];
    if (function == 6 && address == ArchiveCommandRegister) return value;
    if (function == 16 && address <= ArchiveCommandRegister && ArchiveCommandRegister < address + value &&
        length >= 7 + 2 * (ArchiveCommandRegister - address) + 2) {
        int at = 7 + 2 * (ArchiveCommandRegister - address);
        return req[at] << 8 | req[at + 1];
    }
    return 0;
}

void Meter::Answer(modbus_t* ctx, const std::uint8_t* req, int length, int exception) {
    int function = req[1];
    int address = req[2] << 8 | req[3];
    int value = req[4] << 8 | req[5];
    if (exception > 0) {
        modbus_reply_exception(ctx, req, static_cast<unsigned>(exception));
        return;
    }
    if (!Supported(function)) {
        modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_FUNCTION);
        return;
    }
    if (function == 6 && address == ArchiveCommandRegister && !ValidCommand(value)) {
        modbus_reply_exception(ctx, req, MODBUS_EXCEPTION_ILLEGAL_DATA_VALUE);
        return;
    }
    if (function == 3 || function == 4) FillArchiveWindow(address, value);
    int command = CommandWritten(req, length);
    // One register space answers both read functions.
    modbus_mapping_t map{};
    map.nb_registers = map.nb_input_registers = MeterRegisters;
    map.tab_registers = map.tab_input_registers = regs_.data();
    modbus_reply(ctx, req, length, &map);
    if (ValidCommand(command)) Command(command);
}

// --- identification and default values ----------------------------------------

Identification IdentificationForType(int typeNum) {
    switch (typeNum) {
    case 0:
        return {0x1203, 0x0108, 0x00000000};
    case 4:
        return {0x1203, 0x0408, 0x00A10002};
    case 5:
        return {0x1101, 0x0000, 0x00000000};
    case 6:
        return {0x1101, 0x0200, 0x00000000};
    case 7:
        return {0x6105, 0x0408, 0x00A10002};
    case 8:
        return {0x1203, 0x0408, 0x00A10001};
    case 9:
        return {0x1203, 0x0408, 0x00A10004};
    case 10:
        return {0x1203, 0x0408, 0x00A1000A};
    default:
        throw std::invalid_argument("no identification gives device type " + std::to_string(typeNum));
    }
}

int TypeNumberOf(const Identification& id, int previous) {
    std::uint16_t c1 = id.Config1;
    std::uint32_t c2 = id.Config2;
    if (c1 & 0x0008) {
        if (!(c1 & 0x0400)) return 0;
        if (c2 & 0x01) return 8;
        if (c2 & 0x02) {
            if ((id.Version >> 8) == 0x61) return 7;
            if ((c2 & 0xDF) == 0x02) return 4;
            if ((c2 & 0xDF) == 0x0A || (c2 & 0xDF) == 0x1A) return 10;
            return previous;
        }
        if (c2 & 0x04) return 9;
        return 0;
    }
    if (c1 & 0x0100) return 0;
    if (c1 & 0x0200) return 6;
    return 5;
}

std::map<int, float> DefaultFloatRegisters() {
    std::map<int, float> r;
    // G: volume flows, m3/h
    const float g[] = {12.5f, 11.875f, 0.75f, 0.0f, 3.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // M: mass flows, t/h
    const float mm[] = {12.375f, 11.75f, 0.75f, 0.0f, 3.25f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // T: temperatures, degrees C
    const float t[] = {71.25f, 50.5f, 8.75f, 55.0f, 20.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // Q: heat power
    const float q[] = {0.253125f, 0.0f, 0.0f, 0.0f, 0.0f};
    // P: pressures, kgf/cm2
    const float p[] = {6.5f, 4.25f, 3.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // SM: accumulated masses, t
    const float sm[] = {123456.5f, 117890.25f, 1520.75f, 0.0f, 310.5f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    // E: accumulated heat
    const float e[] = {2345.625f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 10; ++i) {
        r[100 + 2 * i] = g[i];
        r[120 + 2 * i] = mm[i];
        r[140 + 2 * i] = t[i];
        r[170 + 2 * i] = p[i];
        r[400 + 2 * i] = sm[i];
    }
    for (int i = 0; i < 5; ++i) {
        r[160 + 2 * i] = q[i];
        r[420 + 2 * i] = e[i];
    }
    r[430] = 8760.0f; // Tr: running time, h
    const float tn[] = {8712.5f, 40.25f, 7.25f, 0.0f};
    for (int i = 0; i < 4; ++i)
        r[432 + 2 * i] = tn[i]; // Tn: state times, h
    return r;
}

} // namespace sim
