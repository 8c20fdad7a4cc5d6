// configurator.exe's main window and the windows its menus open, under Wine,
// offscreen, against the Linux gateway-sim on a COM port with real line
// timing: the caption and the port on the status line; the settings dialog's
// "Связь" page listing the COM port as the system lists it; the gateway
// window reading the settings, writing a new address and reading it back;
// the archive viewer showing a day file; the packet monitor showing the
// packets of a second simulator (a packet source on another COM port) once
// the port is switched to it; and a COM number bound on the «Связь» page to
// a third simulator's network address, through which the gateway window reads.
// Usage: windows_main_window_test.exe GATEWAY-COM PACKETS-COM ADDRESS PLUGIN-DIR
#include "WineChecks.h"
#include "app/MainForm.h"
#include "app/OptionsDlg.h"
#include "app/ProgramPort.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "gateway/Config.h"
#include "monitor/Uviewpacket.h"
#include "serial/Rs232.h"
#include "viewer/Uviewarchive.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

std::string Utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

// A day file of three rows as the console writes it (whole numbers: the
// decimal separator is the regional one).
constexpr const char* DayFile = "DATE HOUR TNORM Q1 M1\r\n"
                                "01-03-2024  0 24 15 10 \r\n"
                                "02-03-2024  0 23 25 20 \r\n"
                                "03-03-2024  0 24 35 30 \r\n";

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: windows_main_window_test GATEWAY-COM PACKETS-COM ADDRESS PLUGIN-DIR\n");
        return 2;
    }
    const int gatewayCom = std::atoi(argv[1]);
    const int packetsCom = std::atoi(argv[2]);
    const QString address = QString::fromLocal8Bit(argv[3]);
    QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[4]));
    std::vector<char*> args{argv[0], const_cast<char*>("-platform"), const_cast<char*>("offscreen")};
    int count = static_cast<int>(args.size());
    QApplication app(count, args.data());
    PrintingPresenter presenter;
    SetMessagePresenter(&presenter);
    // The gateway applies written settings within this pause.
    TimingConstants timing;
    timing.FinishWritePauseMs = 200;
    SetTimingForTests(timing);

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "windows_main_window_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    SetExecutableDir(dir.string());
    AppOptions.PortNumber = gatewayCom;
    AppOptions.LinkMode = 1; // I2C, as the simulator

    auto* form = new TMainForm;
    form->show();
    QApplication::processEvents();
    const std::string com = "COM" + std::to_string(gatewayCom);
    Check(form->windowTitle() == QString::fromUtf8(MainFormCaption), "the main window's caption");
    Check(MainPort && MainPort->IsOpen(), "the main window did not open the port");
    const std::string state = Utf8(form->PortState->text());
    Check(state.rfind(com + ", ", 0) == 0 && state.find("115200 бит/с: открыт") != std::string::npos,
          "the status line does not name the open port");
    std::printf("status line: %s\n", state.c_str());

    // The settings dialog: its first page lists the COM port the system has.
    form->Options1->trigger();
    QApplication::processEvents();
    Check(OptionsDlg != nullptr, "no settings dialog");
    if (OptionsDlg) {
        Check(OptionsDlg->PageControl1->tabText(0) == QString::fromUtf8("Связь"),
              "the first page is not «Связь»");
        bool listed = false;
        for (int i = 0; i < OptionsDlg->ComboDevices->count(); ++i)
            listed = listed || Utf8(OptionsDlg->ComboDevices->itemText(i)).find(com) != std::string::npos;
        Check(listed, "the «Связь» page does not list the port");
        if (!listed)
            for (int i = 0; i < OptionsDlg->ComboDevices->count(); ++i)
                std::fprintf(stderr, "listed: %s\n", Utf8(OptionsDlg->ComboDevices->itemText(i)).c_str());
        OptionsDlg->Button2->click(); // Отмена
        QApplication::processEvents();
    }

    // The gateway window: read, write a new address, read it back.
    form->mnuConfig->trigger();
    QApplication::processEvents();
    Check(frmConfig != nullptr, "no gateway window");
    if (frmConfig) {
        frmConfig->Read->click();
        Check(frmConfig->EditAddress->text() == "9", "the gateway's address was not read");
        frmConfig->EditAddress->setText("11");
        frmConfig->Write->click();
        frmConfig->EditAddress->setText("");
        frmConfig->Read->click();
        Check(frmConfig->EditAddress->text() == "11", "the written address did not come back");
        frmConfig->Quit->click();
        QApplication::processEvents();
    }

    // The viewer: a day file as a table of its rows.
    {
        std::ofstream(dir / "day.txt", std::ios::binary) << DayFile;
        TViewArchive* viewer = ShowArchiveInViewer(form->findChild<QMdiArea*>(),
                                                   QString::fromStdWString((dir / "day.txt").wstring()));
        QApplication::processEvents();
        Check(viewer && viewer->Table->model() && viewer->Table->model()->rowCount() == 3,
              "the viewer does not show the three rows");
        if (viewer) viewer->close();
        QApplication::processEvents();
    }

    // The packet monitor on the packet source's port: its loop runs inside
    // the menu command, driven from a timer until packets are shown.
    AppOptions.PortNumber = packetsCom;
    ReopenMainPort(AppOptions);
    Check(MainPort && MainPort->IsOpen(), "the packet source's port did not open");
    bool shown = false;
    QElapsedTimer clock;
    clock.start();
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!ViewPacket) return;
        shown = ViewPacket->RichEdit->toPlainText().contains(QStringLiteral("OK   : "));
        if (shown || clock.elapsed() > 20000) ViewPacket->close();
    });
    driver.start(20);
    form->mnuTestPacket->trigger();
    driver.stop();
    Check(shown, "the monitor showed no packet");

    // COM28 bound to the network address on the «Связь» page: OK opens it,
    // and the gateway window reads the third gateway through it.
    form->Options1->trigger();
    QApplication::processEvents();
    if (OptionsDlg) {
        OptionsDlg->Edit2->setText("28");
        OptionsDlg->EditAddress->setText(address);
        OptionsDlg->Button1->click(); // OK
        QApplication::processEvents();
    }
    Check(MainPort && MainPort->Network() && MainPort->IsOpen(), "COM28 is not the network port");
    // The status line follows on the main window's next look at the port.
    QElapsedTimer look;
    look.start();
    while (!form->PortState->text().contains(QString::fromUtf8("подключён")) && look.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    Check(form->PortState->text().contains(QString::fromUtf8("подключён")),
          "the status line does not say the network port is connected");
    std::printf("status line: %s\n", Utf8(form->PortState->text()).c_str());
    form->mnuConfig->trigger();
    QApplication::processEvents();
    if (frmConfig) {
        frmConfig->Read->click();
        Check(frmConfig->EditAddress->text() == "13", "the gateway behind the network address was not read");
        frmConfig->Quit->click();
        QApplication::processEvents();
    }

    delete form;
    QApplication::processEvents();
    std::filesystem::remove_all(dir);
    return failures ? 1 : 0;
}
