// The gateway's exchanges with the PC: SetData and GetData on its cells, and
// SendPacket onto the RS-485 line, each step open to the armed faults.
#include "sim/Gateway.h"

#include "sim/ModbusCrc.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint8_t OpenCells = 0xB0;
constexpr std::uint8_t OpenPacket = 0x11;
constexpr std::uint8_t Ready = 0xDD;
constexpr std::uint8_t ReadyNoSignOn = 0x08;
constexpr std::uint8_t PacketReady = 0x22;
constexpr std::uint8_t CommandAccepted = 0x01;
constexpr std::uint8_t ByteMissing = 0x01; // SetData: a data byte did not arrive
constexpr std::size_t ShortHeader = 5;
constexpr std::size_t ZepLanHeader = 7;      // a ZEP-LAN command whose first header byte is 0
constexpr std::uint8_t MaxPacketBlock = 254; // a Modbus RTU frame holds 256 bytes, the check included
constexpr std::uint8_t BadCount = 6;

} // namespace

struct Gateway::Header {
    std::vector<std::uint8_t> bytes;
    std::uint8_t type = 0;
    std::uint8_t address = 0;
    int cell = 0;
    int count = 0;
    CellDevice* device = nullptr;
    bool zepLanMode = false; // command 0x81 or 0x82
};

bool Gateway::Opens(std::uint8_t byte) {
    return byte == OpenCells || byte == OpenPacket;
}

void Gateway::Exchange(std::uint8_t opening) {
    if (opening == OpenCells)
        CellExchange();
    else if (opening == OpenPacket)
        PacketExchange();
}

// Sends the byte of a one-byte step, or what a fault makes of it. Returns
// the byte the gateway goes on from (normally `normal`); nothing when the
// exchange ends here.
std::optional<std::uint8_t> Gateway::AnswerStep(Step step, std::uint8_t normal) {
    if (auto f = shared_.Pass(step)) return AnswerFault(*f, normal);
    pc_.Send({normal});
    return normal;
}

std::optional<std::uint8_t> Gateway::AnswerFault(const Fault& f, std::uint8_t normal) {
    switch (f.kind) {
    case FaultKind::NoAnswer:
        return std::nullopt;
    case FaultKind::Close:
        pc_.Close();
        return std::nullopt;
    case FaultKind::Delay:
        shared_.SleepMs(f.value);
        break;
    case FaultKind::Byte: {
        auto b = static_cast<std::uint8_t>(f.value);
        pc_.Send({b});
        return b;
    }
    case FaultKind::Corrupt:
        pc_.Send({static_cast<std::uint8_t>(normal ^ (f.value ? f.value : 0xFF))});
        return normal;
    case FaultKind::Drop:
        return normal;
    default:
        break;
    }
    pc_.Send({normal});
    return normal;
}

// Corrupt or Drop applied to a run of bytes.
void Gateway::Mangle(std::vector<std::uint8_t>& bytes, const Fault& f) {
    if (bytes.empty()) return;
    std::size_t at = f.index < 0 || static_cast<std::size_t>(f.index) >= bytes.size()
                         ? bytes.size() - 1
                         : static_cast<std::size_t>(f.index);
    if (f.kind == FaultKind::Corrupt) bytes[at] ^= static_cast<std::uint8_t>(f.value ? f.value : 0xFF);
    if (f.kind == FaultKind::Burst) {
        const std::size_t from = f.index < 0 ? bytes.size() / 2 : at;
        for (std::size_t i = from;
             i < bytes.size() && i < from + static_cast<std::size_t>(std::max(f.value, 1)); ++i)
            bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ (0x5A + i));
    }
    if (f.kind == FaultKind::Drop) bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// --- SetData / GetData -------------------------------------------------------

// The ready byte and the sign-on marker "ZP" (skipped after 0x08). An
// unexpected byte ends the exchange; an opening byte among them starts the
// next one.
bool Gateway::SignOn() {
    auto ready = AnswerStep(Step::Ready, Ready);
    if (!ready || (*ready != Ready && *ready != ReadyNoSignOn)) return false;
    if (*ready == ReadyNoSignOn) return true;
    for (std::uint8_t expect : {std::uint8_t('Z'), std::uint8_t('P')}) {
        auto b = pc_.Read(shared_.opt.ExchangeTimeoutMs);
        if (!b) return false;
        if (*b != expect) {
            pc_.PutBack(*b);
            return false;
        }
    }
    return true;
}

void Gateway::CellExchange() {
    if (!SignOn()) return;
    auto cmd = pc_.Read(shared_.opt.ExchangeTimeoutMs);
    if (!cmd) return;
    if (*cmd != 0x01 && *cmd != 0x81 && *cmd != 0x02 && *cmd != 0x82) return pc_.PutBack(*cmd);
    bool write = (*cmd & 0x7F) == 0x01;
    bool zepLanMode = (*cmd & 0x80) != 0;
    auto acc = AnswerStep(Step::Command, CommandAccepted);
    if (!acc || *acc != CommandAccepted) return;

    auto h = ReadHeader(zepLanMode);
    if (!h) return;
    std::uint8_t code = HeaderCode(*h);
    auto status = AnswerStep(Step::Header, code);
    if (!status || *status != 0 || code != 0) return;
    if (write)
        WritePhase(*h);
    else
        ReadPhase(*h);
}

// Header: 5 bytes, or 7 when a ZEP-LAN command's first byte is 0.
std::optional<Gateway::Header> Gateway::ReadHeader(bool zepLanMode) {
    Header h;
    h.zepLanMode = zepLanMode;
    while (h.bytes.size() < ShortHeader ||
           (zepLanMode && h.bytes[0] == 0x00 && h.bytes.size() < ZepLanHeader)) {
        auto b = pc_.Read(shared_.opt.ExchangeTimeoutMs);
        if (!b) return std::nullopt;
        h.bytes.push_back(*b);
    }
    return h;
}

// The status the gateway answers the header with: 0, or the error code of
// the first field it cannot accept.
std::uint8_t Gateway::HeaderCode(Header& h) {
    std::lock_guard lock(shared_.m);
    bool ourZepLan = h.bytes[1] == 0 || h.bytes[1] == zepLan;
    return h.bytes.size() == ZepLanHeader ? ZepLanHeaderCode(h, ourZepLan) : ShortHeaderCode(h, ourZepLan);
}

// 00, ZEP-LAN address, device address | 0x80, type, count, cell high, cell
// low; the error codes name the positions.
std::uint8_t Gateway::ZepLanHeaderCode(Header& h, bool ourZepLan) {
    const auto& b = h.bytes;
    h.type = b[3];
    h.address = b[2] & 0x7F;
    h.count = b[4];
    h.cell = b[5] << 8 | b[6];
    h.device = cells_.Find(h.type, h.address);
    if (!ourZepLan) return 3;
    if (!(b[2] & 0x80) || !cells_.FindByAddress(h.address)) return 4;
    if (!h.device) return 5;
    if (h.count == 0) return BadCount;
    return GatewayCells::RangeCode(*h.device, h.cell, h.count, 10, 11);
}

// Type, address, cell high, cell low, count. In ZEP-LAN mode the device on
// the gateway's own I2C bus is found by its type.
std::uint8_t Gateway::ShortHeaderCode(Header& h, bool ourZepLan) {
    const auto& b = h.bytes;
    h.type = b[0];
    h.cell = b[2] << 8 | b[3];
    h.count = b[4];
    std::uint8_t code = 0;
    if (h.zepLanMode) {
        h.device = cells_.FindByType(h.type);
        if (!h.device)
            code = 2;
        else if (!ourZepLan)
            code = 3;
    } else {
        h.device = cells_.Find(h.type, b[1]);
        if (!cells_.FindByType(h.type))
            code = 2;
        else if (!h.device)
            code = 3;
    }
    h.address = h.device ? h.device->address : b[1];
    return code ? code : GatewayCells::RangeCode(*h.device, h.cell, h.count, 4, 5);
}

// SetData's data phase: the bytes, stored unless a fault changes the final
// status, then the final status.
void Gateway::WritePhase(const Header& h) {
    std::vector<std::uint8_t> data;
    while (static_cast<int>(data.size()) < h.count) {
        auto b = pc_.Read(shared_.opt.ExchangeTimeoutMs);
        if (!b) {
            pc_.Send({ByteMissing});
            return;
        }
        data.push_back(*b);
    }
    auto f = shared_.Pass(Step::Final);
    std::uint8_t final = 0x00;
    if (f && f->kind == FaultKind::Byte) final = static_cast<std::uint8_t>(f->value);
    if (final == 0x00) {
        std::lock_guard lock(shared_.m);
        if (cells_.Store(h.type, h.address, h.cell, data))
            busyUntil_ = Clock::now() + std::chrono::milliseconds(shared_.opt.ApplyBusyMs);
    }
    if (f && f->kind == FaultKind::NoAnswer) return;
    if (f && f->kind == FaultKind::Close) return pc_.Close();
    if (f && f->kind == FaultKind::Delay) shared_.SleepMs(f->value);
    pc_.Send({final});
}

// GetData's data phase: the cells' bytes, then a trailing 0x00.
void Gateway::ReadPhase(const Header& h) {
    std::vector<std::uint8_t> data;
    {
        std::lock_guard lock(shared_.m);
        data = cells_.Read(h.type, h.address, h.cell, h.count);
    }
    bool trailer = true;
    if (auto f = shared_.Pass(Step::Data)) {
        switch (f->kind) {
        case FaultKind::NoAnswer:
            return;
        case FaultKind::Close:
            return pc_.Close();
        case FaultKind::Delay:
            shared_.SleepMs(f->value);
            break;
        case FaultKind::Short:
            data.resize(std::min<std::size_t>(data.size(), static_cast<std::size_t>(std::max(f->value, 0))));
            if (f->trailing01) data.push_back(0x01);
            trailer = false;
            break;
        default:
            Mangle(data, *f);
            break;
        }
    }
    pc_.Send(data);
    if (trailer) AnswerStep(Step::Final, 0x00);
}

// --- SendPacket ----------------------------------------------------------------

// 0x22, the block (a length byte and the frame without its check), the
// status; then the frame with its Modbus check goes onto the RS-485 line.
void Gateway::PacketExchange() {
    auto ready = AnswerStep(Step::PacketReady, PacketReady);
    if (!ready || *ready != PacketReady) return;
    auto len = pc_.Read(shared_.opt.ExchangeTimeoutMs);
    if (!len) return;
    std::vector<std::uint8_t> frame;
    while (frame.size() < *len) {
        auto b = pc_.Read(shared_.opt.ExchangeTimeoutMs);
        if (!b) return;
        frame.push_back(*b);
    }
    std::uint8_t code = (*len < 2 || *len > MaxPacketBlock) ? BadCount : 0;
    auto status = AnswerStep(Step::PacketStatus, code);
    if (!status || *status != 0 || code != 0) return;

    std::uint16_t crc = ModbusCrc(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    if (auto f = shared_.Pass(Step::MeterRequest)) {
        if (f->kind == FaultKind::NoAnswer) return;
        if (f->kind == FaultKind::Close) return pc_.Close();
        if (f->kind == FaultKind::Delay) shared_.SleepMs(f->value);
        Mangle(frame, *f);
    }
    ForwardAnswer(); // whatever was left of an earlier answer goes first
    SendMeter(frame);
}

} // namespace sim
