// The console's polling against the simulated gateway and meter: the
// interval never shorter than the answer, the values decoded as the values
// pane decodes them, the stops (silent meter, exception, port gone), the
// line held by another window, the CSV log's bytes, and the window's switch.
#include "base/Cp1251.h"
#include "console/PollCsv.h"
#include "console/Uviewrs232.h"
#include "serial/LineDriver.h"
#include "support/Recorder.h"
#include "support/SimConsole.h"
#include "support/SimWindow.h"
#include "viewer/TimeChart.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QValueAxis>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;

class Polling : public ::testing::Test {
protected:
    Polling() : simulator(FastSim()) {
        simulator.Start();
        simulator.SetFloat(100, 12.5f);
        simulator.SetFloat(102, -0.0625f);
        console.screen.startRegister = "100";
        console.screen.registerCount = "4";
    }
    // Runs the receive loop until the poll has `n` samples.
    bool Samples(std::size_t n) {
        return console.RunUntil([&] { return console.screen.samples.size() >= n; });
    }
    // Moves the clock on and lets the poll's timer run.
    void After(int ms) {
        console.now += milliseconds(ms);
        console.logic.PollTimer();
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    sim::Simulator simulator;
    SimConsole console{simulator};
};

TEST_F(Polling, TheNextRequestWaitsForTheIntervalAndForTheAnswer) {
    ASSERT_TRUE(console.logic.StartPolling(100));
    EXPECT_EQ(LineHolderActivity(), PollActivity);
    ASSERT_EQ(console.sent.size(), 1u);
    // The interval has passed, the answer has not come: nothing goes out.
    After(150);
    EXPECT_EQ(console.sent.size(), 1u);
    ASSERT_TRUE(Samples(1));
    // The answer came after the interval: the next request goes at once.
    EXPECT_EQ(console.sent.size(), 2u);
    const PollSample& first = console.screen.samples[0];
    EXPECT_EQ(first.AnswerMs, 150);
    ASSERT_EQ(first.Values.size(), 2u);
    EXPECT_EQ(first.Values[0].Name, "G1(100)");
    EXPECT_EQ(first.Values[0].Value, 12.5);
    EXPECT_EQ(first.Values[1].Name, "G2(102)");
    EXPECT_EQ(first.Values[1].Value, -0.0625);
    // This answer came within the interval: the next waits for it.
    ASSERT_TRUE(Samples(2));
    EXPECT_EQ(console.sent.size(), 2u);
    // The panes show the last answer as a send shows it.
    EXPECT_EQ(console.screen.pane[2], "G1  (100): 12,5\r\nG2  (102): -0,0625\r\n");
    EXPECT_EQ(console.screen.wakeMs, 100);
    After(99);
    EXPECT_EQ(console.sent.size(), 2u);
    After(1);
    EXPECT_EQ(console.sent.size(), 3u);
    EXPECT_EQ(console.sent[2], console.sent[0]); // the same request every time
    ASSERT_TRUE(Samples(3));
    EXPECT_EQ(console.screen.pollCounts.Answered, 3);
    EXPECT_EQ(console.screen.pollCounts.Missed, 0);
    console.logic.StopPolling();
    EXPECT_EQ(LineHolderActivity(), "");
    EXPECT_TRUE(console.screen.messages.empty());
}

TEST_F(Polling, ASilentMeterIsCountedThenStopsThePollAfterTheArchiveTimeOut) {
    simulator.SetMeterSilent(true);
    ASSERT_TRUE(console.logic.StartPolling(100));
    After(Timing().PollAnswerTimeoutMs);
    EXPECT_EQ(console.screen.pollCounts.Missed, 1);
    EXPECT_EQ(console.sent.size(), 2u); // the poll goes on
    After(Timing().PollAnswerTimeoutMs);
    After(Timing().ArchiveAnswerTimeoutMs - 2 * Timing().PollAnswerTimeoutMs - 1);
    EXPECT_TRUE(console.screen.messages.empty());
    After(1);
    EXPECT_FALSE(console.logic.Poller.Running());
    EXPECT_TRUE(console.screen.pollingEnded);
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Опрос остановлен: прибор не отвечает. Проверьте связь с прибором и включите опрос заново.");
    EXPECT_EQ(console.screen.messages[0].caption, "ОШИБКА СВЯЗИ");
    EXPECT_EQ(LineHolderActivity(), "");
}

TEST_F(Polling, AnExceptionStopsThePollAtOnce) {
    simulator.AddFault(
        {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Exception, .value = 2, .after = 1});
    ASSERT_TRUE(console.logic.StartPolling(100));
    ASSERT_TRUE(Samples(1));
    After(100);
    ASSERT_TRUE(console.RunUntil([&] { return !console.logic.Poller.Running(); }));
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Опрос остановлен: прибор ответил ошибкой 2. Проверьте запрос и включите опрос заново.");
    EXPECT_EQ(console.sent.size(), 2u);
    EXPECT_EQ(console.screen.samples.size(), 1u);
}

TEST_F(Polling, AGarbledAnswerIsAskedAgainOnceTheLineIsQuietAndIsNoSample) {
    simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Corrupt, .index = 4});
    ASSERT_TRUE(console.logic.StartPolling(100));
    ASSERT_TRUE(console.RunUntil([&] { return console.logic.Line().Counts().Garbled == 1; }));
    console.now += milliseconds(Timing().ScanQuietMs - 1);
    console.logic.Timer1Timer();
    EXPECT_EQ(console.sent.size(), 1u);
    console.now += milliseconds(1);
    console.logic.Timer1Timer();
    ASSERT_EQ(console.sent.size(), 2u);
    EXPECT_EQ(console.sent[1], console.sent[0]);
    ASSERT_TRUE(Samples(1));
    EXPECT_EQ(console.screen.samples[0].Values[0].Value, 12.5);
    EXPECT_EQ(console.screen.pollCounts.Missed, 0);
}

TEST_F(Polling, APortGoneStopsThePoll) {
    ASSERT_TRUE(console.logic.StartPolling(100));
    ASSERT_TRUE(Samples(1));
    console.plugged = false;
    After(100);
    EXPECT_FALSE(console.logic.Poller.Running());
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Опрос остановлен: порт отключён. Проверьте порт в настройках и включите опрос заново.");
}

TEST_F(Polling, RefusedWhileAnotherHoldsTheLine) {
    int other = 0;
    ScopedLineClaim claim(&other, "чтение суточного архива");
    EXPECT_FALSE(console.logic.StartPolling(100));
    EXPECT_TRUE(console.sent.empty());
    ASSERT_EQ(console.screen.messages.size(), 1u);
    EXPECT_EQ(console.screen.messages[0].text,
              "Линия занята: идёт чтение суточного архива. Дождитесь конца или остановите его.");
}

// The CSV log of two samples, in both locales' separators.
TEST(PollCsv, LogBytesFollowTheViewersCsvRules) {
    setenv("TZ", "UTC", 1);
    tzset();
    PollSample a{1700000000123, 42, {{100, "G1(100)", 12.5}, {102, "G2(102)", 1.25e7}}};
    PollSample b{1700000000223, 7, {{100, "G1(100)", -0.0625}, {102, "G2(102)", 0}}};
    EXPECT_EQ(PollCsvHeader(a, ',') + PollCsvRow(a, ',') + PollCsvRow(b, ','),
              "DATETIME;ANSWER_MS;G1(100);G2(102)\r\n"
              "2023-11-14T22:13:20.123;42;12,5;12500000\r\n"
              "2023-11-14T22:13:20.223;7;-0,0625;0\r\n");
    EXPECT_EQ(PollCsvRow(a, '.'), "2023-11-14T22:13:20.123,42,12.5,12500000\r\n");

    TempDir dir;
    const std::string path = dir.Path() + "/live.csv";
    {
        PollCsvLog log(',');
        ASSERT_TRUE(log.Open(path));
        ASSERT_TRUE(log.Append(a));
        ASSERT_TRUE(log.Append(b));
    }
    EXPECT_EQ(dir.Read("live.csv"),
              "\xEF\xBB\xBF" + PollCsvHeader(a, ',') + PollCsvRow(a, ',') + PollCsvRow(b, ','));
    unsetenv("TZ");
    tzset();
}

// The window: the switch starts the poll, the values window fills, the
// request is locked; refused while another holds the line.
class PollingWindow : public SimWindowTest {
protected:
    PollingWindow() {
        simulator.SetFloat(100, 3.5f);
        window = Open(ViewRS232);
        window->Edit1->setText("100");
        window->Edit2->setText("2");
        window->PollInterval->setValue(100);
    }

    TViewRS232* window = nullptr;
};

TEST_F(PollingWindow, TheSwitchFillsTableAndChartUntilTurnedOff) {
    window->PollCheckBox->click();
    ASSERT_TRUE(window->PollCheckBox->isChecked());
    EXPECT_FALSE(window->Button2->isEnabled());
    EXPECT_FALSE(window->Edit1->isEnabled());
    TViewLiveValues* live = window->LiveValues();
    ASSERT_TRUE(live && !live->isHidden());
    ASSERT_TRUE(WaitUntil([&] { return live->Table->rowCount() >= 3; }));
    EXPECT_EQ(live->Table->horizontalHeaderItem(2)->text(), "G1(100)");
    EXPECT_EQ(live->Table->item(0, 2)->text(), "3,5");
    EXPECT_EQ(live->Chart->SeriesCount(), 1);
    EXPECT_GE(live->Chart->PointCount(0), 3u);
    // The value axis has grown to take the values in.
    const auto* axis = qobject_cast<QValueAxis*>(live->Chart->chart()->axes(Qt::Vertical)[0]);
    EXPECT_TRUE(axis->min() < 3.5 && axis->max() > 3.5);
    window->PollCheckBox->click();
    EXPECT_FALSE(window->PollCheckBox->isChecked());
    EXPECT_TRUE(window->Button2->isEnabled());
    EXPECT_EQ(LineHolderActivity(), "");
    EXPECT_TRUE(TheRecorder().messages.empty());
}

TEST_F(PollingWindow, TheSwitchIsRefusedWhileAnotherHoldsTheLine) {
    int other = 0;
    ScopedLineClaim claim(&other, "поиск приборов");
    window->PollCheckBox->click();
    EXPECT_FALSE(window->PollCheckBox->isChecked());
    EXPECT_TRUE(window->Button2->isEnabled());
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text,
              "Линия занята: идёт поиск приборов. Дождитесь конца или остановите его.");
}

} // namespace
