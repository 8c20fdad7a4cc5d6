// Packet frames for the monitor and the deterministic stream of them.
#include "sim/Packets.h"

#include "sim/ModbusCrc.h"

#include <sstream>

namespace sim {

std::uint16_t ArcCrc(const std::uint8_t* data, std::size_t count) {
    return Crc16A001(data, count, 0);
}

std::vector<std::uint8_t> BuildPacket(const PacketFrame& frame) {
    std::size_t n = frame.Data.size() > 255 ? 255 : frame.Data.size();
    std::uint16_t crc = ArcCrc(frame.Data.data(), n);
    if (frame.Flaw == PacketFlaw::WrongCrc) crc = static_cast<std::uint16_t>(crc + 1);
    std::vector<std::uint8_t> out;
    out.reserve(n + 8);
    for (std::uint8_t b :
         {std::uint8_t(0x23), std::uint8_t(0x23), frame.Byte0, frame.Byte1, static_cast<std::uint8_t>(n),
          static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)})
        out.push_back(b);
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(frame.Data[i]);
    out.push_back(frame.Final);
    if (frame.Flaw == PacketFlaw::NoFinal) out.pop_back();
    // Marker, the 5 header bytes and half the data; without data, cut within the header.
    if (frame.Flaw == PacketFlaw::CutShort) out.resize(n == 0 ? 5 : 7 + n / 2);
    return out;
}

namespace {
struct ItemName {
    PacketItem item;
    const char* name;
};
const ItemName ItemNames[] = {{PacketItem::Ok, "ok"},
                              {PacketItem::WrongCrc, "crc"},
                              {PacketItem::CutShort, "cut"},
                              {PacketItem::NoFinal, "nofinal"},
                              {PacketItem::Garbage, "garbage"}};
} // namespace

bool ParsePacketPattern(const std::string& text, std::vector<PacketItem>& items) {
    std::vector<PacketItem> out;
    std::istringstream in(text);
    std::string word;
    while (std::getline(in, word, ',')) {
        bool found = false;
        for (const auto& e : ItemNames)
            if (word == e.name) {
                out.push_back(e.item);
                found = true;
            }
        if (!found) return false;
    }
    if (out.empty()) return false;
    items = out;
    return true;
}

std::vector<PacketItem> DefaultPacketPattern() {
    return {PacketItem::Ok,      PacketItem::Ok, PacketItem::WrongCrc, PacketItem::Ok,
            PacketItem::NoFinal, PacketItem::Ok, PacketItem::CutShort, PacketItem::Garbage};
}

std::vector<std::uint8_t> PacketStreamBytes(PacketItem item, int sequence) {
    auto seq = static_cast<std::uint8_t>(sequence & 0xFF);
    if (item == PacketItem::Garbage) {
        // A single 0x23 between other bytes: never a marker.
        return {0x41, 0x42, 0x23, static_cast<std::uint8_t>(0x30 + (sequence % 10)), 0x0D, 0x0A};
    }
    PacketFrame f;
    f.Byte0 = 0x01;
    f.Byte1 = 0x02;
    // A sequence number and a few readings; 0 to 11 data bytes.
    std::size_t n = static_cast<std::size_t>(sequence % 12);
    if (item == PacketItem::CutShort && n < 2) n = 2; // a cut within the data
    for (std::size_t i = 0; i < n; ++i)
        f.Data.push_back(static_cast<std::uint8_t>(i == 0 ? seq : seq * 7 + i * 13));
    f.Final = 0x0D;
    f.Flaw = item == PacketItem::WrongCrc   ? PacketFlaw::WrongCrc
             : item == PacketItem::CutShort ? PacketFlaw::CutShort
             : item == PacketItem::NoFinal  ? PacketFlaw::NoFinal
                                            : PacketFlaw::None;
    return BuildPacket(f);
}

} // namespace sim
