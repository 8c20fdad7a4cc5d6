// The simulated gateway's adapter protocol, played byte by byte by a small
// client: SetData and GetData in both link modes and header forms, error
// codes, applying the settings, SendPacket, resynchronisation after garbage,
// and the link as ports/COMn.
#include "sim/ModbusCrc.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class Gateway : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }

    // Opening, sign-on and command; returns the gateway's two answers.
    std::string Open(const std::string& command) {
        pc.Send("B0");
        std::string ready = pc.ReceiveHex(1);
        pc.Send("5A 50 " + command);
        return ready + " " + pc.ReceiveHex(1);
    }
    // GetData after the opening: the two answers to it, then the status and
    // data bytes answering `header` (`count` in all).
    std::string GetData(const std::string& command, const std::string& header, int count) {
        const std::string opened = Open(command);
        pc.Send(header);
        return opened + " " + pc.ReceiveHex(count);
    }
    // SetData after the opening: the two answers to it, then the header's and
    // the data's.
    std::string SetData(const std::string& command, const std::string& header, const std::string& data) {
        std::string answers = Open(command);
        pc.Send(header);
        answers += " " + pc.ReceiveHex(1);
        pc.Send(data);
        return answers + " " + pc.ReceiveHex(1);
    }
    std::string Idle() {
        EXPECT_TRUE(sim.WaitIdle(3000));
        return sim.PcTranscript();
    }

    sim::Simulator sim;
    LineClient pc{sim.PortPath()};
};

TEST_F(Gateway, SetDataLinkMode1WritesTheSettingsCells) {
    EXPECT_EQ(SetData("01", "81 58 00 04 03", "41 54 5A"), "DD 01 00 00");
    EXPECT_EQ(Idle(), "B0 (DD) 5A 50 01 (01) 81 58 00 04 03 (00) 41 54 5A (00)");
    EXPECT_EQ(Hex(sim.Cells(0x81, 0x58, 4, 3)), "41 54 5A");
}

TEST_F(Gateway, SetDataLinkMode2SevenByteHeaderReachesTheSameCells) {
    EXPECT_EQ(SetData("81", "00 01 D8 81 03 00 04", "31 32 0D"), "DD 01 00 00");
    EXPECT_EQ(Idle(), "B0 (DD) 5A 50 81 (01) 00 01 D8 81 03 00 04 (00) 31 32 0D (00)");
    EXPECT_EQ(Hex(sim.Cells(0x81, 0x58, 4, 3)), "31 32 0D");
}

TEST_F(Gateway, GetDataReadsTheSettingsBlockInBothLinkModes) {
    // Defaults: address 1, packet protocol on, 57600, "ATZ\r".
    EXPECT_EQ(GetData("02", "81 58 00 00 04", 6), "DD 01 00 01 04 10 04 00");
    EXPECT_EQ(GetData("02", "81 58 00 04 04", 6), "DD 01 00 41 54 5A 0D 00");
    // Link mode 2, device address equal to the I2C address: the 5-byte form
    // with the ZEP-LAN address in the second place.
    EXPECT_EQ(GetData("82", "EF 01 40 00 04", 6), "DD 01 00 10 02 01 05 00");
    EXPECT_EQ(GetData("82", "00 01 D8 81 04 00 00", 6), "DD 01 00 01 04 10 04 00");
    EXPECT_TRUE(sim.WaitForExchanges(4, 2000));
    EXPECT_EQ(sim.Exchanges(), 4);
}

TEST_F(Gateway, HeaderErrorsNameThePositionThatIsWrong) {
    struct Case {
        const char* command;
        const char* header;
        const char* code;
    } cases[] = {
        {"02", "42 58 00 00 04", "02"},       // unknown device type
        {"02", "81 57 00 00 04", "03"},       // no such device at that address
        {"02", "81 58 01 00 04", "04"},       // cell high byte
        {"02", "EF 0C 40 10 04", "05"},       // cell low byte
        {"02", "81 58 00 3E 04", "06"},       // count runs past the cells
        {"02", "81 58 00 00 00", "06"},       // count 0
        {"82", "00 07 D8 81 04 00 00", "03"}, // another ZEP-LAN node
        {"82", "00 01 D9 81 04 00 00", "04"}, // remote device address
        {"82", "00 01 D8 EF 04 00 00", "05"}, // remote device type
        {"82", "00 01 D8 81 04 01 00", "0A"}, // remote cell high byte
        {"82", "00 01 8C EF 04 40 20", "0B"}, // remote cell low byte
        {"82", "00 00 D8 81 04 00 00", "00"}, // ZEP-LAN broadcast is accepted
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Open(c.command), "DD 01");
        pc.Send(c.header);
        EXPECT_EQ(pc.ReceiveHex(1), c.code) << c.header;
        if (std::string(c.code) == "00") pc.Receive(5); // the data and the trailing byte
        ASSERT_TRUE(sim.WaitIdle(2000));
    }
}

TEST_F(Gateway, WriteToControlCell2AppliesTheSettings) {
    EXPECT_EQ(sim.ApplyCount(), 0);
    EXPECT_EQ(SetData("01", "81 58 00 00 04", "05 06 33 04"), "DD 01 00 00");
    EXPECT_EQ(sim.AppliedSettings().SpeedCode, 0x10); // stored, not yet applied
    EXPECT_EQ(SetData("01", "EF 0C 00 02 01", "00"), "DD 01 00 00");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.ApplyCount(), 1);
    sim::GatewaySettings expected{5, 0x06, 0x33, "ATZ\r"};
    EXPECT_EQ(sim.AppliedSettings(), expected);
    EXPECT_EQ(sim.Settings(), expected);
}

TEST_F(Gateway, SettingsSetThroughTheApiAreWhatTheGatewayReports) {
    sim.SetSettings({0, 0x02, 0xCF, "AT&F0\r"});
    EXPECT_EQ(GetData("02", "81 58 00 00 0A", 12), "DD 01 00 00 02 CF 06 41 54 26 46 30 0D 00");
}

TEST_F(Gateway, SendPacketPassesTheMetersAnswerBack) {
    pc.Send("11");
    EXPECT_EQ(pc.ReceiveHex(1), "22");
    pc.Send("06 01 04 00 04 00 04");
    EXPECT_EQ(pc.ReceiveHex(1), "00");
    // The check bytes come from libmodbus: an independent witness for ours.
    auto answer = pc.Receive(13);
    EXPECT_EQ(Hex(answer), "01 04 08 12 03 04 08 00 A1 00 02 A7 BE");
    EXPECT_EQ(sim::ModbusCrc(answer.data(), 11), 0xBEA7);
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.MeterTranscript(), "01 04 00 04 00 04 B0 08 (01 04 08 12 03 04 08 00 A1 00 02 A7 BE)");
}

TEST_F(Gateway, ModbusCrcOfAKnownFrame) {
    const std::uint8_t frame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(sim::ModbusCrc(frame, sizeof frame), 0x0A84); // sent 84 0A
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(sim::ModbusCrc(digits, sizeof digits), 0x4B37);
}

TEST_F(Gateway, SendPacketRefusesABlockThatMakesNoFrame) {
    pc.Send("11");
    EXPECT_EQ(pc.ReceiveHex(1), "22");
    pc.Send("01 01");
    EXPECT_EQ(pc.ReceiveHex(1), "06");
    EXPECT_EQ(Idle(), "11 (22) 01 01 (06)");
    EXPECT_EQ(sim.MeterTranscript(), "");
}

TEST_F(Gateway, GarbageAndBrokenExchangesNeverWedgeIt) {
    // Unframed bytes, then a good exchange.
    pc.Send("12 34 5A 50 01 00 DD");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(GetData("02", "81 58 00 02 01", 3), "DD 01 00 10 00");
    // An opening byte where the sign-on belongs starts afresh.
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "DD");
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "DD");
    pc.Send("5A 50 07"); // no such command: back to waiting
    EXPECT_EQ(pc.ReceiveHex(-1, 150), "");
    pc.Send("11");
    EXPECT_EQ(pc.ReceiveHex(1), "22");
    pc.Send("01 01");
    EXPECT_EQ(pc.ReceiveHex(1), "06");
    EXPECT_EQ(Idle(),
              "12 34 5A 50 01 00 DD B0 (DD) 5A 50 02 (01) 81 58 00 02 01 (00 10 00) B0 (DD) B0 (DD) 5A 50 07 "
              "11 (22) 01 01 (06)");
}

TEST_F(Gateway, ExchangeLeftHalfwayTimesOut) {
    sim::SimOptions options;
    options.ExchangeTimeoutMs = 100;
    sim::Simulator quick(options);
    quick.Start();
    LineClient client(quick.PortPath());
    client.Send("B0");
    EXPECT_EQ(client.ReceiveHex(1), "DD");
    client.Send("5A 50 02 81 58"); // the rest of the header never comes
    EXPECT_EQ(client.ReceiveHex(1), "01");
    ASSERT_TRUE(quick.WaitIdle(2000));
    client.Send("B0");
    EXPECT_EQ(client.ReceiveHex(1), "DD");
}

TEST(GatewayLink, LinksAsComPortAndRemovesOnlyItsOwnLink) {
    TempDir dir;
    std::string path;
    {
        sim::Simulator s;
        path = s.LinkCom(dir.Path(), 2);
        EXPECT_EQ(path, dir.Path() + "ports/COM2");
        EXPECT_EQ(std::filesystem::read_symlink(path).string(), s.PortPath());
        EXPECT_EQ(s.Link(path), path); // already ours
        s.Start();
        LineClient client(path);
        client.Send("11");
        EXPECT_EQ(client.ReceiveHex(1), "22");
    }
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));

    // A file, or a link to something live, is never replaced.
    dir.Write("ports/COM3", "mine");
    dir.LinkCom(4, "/dev/null");
    sim::Simulator s;
    EXPECT_THROW(s.LinkCom(dir.Path(), 3), std::runtime_error);
    EXPECT_THROW(s.LinkCom(dir.Path(), 4), std::runtime_error);
    EXPECT_EQ(dir.Read("ports/COM3"), "mine");
    EXPECT_EQ(std::filesystem::read_symlink(dir.File("ports/COM4")).string(), "/dev/null");

    // A dangling link of a run that has gone is taken over.
    dir.LinkCom(5, "/dev/pts/999999");
    EXPECT_NO_THROW(s.LinkCom(dir.Path(), 5));
    EXPECT_EQ(std::filesystem::read_symlink(dir.File("ports/COM5")).string(), s.PortPath());

    // A link that someone has repointed since is left alone by Unlink.
    std::filesystem::remove(dir.File("ports/COM5"));
    dir.LinkCom(5, "/dev/null");
    s.Unlink();
    EXPECT_EQ(std::filesystem::read_symlink(dir.File("ports/COM5")).string(), "/dev/null");
}

} // namespace
