// Device identification: the device type decision, the request and the
// polling, the labels, and the start of the chosen archive reader.
#include "base/Cp1251.h"
#include "base/StrToInt.h"
#include "base/Timing.h"
#include "console/ConsoleLogic.h"
#include "serial/LineDriver.h"
#include "support/FakeConsoleScreen.h"

#include <gtest/gtest.h>

namespace {

class Identification : public ::testing::Test {
protected:
    Identification()
        : logic(
              screen, port.Accessor(),
              [this](const std::uint8_t* b, std::int32_t n) {
                  sent.push_back(Hex({b, b + n}));
                  return true;
              },
              ',', [this] { return now; }) {}

    static int TypeOf(std::uint16_t version, std::uint16_t c1, std::uint32_t c2, int before = 0) {
        return DeviceTypeOf(static_cast<std::int16_t>(version), c1, static_cast<std::int32_t>(c2), before);
    }
    void Answer(const std::string& hex) {
        port.Deliver(Bytes(hex));
        logic.Timer1Timer();
    }

    ConsolePort port;
    FakeConsoleScreen screen;
    std::vector<std::string> sent;
    std::chrono::steady_clock::time_point now{};
    ConsoleLogic logic;
};

TEST_F(Identification, DeviceTypeDecisionTable) {
    // c1 bit 3 and bit 10 set: configuration 2 decides.
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x01), 8);
    EXPECT_EQ(TypeOf(0x6105, 0x0408, 0x03), 8); // bit 0 wins over the version
    EXPECT_EQ(TypeOf(0x6105, 0x0408, 0x02), 7);
    EXPECT_EQ(TypeOf(0x61FF, 0x0408, 0x7A), 7); // any bit-1 pattern with version 0x61xx
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x02), 4);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x22), 4); // bit 5 is ignored
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x00A10002), 4);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x0A), 10);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x2A), 10);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x1A), 10);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x06, 0), 0); // none of the three: unchanged
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x06, 9), 9);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x04), 9);
    EXPECT_EQ(TypeOf(0x1200, 0x0408, 0x08, 7), 0);
    // c1 bit 3 set, bit 10 clear.
    EXPECT_EQ(TypeOf(0x1200, 0x0008, 0x01, 7), 0);
    // c1 bit 3 clear: bits 8 and 9 decide.
    EXPECT_EQ(TypeOf(0x1200, 0x0108, 0x01, 7), 0); // bit 3 set again: see above
    EXPECT_EQ(TypeOf(0x1200, 0x0100, 0x01, 7), 0);
    EXPECT_EQ(TypeOf(0x1200, 0x0300, 0x01, 7), 0);
    EXPECT_EQ(TypeOf(0x1200, 0x0200, 0x01), 6);
    EXPECT_EQ(TypeOf(0x1200, 0x0000, 0x01), 5);
    EXPECT_EQ(TypeOf(0x1200, 0xF4F7, 0x01), 5); // bits 3, 8, 9 clear
}

TEST_F(Identification, ButtonSendsTheRequestAndStartsPolling) {
    screen.rowNumber = "12";
    screen.deviceAddress = "17";
    logic.Button3Click();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], "06 11 04 00 04 00 04");
    EXPECT_TRUE(screen.identificationPoll);
    EXPECT_EQ(screen.rowNumber, "");
    EXPECT_EQ(logic.ManualRequest, 1);
    EXPECT_EQ(logic.HourArhiv, 0);
    EXPECT_EQ(logic.ValueAddr, 4);
    EXPECT_TRUE(logic.WaitAnswer);

    // Nothing captured yet: the poll leaves the timer running, sends nothing.
    logic.TimerQueryConfTimer();
    EXPECT_TRUE(screen.identificationPoll);
    EXPECT_EQ(sent.size(), 1u);

    // The other archive's button is refused; its own stops the read.
    logic.Button4Click();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(logic.HourArhiv, 0);
    EXPECT_TRUE(screen.running);
    logic.Button3Click();
    EXPECT_TRUE(screen.running); // until the identification's answer or its time-out
    now += std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs + 1);
    logic.Timer1Timer();
    EXPECT_FALSE(screen.running);
    // The user's own stop is said in the notice, not in an error box.
    EXPECT_TRUE(screen.messages.empty());
    EXPECT_EQ(screen.notice,
              "Чтение суточного архива остановлено: нажата кнопка «Стоп». Последняя записанная строка: нет.");
}

TEST_F(Identification, CapturedValuesAreShownAndTheDayReaderStarts) {
    logic.DevVersion = 77;
    logic.Button3Click();
    Answer(Checked("01 04 08 80 01 04 08 00 00 00 0A"));
    logic.TimerQueryConfTimer();
    EXPECT_FALSE(screen.identificationPoll);
    EXPECT_EQ(screen.version, "-32767");
    EXPECT_EQ(screen.config1, "1032");
    EXPECT_EQ(screen.config2, "10");
    EXPECT_EQ(screen.deviceType, "10");
    EXPECT_EQ(logic.TypeNum, 10);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "06 01 06 03 E8 00 01");
    EXPECT_EQ(logic.ManualRequest, 0);
    EXPECT_EQ(logic.Session.Transfer().ArhivStep, ArchiveState::TemplateLength);
    EXPECT_EQ(screen.pane[0].substr(screen.pane[0].size() - 15), Utf8ToCp1251("Инициализация\r\n"));
}

TEST_F(Identification, HourReaderStartsWithItsOwnCommand) {
    logic.Button4Click();
    screen.rowNumber = "x";
    Answer(Checked("01 04 08 12 03 00 00 FF FF FF FF"));
    EXPECT_EQ(screen.deviceType, "5");
    EXPECT_EQ(screen.config2, "-1");
    EXPECT_EQ(sent.back(), "06 01 06 03 E8 00 05");
    EXPECT_EQ(screen.rowNumber, "");
}

TEST_F(Identification, AConsoleRequestWouldTakeTheIdentificationsAnswerAndIsRefused) {
    logic.Button3Click();
    screen.startRegister = "4";
    logic.Button2Click();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(screen.notice,
              "Линия занята: идёт чтение суточного архива. Дождитесь конца или остановите его.");
    Answer(Checked("01 04 08 12 03 04 08 00 00 00 02"));
    logic.TimerQueryConfTimer();
    EXPECT_EQ(logic.TypeNum, 4);
    EXPECT_EQ(sent.back(), "06 01 06 03 E8 00 01");
}

TEST_F(Identification, TheReaderWaitsForTheRestOfTheAnswerThatGaveTheValues) {
    logic.Button3Click();
    // Every value is captured; the two check bytes are still on their way.
    Answer("01 04 08 12 03 04 08 00 00 00 02");
    EXPECT_EQ(logic.HaveVersion + logic.HaveConfig1 + logic.HaveConfig2, 3);
    logic.TimerQueryConfTimer();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_TRUE(screen.identificationPoll);
    EXPECT_EQ(screen.deviceType, "");

    Answer(CheckOf("01 04 08 12 03 04 08 00 00 00 02"));
    logic.TimerQueryConfTimer();
    EXPECT_FALSE(screen.identificationPoll);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "06 01 06 03 E8 00 01");
    // The echo is framed as the reader's answer, and the next step follows.
    Answer(Checked("01 06 03 E8 00 01"));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[2], "06 01 04 03 E9 00 01");
    EXPECT_EQ(logic.AnswerPos, 0);
}

TEST_F(Identification, AnAnswerReadOnArrivalStartsTheReaderWithoutEitherTimer) {
    logic.Button3Click();
    port.Deliver(Bytes("01 04 08 12 03 04 08 00 00 00 02"));
    logic.PortReadable();
    EXPECT_EQ(sent.size(), 1u); // the check bytes are still on their way
    port.Deliver(Bytes(CheckOf("01 04 08 12 03 04 08 00 00 00 02")));
    logic.PortReadable();
    EXPECT_FALSE(screen.identificationPoll);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1], "06 01 06 03 E8 00 01");
    EXPECT_EQ(screen.deviceType, "4");
}

TEST_F(Identification, APollTickAfterTheReadWasStoppedStartsNothing) {
    logic.Button3Click();
    logic.Button3Click(); // «Стоп» while the identification's answer is awaited
    EXPECT_TRUE(logic.ArchiveRunning());
    Answer(Checked("01 04 08 12 03 04 08 00 00 00 02")); // the answer in: the read ends
    ASSERT_FALSE(logic.ArchiveRunning());
    logic.TimerQueryConfTimer();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_FALSE(logic.ArchiveRunning());
    EXPECT_EQ(LineHolderActivity(), "");
}

TEST_F(Identification, NoAnswerWithinTheTimeOutEndsTheReadAndNamesTheLostPort) {
    logic.Button4Click();
    now += std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs);
    logic.Timer1Timer();
    EXPECT_TRUE(screen.messages.empty());
    port.Unplug();
    now += std::chrono::milliseconds(1);
    logic.Timer1Timer();
    ASSERT_EQ(screen.messages.size(), 1u);
    EXPECT_EQ(screen.messages[0].text,
              "Чтение часового архива остановлено: порт отключён. Последняя записанная "
              "строка: нет. Проверьте порт в настройках и прочтите архив заново.");
    EXPECT_EQ(screen.messages[0].caption, "ОШИБКА СВЯЗИ");
    EXPECT_EQ(screen.pane[0], Utf8ToCp1251("чтение остановлено: порт отключён\r\n"));
    EXPECT_FALSE(screen.identificationPoll);
    EXPECT_FALSE(logic.WaitAnswer);
    EXPECT_EQ(logic.Session.Transfer().ArhivStep, ArchiveState::Stopped);
}

TEST_F(Identification, ANonNumericAddressSendsNothingAndStartsNoPolling) {
    screen.deviceAddress = "one";
    EXPECT_THROW(logic.Button3Click(), EConvertError);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(screen.identificationPoll);
    EXPECT_EQ(logic.ManualRequest, 1);
}

} // namespace
