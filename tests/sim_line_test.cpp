// Several meters on the simulated gateway's RS-485 line: each answers at its
// own address with its own identification and archives; silent, slow and
// exception meters; addresses without a meter stay silent without swallowing
// the next request; the text form of --meter.
#include "sim/ModbusCrc.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

sim::MeterSetup MeterAt(int address, int type) {
    sim::MeterSetup m;
    m.Address = address;
    m.Ident = sim::IdentificationForType(type);
    m.Seed = address;
    m.DayRows = 3;
    m.HourRows = 3;
    return m;
}

class MeterLine : public ::testing::Test {
protected:
    static sim::SimOptions Line() {
        sim::SimOptions o;
        o.MoreMeters = {MeterAt(5, 8), MeterAt(17, 10), MeterAt(30, 6)};
        return o;
    }
    void SetUp() override { sim.Start(); }

    // SendPacket of a block to `address`; the gateway's "22 00" and whatever
    // follows within `waitMs` (or the first `answerLength` bytes).
    std::string Ask(int address, const char* rest, int answerLength = -1, int waitMs = 300) {
        char hex[64];
        std::snprintf(hex, sizeof hex, "06 %02X %s", address, rest);
        pc.Send("11");
        EXPECT_EQ(pc.ReceiveHex(1), "22");
        pc.Send(hex);
        EXPECT_EQ(pc.ReceiveHex(1), "00");
        return pc.ReceiveHex(answerLength, answerLength < 0 ? waitMs : 2000);
    }
    // The data bytes of a function 04 read, check bytes verified.
    std::vector<std::uint8_t> Read(int address, int reg, int count) {
        char rest[32];
        std::snprintf(rest, sizeof rest, "04 %02X %02X 00 %02X", reg >> 8, reg & 0xFF, count);
        auto a = Bytes(Ask(address, rest, 5 + 2 * count));
        if (a.size() != static_cast<std::size_t>(5 + 2 * count)) return {};
        EXPECT_EQ(a[0], address);
        EXPECT_EQ(sim::ModbusCrc(a.data(), a.size() - 2), a[a.size() - 2] | a[a.size() - 1] << 8);
        return std::vector<std::uint8_t>(a.begin() + 3, a.end() - 2);
    }
    // The first row of the day archive, as a console would read it.
    std::vector<std::uint8_t> FirstDayRow(int address) {
        Ask(address, "06 03 E8 00 01", 8);
        Ask(address, "06 03 E8 00 02", 8);
        auto len = Read(address, 1001, 1);
        int bytes = len.size() == 2 ? len[0] << 8 | len[1] : 0;
        auto row = Read(address, 1002, (bytes + 1) / 2);
        row.resize(static_cast<std::size_t>(bytes));
        return row;
    }

    sim::Simulator sim{Line()};
    LineClient pc{sim.PortPath()};
};

TEST_F(MeterLine, EachMeterAnswersWithItsOwnIdentificationAndArchive) {
    EXPECT_EQ(sim.MeterAddresses(), (std::vector<int>{1, 5, 17, 30}));
    std::vector<std::vector<std::uint8_t>> rows;
    for (auto [address, type] : {std::pair{1, 4}, {5, 8}, {17, 10}, {30, 6}}) {
        auto d = Read(address, 4, 4);
        ASSERT_EQ(d.size(), 8u) << address;
        sim::Identification id{static_cast<std::uint16_t>(d[0] << 8 | d[1]),
                               static_cast<std::uint16_t>(d[2] << 8 | d[3]), BigEndian32(d, 4)};
        EXPECT_EQ(sim::TypeNumberOf(id, 99), type) << address;
        rows.push_back(FirstDayRow(address));
        sim.WithMeter(
            address, [&](sim::Meter& m) { EXPECT_EQ(rows.back(), m.ArchiveRows(sim::ArchiveKind::Day)[0]); });
    }
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_NE(rows[i], rows[i - 1]);
    EXPECT_THROW(sim.AddMeter(MeterAt(5, 4)), std::invalid_argument);
    EXPECT_THROW(sim.WithMeter(99, [](sim::Meter&) {}), std::invalid_argument);
}

TEST_F(MeterLine, EmptyAddressStaysSilentAndTheNextRequestIsAnswered) {
    EXPECT_EQ(Ask(2, "04 00 04 00 01"), "");
    EXPECT_EQ(Ask(0xF7, "04 00 04 00 01"), "");
    EXPECT_EQ(Ask(5, "04 00 04 00 01", 7).substr(0, 14), "05 04 02 12 03");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.Exchanges(), 3);
}

TEST_F(MeterLine, SilentSlowAndExceptionMeters) {
    sim.WithMeter(5, [](sim::Meter& m) { m.SetSilent(true); });
    sim.WithMeter(17, [](sim::Meter& m) { m.SetDelayMs(200); });
    sim.WithMeter(30, [](sim::Meter& m) { m.SetExceptionCode(4); });
    EXPECT_EQ(Ask(5, "04 00 04 00 01"), "");

    auto start = Clock::now();
    EXPECT_EQ(Ask(17, "04 00 04 00 01", 7).substr(0, 14), "11 04 02 12 03");
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(200));

    auto exception = Bytes(Ask(30, "04 00 04 00 01", 5));
    ASSERT_EQ(exception.size(), 5u);
    EXPECT_EQ(Hex(exception).substr(0, 8), "1E 84 04");
    EXPECT_EQ(sim::ModbusCrc(exception.data(), 3), exception[3] | exception[4] << 8);
    // The others are not touched.
    EXPECT_EQ(Ask(1, "04 00 04 00 01", 7).substr(0, 14), "01 04 02 12 03");
}

TEST(MeterText, ParsesTheCommandLineForm) {
    auto m = sim::ParseMeterOption("17:type=10:slow=40:seed=0x3:day-rows=5:hour-rows=6");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Address, 17);
    EXPECT_EQ(m->Ident, sim::IdentificationForType(10));
    EXPECT_EQ(m->DelayMs, 40);
    EXPECT_EQ(m->Seed, 3);
    EXPECT_EQ(m->DayRows, 5);
    EXPECT_EQ(m->HourRows, 6);
    m = sim::ParseMeterOption("9:silent:exception=2:ident=0x1101,0x0200,0");
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->Silent);
    EXPECT_EQ(m->ExceptionCode, 2);
    EXPECT_EQ(m->Ident, (sim::Identification{0x1101, 0x0200, 0}));
    EXPECT_EQ(m->Seed, 9); // by default the address: every meter's archives differ

    std::string error;
    for (const char* bad : {"0", "248", "x", "5:type=3", "5:exception=12", "5:slow", "5:loud", "5:ident=1,2"})
        EXPECT_FALSE(sim::ParseMeterOption(bad, &error)) << bad;
    EXPECT_EQ(error, "ident needs V,C1,C2");
    sim::ParseMeterOption("248", &error);
    EXPECT_EQ(error, "a meter's address is 1..247, not '248'");
}

} // namespace
