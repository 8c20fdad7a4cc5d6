// The simulator's Hayes modem as logic with set times: commands and their
// echo, the dial and its faults, the escape between guard times, the hang-up.
#include "sim/Modem.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

struct Modem {
    explicit Modem(sim::ModemFault fault = sim::ModemFault::None)
        : modem({.Present = true, .Fault = fault, .ConnectDelayMs = 50, .GuardMs = 1000}) {}
    sim::HayesModem modem;
    sim::Clock::time_point now{};
    std::string toGateway, toPc;

    // The bytes typed 10 ms apart; what the modem answered and passed on.
    Modem& Type(const std::string& bytes) {
        for (char c : bytes) {
            now += 10ms;
            std::vector<std::uint8_t> gateway, pc;
            modem.FromPc(static_cast<std::uint8_t>(c), now, gateway, pc);
            toGateway.append(gateway.begin(), gateway.end());
            toPc.append(pc.begin(), pc.end());
        }
        return *this;
    }
    Modem& Wait(sim::Clock::duration d) {
        now += d;
        std::vector<std::uint8_t> gateway, pc;
        modem.Tick(now, gateway, pc);
        toGateway.append(gateway.begin(), gateway.end());
        toPc.append(pc.begin(), pc.end());
        return *this;
    }
    std::string Answer() {
        std::string out;
        out.swap(toPc);
        return out;
    }
    std::string Passed() {
        std::string out;
        out.swap(toGateway);
        return out;
    }
};

TEST(SimModem, CommandsDialEscapeAndHangUp) {
    Modem m;
    EXPECT_EQ(m.Type("ATZ\r").Answer(), "ATZ\r\r\nOK\r\n"); // echoed by default
    EXPECT_EQ(m.Type("noise at&f s0=0 x4\r").Answer(), "noise at&f s0=0 x4\r\r\nOK\r\n");
    EXPECT_EQ(m.Type("ATE0\r").Answer(), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(m.Type("AT\r").Answer(), "\r\nOK\r\n");
    EXPECT_EQ(m.Type("AT%\r").Answer(), "\r\nERROR\r\n");
    EXPECT_EQ(m.Type("\xB0\x5A").Passed(), ""); // on hook: nothing reaches the gateway

    m.Type("ATDT8495\r");
    EXPECT_EQ(m.modem.State(), sim::ModemState::Dialing);
    EXPECT_EQ(m.modem.Dialled(), "T8495");
    EXPECT_EQ(m.Wait(20ms).Answer(), "");
    EXPECT_EQ(m.Wait(40ms).Answer(), "\r\nCONNECT 9600\r\n");
    ASSERT_TRUE(m.modem.Online());

    // Online the bytes pass; "+++" right after data is data too.
    EXPECT_EQ(m.Type("\xB0+++").Passed(), "\xB0+++");
    EXPECT_TRUE(m.Wait(1100ms).modem.Online());
    // Fewer than three are data once the guard time has passed.
    EXPECT_EQ(m.Type("++").Passed(), "");
    EXPECT_EQ(m.Wait(1100ms).Passed(), "++");
    // After a guard time's silence "+++", then silence again: command mode.
    m.Wait(1100ms).Type("+++");
    EXPECT_EQ(m.Wait(500ms).Answer(), "");
    EXPECT_EQ(m.Wait(600ms).Answer(), "\r\nOK\r\n");
    EXPECT_EQ(m.modem.State(), sim::ModemState::OnlineCommand);
    EXPECT_EQ(m.Passed(), "");
    // ATO goes back online, ATH hangs up.
    EXPECT_EQ(m.Type("ATO\r").Answer(), "\r\nCONNECT 9600\r\n");
    m.Wait(1100ms).Type("+++").Wait(1100ms);
    EXPECT_EQ(m.Type("ATH0\r").Answer(), "\r\nOK\r\n\r\nOK\r\n");
    EXPECT_EQ(m.modem.State(), sim::ModemState::Command);
}

TEST(SimModem, FaultsAndAKeyThatInterruptsTheDial) {
    using F = sim::ModemFault;
    const std::pair<F, const char*> faults[] = {{F::Busy, "\r\nBUSY\r\n"},
                                                {F::NoAnswer, "\r\nNO ANSWER\r\n"},
                                                {F::NoCarrier, "\r\nNO CARRIER\r\n"},
                                                {F::NoDialtone, "\r\nNO DIALTONE\r\n"}};
    for (const auto& [fault, result] : faults) {
        Modem m(fault);
        m.Type("ATE0\r").Answer();
        EXPECT_EQ(m.Type("ATDP1\r").Wait(100ms).Answer(), result);
        EXPECT_EQ(m.modem.State(), sim::ModemState::Command);
    }
    Modem silent(F::Silent);
    silent.Type("ATE0\r").Answer();
    EXPECT_EQ(silent.Type("ATD1\r").Wait(100s).Answer(), "");
    EXPECT_FALSE(silent.modem.Due());
    EXPECT_EQ(silent.Type("\r").Answer(), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(silent.modem.State(), sim::ModemState::Command);

    EXPECT_EQ(sim::ParseModemFault("no-dialtone"), F::NoDialtone);
    EXPECT_FALSE(sim::ParseModemFault("engaged"));
}

} // namespace
