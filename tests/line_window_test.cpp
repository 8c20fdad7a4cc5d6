// The scan window headless, through its real controls, against a simulated
// line of meters: the table of a scan, the console refused while the scan
// holds the line, a batch read from the ticked rows, the packet monitor
// that keeps a scan from starting, and its sessions, saved, opened and run by
// configurator-cli collect.
#include "base/Files.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "collect/CollectSession.h"
#include "console/Uviewrs232.h"
#include "line/Uviewscan.h"
#include "serial/LineDriver.h"
#include "serial/PortDevices.h"
#include "support/CliRun.h"
#include "support/CollectFixtures.h"
#include "support/Recorder.h"
#include "support/SimWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

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
    // The session buttons' file dialogs answer `path`.
    void Choose(const std::string& path) {
        window->ChooseFile = [path](const QString&, const QString&, const QString&, bool) {
            return QString::fromStdString(path);
        };
    }
    CollectSession Read(const std::string& name) {
        std::string error;
        const auto s = ReadSessionFile(dir.File(name), error);
        EXPECT_TRUE(s) << error;
        return s.value_or(CollectSession());
    }

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

TEST_F(ScanWindow, ASessionSavedFromTheControlsOpensBackIntoThem) {
    window->FirstEdit->setValue(3);
    window->SpeedCombo->setCurrentIndex(3);
    window->WaitEdit->setValue(90);
    window->DayCheck->setChecked(false);
    window->HourCheck->setChecked(true);
    window->OutputEdit->setText(QString::fromUtf8("участок 2"));
    Choose(dir.File("site.toml"));
    window->SaveSessionButton->click();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    const CollectSession s = Read("site.toml");
    EXPECT_EQ(s.Port, "COM" + std::to_string(AppOptions.PortNumber));
    EXPECT_EQ(s.LinkMode, 1);
    EXPECT_EQ(s.Rs485SpeedItem, 3);
    EXPECT_EQ(s.WaitMs, 90);
    EXPECT_TRUE(s.Scan);
    EXPECT_EQ(s.Addresses, (std::vector<int>{3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(s.Archives, SessionArchives::Hour);
    EXPECT_EQ(s.Output, "участок 2");
    EXPECT_EQ(s.Database, "archive.db");

    window->FirstEdit->setValue(1);
    window->SpeedCombo->setCurrentIndex(0);
    window->DayCheck->setChecked(true);
    window->OutputEdit->clear();
    window->OpenSessionButton->click();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(window->FirstEdit->value(), 3);
    EXPECT_EQ(window->LastEdit->value(), 8);
    EXPECT_EQ(window->SpeedCombo->currentText().toStdString(), "9600");
    EXPECT_EQ(window->WaitEdit->value(), 90);
    EXPECT_FALSE(window->DayCheck->isChecked());
    EXPECT_TRUE(window->HourCheck->isChecked());
    EXPECT_EQ(window->OutputEdit->text().toStdString(), "участок 2");
}

// A colleague's file: its meters are ticked, answering or not, and its keys
// the window does not show are saved back as they were.
TEST_F(ScanWindow, AnOpenedSessionTicksItsMetersAndKeepsWhatTheWindowDoesNotShow) {
    dir.Write("line.toml", "port = \"COM7\"\naddress = [5, 7]\nscan = false\ndb = \"m.db\"\n"
                           "mqtt = \"broker:1884\"\ntopic = \"plant\"\ncsv = true\n");
    Choose(dir.File("line.toml"));
    window->OpenSessionButton->click();
    EXPECT_EQ(window->ChosenAddresses(), (std::vector<int>{5, 7}));
    window->StartButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    ASSERT_EQ(window->ScanTable->rowCount(), 3);
    EXPECT_EQ(window->ScanTable->item(1, 0)->checkState(), Qt::Unchecked);
    EXPECT_EQ(window->ChosenAddresses(), (std::vector<int>{5, 7}));
    window->ScanTable->item(1, 0)->setCheckState(Qt::Checked);

    window->SaveSessionButton->click();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    const CollectSession s = Read("line.toml");
    EXPECT_EQ(s.Addresses, (std::vector<int>{5, 6, 7}));
    EXPECT_FALSE(s.Scan);
    EXPECT_EQ(s.Port, "COM7");
    EXPECT_FALSE(s.Speed);
    EXPECT_EQ(s.Database, "m.db");
    EXPECT_EQ(s.MqttHost, "broker");
    EXPECT_EQ(s.MqttPort, 1884);
    EXPECT_EQ(s.Topic, "plant");
    EXPECT_TRUE(s.Csv);

    // A session that scans: no row stays ticked, and its addresses go back as written.
    dir.Write("scan.toml", "address = [5, \"7-9\"]\nscan = true\n");
    Choose(dir.File("scan.toml"));
    window->OpenSessionButton->click();
    EXPECT_TRUE(window->ChosenAddresses().empty());
    window->SaveSessionButton->click();
    EXPECT_EQ(Read("scan.toml").Addresses, (std::vector<int>{5, 7, 8, 9}));
    EXPECT_TRUE(Read("scan.toml").Scan);
}

TEST_F(ScanWindow, ABadSessionOrAFailedSaveIsSaidAndChangesNothing) {
    dir.Write("bad.toml", "address = [1, 2]\nwait = 0\n");
    Choose(dir.File("bad.toml"));
    window->OpenSessionButton->click();
    ASSERT_EQ(TheRecorder().messages.size(), 1U);
    EXPECT_EQ(TheRecorder().messages[0].text,
              dir.File("bad.toml") + ", строка 2: неверное значение wait: нужно время в мс, 1..600000");
    EXPECT_EQ(window->LastEdit->value(), 8);
    EXPECT_EQ(window->WaitEdit->value(), 60);

    TheRecorder().Clear();
    Choose(dir.File("no-folder/site.toml"));
    window->SaveSessionButton->click();
    ASSERT_EQ(TheRecorder().messages.size(), 1U);
    EXPECT_EQ(
        TheRecorder().messages[0].text.rfind("Сеанс не сохранён в " + dir.File("no-folder/site.toml"), 0), 0U)
        << TheRecorder().messages[0].text;
    EXPECT_FALSE(FileExists(dir.File("no-folder/site.toml")));
}

// Set up once at the site: a session saved here, run by the command line,
// fills the database and, where mosquitto is installed, the broker.
TEST_F(ScanWindow, ASessionSavedHereIsCollectedByTheCommandLine) {
    window->StartButton->click();
    ASSERT_TRUE(WaitUntil([&] { return Idle(); }));
    window->ScanTable->item(0, 0)->setCheckState(Qt::Unchecked); // meter 1 is left out
    window->OutputEdit->setText(QString::fromStdString(dir.File("site")));
    // The program's COM number leads to the line: the session names the device.
    dir.LinkCom(AppOptions.PortNumber, simulator.PortPath());
    Choose(dir.File("site.toml"));
    window->SaveSessionButton->click();
    ASSERT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(Read("site.toml").Port, simulator.PortPath());
    // The timer's run: the window and its port are gone; no ports/ links either.
    window->close();
    QApplication::processEvents();
    delete MainPort;
    MainPort = nullptr;
    std::filesystem::remove_all(dir.File("ports"));
    setenv("CONFIGURATOR_LOCK_DIR", dir.Path().c_str(), 1);

    std::vector<std::string> args = {"collect", dir.File("site.toml")};
    const int port = FreeLoopbackPort();
    std::unique_ptr<Broker> broker;
    std::unique_ptr<Subscriber> subscriber;
    if (BrokerInstalled()) {
        broker = std::make_unique<Broker>(dir, port);
        subscriber = std::make_unique<Subscriber>(port);
        args.insert(args.end(), {"--mqtt", "127.0.0.1:" + std::to_string(port), "--topic", "t"});
    }
    const CliResult r = Cli(args);
    unsetenv("CONFIGURATOR_LOCK_DIR");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("адрес 5: day прочитан, строк 2"), std::string::npos) << r.out;
    EXPECT_FALSE(FileExists(dir.File("site/day-001.txt")));
    EXPECT_EQ(Query(dir.File("site/archive.db"), "SELECT count(*) FROM day_rows WHERE meter = 5"), 2);
    EXPECT_EQ(Query(dir.File("site/archive.db"), "SELECT count(*) FROM meters"), 1);
    if (subscriber) {
        subscriber->Loop(3000, 3);
        EXPECT_EQ(subscriber->Count("t/5/day"), 2U);
        EXPECT_EQ(subscriber->Count("t/5/status"), 1U);
    }
}

} // namespace
