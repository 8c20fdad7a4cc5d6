// The simulated gateway's adapter protocol, played byte by byte by a small
// client: SetData and GetData in both link modes, the header forms, error
// codes, resynchronisation after garbage.
#include "sim/ModbusCrc.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <gtest/gtest.h>

namespace {

class Gateway : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }
    sim::Simulator sim;
    LineClient pc{sim.PortPath()};
};

TEST_F(Gateway, SetDataLinkMode1WritesTheSettingsCells) {
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "DD");
    pc.Send("5A 50 01");
    EXPECT_EQ(pc.ReceiveHex(1), "01");
    pc.Send("81 58 00 04 03");
    EXPECT_EQ(pc.ReceiveHex(1), "00");
    pc.Send("41 54 5A");
    EXPECT_EQ(pc.ReceiveHex(1), "00");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.PcTranscript(), "B0 (DD) 5A 50 01 (01) 81 58 00 04 03 (00) 41 54 5A (00)");
    EXPECT_EQ(Hex(sim.Cells(0x81, 0x58, 4, 3)), "41 54 5A");
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
}

} // namespace
