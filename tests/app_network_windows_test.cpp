// The main window with its COM number leading to a serial device server
// (ser2net, RFC 2217) in front of the simulated gateway: the status line
// names the connection, the gateway window reads and writes the settings,
// the console window copies the day archive and answers a request, the scan
// window finds the meter, and the packet monitor shows a packet with 0xFF in
// it, as on a local line.
#include "app/MainForm.h"
#include "base/Options.h"
#include "base/Timing.h"
#include "console/Uviewrs232.h"
#include "gateway/Config.h"
#include "line/Uviewscan.h"
#include "monitor/Uviewpacket.h"
#include "sim/NetListen.h"
#include "sim/Simulator.h"
#include "support/ConsoleArchives.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/ScopedProgramState.h"
#include "support/Ser2net.h"
#include "support/WindowChecks.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using Msgs = std::vector<RecordedMessage>;

TEST(NetworkWindows, SettingsAndDayArchiveThroughRfc2217) {
    ScopedProgramState world;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); // the file's decimal commas
    TempDir dir;
    sim::Simulator gateway;
    gateway.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
    gateway.Start();
    Ser2netServer server(gateway.PortPath(), dir);
    ASSERT_TRUE(server.Started()) << "ser2net did not start (is it installed?)";
    dir.LinkCom(4, server.RfcAddress());
    ScopedExecutableDir exeDir{dir.Path()};
    AppOptions.PortNumber = 4;
    {
        TMainForm form;
        ASSERT_TRUE(MainPort->IsOpen());
        EXPECT_TRUE(form.PortState->text().startsWith(QString::fromStdString(
            "COM4, " + server.RfcAddress() + ", 115200 бит/с: подключён, круговая задержка ")))
            << form.PortState->text().toStdString();

        form.mnuConfig->trigger();
        ASSERT_NE(frmConfig, nullptr);
        frmConfig->ReadClick();
        EXPECT_EQ(frmConfig->EditAddress->text(), "1");
        frmConfig->EditAddress->setText("7");
        TimingConstants fast;
        fast.FinishWritePauseMs = 10;
        SetTimingForTests(fast);
        frmConfig->WriteClick();
        SetTimingForTests(TimingConstants{});
        EXPECT_EQ(gateway.AppliedSettings().Address, 7);
        frmConfig->close();

        form.RS2321->trigger();
        ASSERT_NE(ViewRS232, nullptr);
        ViewRS232->Button3->click();
        ASSERT_TRUE(WaitUntil(
            [&] { return ViewRS232->Logic().Session.Transfer().ArhivStep == ArchiveState::Finished; },
            10000));
        EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
        // A request by hand and its decoded values.
        gateway.SetFloat(100, 12.5f);
        ViewRS232->Edit1->setText("100");
        ViewRS232->Edit2->setText("2");
        ViewRS232->Button2->click();
        ASSERT_TRUE(WaitUntil([] { return !ViewRS232->Logic().WaitAnswer; }, 5000));
        EXPECT_EQ(ViewRS232->Memo3->toPlainText(), QString::fromUtf8("G1  (100): 12,5\n"));
        ViewRS232->close();

        // The scan window finds the meter at 1 and nothing at 2.
        form.mnuScan->trigger();
        ViewScan->FirstEdit->setValue(1);
        ViewScan->LastEdit->setValue(2);
        ViewScan->StartButton->click();
        ASSERT_TRUE(WaitUntil([] { return ViewScan->Scan().End() == ScanEnd::Finished; }, 10000));
        const auto& results = ViewScan->Scan().Results();
        ASSERT_EQ(results.size(), 2u);
        EXPECT_TRUE(results[0].HasIdentity);
        EXPECT_EQ(results[1].Kind, ScanResultKind::NoAnswer);
        ViewScan->close();

        // A packet whose data hold 0xFF, in the packet monitor.
        QString shown;
        QTimer driver;
        QElapsedTimer clock;
        clock.start();
        bool sent = false;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (!ViewPacket || !ViewPacket->Looping()) return;
            if (!sent) gateway.EmitPacket({.Byte0 = 0x01, .Byte1 = 0x02, .Data = {0xFF, 0x10, 0xFF}});
            sent = true;
            shown = ViewPacket->RichEdit->toPlainText();
            if (shown.contains("FF 10 FF") || clock.elapsed() > 10000) ViewPacket->close();
        });
        driver.start(5);
        form.mnuTestPacket->trigger();
        EXPECT_TRUE(shown.startsWith("OK   : 01 02 03 7D B0 FF 10 FF [0D]")) << shown.toStdString();
    }
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(TheRecorder().messages, Msgs{}) << Describe(TheRecorder().messages);
}

// The server goes away in the middle of the console's archive read: the read
// ends as for an unplugged adapter, day.txt keeps the last good archive, and
// the port connects again by itself, so that the next read succeeds.
TEST(NetworkWindows, AConnectionDroppedMidReadKeepsTheFileAndConnectsAgain) {
    ScopedProgramState world;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TempDir dir;
    sim::Simulator gateway;
    gateway.SetArchive(sim::ArchiveKind::Day, SmallDayArchive());
    gateway.Start();
    sim::NetListener server(gateway.PortPath(), {});
    server.Start();
    dir.LinkCom(4, server.Address());
    dir.Write("day.txt", "the last good archive\r\n");
    ScopedExecutableDir exeDir{dir.Path()};
    AppOptions.PortNumber = 4;
    {
        TMainForm form;
        ASSERT_TRUE(MainPort->IsOpen());
        form.RS2321->trigger();
        // The third answer is held back; meanwhile the server drops the client.
        gateway.AddFault(
            {.step = sim::Step::MeterAnswer, .kind = sim::FaultKind::Delay, .value = 300, .after = 2});
        ViewRS232->Button3->click();
        ASSERT_TRUE(WaitUntil([&] { return gateway.PendingFaults() == 0; }, 5000));
        server.Stop();
        server.Start();
        ASSERT_TRUE(WaitUntil([&] { return !ViewRS232->Logic().Session.Active(); }, 5000));
        EXPECT_EQ(dir.Read("day.txt"), "the last good archive\r\n");
        EXPECT_EQ(
            TheRecorder().messages,
            (Msgs{{"Чтение суточного архива остановлено: порт отключён. Последняя записанная строка: нет. "
                   "Проверьте порт в настройках и прочтите архив заново.",
                   "ОШИБКА СВЯЗИ", MessageIcon::Information}}));
        // The main window's watch finds the connection gone and makes it again.
        ASSERT_TRUE(WaitUntil([&] { return MainPort->IsOpen() && !MainPort->Disconnected; }, 10000));
        // The answer held back reaches the new connection (the console shows
        // it), and the gateway gives up the broken exchange after a second
        // of silence, as a real one does.
        WaitUntil([] { return false; }, 1500);
        ViewRS232->Button3->click();
        ASSERT_TRUE(WaitUntil(
            [&] { return ViewRS232->Logic().Session.Transfer().ArhivStep == ArchiveState::Finished; }, 10000))
            << ViewRS232->Memo1->toPlainText().toStdString() << Describe(TheRecorder().messages);
        EXPECT_EQ(dir.Read("day.txt"), SmallDayFile);
    }
    QLocale::setDefault(QLocale::c());
}

} // namespace
