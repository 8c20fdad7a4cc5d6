// Fault knobs: each produces exactly the bytes it promises, at its step, for
// its number of passes; the text form the command line takes.
#include "sim/ModbusCrc.h"
#include "sim/Simulator.h"
#include "support/LineClient.h"
#include "support/Pty.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using sim::FaultKind;
using sim::Step;

class Faults : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }

    // GetData of the four settings cells 0..3, link mode 1, as far as the
    // gateway lets it go; returns everything the gateway sent.
    std::string GetSettings() {
        std::string out;
        pc.Send("B0");
        auto ready = pc.ReceiveHex(1, 300);
        out += ready;
        if (ready != "DD" && ready != "08") return out;
        if (ready == "DD") pc.Send("5A 50");
        pc.Send("02");
        auto accepted = pc.ReceiveHex(1, 300);
        out += " " + accepted;
        if (accepted != "01") return out;
        pc.Send("81 58 00 00 04");
        auto rest = pc.ReceiveHex(-1, 200);
        if (!rest.empty()) out += " " + rest;
        return out;
    }
    std::string SetAddress(const std::string& value) {
        pc.Send("B0");
        pc.Receive(1);
        pc.Send("5A 50 01");
        pc.Receive(1);
        pc.Send("81 58 00 00 01");
        std::string status = pc.ReceiveHex(1);
        if (status != "00") return status;
        pc.Send(value);
        return status + " " + pc.ReceiveHex(-1, 200);
    }
    // SendPacket of a function 04 read of register 4; returns status and answer.
    std::string ReadVersion() {
        pc.Send("11");
        auto ready = pc.ReceiveHex(1, 300);
        if (ready != "22") return ready;
        pc.Send("06 01 04 00 04 00 01");
        auto rest = pc.ReceiveHex(-1, 200);
        return ready + (rest.empty() ? "" : " " + rest);
    }
    void Arm(Step step, FaultKind kind, int value = 0, int times = 1, int after = 0) {
        sim.AddFault({.step = step, .kind = kind, .value = value, .times = times, .after = after});
    }

    sim::Simulator sim;
    LineClient pc{sim.PortPath()};
};

const char* const GoodSettings = "DD 01 00 01 04 10 04 00";
const char* const VersionAnswer = "22 00 01 04 02 12 03 F5 91";

TEST_F(Faults, ReadyByteFaultsStrikeTheChosenPassesOnly) {
    Arm(Step::Ready, FaultKind::Byte, 0x07, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(GetSettings(), "07");
    EXPECT_EQ(GetSettings(), GoodSettings);
    EXPECT_EQ(sim.PendingFaults(), 0);

    Arm(Step::Ready, FaultKind::NoAnswer, 0, 1, 1); // spares one pass first
    EXPECT_EQ(GetSettings(), GoodSettings);
    EXPECT_EQ(GetSettings(), "");
    EXPECT_EQ(GetSettings(), GoodSettings);
}

TEST_F(Faults, ReadyWithoutSignOnTakesTheCommandAtOnce) {
    Arm(Step::Ready, FaultKind::Byte, 0x08);
    EXPECT_EQ(GetSettings(), "08 01 00 01 04 10 04 00");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.PcTranscript(), "B0 (08) 02 (01) 81 58 00 00 04 (00 01 04 10 04 00)");
    // A SetData that does not accept 0x08 starts again with the opening byte.
    Arm(Step::Ready, FaultKind::Byte, 0x08);
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "08");
    EXPECT_EQ(GetSettings(), GoodSettings);
}

TEST_F(Faults, CommandAndHeaderFaults) {
    Arm(Step::Command, FaultKind::Byte, 0x05);
    EXPECT_EQ(GetSettings(), "DD 05");
    Arm(Step::Command, FaultKind::NoAnswer);
    EXPECT_EQ(GetSettings(), "DD ");
    Arm(Step::Header, FaultKind::Byte, 7, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(GetSettings(), "DD 01 07");
    Arm(Step::Header, FaultKind::Byte, 9);
    EXPECT_EQ(SetAddress("05"), "09");
    EXPECT_EQ(sim.Settings().Address, 1);
    Arm(Step::Header, FaultKind::NoAnswer);
    EXPECT_EQ(GetSettings(), "DD 01");
    EXPECT_EQ(GetSettings(), GoodSettings);
}

TEST_F(Faults, FinalStatusOtherThanZeroLeavesTheCellsAlone) {
    Arm(Step::Final, FaultKind::Byte, 0x02);
    EXPECT_EQ(SetAddress("05"), "00 02");
    EXPECT_EQ(sim.Settings().Address, 1);
    Arm(Step::Final, FaultKind::NoAnswer);
    EXPECT_EQ(SetAddress("06"), "00 ");
    EXPECT_EQ(SetAddress("07"), "00 00");
    EXPECT_EQ(sim.Settings().Address, 7);
    // GetData: the trailing byte.
    Arm(Step::Final, FaultKind::Byte, 0x05);
    EXPECT_EQ(GetSettings(), "DD 01 00 07 04 10 04 05");
}

TEST_F(Faults, ShortDataWithAndWithoutTrailing01) {
    sim.AddFault({.step = Step::Data, .kind = FaultKind::Short, .value = 2});
    EXPECT_EQ(GetSettings(), "DD 01 00 01 04");
    sim.AddFault({.step = Step::Data, .kind = FaultKind::Short, .value = 2, .trailing01 = true});
    EXPECT_EQ(GetSettings(), "DD 01 00 01 04 01");
    sim.AddFault({.step = Step::Data, .kind = FaultKind::Short, .value = 0});
    EXPECT_EQ(GetSettings(), "DD 01 00");
}

TEST_F(Faults, CorruptedAndDroppedBytes) {
    sim.AddFault({.step = Step::Data, .kind = FaultKind::Corrupt, .index = 0});
    EXPECT_EQ(GetSettings(), "DD 01 00 FE 04 10 04 00");
    sim.AddFault({.step = Step::Data, .kind = FaultKind::Drop, .index = 1});
    EXPECT_EQ(GetSettings(), "DD 01 00 01 10 04 00");
    sim.AddFault({.step = Step::Ready, .kind = FaultKind::Corrupt, .value = 0x01, .index = 1});
    EXPECT_EQ(GetSettings(), "DC"); // the gateway waits for the sign-on; the client gives up
    ASSERT_TRUE(sim.WaitIdle(3000));
    EXPECT_EQ(GetSettings(), GoodSettings);
}

TEST_F(Faults, DelayHoldsTheAnswerBack) {
    Arm(Step::Ready, FaultKind::Delay, 250);
    auto start = std::chrono::steady_clock::now();
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(1), "DD");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 240);
    EXPECT_LT(ms, 1000);
}

TEST_F(Faults, ClosingTheLineHangsUpTheClient) {
    Arm(Step::Ready, FaultKind::Close);
    pc.Send("B0");
    EXPECT_EQ(pc.ReceiveHex(-1, 200), "");
    EXPECT_TRUE(pc.HungUp());
}

TEST_F(Faults, SendPacketReadyAndStatusFaults) {
    Arm(Step::PacketReady, FaultKind::Byte, 0x33);
    EXPECT_EQ(ReadVersion(), "33");
    Arm(Step::PacketReady, FaultKind::NoAnswer);
    EXPECT_EQ(ReadVersion(), "");
    Arm(Step::PacketStatus, FaultKind::Byte, 0x05, 2);
    EXPECT_EQ(ReadVersion(), "22 05");
    EXPECT_EQ(ReadVersion(), "22 05");
    EXPECT_EQ(ReadVersion(), VersionAnswer);
    ASSERT_TRUE(sim.WaitIdle(2000));
    // Refused blocks never reached the meter.
    EXPECT_EQ(sim.MeterTranscript(), "01 04 00 04 00 01 70 0B (01 04 02 12 03 F5 91)");
}

TEST_F(Faults, MeterSilentOrAnsweringWithAnException) {
    Arm(Step::MeterAnswer, FaultKind::NoAnswer);
    EXPECT_EQ(ReadVersion(), "22 00");
    Arm(Step::MeterAnswer, FaultKind::Exception, 2);
    auto answer = ReadVersion();
    EXPECT_EQ(answer.substr(0, 14), "22 00 01 84 02");
    auto bytes = Bytes(answer.substr(6));
    EXPECT_EQ(sim::ModbusCrc(bytes.data(), 3), bytes[3] | bytes[4] << 8);
    sim.SetMeterSilent(true);
    EXPECT_EQ(ReadVersion(), "22 00");
    sim.SetMeterSilent(false);
    EXPECT_EQ(ReadVersion(), VersionAnswer);
}

TEST_F(Faults, MeterAnswerMangledOnTheWayBack) {
    sim.AddFault({.step = Step::MeterAnswer, .kind = FaultKind::Corrupt, .index = 3});
    EXPECT_EQ(ReadVersion(), "22 00 01 04 02 ED 03 F5 91");
    sim.AddFault({.step = Step::MeterAnswer, .kind = FaultKind::Drop, .index = -1});
    EXPECT_EQ(ReadVersion(), "22 00 01 04 02 12 03 F5");
    sim.AddFault({.step = Step::MeterAnswer, .kind = FaultKind::Short, .value = 3});
    EXPECT_EQ(ReadVersion(), "22 00 01 04 02");
    EXPECT_EQ(ReadVersion(), VersionAnswer);
}

TEST_F(Faults, CorruptedRequestIsIgnoredByTheMeter) {
    sim.AddFault({.step = Step::MeterRequest, .kind = FaultKind::Corrupt}); // the last check byte
    EXPECT_EQ(ReadVersion(), "22 00");
    ASSERT_TRUE(sim.WaitIdle(2000));
    EXPECT_EQ(sim.MeterTranscript(), "01 04 00 04 00 01 70 F4");
    EXPECT_EQ(ReadVersion(), VersionAnswer);
}

TEST_F(Faults, MeterAnswerDelay) {
    sim.SetMeterDelay(200);
    auto start = std::chrono::steady_clock::now();
    pc.Send("11");
    pc.Receive(1);
    pc.Send("06 01 04 00 04 00 01");
    EXPECT_EQ(pc.ReceiveHex(8), "00 01 04 02 12 03 F5 91");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 1500);
}

TEST(FaultText, ParsesTheCommandLineForm) {
    auto f = sim::ParseFault("ready:byte=0x07:times=3");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->step, Step::Ready);
    EXPECT_EQ(f->kind, FaultKind::Byte);
    EXPECT_EQ(f->value, 7);
    EXPECT_EQ(f->times, 3);

    f = sim::ParseFault("data:short=3:trail01:after=2");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->kind, FaultKind::Short);
    EXPECT_EQ(f->value, 3);
    EXPECT_TRUE(f->trailing01);
    EXPECT_EQ(f->after, 2);

    f = sim::ParseFault("meter-answer:corrupt:index=2:times=-1");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->step, Step::MeterAnswer);
    EXPECT_EQ(f->index, 2);
    EXPECT_EQ(f->times, -1);

    std::string error;
    EXPECT_FALSE(sim::ParseFault("ready", &error));
    EXPECT_FALSE(sim::ParseFault("nowhere:none", &error));
    EXPECT_EQ(error, "unknown step 'nowhere'");
    EXPECT_FALSE(sim::ParseFault("ready:sideways", &error));
    EXPECT_FALSE(sim::ParseFault("ready:byte=zz", &error));
    EXPECT_FALSE(sim::ParseFault("ready:none:times=0", &error));
}

TEST(FaultText, TableCountsPassesPerKindFilter) {
    sim::FaultTable t;
    t.Add({Step::MeterAnswer, FaultKind::Corrupt, 0, -1, false, 1, 1});
    t.Add({Step::MeterAnswer, FaultKind::NoAnswer, 0, -1, false, 2, 0});
    // The meter sees only its kinds; the gateway's corrupt fault waits for its own passes.
    EXPECT_EQ(t.Pass(Step::MeterAnswer, {FaultKind::NoAnswer})->kind, FaultKind::NoAnswer);
    EXPECT_FALSE(t.Pass(Step::MeterAnswer, {FaultKind::Corrupt}));
    EXPECT_EQ(t.Pass(Step::MeterAnswer, {FaultKind::Corrupt})->kind, FaultKind::Corrupt);
    EXPECT_EQ(t.Pass(Step::MeterAnswer, {FaultKind::NoAnswer})->kind, FaultKind::NoAnswer);
    EXPECT_TRUE(t.Empty());
    EXPECT_FALSE(t.Pass(Step::Ready));
}

} // namespace
