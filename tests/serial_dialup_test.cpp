// Dial-up through a Hayes modem: the modem's lines as the dialer reads them,
// and the dialer against the simulator's modem on a pseudo-terminal: the
// connection and the gateway behind it, every refusal's message, a silent
// modem's time-out, and the hang-up.
#include "adapter/Dataio.h"
#include "base/Options.h"
#include "base/Timing.h"
#include "serial/Dialer.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> Split(ModemLineSplitter& s, const std::string& bytes) {
    return s.Take(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(ModemLines, EchoBlankLinesAndLinesSplitAcrossReads) {
    ModemLineSplitter s;
    EXPECT_EQ(Split(s, "ATZ\r\r\nOK\r\n"), std::vector<std::string>{"OK"});
    // The echo and the result arrive in pieces.
    EXPECT_TRUE(Split(s, "ATDT123\r\r\nCON").empty());
    EXPECT_TRUE(Split(s, "NECT 96").empty());
    EXPECT_EQ(Split(s, "00\r\n"), std::vector<std::string>{"CONNECT 9600"});
    // Numeric results (ATV0) end with CR alone.
    EXPECT_EQ(Split(s, "0\r7\r"), (std::vector<std::string>{"0", "7"}));
    // An endless line is cut, not kept whole.
    EXPECT_EQ(Split(s, std::string(100000, 'x') + "\r").front().size(), 256u);

    const std::pair<const char*, ModemResult> results[] = {
        {"OK", ModemResult::Ok},
        {"CONNECT", ModemResult::Connect},
        {"CONNECT 9600/ARQ", ModemResult::Connect},
        {"BUSY", ModemResult::Busy},
        {"NO ANSWER", ModemResult::NoAnswer},
        {"NO CARRIER", ModemResult::NoCarrier},
        {"NO DIALTONE", ModemResult::NoDialtone},
        {"NO DIAL TONE", ModemResult::NoDialtone},
        {"ERROR", ModemResult::Error},
        {"7", ModemResult::Busy},
        {"RING", ModemResult::None},
        {"CONNECTED", ModemResult::None},
    };
    for (const auto& [line, result] : results)
        EXPECT_EQ(ClassifyModemLine(line), result) << line;
}

TEST(ModemLines, StoredSettingsMakeTheDial) {
    TAppOptions o;
    o.ModemInitString = "AT&F E1\n";
    o.DialMode = 2;
    o.ConnectWaitSeconds = 45;
    const DialSettings s = DialSettingsFrom(o, "8 (495) 123-45-67");
    EXPECT_EQ(s.InitString, "AT&F E1");
    EXPECT_TRUE(s.Tone);
    EXPECT_EQ(s.ConnectWaitMs, 45000);
    o.DialMode = 1;
    EXPECT_FALSE(DialSettingsFrom(o, "1").Tone);
}

constexpr DialTimes FastDial{
    .AnswerMs = 1000, .GuardMs = 150, .DtrDropMs = 20, .SettleMs = 30, .AbortMs = 300};

sim::SimOptions Direct() {
    sim::SimOptions o;
    o.AnswerGapMs = 3;
    return o;
}

sim::SimOptions ModemSim(sim::ModemFault fault = sim::ModemFault::None) {
    sim::SimOptions o;
    o.AnswerGapMs = 3;
    o.Modem.Present = true;
    o.Modem.Fault = fault;
    o.Modem.ConnectDelayMs = 20;
    o.Modem.GuardMs = 100;
    return o;
}

// The simulator (with or without its modem) and the program's port on its line.
struct SimLine {
    explicit SimLine(const sim::SimOptions& options) : simulator(options) { simulator.Start(); }
    sim::Simulator simulator;
    Rs232Port port{simulator.PortPath(), 115200};
    AdapterLink link{[this] { return &port; }, [] { return LinkSettings{.LinkMode = 1}; }};
    ModemDialer dialer{[this] { return &port; }, FastDial};

    // The gateway's settings cells 0..3, and the PC line's bytes of that read.
    std::string ReadGateway(std::vector<std::uint8_t>& cells) {
        simulator.WaitIdle(2000);
        simulator.ClearTranscript();
        cells.assign(4, 0);
        EXPECT_TRUE(link.GetData(0x81, 0x58, 0, 4, cells.data()));
        simulator.WaitIdle(2000);
        return simulator.PcTranscript();
    }
    DialOutcome Dial(const DialSettings& settings) {
        dialer.Dial(settings);
        RunDialer(dialer);
        return dialer.Outcome();
    }
};

DialSettings Settings(const std::string& init = "ATZ", int waitMs = 5000) {
    return {.InitString = init, .Tone = true, .Number = "8 (495) 123-45-67", .ConnectWaitMs = waitMs};
}

class DialUp : public ::testing::Test {
protected:
    DialUp() {
        TimingConstants fast;
        fast.ReadTimeoutBaseMs = 300;
        fast.PurgePauseMs = 10;
        SetTimingForTests(fast);
    }
    ~DialUp() override { SetTimingForTests(TimingConstants{}); }
};

TEST_F(DialUp, ConnectsReachesTheGatewayAsWithoutModemAndHangsUp) {
    std::vector<std::uint8_t> expected;
    const std::string direct = SimLine(Direct()).ReadGateway(expected);

    SimLine line(ModemSim());
    ASSERT_EQ(line.Dial(Settings()), DialOutcome::Connected);
    EXPECT_EQ(line.dialer.ConnectLine(), "CONNECT 9600");
    EXPECT_EQ(line.port.ModemConnection, "CONNECT 9600");
    EXPECT_EQ(line.simulator.ModemDialled(), "T84951234567"); // tone, without the blanks and dashes
    EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Online);
    // Dialling again would send commands to the gateway as data: refused.
    EXPECT_EQ(line.Dial(Settings()), DialOutcome::Online);
    EXPECT_EQ(DialOutcomeText(DialOutcome::Online, 60, line.dialer.ConnectLine()),
              "Модем уже на связи (CONNECT 9600). Чтобы набрать заново, положите трубку.");

    // The gateway behind the modem: the same bytes as on a direct line.
    std::vector<std::uint8_t> cells;
    EXPECT_EQ(line.ReadGateway(cells), direct);
    EXPECT_EQ(cells, expected);

    // A pseudo-terminal has no DTR: "+++" and ATH0 hang up.
    line.dialer.HangUp();
    RunDialer(line.dialer);
    EXPECT_EQ(line.dialer.HangUpResult(), HangUpOutcome::Done);
    EXPECT_FALSE(line.dialer.DtrDropped());
    EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Command);
    EXPECT_TRUE(line.port.ModemConnection.empty());
    EXPECT_FALSE(LineHeldByOther(nullptr));

    // On hook, the gateway is out of reach.
    line.link.LinkMessages = false;
    EXPECT_FALSE(line.link.GetData(0x81, 0x58, 0, 4, cells.data()));
}

TEST_F(DialUp, EachRefusalGivesItsMessage) {
    using F = sim::ModemFault;
    const std::tuple<F, DialOutcome, const char*> cases[] = {
        {F::Busy, DialOutcome::Busy, "Модем: занято (BUSY). Наберите номер позже."},
        {F::NoAnswer, DialOutcome::NoAnswer,
         "Модем: никто не ответил (NO ANSWER). Проверьте номер и что модем шлюза включён."},
        {F::NoCarrier, DialOutcome::NoCarrier,
         "Модем: связь не установлена (NO CARRIER). Проверьте номер и наберите ещё раз."},
        {F::NoDialtone, DialOutcome::NoDialtone,
         "Модем: нет гудка в линии (NO DIALTONE). Проверьте телефонный кабель модема."},
    };
    for (const auto& [fault, outcome, text] : cases) {
        SimLine line(ModemSim(fault));
        EXPECT_EQ(line.Dial(Settings()), outcome) << text;
        EXPECT_EQ(DialOutcomeText(outcome, 60), text);
        EXPECT_TRUE(line.port.ModemConnection.empty());
        EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Command) << text;
    }

    // An initialisation string the modem refuses: nothing is dialled.
    SimLine refused(ModemSim());
    EXPECT_EQ(refused.Dial(Settings("AT%%")), DialOutcome::Error);
    EXPECT_EQ(refused.simulator.ModemDialled(), "");
    EXPECT_EQ(DialOutcomeText(DialOutcome::Error, 60),
              "Модем отверг команду (ERROR). Проверьте строку инициализации и номер в настройках.");

    // No modem at all: the gateway alone does not answer AT commands.
    SimLine noModem(Direct());
    EXPECT_EQ(noModem.Dial(Settings()), DialOutcome::NoModem);
    EXPECT_EQ(DialOutcomeText(DialOutcome::NoModem, 60),
              "Модем не отвечает. Проверьте, что он включён и подключён к порту, или положите трубку и "
              "наберите снова.");

    // Nothing to dial, and a line another holds: nothing is sent.
    DialSettings blank = Settings();
    blank.Number = " - ";
    EXPECT_EQ(noModem.Dial(blank), DialOutcome::NoNumber);
    const int other = 0;
    ASSERT_TRUE(ClaimLine(&other, "чтение суточного архива"));
    EXPECT_EQ(noModem.Dial(Settings()), DialOutcome::LineBusy);
    ReleaseLine(&other);
}

TEST_F(DialUp, ASilentModemGivesUpAfterTheStoredWaitAndStopsDialling) {
    SimLine line(ModemSim(sim::ModemFault::Silent));
    TAppOptions stored;
    stored.ConnectWaitSeconds = 1;
    const DialSettings settings = DialSettingsFrom(stored, "5551234");
    EXPECT_EQ(settings.InitString, "ATZ");
    EXPECT_FALSE(settings.Tone);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(line.Dial(settings), DialOutcome::Silent);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count();
    EXPECT_GE(ms, 1000);
    EXPECT_LT(ms, 1000 + FastDial.AbortMs + 500);
    EXPECT_EQ(line.simulator.ModemDialled(), "P5551234");
    // The dial was interrupted: the modem is back in command mode.
    EXPECT_EQ(line.simulator.Modem(), sim::ModemState::Command);
    EXPECT_EQ(
        DialOutcomeText(DialOutcome::Silent, 1),
        "Модем не сообщил о соединении за 1 с. Проверьте номер или увеличьте время ожидания в настройках.");
}

} // namespace
