// The day archive through the console window's button, offscreen, timed from
// the click to the end of the read: READS reads one after the other, each
// time printed as "day archive: ROWS rows in SECONDS s". Built for Linux and
// for Windows from this one file, so that bench/windows_console.sh can set the
// window under Wine beside the Linux one on the same simulated line.
// PORT is a COM number (Windows: Wine's COMn) or a device path (Linux).
// Usage: console_window_day PORT READS [PLUGIN-DIR]
#include "WineChecks.h"
#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "serial/Rs232.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: console_window_day PORT READS [PLUGIN-DIR]\n");
        return 2;
    }
    const std::string port = argv[1];
    const int reads = std::atoi(argv[2]);
    // Wine passes no QT_* variable on: the platform and its folder by hand.
    if (argc == 4) QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[3]));
    std::vector<char*> args{argv[0], const_cast<char*>("-platform"), const_cast<char*>("offscreen")};
    int count = static_cast<int>(args.size());
    QApplication app(count, args.data());
    PrintingPresenter presenter;
    SetMessagePresenter(&presenter);

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("console_window_day-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(dir);
    SetExecutableDir(dir.string());
    const bool number = port.find_first_not_of("0123456789") == std::string::npos;
    MainPort = number ? new Rs232Port(std::atoi(port.c_str()), 115200) : new Rs232Port(port, 115200);
    int status = 0;
    if (!MainPort->Ok) {
        std::fprintf(stderr, "%s does not open\n", port.c_str());
        status = 1;
    }

    AdapterLink link{[] { return MainPort; }, [] { return LinkSettings{1}; }}; // I2C, as the simulator
    QMdiArea area;
    area.resize(1200, 900);
    area.show();
    TViewRS232* window =
        status ? nullptr : CreateOrRaise(&area, ViewRS232, PortAccessor([] { return MainPort; }), link);
    QApplication::processEvents();
    for (int i = 0; window && i < reads; ++i) {
        const ArchiveSession& session = window->Logic().Session;
        QElapsedTimer clock;
        clock.start();
        window->Button3->click();
        // A new read drops the last outcome at once; it ends with one again.
        while (!session.HasOutcome() && clock.elapsed() < 120000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        if (!session.HasOutcome() || session.Outcome().kind != ArchiveOutcome::Kind::Finished) {
            std::fprintf(stderr, "read %d did not finish\n", i + 1);
            status = 1;
            break;
        }
        std::printf("day archive: %d rows in %.3f s\n", session.Transfer().ArhivRowCount, seconds);
        std::fflush(stdout);
    }
    if (window) window->close();
    QApplication::processEvents();
    delete MainPort;
    MainPort = nullptr;
    std::filesystem::remove_all(dir);
    return status;
}
