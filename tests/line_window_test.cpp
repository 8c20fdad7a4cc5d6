// The scan window headless, through its real controls, against a simulated
// line of meters: the table of a scan, the console refused while the scan
// holds the line, a batch read from the ticked rows, and the packet monitor
// that keeps a scan from starting.
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "line/Uviewscan.h"
#include "serial/LineDriver.h"
#include "serial/PortDevices.h"
#include "support/Recorder.h"
#include "support/SimWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

sim::SimOptions Line() {
    sim::SimOptions o;
    sim::MeterSetup five;
    five.Address = 5;
    five.Ident = sim::IdentificationForType(8);
    five.DayRows = 2;
    o.MoreMeters = {five};
    return o;
}

class ScanWindow : public SimWindowTest {
protected:
    ScanWindow() : SimWindowTest(Line()) {
        window = Open(ViewScan);
        window->LastEdit->setValue(8);
        window->WaitEdit->setValue(60);
    }
    bool Idle() const { return window->StartButton->isEnabled(); }

    TViewScan* window = nullptr;
};

TEST_F(ScanWindow, ScansTheLineThenReadsTheTickedMetersOneFileEach) {
    window->StartButton->click();
    EXPECT_FALSE(Idle());
    // The console's sending waits while the scan holds the line.
    TViewRS232* console = Open(ViewRS232);
    console->Button2->click();
    EXPECT_EQ(console->ConsoleNotice->text().toStdString(),
              "Линия занята: идёт поиск приборов. Дождитесь конца или остановите его.");
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));

    QTableWidget* table = window->ScanTable;
    ASSERT_EQ(table->rowCount(), 8);
    std::vector<int> shown;
    for (int row = 0; row < table->rowCount(); ++row)
        if (!table->isRowHidden(row)) shown.push_back(table->item(row, 0)->text().toInt());
    EXPECT_EQ(shown, (std::vector<int>{1, 5}));
    EXPECT_EQ(table->item(4, 1)->text().toStdString(), "опознан");
    EXPECT_EQ(table->item(4, 2)->text().toStdString(), "8");
    EXPECT_EQ(window->ChosenAddresses(), (std::vector<int>{1, 5}));
    EXPECT_EQ(
        window->ProgressLine->text().toStdString().rfind("Поиск закончен. Ответили адресов: 2 из 8, за ", 0),
        0u);
    window->SilentCheck->setChecked(true);
    EXPECT_FALSE(table->isRowHidden(1));
    ASSERT_TRUE(window->SaveCsv(QString::fromStdString(dir.File("scan.csv"))));
    // As the archive CSV: a byte order mark, ';' beside the Russian decimal comma.
    EXPECT_EQ(dir.Read("scan.csv").substr(0, 14), "\xEF\xBB\xBF"
                                                  "Адрес;");
    EXPECT_TRUE(LineHolderActivity().empty());

    window->BatchButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    const std::string folder = window->BatchFolder();
    EXPECT_EQ(folder.rfind(ArchiveDir() + "архивы ", 0), 0u) << folder;
    EXPECT_EQ(window->BatchTable->rowCount(), 2);
    EXPECT_EQ(window->BatchTable->item(1, 4)->text().toStdString(), "прочитан");
    EXPECT_EQ(window->BatchTable->item(1, 5)->text().toStdString(), "day-005.txt");
    EXPECT_TRUE(std::filesystem::exists(folder + "day-001.txt"));
    EXPECT_TRUE(std::filesystem::exists(folder + "day-005.txt"));
    EXPECT_NE(window->BatchProgress->text().toStdString().find(": прочитано 2 из 2."), std::string::npos);
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

// A meter far slower than the wait: «Переспросить молчащие» keeps the scan
// listening for the long wait, and the slow one is found.
TEST_F(ScanWindow, SilentAddressesAskedAgainWithTheLongWaitFindASlowMeter) {
    simulator.SetMeterDelay(400);
    window->LastEdit->setValue(2);
    window->LongWaitEdit->setValue(600);
    window->RecheckCheck->setChecked(true);
    window->StartButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(window->ScanTable->item(0, 1)->text().toStdString(), "поздний ответ: увеличьте ожидание");
    EXPECT_GE(window->ScanTable->item(0, 6)->text().toInt(), 400);
    EXPECT_EQ(
        window->ProgressLine->text().toStdString().rfind("Поиск закончен. Ответили адресов: 1 из 2, за ", 0),
        0u);
}

TEST_F(ScanWindow, AScanDoesNotStartWhileThePacketMonitorTakesTheAnswers) {
    const int monitor = 0;
    ClaimLine(&monitor, "приём пакетов", LineHold::EveryByte);
    window->StartButton->click();
    ReleaseLine(&monitor);
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text, MonitorOpenText);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(window->ScanTable->rowCount(), 0);
}

TEST_F(ScanWindow, TheSpeedIsReadFromTheGateway) {
    simulator.SetCells(0x81, 0x58, 2, {103}); // 9600 bit/s
    window->ReadSpeedButton->click();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(window->SpeedCombo->currentText().toStdString(), "9600");
    EXPECT_NE(window->WaitLabel->text().toStdString().find("Ожидание 71 мс"), std::string::npos)
        << window->WaitLabel->text().toStdString();
}

TEST_F(ScanWindow, APortNotOpenIsSaidOnceAndNothingStarts) {
    Rs232Port* line = MainPort;
    MainPort = new Rs232Port(dir.File("no-such-port"), 115200);
    window->StartButton->click();
    const auto messages = TheRecorder().messages;
    const std::string expected = PortNotOpenText(*MainPort);
    delete MainPort;
    MainPort = line;
    ASSERT_EQ(messages.size(), 1u) << Describe(messages);
    EXPECT_EQ(messages[0].text, expected);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(window->ScanTable->rowCount(), 0);
    EXPECT_TRUE(LineHolderActivity().empty());
}

TEST_F(ScanWindow, AFailedOrStoppedBatchNamesOnlyFilesThatExist) {
    window->StartButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    // The meters fall silent: neither read writes a file.
    TimingConstants fast;
    fast.ArchiveAnswerTimeoutMs = 150;
    SetTimingForTests(fast);
    simulator.AddFault({.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::NoAnswer, .times = -1});
    window->BatchButton->click();
    const bool ended = WaitUntil([&] { return Idle(); });
    SetTimingForTests(TimingConstants{});
    ASSERT_TRUE(ended);
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(window->BatchTable->item(row, 2)->text().toStdString(), "0");
        EXPECT_EQ(window->BatchTable->item(row, 4)->text().toStdString(), "не прочитан: прибор не отвечает");
        EXPECT_EQ(window->BatchTable->item(row, 5)->text().toStdString(), "");
    }
    const std::string summary = window->BatchProgress->text().toStdString();
    EXPECT_NE(summary.find(": прочитано 0 из 2."), std::string::npos) << summary;
    EXPECT_EQ(summary.find("Неполные"), std::string::npos) << summary;

    // Stopped while it identifies the first meter: no file, and no error box.
    window->BatchButton->click();
    window->StopButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    EXPECT_EQ(window->BatchTable->item(0, 4)->text().toStdString(), "не прочитан: чтение остановлено");
    EXPECT_EQ(window->BatchTable->item(0, 5)->text().toStdString(), "");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(ScanWindow, HeadersShowWholeAndTheTablesGrowWithTheWindow) {
    area.show();
    window->show();
    QApplication::processEvents();
    const int narrow = window->ScanTable->width();
    QHeaderView* header = window->ScanTable->horizontalHeader();
    for (int c = 0; c < header->count(); ++c)
        EXPECT_GE(header->sectionSize(c), header->sectionSizeHint(c)) << c;
    window->showMaximized();
    QApplication::processEvents();
    EXPECT_GT(window->ScanTable->width(), narrow);
}

} // namespace
