// Framed packets for the monitor: the CRC, every flaw, and the stream as it
// arrives on the line.
#include "sim/Packets.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

namespace {

TEST(SimPackets, ArcCrcCheckValues) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::ArcCrc(digits, 9), 0xBB3D);
    const std::uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(sim::ArcCrc(abc, 3), 0x9738);
    EXPECT_EQ(sim::ArcCrc(abc, 0), 0x0000);
}

TEST(SimPackets, FramesAndTheirFlaws) {
    sim::PacketFrame f;
    f.Final = 0xAA;
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 00 00 00 AA");
    f.Flaw = sim::PacketFlaw::WrongCrc;
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 00 01 00 AA");
    f.Data = {'a', 'b', 'c'};
    f.Flaw = sim::PacketFlaw::None;
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 03 38 97 61 62 63 AA");
    f.Flaw = sim::PacketFlaw::NoFinal;
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 03 38 97 61 62 63");
    f.Flaw = sim::PacketFlaw::CutShort;
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 03 38 97 61");
    f.Data.clear();
    EXPECT_EQ(Hex(sim::BuildPacket(f)), "23 23 01 02 00"); // cut within the header
}

TEST(SimPackets, StreamItemsAreWhatTheyClaim) {
    for (int seq = 0; seq < 48; ++seq) {
        for (auto item : {sim::PacketItem::Ok, sim::PacketItem::WrongCrc, sim::PacketItem::CutShort,
                          sim::PacketItem::NoFinal, sim::PacketItem::Garbage}) {
            auto b = sim::PacketStreamBytes(item, seq);
            if (item == sim::PacketItem::Garbage) {
                for (std::size_t i = 1; i < b.size(); ++i)
                    ASSERT_FALSE(b[i - 1] == 0x23 && b[i] == 0x23);
                continue;
            }
            ASSERT_GE(b.size(), 5u);
            std::size_t n = b[4];
            std::size_t whole = n + 8;
            std::uint16_t stored = static_cast<std::uint16_t>(b[5] | b[6] << 8);
            switch (item) {
            case sim::PacketItem::Ok:
                ASSERT_EQ(b.size(), whole);
                EXPECT_EQ(stored, sim::ArcCrc(b.data() + 7, n));
                break;
            case sim::PacketItem::WrongCrc:
                ASSERT_EQ(b.size(), whole);
                EXPECT_NE(stored, sim::ArcCrc(b.data() + 7, n));
                break;
            case sim::PacketItem::NoFinal:
                EXPECT_EQ(b.size(), whole - 1);
                break;
            default:
                EXPECT_LT(b.size(), whole - 1);
                break; // cut within the data
            }
        }
    }
    std::vector<sim::PacketItem> items;
    EXPECT_TRUE(sim::ParsePacketPattern("ok,crc,garbage", items));
    EXPECT_EQ(items.size(), 3u);
    EXPECT_FALSE(sim::ParsePacketPattern("ok,bad", items));
}

TEST(SimPackets, StreamAndSingleFramesArriveOnTheLine) {
    sim::Simulator s;
    s.Start();
    LineClient monitor(s.PortPath());
    sim::PacketStreamOptions options;
    options.IntervalMs = 10;
    options.Count = 8;
    s.StartPacketStream(options);
    std::vector<std::uint8_t> expected;
    auto pattern = sim::DefaultPacketPattern();
    for (int i = 0; i < 8; ++i) {
        auto b = sim::PacketStreamBytes(pattern[static_cast<std::size_t>(i)], i);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(Hex(monitor.Receive(static_cast<int>(expected.size()), 3000)), Hex(expected));
    EXPECT_EQ(s.PacketItemsSent(), 8);
    EXPECT_EQ(monitor.ReceiveHex(-1, 100), "");

    s.EmitBytes({0x41, 0x42});
    sim::PacketFrame f;
    f.Final = 0xAA;
    s.EmitPacket(f);
    EXPECT_EQ(monitor.ReceiveHex(10), "41 42 23 23 01 02 00 00 00 AA");
}

} // namespace
