// Request blocks, the end-of-answer rule, byte reversal and the packet CRC.
#include "archive/ArchiveRequests.h"
#include "base/Bytes.h"
#include "console/Framing.h"
#include "support/Pty.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string HexOf(const RequestBlock& b) {
    return Hex(std::vector<std::uint8_t>(b.begin(), b.end()));
}

// Feeds an answer byte by byte through the rule; returns the 1-based count
// of bytes after which it is complete, or 0 when it never completes.
int CompletesAfter(const std::vector<std::uint8_t>& bytes) {
    int n = 0;
    for (int i = 0; i < static_cast<int>(bytes.size()); ++i) {
        if (i == 2) n = bytes[2];
        if (ClassifyAnswerByte(i, n) == AnswerByte::Last) return i + 1;
    }
    return 0;
}

TEST(PacketCrc, PublishedCheckValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(PacketCrc(reinterpret_cast<const std::uint8_t*>(digits.data()), 9), 0xBB3D);
    const std::string abc = "abc";
    EXPECT_EQ(PacketCrc(reinterpret_cast<const std::uint8_t*>(abc.data()), 3), 0x9738);
    EXPECT_EQ(PacketCrc(nullptr, 0), 0x0000);
}

TEST(ConvertNaoborot, ReversesTheGivenRunOnly) {
    std::vector<std::uint8_t> b = Bytes("11 22 33 44 55");
    ConvertNaoborot(0, b.data());
    ConvertNaoborot(1, b.data());
    EXPECT_EQ(Hex(b), "11 22 33 44 55");
    ConvertNaoborot(2, b.data());
    EXPECT_EQ(Hex(b), "22 11 33 44 55");
    b = Bytes("11 22 33 44 55");
    ConvertNaoborot(4, b.data());
    EXPECT_EQ(Hex(b), "44 33 22 11 55");
    b = Bytes("11 22 33");
    ConvertNaoborot(3, b.data());
    EXPECT_EQ(Hex(b), "33 22 11");
    // Runs longer than an 8-bit counter can walk are reversed whole.
    std::vector<std::uint8_t> big(600);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    ConvertNaoborot(600, big.data());
    EXPECT_EQ(big[0], static_cast<std::uint8_t>(599));
    EXPECT_EQ(big[599], 0);
    EXPECT_EQ(big[300], static_cast<std::uint8_t>(299));
}

TEST(RequestBlocks, EveryRequestTheProgramSends) {
    EXPECT_EQ(HexOf(IdentRequest(0x21)), "06 21 04 00 04 00 04");
    EXPECT_EQ(HexOf(ArchiveCommandRequest(1, 1)), "06 01 06 03 E8 00 01");
    EXPECT_EQ(HexOf(ArchiveCommandRequest(1, 6)), "06 01 06 03 E8 00 06");
    EXPECT_EQ(HexOf(ArchiveLengthRequest(7)), "06 07 04 03 E9 00 01");
    EXPECT_EQ(HexOf(ArchiveChunkRequest(1, 0, 125)), "06 01 04 03 EA 00 7D");
    EXPECT_EQ(HexOf(ArchiveChunkRequest(1, 250, 25)), "06 01 04 04 E4 00 19"); // 1252
    EXPECT_EQ(HexOf(MakeRequest(1, 6, 0x1234, 300)), "06 01 06 12 34 01 2C");
}

TEST(RequestBlocks, WriteMultipleCarriesTheTextBytes) {
    EXPECT_EQ(Hex(WriteMultipleRequest(1, 0, "ABC")), "0A 01 10 00 00 00 02 03 41 42 43");
    EXPECT_EQ(Hex(WriteMultipleRequest(2, 0x0102, "AB")), "09 02 10 01 02 00 01 02 41 42");
    EXPECT_EQ(Hex(WriteMultipleRequest(1, 0, "")), "07 01 10 00 00 00 00 00");
    // The longest text whose length byte L = 7 + n still fits.
    const auto full = WriteMultipleRequest(1, 0, std::string(MaxWriteDataBytes, 'x'));
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(full[0], 255);
    EXPECT_EQ(full[6], 124);
    EXPECT_EQ(full[7], 248);
}

TEST(AnswerRule, CompleteAtIndexNPlus4WhateverTheFunction) {
    EXPECT_EQ(CompletesAfter(Bytes("01 04 02 12 34 C1 C2 99")), 7);
    EXPECT_EQ(CompletesAfter(Bytes("01 04 00 C1 C2 99")), 5);
    // The echo of a write to register 1000: 0x03 is taken as the count.
    EXPECT_EQ(CompletesAfter(Bytes("01 06 03 E8 00 01 C1 C2 99")), 8);
    // An exception answer is not recognised: two more bytes are taken.
    EXPECT_EQ(CompletesAfter(Bytes("01 84 02 C1 C2")), 0);
    EXPECT_EQ(CompletesAfter(Bytes("01 84 02 C1 C2 01 04")), 7);
}

// The buffer framer: what it says of the bytes received so far.
TEST(AnswerRule, FramerOverABufferAsATable) {
    using S = AnswerFrame::State;
    struct Row {
        const char* bytes;
        std::uint8_t awaited; // function whose refusal is recognised
        S state;
        int lackingOrSize; // Incomplete: bytes lacking; otherwise the answer's size
        int dataOrCode;    // Complete: data bytes; Refused: the code
    };
    const Row table[] = {
        {"", 0, S::Incomplete, 3, 0},
        {"01 04", 4, S::Incomplete, 1, 0},
        {"01 04 02 12", 4, S::Incomplete, 3, 0},
        {"01 04 02 12 34 C1", 4, S::Incomplete, 1, 0},
        {"01 04 02 12 34 C1 C2", 4, S::Complete, 7, 2},
        {"01 04 02 12 34 C1 C2 99 98", 4, S::Complete, 7, 2}, // later bytes are not its own
        {"01 04 00 C1 C2", 4, S::Complete, 5, 0},
        {"01 06 03 E8 00 01 C1 C2", 6, S::Complete, 8, 3}, // an echo ends on its 8th byte
        {"01 84 02 C1", 4, S::Incomplete, 1, 0},
        {"01 84 02 C1 C2", 4, S::Refused, 5, 2},
        {"01 86 03 C1 C2", 6, S::Refused, 5, 3},
        {"01 84 02 C1 C2", 0, S::Incomplete, 2, 0}, // not recognised: counted as n = 2
        {"01 84 02 C1 C2", 6, S::Incomplete, 2, 0}, // a refusal of another request likewise
        {"01 84 02 C1 C2 01 04", 0, S::Complete, 7, 2},
        {"01 04 FF", 4, S::Incomplete, 257, 0},
    };
    for (const Row& r : table) {
        const std::vector<std::uint8_t> b = Bytes(r.bytes);
        const AnswerFrame f = FrameAnswer(b.data(), b.size(), r.awaited);
        EXPECT_EQ(f.state, r.state) << r.bytes;
        if (r.state == S::Incomplete) {
            EXPECT_EQ(f.lacking, r.lackingOrSize) << r.bytes;
        }
        if (r.state != S::Incomplete) {
            EXPECT_EQ(f.size, r.lackingOrSize) << r.bytes;
        }
        if (r.state == S::Complete) {
            EXPECT_EQ(f.dataSize, r.dataOrCode) << r.bytes;
        }
        if (r.state == S::Refused) {
            EXPECT_EQ(f.code, r.dataOrCode) << r.bytes;
        }
    }
}

TEST(AnswerRule, RolesOfTheBytes) {
    const AnswerByte expected[] = {AnswerByte::Head, AnswerByte::Head, AnswerByte::Count,
                                   AnswerByte::Data, AnswerByte::Data, AnswerByte::FirstCheck,
                                   AnswerByte::Last};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(ClassifyAnswerByte(i, 2), expected[i]) << i;
}

} // namespace
