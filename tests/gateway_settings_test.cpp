// Reading and writing the gateway's settings through a fake screen, against
// a scripted gateway on a pseudo-terminal: exact bytes on the line, exact
// control contents and messages.
#include "gateway/GatewaySettings.h"
#include "serial/LineDriver.h"
#include "support/PtyMainPort.h"
#include "support/Recorder.h"
#include "support/ScopedProgramState.h"
#include "support/ScriptedPeer.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using Msgs = std::vector<RecordedMessage>;

// The plain controls, with the window's operations logged in order.
class FakeScreen : public PlainConfigScreen {
public:
    bool writeEnabled = false;
    std::vector<std::string> log; // waits, focus moves and messages in order

    void EnableWrite() override { writeEnabled = true; }
    void FocusInitLine() override { log.push_back("focus EditInitLine"); }
    void BeginWait() override { log.push_back("BeginWait"); }
    void EndWait() override { log.push_back("EndWait"); }
    void ReportWritten() override { log.push_back("written"); }
};

// One GetData of the gateway answered with `data` and a trailing byte.
void AnswerGet(ScriptedPeer& peer, const std::string& header, const std::string& data) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect(header).Reply("00");
    peer.Reply(data + " 00");
}

// One SetData of the gateway expecting `data`, confirmed.
void AnswerSet(ScriptedPeer& peer, const std::string& header, const std::string& data) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect(header).Reply("00");
    peer.Expect(data).Reply("00");
}

class SettingsLogic : public ::testing::Test {
protected:
    void SetUp() override {
        TheRecorder().onShow = [this](const RecordedMessage& m) { screen.log.push_back(m.text); };
        peer.expectTimeoutMs = 3000;
    }
    std::string Finish() {
        std::string t = peer.Finish();
        EXPECT_EQ(peer.Errors(), "");
        return t;
    }

    ScopedProgramState world;
    PtyPair pty;
    PtyMainPort port{pty};
    ScriptedPeer peer{pty};
    FakeScreen screen;
    GatewaySettings settings{screen, world.link};
};

const std::string Service = "EF 0C 40 00 04";
const std::string Block = "81 58 00 00 04";

TEST_F(SettingsLogic, ReadFillsEveryControlAndEnablesWrite) {
    AnswerGet(peer, Service, "11 22 33 44");
    AnswerGet(peer, Block, "05 06 33 04");
    AnswerGet(peer, "81 58 00 04 04", "41 54 5A 0D");
    peer.Start();
    settings.ReadClick();
    Finish();
    EXPECT_EQ(screen.address, "5");
    EXPECT_TRUE(screen.modem);
    EXPECT_TRUE(screen.packet);
    EXPECT_EQ(screen.speedItem, 2);
    EXPECT_EQ(screen.initLine, "ATZ");
    EXPECT_TRUE(screen.writeEnabled);
    EXPECT_EQ(screen.log, (std::vector<std::string>{"BeginWait", "EndWait"}));
}

TEST_F(SettingsLogic, ReadDecodesSwitchesAndSpeedCodes) {
    // 207 selects "4800"; 0xF9 has neither switch bit; the line is cut at its
    // first zero byte.
    AnswerGet(peer, Service, "00 00 00 00");
    AnswerGet(peer, Block, "00 F9 CF 05");
    AnswerGet(peer, "81 58 00 04 05", "41 00 42 43 0D");
    // 0x06 checks both; code 12 is not in the table and leaves the selection.
    AnswerGet(peer, Service, "00 00 00 00");
    AnswerGet(peer, Block, "FF 06 0C 01");
    AnswerGet(peer, "81 58 00 04 01", "0D");
    peer.Start();
    screen.modem = screen.packet = true;
    ASSERT_TRUE(settings.ReadGatewaySettings());
    EXPECT_EQ(screen.address, "0");
    EXPECT_FALSE(screen.modem);
    EXPECT_FALSE(screen.packet);
    EXPECT_EQ(screen.speedItem, 4);
    EXPECT_EQ(screen.initLine, "A");
    ASSERT_TRUE(settings.ReadGatewaySettings());
    Finish();
    EXPECT_EQ(screen.address, "255");
    EXPECT_TRUE(screen.modem);
    EXPECT_TRUE(screen.packet);
    EXPECT_EQ(screen.speedItem, 4);
    EXPECT_EQ(screen.initLine, "");
}

TEST_F(SettingsLogic, ALineLengthOutOfRangeIsNotRead) {
    for (const char* length : {"00", "21"}) {
        SCOPED_TRACE(length);
        ScriptedPeer p(pty);
        p.expectTimeoutMs = 3000;
        AnswerGet(p, Service, "00 00 00 00");
        AnswerGet(p, Block, std::string("01 00 10 ") + length);
        p.Start();
        screen.initLine = "kept";
        screen.writeEnabled = false;
        EXPECT_TRUE(settings.ReadGatewaySettings());
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
        EXPECT_EQ(p.Sent().size(), 2u * 9u); // no third exchange
        EXPECT_EQ(screen.initLine, "kept");
        EXPECT_TRUE(screen.writeEnabled);
    }
}

TEST_F(SettingsLogic, AFailedFirstExchangeChangesNothing) {
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    peer.Start();
    screen.address = "17";
    screen.initLine = "AT";
    screen.speedItem = 3;
    settings.ReadClick();
    Finish();
    EXPECT_EQ(screen.address, "17");
    EXPECT_EQ(screen.initLine, "AT");
    EXPECT_EQ(screen.speedItem, 3);
    EXPECT_FALSE(screen.modem);
    EXPECT_FALSE(screen.writeEnabled);
    EXPECT_EQ(screen.log, (std::vector<std::string>{"BeginWait", "Линия занята.", "EndWait"}));
}

TEST_F(SettingsLogic, AReadThatFailsAtTheLineKeepsWhatItFilledAndWriteDisabled) {
    AnswerGet(peer, Service, "00 00 00 00");
    AnswerGet(peer, Block, "07 02 67 04");
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    peer.Start();
    screen.initLine = "old";
    EXPECT_FALSE(settings.ReadGatewaySettings());
    Finish();
    EXPECT_EQ(screen.address, "7");
    EXPECT_TRUE(screen.modem);
    EXPECT_EQ(screen.speedItem, 3);
    EXPECT_EQ(screen.initLine, "old");
    EXPECT_FALSE(screen.writeEnabled);
}

TEST_F(SettingsLogic, WriteSendsBlockLineAndFinishThenPauses) {
    screen.address = "5";
    screen.modem = screen.packet = true;
    screen.speedItem = 2;
    screen.initLine = "ATZ";
    AnswerSet(peer, "81 58 00 00 04", "05 06 33 04");
    AnswerSet(peer, "81 58 00 04 04", "41 54 5A 0D");
    AnswerSet(peer, "EF 0C 00 02 01", "00");
    peer.Start();
    auto start = std::chrono::steady_clock::now();
    settings.WriteClick();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    Finish();
    EXPECT_GE(ms.count(), FastTiming().FinishWritePauseMs);
    EXPECT_EQ(TheRecorder().messages, Msgs{});
    EXPECT_EQ(screen.log, (std::vector<std::string>{"BeginWait", "EndWait", "written"}));
}

TEST_F(SettingsLogic, WriteLineLengthLimits) {
    // 31 bytes: length 32 and a 32-byte line. Empty: length 1 and a lone CR.
    // Address 0 is the master.
    struct Case {
        std::string line;
        std::string lengthByte;
    } cases[] = {{std::string(31, 'A'), "20"}, {"", "01"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.size());
        ScriptedPeer p(pty);
        p.expectTimeoutMs = 3000;
        std::string lineHex;
        for (char ch : c.line)
            lineHex += Hex({static_cast<std::uint8_t>(ch)}) + " ";
        lineHex += "0D";
        AnswerSet(p, "81 58 00 00 04", "00 00 10 " + c.lengthByte);
        AnswerSet(p, "81 58 00 04 " + c.lengthByte, lineHex);
        AnswerSet(p, "EF 0C 00 02 01", "00");
        p.Start();
        screen.address = "0";
        screen.speedItem = 0;
        screen.initLine = c.line;
        EXPECT_TRUE(settings.WriteGatewaySettings());
        p.Finish();
        EXPECT_EQ(p.Errors(), "");
    }
}

TEST_F(SettingsLogic, RejectedInputSendsNothing) {
    const std::string addressText = "Адрес должен быть от 0 для мастера и от 1 до 255 для подчиненных.";
    const std::string lengthText = "Номер должен состоять из 31 латинских букв или цифр.";
    for (const char* address : {"256", "-1", "adr", ""}) {
        SCOPED_TRACE(address);
        TheRecorder().messages.clear();
        screen.log.clear();
        screen.address = address;
        settings.WriteClick();
        EXPECT_EQ(TheRecorder().messages, (Msgs{{addressText, "ОШИБКА ДАННЫХ", MessageIcon::Information}}));
        EXPECT_EQ(screen.log, (std::vector<std::string>{"BeginWait", addressText, "EndWait"}));
    }
    TheRecorder().messages.clear();
    screen.log.clear();
    screen.address = "$FF";
    screen.initLine = std::string(32, 'A');
    settings.WriteClick();
    EXPECT_EQ(TheRecorder().messages, (Msgs{{lengthText, "ОШИБКА ДАННЫХ", MessageIcon::Information}}));
    EXPECT_EQ(screen.log,
              (std::vector<std::string>{"BeginWait", lengthText, "focus EditInitLine", "EndWait"}));
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
}

TEST_F(SettingsLogic, ReadAndWriteAreRefusedWhileAnotherWindowHoldsTheLine) {
    const int reader = 0;
    ScopedLineClaim claim(&reader, "чтение суточного архива");
    screen.address = "1";
    settings.ReadClick();
    settings.WriteClick();
    const RecordedMessage busy{
        "Линия занята: идёт чтение суточного архива. Дождитесь конца или остановите его.", "ЛИНИЯ ЗАНЯТА",
        MessageIcon::Information};
    EXPECT_EQ(TheRecorder().messages, (Msgs{busy, busy}));
    EXPECT_FALSE(screen.writeEnabled);
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
}

TEST_F(SettingsLogic, AFailedBlockWriteStopsTheSequence) {
    world.link.LinkMessages = false;
    screen.address = "1";
    for (int i = 0; i < 3; ++i)
        peer.Expect("B0").Reply("07");
    peer.Start();
    EXPECT_FALSE(settings.WriteGatewaySettings());
    EXPECT_EQ(Finish(), "B0 (07) B0 (07) B0 (07)");
}

} // namespace
