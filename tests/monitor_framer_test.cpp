// The packet framer on byte sequences: marker hunting, complete packets,
// silence, the buffer's limit, and the text and colour of each line class.
#include "base/Bytes.h"
#include "monitor/PacketFramer.h"
#include "support/Pty.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Records each shown line as its text.
class Lines : public PacketScreen {
public:
    void ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) override {
        text.push_back(PacketLineText(bytes, length, cls));
        classes.push_back(cls);
    }
    std::vector<std::string> text;
    std::vector<PacketClass> classes;
};

class Framer : public ::testing::Test {
protected:
    void SetUp() override { framer.Start(0); }
    void Feed(const std::string& hex) {
        for (auto b : Bytes(hex))
            framer.Feed(b);
    }
    void Feed(const std::vector<std::uint8_t>& bytes) {
        for (auto b : bytes)
            framer.Feed(b);
    }
    Lines lines;
    PacketFramer framer{lines};
};

using Texts = std::vector<std::string>;

TEST_F(Framer, BytesBeforeTheMarkerAreShownAsBadWhenItArrives) {
    Feed("41 42 23");
    EXPECT_TRUE(lines.text.empty());
    Feed("23");
    EXPECT_EQ(lines.text, Texts{"BAD  : 41 42 "});
    EXPECT_TRUE(framer.InPacket());
    EXPECT_EQ(framer.Count(), 0);
}

TEST_F(Framer, MarkerAtTheStartGivesNoBadLine) {
    Feed("23 23");
    EXPECT_TRUE(lines.text.empty());
    EXPECT_TRUE(framer.InPacket());
}

TEST_F(Framer, ThirdMarkerByteIsPacketByteZero) {
    Feed("23 23 23 02 00 00 00 AA");
    EXPECT_EQ(lines.text, Texts{"OK   : 23 02 00 00 00 [AA] "});
}

TEST_F(Framer, SingleMarkerByteBetweenOthersStartsNothing) {
    Feed("41 23 42 23 23");
    EXPECT_EQ(lines.text, Texts{"BAD  : 41 23 42 "});
}

TEST_F(Framer, EmptyPacketIsCompleteAfterSixBytesAndChecksItsCrc) {
    Feed("23 23 01 02 00 00 00 AA");
    Feed("23 23 01 02 00 01 00 AA");
    EXPECT_EQ(lines.text, (Texts{"OK   : 01 02 00 00 00 [AA] ", "CRC  : 01 02 00 01 00 [AA] "}));
    EXPECT_EQ(lines.classes, (std::vector{PacketClass::OK, PacketClass::CRC}));
    EXPECT_FALSE(framer.InPacket());
}

TEST_F(Framer, CrcIsLowByteFirstOverTheDataOnly) {
    const std::vector<std::uint8_t> data{0x10, 0x20, 0x30};
    const std::uint16_t crc = PacketCrc(data.data(), 3);
    std::vector<std::uint8_t> packet{0x23,
                                     0x23,
                                     0x05,
                                     0x06,
                                     0x03,
                                     static_cast<std::uint8_t>(crc & 0xFF),
                                     static_cast<std::uint8_t>(crc >> 8),
                                     0x10,
                                     0x20,
                                     0x30,
                                     0x7E};
    Feed(packet);
    // Swapped CRC bytes: the same packet fails.
    std::swap(packet[5], packet[6]);
    Feed(packet);
    ASSERT_EQ(lines.text.size(), 2u);
    EXPECT_EQ(lines.text[0], "OK   : 05 06 03 " + Hex({packet[6], packet[5]}) + " 10 20 30 [7E] ");
    EXPECT_EQ(lines.classes[1], PacketClass::CRC);
}

TEST_F(Framer, SilenceEndsAPacketAfterMoreThanTwoTicks) {
    Feed("23 23 01 02 00 00 00"); // all but the final byte
    framer.BatchDone(10);
    framer.Idle(11);
    framer.Idle(12);
    EXPECT_TRUE(lines.text.empty());
    framer.Idle(13);
    EXPECT_EQ(lines.text, Texts{"OK_NA: 01 02 00 00 00 "});
    EXPECT_FALSE(framer.InPacket());
    framer.Idle(20);
    EXPECT_EQ(lines.text.size(), 1u);
}

TEST_F(Framer, SilenceClassifiesWhatArrived) {
    Feed("23 23 01 02 00 01 00");
    framer.EndBySilence();
    Feed("23 23 01 02 03 00 00 41");
    framer.EndBySilence();
    Feed("23 23");
    framer.EndBySilence();
    EXPECT_EQ(lines.text, (Texts{"CRCNA: 01 02 00 01 00 ", "PART : 01 02 03 00 00 41 ", "PART : "}));
    EXPECT_EQ(lines.classes, (std::vector{PacketClass::CRCNA, PacketClass::PART, PacketClass::PART}));
}

TEST_F(Framer, SilenceWhileHuntingKeepsTheBytesForTheNextMarker) {
    Feed("41 42");
    framer.Idle(100);
    framer.EndBySilence();
    EXPECT_TRUE(lines.text.empty());
    Feed("23 23");
    EXPECT_EQ(lines.text, Texts{"BAD  : 41 42 "});
}

TEST_F(Framer, UnframedRunLongerThanTheBufferIsShownAndRestarted) {
    std::vector<std::uint8_t> run(141);
    for (size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<std::uint8_t>(i);
    Feed(run);
    ASSERT_EQ(lines.text.size(), 1u);
    EXPECT_EQ(lines.classes[0], PacketClass::BAD);
    EXPECT_EQ(lines.text[0],
              "BAD  : " + Hex(std::vector<std::uint8_t>(run.begin(), run.begin() + 140)) + " ");
    Feed("23 23");
    EXPECT_EQ(lines.text.back(), "BAD  : 8C ");
}

TEST_F(Framer, MarkerStraddlingAFullBufferStillStartsAPacket) {
    Feed(std::vector<std::uint8_t>(139, 0x55));
    Feed("23 23 01 02 00 00 00 AA");
    ASSERT_EQ(lines.text.size(), 2u);
    EXPECT_EQ(lines.text[0].size(), 7u + 3u * 139u); // the 0x23 is not shown
    EXPECT_EQ(lines.text[1], "OK   : 01 02 00 00 00 [AA] ");
}

TEST_F(Framer, PacketLongerThanTheBufferIsShownAsPartAndHuntingResumes) {
    std::vector<std::uint8_t> packet{0x23, 0x23, 0x01, 0x02, 200, 0x00, 0x00};
    packet.resize(2 + 206, 0x77);
    Feed(packet);
    ASSERT_EQ(lines.text.size(), 1u);
    EXPECT_EQ(lines.classes[0], PacketClass::PART);
    EXPECT_EQ(lines.text[0].size(), 7u + 3u * 140u);
    EXPECT_FALSE(framer.InPacket());
    // The rest of the packet is unframed until the next marker.
    Feed("23 23");
    EXPECT_EQ(lines.text.back(), "BAD  : " + Hex(std::vector<std::uint8_t>(206 - 140, 0x77)) + " ");
}

TEST_F(Framer, LargestPacketThatFitsIsComplete) {
    std::vector<std::uint8_t> data(134, 0x31);
    const std::uint16_t crc = PacketCrc(data.data(), 134);
    Feed(std::vector<std::uint8_t>{0x23, 0x23, 0x00, 0x00, 134, static_cast<std::uint8_t>(crc),
                                   static_cast<std::uint8_t>(crc >> 8)});
    Feed(data);
    Feed("0D");
    ASSERT_EQ(lines.classes, std::vector{PacketClass::OK});
    EXPECT_EQ(lines.text[0].substr(lines.text[0].size() - 5), "[0D] ");
}

TEST(PacketLine, PrefixesAndColoursOfEveryClass) {
    const std::uint8_t b[] = {0xAB, 0x0C};
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::OK), "OK   : AB [0C] ");
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::CRC), "CRC  : AB [0C] ");
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::PART), "PART : AB 0C ");
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::BAD), "BAD  : AB 0C ");
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::OK_NA), "OK_NA: AB 0C ");
    EXPECT_EQ(PacketLineText(b, 2, PacketClass::CRCNA), "CRCNA: AB 0C ");

    const PacketColor def{true, 0, 0, 0}, red{false, 255, 0, 0}, blue{false, 0, 0, 255},
        green{false, 0, 128, 0};
    EXPECT_EQ(PacketLineColor(PacketClass::OK), def);
    EXPECT_EQ(PacketLineColor(PacketClass::OK_NA), def);
    EXPECT_EQ(PacketLineColor(PacketClass::CRC), red);
    EXPECT_EQ(PacketLineColor(PacketClass::CRCNA), red);
    EXPECT_EQ(PacketLineColor(PacketClass::PART), blue);
    EXPECT_EQ(PacketLineColor(PacketClass::BAD), green);
}

} // namespace
