// The console keeps one reader on the line: a read refuses the other archive
// button and the manual send, stops on request or when the window closes,
// and never replaces the last good archive unless it ended; a manual request
// says when nothing answered and what a refusal means. Against the simulator.
#include "base/Cp1251.h"
#include "base/ModbusTexts.h"
#include "console/Uviewrs232.h"
#include "serial/LineDriver.h"
#include "support/ConsoleArchives.h"
#include "support/Recorder.h"
#include "support/SimConsole.h"
#include "support/SimWindow.h"
#include "viewer/Uviewarchive.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

constexpr const char* OldDay = "the last good day archive\r\n";

// The first `rows` rows of SmallDayFile after its template line.
std::string DayRows(int rows) {
    const std::string all = SmallDayFile;
    std::size_t at = 0;
    for (int i = 0; i <= rows; ++i)
        at = all.find('\n', at) + 1;
    return all.substr(0, at);
}

class OneReader : public SimWindowTest {
protected:
    OneReader() {
        TimingConstants fast;
        fast.ArchiveAnswerTimeoutMs = 600; // a silent meter or a stop in well under a second
        SetTimingForTests(fast);
        simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
        window = Open(ViewRS232);
        dir.Write("day.txt", OldDay);
    }
    ~OneReader() override { SetTimingForTests(TimingConstants{}); }
    QString Notice() const { return window->ConsoleNotice->text(); }
    bool Running() const { return window && window->Logic().ArchiveRunning(); }
    // Until the day read has written `rows` rows and awaits the next.
    void ReadDayUntilRow(int rows) {
        window->Button3->click();
        ASSERT_TRUE(WaitUntil([&] { return window->Edit5->text() == QString::number(rows); }, 10000));
    }

    QPointer<TViewRS232> window;
};

TEST_F(OneReader, TheOtherButtonAndTheSendAreRefusedAndTheDayReadCompletes) {
    ReadDayUntilRow(1);
    EXPECT_EQ(window->Button3->text(), "Стоп");
    const std::string busy =
        "Линия занята: идёт чтение суточного архива. Дождитесь конца или остановите его.";
    window->Button4->click();
    EXPECT_EQ(Notice().toStdString(), busy);
    window->ConsoleNotice->clear();
    window->Button2->click();
    EXPECT_EQ(Notice().toStdString(), busy);
    ASSERT_TRUE(WaitUntil([&] { return !Running(); }, 10000));
    EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    EXPECT_FALSE(std::filesystem::exists(dir.File("day.partial.txt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("hour.txt")));
    EXPECT_EQ(window->Button3->text(), "Считать &суточный архив");
    EXPECT_TRUE(LineHolderActivity().empty());
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    // The file just written opens in the viewer from beside the progress.
    ASSERT_FALSE(window->ShowArchiveButton->isHidden());
    window->ShowArchiveButton->click();
    EXPECT_NE(ViewArchive, nullptr);
}

TEST_F(OneReader, StopKeepsThePreviousFileAndTheRowsReadBesideIt) {
    ReadDayUntilRow(1);
    window->Button3->click(); // "Стоп"
    ASSERT_TRUE(WaitUntil([&] { return !Running(); }, 5000));
    EXPECT_EQ(dir.Read("day.txt"), OldDay);
    EXPECT_EQ(dir.Read("day.partial.txt"), DayRows(1));
    // The user's own stop is no link error: said beside the buttons, no box.
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    const std::string expected =
        "Чтение суточного архива остановлено: нажата кнопка «Стоп». Последняя записанная "
        "строка: 1. Прочитанные строки сохранены в файле " +
        dir.File("day.partial.txt") + ", файл " + dir.File("day.txt") + " не изменён.";
    EXPECT_EQ(Notice().toStdString(), expected);
    EXPECT_TRUE(window->Memo1->toPlainText().endsWith(
        QString::fromStdString("чтение остановлено: нажата кнопка «Стоп»; прочитанные строки — в файле " +
                               dir.File("day.partial.txt") + "\n")));
    // The line is quiet: the next request is the console's own and is answered.
    simulator.ClearTranscript();
    window->Button2->click();
    ASSERT_TRUE(WaitUntil([&] { return !window->Logic().WaitAnswer; }, 3000));
    EXPECT_TRUE(window->Memo1->toPlainText().startsWith("01 04 08 "))
        << window->Memo1->toPlainText().toStdString();
}

TEST_F(OneReader, AReadStoppedWhileIdentifyingNamesNoFileOfTheReadBefore) {
    ReadDayUntilRow(1);
    window->Button3->click(); // "Стоп": day.partial.txt keeps the row
    ASSERT_TRUE(WaitUntil([&] { return !Running(); }, 5000));
    simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1});
    window->Button4->click();
    window->Button4->click(); // "Стоп" before the meter has answered
    ASSERT_TRUE(WaitUntil([&] { return !Running(); }, 5000));
    EXPECT_EQ(Notice().toStdString(), "Чтение часового архива остановлено: нажата кнопка «Стоп». Последняя "
                                      "записанная строка: нет.");
    EXPECT_TRUE(window->Memo1->toPlainText().endsWith(
        QString::fromUtf8("чтение остановлено: нажата кнопка «Стоп»\n")))
        << window->Memo1->toPlainText().toStdString();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(OneReader, ClosingMidReadStopsItWithoutAQuestion) {
    ReadDayUntilRow(2);
    window->close();
    ASSERT_TRUE(WaitUntil([&] { return window.isNull(); }, 5000));
    EXPECT_EQ(ViewRS232, nullptr);
    EXPECT_EQ(dir.Read("day.txt"), OldDay);
    EXPECT_EQ(dir.Read("day.partial.txt"), DayRows(2));
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_TRUE(LineHolderActivity().empty());
}

TEST_F(OneReader, APortGoneMidReadEndsAtOnceAndKeepsThePreviousFile) {
    // The answer time-out is far away: only the hang-up can end the read.
    TimingConstants slow;
    slow.ArchiveAnswerTimeoutMs = 60000;
    SetTimingForTests(slow);
    ReadDayUntilRow(1);
    simulator.HangUp();
    ASSERT_TRUE(WaitUntil([&] { return !Running(); }, 5000));
    EXPECT_EQ(dir.Read("day.txt"), OldDay);
    EXPECT_EQ(dir.Read("day.partial.txt"), DayRows(1));
    const std::string expected = "Чтение суточного архива остановлено: порт отключён. Последняя записанная "
                                 "строка: 1. Проверьте порт в настройках и прочтите архив заново. "
                                 "Прочитанные строки сохранены в файле " +
                                 dir.File("day.partial.txt") + ", файл " + dir.File("day.txt") +
                                 " не изменён.";
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text, expected);
    EXPECT_EQ(Notice().toStdString(), expected);
}

// The console's logic with a clock the test moves.
class ConsoleAnswers : public ::testing::Test {
protected:
    ConsoleAnswers() : simulator(FastSim()) {
        simulator.Start();
        simulator.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
    }
    void PastTheTimeOut() { c.now += std::chrono::milliseconds(Timing().ArchiveAnswerTimeoutMs + 1); }

    ScopedProgramState world;
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    SimConsole c{simulator};
};

TEST_F(ConsoleAnswers, AnIdentificationAnswerTakenByAnotherReaderEndsWithinTheTimeOut) {
    c.logic.Button3Click();
    // Another reader takes the identification's answer off the line.
    Rs232Port* port = MainPort;
    std::uint8_t taken[64];
    std::size_t total = 0;
    while (total < 13) {
        std::uint32_t got = 0;
        port->ReadBlock(taken, 13 - static_cast<int>(total), got);
        ASSERT_GT(got, 0u);
        total += got;
    }
    c.logic.Timer1Timer();
    c.logic.TimerQueryConfTimer();
    EXPECT_TRUE(c.logic.ArchiveRunning());
    PastTheTimeOut();
    c.logic.Timer1Timer();
    EXPECT_FALSE(c.logic.ArchiveRunning());
    ASSERT_EQ(c.screen.messages.size(), 1u);
    EXPECT_EQ(c.screen.messages[0].text.rfind("Чтение суточного архива остановлено: прибор не отвечает.", 0),
              0u);
    EXPECT_FALSE(c.screen.identificationPoll);
}

TEST_F(ConsoleAnswers, ASilentAddressGetsOneLineAndTheNextRequestGoes) {
    c.screen.deviceAddress = "5";
    c.logic.Button2Click();
    c.logic.Timer1Timer();
    EXPECT_EQ(c.screen.notice, "");
    PastTheTimeOut();
    c.logic.Timer1Timer();
    EXPECT_EQ(c.screen.notice, "нет ответа от прибора 5 за 3,0 с");
    c.screen.deviceAddress = "1";
    c.logic.Button2Click();
    EXPECT_EQ(c.screen.notice, "");
    ASSERT_TRUE(c.RunUntil([&] { return !c.logic.WaitAnswer; }));
    EXPECT_EQ(c.screen.pane[0].substr(0, 9), "01 04 08 ");
}

TEST_F(ConsoleAnswers, ARequestThatDidNotGoOutAwaitsNoAnswer) {
    simulator.HangUp();
    ASSERT_FALSE(MainPort->CheckLine());
    TheRecorder().Clear();
    c.logic.Button2Click();
    ASSERT_EQ(TheRecorder().messages.size(), 1u); // the adapter: the port is not open
    PastTheTimeOut();
    c.logic.Timer1Timer();
    EXPECT_EQ(c.screen.notice, "");
    EXPECT_EQ(TheRecorder().messages.size(), 1u);
}

TEST_F(ConsoleAnswers, ARefusalIsExplainedBesideItsBytesAndRequestsShowWhenAsked) {
    c.logic.SetShowRequests(true);
    simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Exception, .value = 3});
    c.logic.Button2Click();
    ASSERT_TRUE(c.RunUntil([&] { return !c.screen.notice.empty(); }));
    EXPECT_EQ(c.screen.notice, "прибор 1 ответил исключением 03: недопустимое значение данных");
    // The block handed to the gateway, then the answer's bytes as the dump always shows them.
    const std::string shown = Utf8ToCp1251("запрос: 06 01 04 00 00 00 04\r\n01 84 03 ");
    EXPECT_EQ(c.screen.pane[0].substr(0, shown.size()), shown);
    PastTheTimeOut();
    c.logic.Timer1Timer();
    EXPECT_EQ(c.screen.notice, "прибор 1 ответил исключением 03: недопустимое значение данных");
}

// The console's own request is not asked again: its bytes are shown as they
// came, with the warning that the check did not match.
TEST_F(ConsoleAnswers, AGarbledAnswerToTheConsolesRequestIsShownWithAWarning) {
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Corrupt, .value = 1, .index = 3});
    c.logic.Button2Click();
    ASSERT_TRUE(c.RunUntil([&] { return !c.screen.notice.empty(); }));
    EXPECT_EQ(c.screen.notice, ChecksumMismatchText);
    EXPECT_EQ(c.screen.pane[0].substr(0, 12), "01 04 08 01 "); // 0x00 with its lowest bit changed
    c.now += std::chrono::milliseconds(Timing().AnswerQuietMs * 2);
    c.logic.Timer1Timer();
    EXPECT_EQ(c.sent.size(), 1u);
}

TEST(ModbusTexts, ExceptionNamesAndSilence) {
    EXPECT_EQ(RefusalText(5, 2), "прибор 5 ответил исключением 02: недопустимый адрес данных");
    EXPECT_EQ(RefusalText(1, 0x0B), "прибор 1 ответил исключением 0B: шлюз: устройство не ответило");
    EXPECT_EQ(RefusalText(1, 0x07), "прибор 1 ответил исключением 07");
    EXPECT_EQ(NoAnswerText(5, 3000, '.'), "нет ответа от прибора 5 за 3.0 с");
}

} // namespace
