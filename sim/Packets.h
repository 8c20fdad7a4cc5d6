// Framed packets for the packet monitor: marker 0x23 0x23, two bytes, the
// data length N, CRC-16/ARC of the data (low byte first), the data and one
// final byte; and the flawed variants a line can deliver.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
std::uint16_t ArcCrc(const std::uint8_t* data, std::size_t count);

enum class PacketFlaw {
    None,
    WrongCrc, // the stored CRC is off by one
    CutShort, // the frame stops halfway through its data (no CRC-covered tail, no final byte)
    NoFinal,  // everything but the final byte
};

struct PacketFrame {
    std::uint8_t Byte0 = 0x01; // the two bytes after the marker, not interpreted
    std::uint8_t Byte1 = 0x02;
    std::vector<std::uint8_t> Data; // at most 255 bytes
    std::uint8_t Final = 0x0D;
    PacketFlaw Flaw = PacketFlaw::None;
};

// The bytes of a frame on the line, marker included.
std::vector<std::uint8_t> BuildPacket(const PacketFrame& frame);

// Items of a packet stream.
enum class PacketItem { Ok, WrongCrc, CutShort, NoFinal, Garbage };

// "ok,crc,cut,nofinal,garbage" -> items; false on an unknown name.
bool ParsePacketPattern(const std::string& text, std::vector<PacketItem>& items);

// ok, ok, crc, ok, nofinal, ok, cut, garbage
std::vector<PacketItem> DefaultPacketPattern();

// The bytes the stream sends for item number `sequence` of kind `item`:
// deterministic, so tests know what to expect. Garbage is a run of unframed
// bytes that holds no two 0x23 in a row.
std::vector<std::uint8_t> PacketStreamBytes(PacketItem item, int sequence);

struct PacketStreamOptions {
    int IntervalMs = 500; // silence between items (the monitor needs >150 ms to end a cut packet)
    std::vector<PacketItem> Pattern = DefaultPacketPattern();
    int Count = -1; // items to send; -1 = until stopped
};

} // namespace sim
