// The console's logic through a fake screen and a pseudo-terminal port: the
// send command, the receive loop with its answer state machine and dumps,
// and the register value decoder.
#include "base/Cp1251.h"
#include "base/StrToInt.h"
#include "console/ConsoleLogic.h"
#include "console/ValueDecoder.h"
#include "support/FakeConsoleScreen.h"

#include <cstring>
#include <ctime>
#include <gtest/gtest.h>

namespace {

class Console : public ::testing::Test {
protected:
    Console()
        : logic(
              screen, port.Accessor(),
              [this](const std::uint8_t* b, std::int32_t n) {
                  sent.push_back(std::vector<std::uint8_t>(b, b + n));
                  return true;
              },
              ',') {}

    // Bytes arrive on the line, then one tick of the receive loop runs.
    void Tick(const std::string& hex) {
        port.Deliver(Bytes(hex));
        logic.Timer1Timer();
    }
    // Arms the loop as a console request from `start` does.
    void Await(int start) {
        screen.startRegister = std::to_string(start);
        logic.Button2Click();
        sent.clear();
    }
    std::string Memo(int i) const { return screen.pane[i]; }

    ConsolePort port;
    FakeConsoleScreen screen;
    std::vector<std::vector<std::uint8_t>> sent;
    ConsoleLogic logic;
};

TEST_F(Console, SendBuildsTheBlockFromTheEditsAndArmsTheLoop) {
    screen.pane[2] = "old";
    logic.WaitAnswer = false;
    logic.Button2Click();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(sent[0]), "06 01 04 00 00 00 04");
    EXPECT_EQ(logic.ManualRequest, 1);
    EXPECT_TRUE(logic.WaitAnswer);
    EXPECT_EQ(logic.ValueAddr, 0);
    EXPECT_EQ(Memo(2), "");

    // A value for function 06 goes whole, high byte first; hex input too.
    screen.function = "6";
    screen.deviceAddress = "$11";
    screen.startRegister = "0x1234";
    screen.registerCount = "300";
    logic.Button2Click();
    EXPECT_EQ(Hex(sent[1]), "06 11 06 12 34 01 2C");
    EXPECT_EQ(logic.ValueAddr, 0x1234);
    // Only the low bits of address and function fit their bytes.
    screen.deviceAddress = "257";
    screen.function = "259";
    screen.registerCount = "65537";
    logic.Button2Click();
    EXPECT_EQ(Hex(sent[2]), "06 01 03 12 34 00 01");
}

TEST_F(Console, WhileTheMonitorReadsThePortARequestSaysWhereItsAnswerGoes) {
    const int monitor = 0;
    ClaimLine(&monitor, "приём пакетов", LineHold::EveryByte);
    logic.Button2Click();
    ReleaseLine(&monitor);
    EXPECT_EQ(Memo(0), Utf8ToCp1251(MonitorTakesAnswersText) + "\r\n");
    logic.Button2Click();
    EXPECT_EQ(Memo(0), "");
}

TEST_F(Console, FunctionSixteenSendsTheTextsBytes) {
    screen.function = "16";
    screen.registerCount = "ABC";
    logic.Button2Click();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Hex(sent[0]), "0A 01 10 00 00 00 02 03 41 42 43");
    screen.registerCount = "\xC0\xC1"; // CP1251 letters
    logic.Button2Click();
    EXPECT_EQ(Hex(sent[1]), "09 01 10 00 00 00 01 02 C0 C1");
}

TEST_F(Console, FunctionSixteenRefusesATextTooLongForTheBlock) {
    screen.function = "16";
    screen.registerCount = std::string(MaxWriteDataBytes, 'z');
    logic.Button2Click();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].size(), 256u);

    logic.Button1Click();
    screen.pane[0] = "kept";
    screen.registerCount = std::string(MaxWriteDataBytes + 1, 'z');
    logic.Button2Click();
    EXPECT_EQ(sent.size(), 1u);
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].text, "Текст для пакета 16 длиннее 248 символов (249). Пакет не отправлен.");
    EXPECT_EQ(screen.messages[0].caption, "ОШИБКА ДАННЫХ");
    EXPECT_FALSE(logic.WaitAnswer);
    EXPECT_EQ(Memo(0), "kept");
}

TEST_F(Console, ANonNumericEditRaisesTheConversionErrorAndSendsNothing) {
    std::string FakeConsoleScreen::*const fields[] = {
        &FakeConsoleScreen::startRegister, &FakeConsoleScreen::registerCount,
        &FakeConsoleScreen::deviceAddress, &FakeConsoleScreen::function};
    for (int edit : {0, 1, 2, 3}) {
        screen.startRegister = "0";
        screen.registerCount = "4";
        screen.deviceAddress = "1";
        screen.function = "4";
        screen.*fields[edit] = "12a";
        logic.ManualRequest = 0;
        try {
            logic.Button2Click();
            ADD_FAILURE() << "no error for Edit" << edit + 1;
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
        }
        EXPECT_TRUE(sent.empty());
        EXPECT_EQ(logic.ManualRequest, 1);
    }
    // The text is shown as typed, also in Cyrillic.
    screen.function = "4";
    screen.startRegister = "\xE0\xE1\xE2";
    try {
        logic.Button2Click();
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'абв' is not a valid integer value");
    }
}

TEST_F(Console, AnAnswerCompletesOnItsLastByteAndClosesItsDumpLine) {
    Await(0);
    Tick("01 04 04 00 01 00 02 C1 C2");
    EXPECT_FALSE(logic.WaitAnswer);
    EXPECT_TRUE(logic.AnswerReady);
    EXPECT_EQ(logic.AnswerByteCount, 4);
    EXPECT_EQ(logic.AnswerDataLen, 4);
    EXPECT_EQ(Hex(std::vector<std::uint8_t>(logic.RxBuf, logic.RxBuf + 5)), "00 01 00 02 00");
    EXPECT_EQ(Memo(0), "01 04 04 00 01 00 02 C1 C2 \r\n");
    EXPECT_EQ(Memo(1), ".......\xC1\xC2\r\n");
    Tick("41");
    EXPECT_EQ(Memo(0), "01 04 04 00 01 00 02 C1 C2 \r\n41 ");
    EXPECT_EQ(Memo(1), ".......\xC1\xC2\r\nA");
}

TEST_F(Console, ExceptionAnswerTakesFollowingBytesIntoIt) {
    Await(0);
    Tick("01 84 02 C1 C2");
    EXPECT_TRUE(logic.WaitAnswer);
    Tick("05 06 07");
    EXPECT_FALSE(logic.WaitAnswer);
    EXPECT_EQ(Memo(0), "01 84 02 C1 C2 05 06 \r\n07 ");
    EXPECT_EQ(Hex(std::vector<std::uint8_t>(logic.RxBuf, logic.RxBuf + 3)), "C1 C2 00");
}

TEST_F(Console, IdleBytesMakeSixteenByteLinesAcrossTicks) {
    logic.Button1Click();
    logic.AnswerPos = 7;
    Tick("00 01 02 03 04 05 06 07 08 09 0A");
    Tick("0B 0C 0D 0E 0F 10 11");
    EXPECT_EQ(Memo(0), "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n10 11 ");
    EXPECT_EQ(Memo(1), "................\r\n..");
    EXPECT_EQ(logic.AnswerPos, 7); // the answer state is untouched while idle
    EXPECT_FALSE(logic.AnswerReady);
}

TEST_F(Console, CharacterDumpShowsPrintableAndCodePageBytes) {
    Tick("41 0D 7F 20 7E C0 FF 1F");
    EXPECT_EQ(Memo(0), "41 0D 7F 20 7E C0 FF 1F ");
    EXPECT_EQ(Memo(1), "A.. ~\xC0\xFF.");
}

TEST_F(Console, ClearedCheckBoxSilencesTheMemosButNothingElse) {
    Await(4);
    screen.panesActive = false;
    Tick("01 04 08 00 01 00 02 00 00 00 03 C1 C2");
    EXPECT_EQ(Memo(0) + Memo(1) + Memo(2), "");
    EXPECT_TRUE(logic.AnswerReady);
    EXPECT_EQ(logic.HaveVersion + logic.HaveConfig1 + logic.HaveConfig2, 3);
    EXPECT_EQ(logic.DevConfig2, 3);
}

TEST_F(Console, ClearReturnsToIdleAtOnce) {
    Await(0);
    Tick("01 04 04 00");
    logic.Button1Click();
    EXPECT_FALSE(logic.WaitAnswer);
    EXPECT_EQ(logic.AnswerPos, 0);
    EXPECT_EQ(logic.CntByteInLine, 0);
    Tick("01 02 03 04 05 06 07 08 09");
    EXPECT_FALSE(logic.AnswerReady);
}

TEST_F(Console, ATickDrainsWhatWaitsWithOneAppendPerMemo) {
    Await(100);
    // 4095 bytes: as many as a pseudo-terminal's queue holds.
    std::string hex = "01 04 FA";
    for (int i = 0; i < 4095 - 3; ++i)
        hex += " 41";
    screen.ResetCounts();
    Tick(hex);
    EXPECT_EQ(MainPort->InQueue(), 0);
    EXPECT_EQ(screen.appends[0], 1);
    EXPECT_EQ(screen.appends[1], 1);
    EXPECT_EQ(screen.appends[2], 1);
    // 16 lines up to the answer's end, then 240 full lines and one byte.
    EXPECT_EQ(Memo(0).size(), 4095u * 3 + 256 * 2);
    EXPECT_TRUE(screen.receiveTimer);
}

TEST_F(Console, TimerRunsAgainWhenTheTickEndsByAnError) {
    // An archive step inside the loop reads Edit1; a bad text ends the tick.
    logic.Session.Start({1, MeterArchive::Hour, "hour.txt"});
    logic.Session.Identified(0, 0, 0); // the start command goes: its echo is awaited
    logic.ManualRequest = 0;
    logic.AnswerPos = 0;
    screen.startRegister = "x";
    port.Deliver(Bytes(Checked("01 04 00") + " 41"));
    EXPECT_THROW(logic.Timer1Timer(), EConvertError);
    EXPECT_TRUE(screen.receiveTimer);
    EXPECT_EQ(Memo(0), Checked("01 04 00") + " \r\n"); // output so far is kept
    EXPECT_EQ(MainPort->InQueue(), 1);                 // the rest waits for the next tick
}

TEST_F(Console, NoPortOrNothingWaitingIsAQuietTick) {
    logic.Timer1Timer();
    EXPECT_EQ(Memo(0), "");
    port.Unplug();
    port.Deliver(Bytes("41"));
    logic.Timer1Timer();
    EXPECT_EQ(Memo(0), "");
    EXPECT_TRUE(screen.receiveTimer);
}

// --- the register value decoder ---

TEST(ValueLabel, MapAndAlignment) {
    EXPECT_EQ(ValueLabel(100), "G1  ");
    EXPECT_EQ(ValueLabel(101), "G1  ");
    EXPECT_EQ(ValueLabel(118), "G10 ");
    EXPECT_EQ(ValueLabel(120), "M1  ");
    EXPECT_EQ(ValueLabel(158), "T10 ");
    EXPECT_EQ(ValueLabel(164), "Q3  ");
    EXPECT_EQ(ValueLabel(170), "P1  ");
    EXPECT_EQ(ValueLabel(400), "SM1 ");
    EXPECT_EQ(ValueLabel(418), "SM10");
    EXPECT_EQ(ValueLabel(422), "E2  ");
    EXPECT_EQ(ValueLabel(430), "Tr  ");
    EXPECT_EQ(ValueLabel(431), "--  ");
    EXPECT_EQ(ValueLabel(436), "Tn3 ");
    EXPECT_EQ(ValueLabel(1000), "Adr_10001 ");
    EXPECT_EQ(ValueLabel(1001), "10011 ");
    EXPECT_EQ(ValueLabel(1004), "10012 ");
    EXPECT_EQ(ValueLabel(99), "--  ");
    EXPECT_EQ(ValueLabel(-3), "--  ");
    EXPECT_EQ(HexByte(0x05), "5");
    EXPECT_EQ(HexByte(0xAB), "ab");
    EXPECT_EQ(HexByte(0), "0");
}

TEST_F(Console, DecodesVersionAndBothConfigurationsFromRegisterFour) {
    Await(4);
    Tick("01 04 08 80 01 04 08 00 00 AB 80 C1 C2");
    EXPECT_EQ(Memo(2), "Adr_Vers(4): 0x80;0x1\r\n"
                       "Adr_Conf2(5): 0x4;0x8\r\n"
                       "Adr_Conf2(6): 0x0;0x0;0xab;0x80\r\n");
    EXPECT_EQ(logic.DevVersion, -32767);
    EXPECT_EQ(logic.DevConfig1, 0x0408);
    EXPECT_EQ(logic.DevConfig2, 0xAB80);
    EXPECT_EQ(logic.HaveVersion + logic.HaveConfig1 + logic.HaveConfig2, 3);
}

TEST_F(Console, StartAtFiveCapturesBothConfigurationsOnly) {
    Await(5);
    Tick("01 04 06 04 08 00 00 00 02 C1 C2");
    EXPECT_EQ(Memo(2), "Adr_Conf2(5): 0x4;0x8\r\nAdr_Conf2(6): 0x0;0x0;0x0;0x2\r\n");
    EXPECT_EQ(logic.HaveVersion, 0);
    EXPECT_EQ(logic.HaveConfig1 + logic.HaveConfig2, 2);
}

TEST_F(Console, FloatLinesFromOneHundredAndOneHundredOne) {
    Await(100);
    Tick("01 04 08 41 20 00 00 40 48 00 00 C1 C2");
    EXPECT_EQ(Memo(2), "G1  (100): 10\r\nG2  (102): 3,125\r\n");
    Await(101);
    Tick("01 04 08 BF 80 00 00 49 96 B4 38 C1 C2");
    EXPECT_EQ(Memo(2), "G1  (101): -1\r\nG2  (103): 1234567\r\n");
    Await(1000);
    Tick("01 04 08 4B 3C 61 4E 35 86 37 BD C1 C2");
    EXPECT_EQ(Memo(2), "Adr_10001 (1000): 1,234568E07\r\n10011 (1002): 1E-06\r\n");
}

TEST_F(Console, AStartRegisterAtTheTopOfTheRangeWrapsAround) {
    Await(2147483647);
    Tick("01 04 08 41 20 00 00 40 48 00 00 C1 C2");
    EXPECT_EQ(Memo(2), "10011073741323 (2147483647): 10\r\n--  (-2147483647): 3,125\r\n");
    EXPECT_EQ(logic.ValueAddr, -2147483645);
}

TEST_F(Console, ShortAnswersDecodeWhatTheirBytesMake) {
    // Six data bytes: one line; two bytes and the first check byte wait.
    Await(100);
    Tick("01 04 06 41 20 00 00 40 48 C1 C2");
    EXPECT_EQ(Memo(2), "G1  (100): 10\r\n");
    EXPECT_EQ(logic.ValueByteCnt, 3);
    // Three data bytes: the first check byte completes the value.
    Await(100);
    Tick("01 04 03 40 48 00 00 C2");
    EXPECT_EQ(Memo(2), "G1  (100): 3,125\r\n");
}

} // namespace

namespace {

std::int64_t AtEight(int ms) {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    t.tm_hour = 8;
    t.tm_min = t.tm_sec = 0;
    t.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&t)) * 1000 + ms;
}

} // namespace

// Stamps on: each answer's first dump line starts with its time and the gap
// after the previous answer; the log holds every line of the hexadecimal pane
// with its time, also while the memos are switched off.
TEST_F(Console, AnswerTimeStampsAndTheLogOfTheHexadecimalPane) {
    TempDir dir;
    std::int64_t now = AtEight(100);
    logic.SetWallClock([&] { return now; });
    std::string error;
    ASSERT_TRUE(logic.Log().Open(dir.File("console.log"), error)) << error;
    logic.SetTimeStamps(true);
    Await(0);
    Tick("01 04 04 00 01 00 02 C1 C2");
    now = AtEight(350);
    Tick("41");
    EXPECT_EQ(Memo(0), "08:00:00.100         01 04 04 00 01 00 02 C1 C2 \r\n08:00:00.350    +250 41 ");
    Await(0);
    screen.panesActive = false;
    now = AtEight(1100);
    Tick("01 04 04 00 01 00 02 C1 C2");
    logic.Log().Close();
    EXPECT_EQ(Memo(0), "");
    EXPECT_EQ(dir.Read("console.log"), "08:00:00.100         01 04 04 00 01 00 02 C1 C2 \n"
                                       "08:00:00.350    +250 41 \n"
                                       "08:00:01.100   +1000 01 04 04 00 01 00 02 C1 C2 \n");
}
