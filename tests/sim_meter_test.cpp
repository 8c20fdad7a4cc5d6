// The meter behind the simulated gateway, reached through SendPacket as the
// configurator reaches it: identification, measured values, the Modbus
// functions and exceptions, and both archives read by hand.
#include "sim/ModbusCrc.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class Meter : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }

    // Hands the block (length byte added here) to the gateway and returns the
    // meter's raw answer of `answerLength` bytes.
    std::vector<std::uint8_t> Request(const std::string& hex, int answerLength) {
        auto body = Bytes(hex);
        body.insert(body.begin(), static_cast<std::uint8_t>(body.size()));
        pc.Send("11");
        EXPECT_EQ(pc.ReceiveHex(1), "22");
        pc.Send(body);
        EXPECT_EQ(pc.ReceiveHex(1), "00");
        auto answer = pc.Receive(answerLength, 2000);
        EXPECT_EQ(static_cast<int>(answer.size()), answerLength) << hex;
        if (answer.size() >= 3) {
            std::uint16_t crc = sim::ModbusCrc(answer.data(), answer.size() - 2);
            EXPECT_EQ(answer[answer.size() - 2] | answer[answer.size() - 1] << 8, crc)
                << "check bytes of " << Hex(answer);
        }
        return answer;
    }
    // Data bytes of a function 04 read of `count` registers from `reg`.
    std::vector<std::uint8_t> Read(int reg, int count, int function = 4) {
        char hex[64];
        std::snprintf(hex, sizeof hex, "01 %02X %02X %02X 00 %02X", function, reg >> 8, reg & 0xFF, count);
        auto a = Request(hex, 5 + 2 * count);
        if (a.size() < 5) return {};
        EXPECT_EQ(a[2], 2 * count);
        return std::vector<std::uint8_t>(a.begin() + 3, a.end() - 2);
    }
    void Command(int value) {
        char hex[64];
        std::snprintf(hex, sizeof hex, "01 06 03 E8 00 %02X", value);
        auto echo = Request(hex, 8);
        EXPECT_EQ(Hex(echo).substr(0, 17), hex);
    }
    int Length() {
        auto d = Read(1001, 1);
        return d.size() == 2 ? d[0] << 8 | d[1] : -1;
    }
    // Reads `length` bytes from 1002 on in chunks of at most 125 registers,
    // the start register advancing by the bytes already requested.
    std::vector<std::uint8_t> ReadWindow(int length) {
        std::vector<std::uint8_t> out;
        int offset = 0;
        while (offset < length) {
            int left = length - offset;
            int regs = left > 250 ? 125 : (left + 1) / 2;
            auto chunk = Read(1002 + offset, regs);
            out.insert(out.end(), chunk.begin(), chunk.end());
            offset += 2 * regs;
        }
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    std::vector<std::vector<std::uint8_t>> ReadArchive(int start, int next, std::string& templateText) {
        Command(start);
        int len = Length();
        auto t = ReadWindow(len);
        templateText.assign(t.begin(), t.end());
        std::vector<std::vector<std::uint8_t>> rows;
        for (;;) {
            Command(next);
            int rowLen = Length();
            if (rowLen <= 0) break;
            rows.push_back(ReadWindow(rowLen));
        }
        return rows;
    }

    sim::Simulator sim;
    LineClient pc{sim.PortPath()};
};

TEST_F(Meter, IdentificationRegistersGiveEveryDeviceType) {
    // Default: version 0x1203, configuration 0x0408 and 0x00A10002: type 4.
    EXPECT_EQ(Hex(Read(4, 4)), "12 03 04 08 00 A1 00 02");
    for (int type : {0, 4, 5, 6, 7, 8, 9, 10}) {
        sim.SetDeviceType(type);
        auto d = Read(4, 4);
        sim::Identification id{static_cast<std::uint16_t>(d[0] << 8 | d[1]),
                               static_cast<std::uint16_t>(d[2] << 8 | d[3]), BigEndian32(d, 4)};
        EXPECT_EQ(sim::TypeNumberOf(id, 99), type);
    }
    EXPECT_THROW(sim.SetDeviceType(3), std::invalid_argument);
}

TEST(MeterIdentification, DecisionTableExamples) {
    EXPECT_EQ(sim::TypeNumberOf({0x0000, 0x0408, 0x01}), 8);
    EXPECT_EQ(sim::TypeNumberOf({0x1200, 0x0408, 0x2A}), 10);
    EXPECT_EQ(sim::TypeNumberOf({0x6105, 0x0408, 0x02}), 7);
    EXPECT_EQ(sim::TypeNumberOf({0x0000, 0x0000, 0}), 5);
    EXPECT_EQ(sim::TypeNumberOf({0x0000, 0x0200, 0}), 6);
    EXPECT_EQ(sim::TypeNumberOf({0x0000, 0x0108, 0}), 0);
    EXPECT_EQ(sim::TypeNumberOf({0x1200, 0x0408, 0x06}, 9), 9); // bit 1 set, no value matches: unchanged
}

TEST_F(Meter, MeasuredValuesAreBigEndianFloatsInBothReadFunctions) {
    EXPECT_EQ(Hex(Read(100, 4)), "41 48 00 00 41 3E 00 00"); // G1 12.5, G2 11.875
    EXPECT_EQ(Hex(Read(100, 4, 3)), "41 48 00 00 41 3E 00 00");
    for (auto [reg, value] : sim::DefaultFloatRegisters()) {
        auto d = Read(reg, 2);
        std::uint32_t bits = BigEndian32(d, 0);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        EXPECT_EQ(f, value) << "register " << reg;
    }
    sim.SetFloat(430, -1.5f);
    EXPECT_EQ(Hex(Read(430, 2)), "BF C0 00 00");
    EXPECT_EQ(sim.Float(140), 71.25f);
}

TEST_F(Meter, WritesAreEchoedAndReadBack) {
    auto echo = Request("01 06 00 10 12 34", 8);
    EXPECT_EQ(Hex(echo).substr(0, 17), "01 06 00 10 12 34");
    EXPECT_EQ(Hex(Read(0x10, 1, 3)), "12 34");
    auto answer = Request("01 10 00 20 00 02 04 41 42 43 44", 8);
    EXPECT_EQ(Hex(answer).substr(0, 17), "01 10 00 20 00 02");
    EXPECT_EQ(Hex(Read(0x20, 2)), "41 42 43 44");
    EXPECT_EQ(sim.Register(0x21), 0x4344);
}

TEST_F(Meter, ExceptionAnswersForWhatItDoesNotSupport) {
    EXPECT_EQ(Hex(Request("01 01 00 00 00 08", 5)).substr(0, 8), "01 81 01"); // coils: not a meter's
    EXPECT_EQ(Hex(Request("01 07 00 00 00 00", 5)).substr(0, 8), "01 87 01"); // unknown function
    EXPECT_EQ(Hex(Request("01 04 0F FF 00 02", 5)).substr(0, 8), "01 84 02"); // past the map
    EXPECT_EQ(Hex(Request("01 04 00 00 00 7E", 5)).substr(0, 8), "01 84 03"); // 126 registers
    EXPECT_EQ(Hex(Request("01 06 03 E8 00 03", 5)).substr(0, 8), "01 86 03"); // no such archive command
    // And it still answers properly afterwards.
    EXPECT_EQ(Hex(Read(4, 1)), "12 03");
}

TEST_F(Meter, AnswersOnlyAtItsOwnAddress) {
    pc.Send("11");
    pc.Receive(1);
    pc.Send("06 02 04 00 04 00 01");
    EXPECT_EQ(pc.ReceiveHex(-1, 300), "00");
    sim.SetMeterAddress(2);
    EXPECT_EQ(Hex(Request("02 04 00 04 00 01", 7)).substr(0, 14), "02 04 02 12 03");
}

TEST_F(Meter, DayArchiveReadByHand) {
    std::string templateText;
    auto rows = ReadArchive(1, 2, templateText);
    EXPECT_EQ(templateText, sim::DefaultDayTemplate);
    ASSERT_EQ(rows.size(), 31u);
    EXPECT_EQ(rows, sim::ArchiveRowBytes(sim::DefaultDayArchive(), sim::ArchiveKind::Day));
    // Past the end the length stays 0; the finish command closes the window.
    Command(2);
    EXPECT_EQ(Length(), 0);
    Command(1);
    EXPECT_EQ(Length(), static_cast<int>(std::strlen(sim::DefaultDayTemplate)));
    Command(4);
    EXPECT_EQ(Length(), 0);
    EXPECT_EQ(sim.LastArchiveCommand(), 4);
}

TEST_F(Meter, HourArchiveReadByHand) {
    sim.SetArchive(sim::ArchiveKind::Hour, sim::DefaultHourArchive(30));
    std::string templateText;
    auto rows = ReadArchive(5, 6, templateText);
    EXPECT_EQ(templateText, sim::DefaultHourTemplate);
    EXPECT_EQ(rows, sim.ArchiveRows(sim::ArchiveKind::Hour));
    EXPECT_EQ(rows.size(), 30u);
    Command(8);
    EXPECT_EQ(Length(), 0);
}

TEST_F(Meter, LongTemplateComesInChunksByByteOffset) {
    std::string text = sim::TemplateOfLength(300);
    sim.SetArchive(sim::ArchiveKind::Day, sim::GeneratedArchive(text, sim::ArchiveKind::Day, 2));
    Command(1);
    EXPECT_EQ(Hex(Read(1001, 1)), "01 2C");
    auto first = Read(1002, 125);
    auto second = Read(1252, 25);
    EXPECT_EQ(std::string(first.begin(), first.end()), text.substr(0, 250));
    EXPECT_EQ(std::string(second.begin(), second.end()), text.substr(250));
    // An odd length is padded with a zero byte.
    sim.SetArchiveRaw(sim::ArchiveKind::Day, "DATE HOUR", {});
    Command(1);
    EXPECT_EQ(Hex(Read(1002, 5)), "44 41 54 45 20 48 4F 55 52 00");
    Command(2);
    EXPECT_EQ(Length(), 0); // no rows at all
}

TEST_F(Meter, RawRowsAreServedAsGiven) {
    std::vector<std::uint8_t> big(900);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i);
    sim.SetArchiveRaw(sim::ArchiveKind::Hour, "Q1", {{0x01, 0x02, 0x03}, big});
    Command(5);
    Command(6);
    EXPECT_EQ(Length(), 3);
    EXPECT_EQ(Hex(Read(1002, 2)), "01 02 03 00");
    Command(6);
    EXPECT_EQ(Length(), 900);
    EXPECT_EQ(ReadWindow(900), big);
}

} // namespace
