// configurator.exe's windows under Wine, offscreen, against the Linux
// gateway-sim on a COM port with real line timing (meters at addresses 1 and
// 5). The console: the day archive by its button, read as the bytes arrive
// (the port watch's thread, not the receive timer), then a second read
// stopped by «Стоп», which keeps the file the first one wrote; prints the
// archive's time. The scan of addresses 1..8: both meters found.
// Usage: windows_window_test.exe COM-NUMBER ROWS MAX-SECONDS PLUGIN-DIR
#include "WineChecks.h"
#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "line/Uviewscan.h"
#include "serial/Rs232.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Runs the event loop until `done` holds; false after `ms`.
bool RunUntil(const std::function<bool()>& done, qint64 ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: windows_window_test COM-NUMBER ROWS MAX-SECONDS PLUGIN-DIR\n");
        return 2;
    }
    const int com = std::atoi(argv[1]);
    const int rows = std::atoi(argv[2]);
    const double maxSeconds = std::atof(argv[3]);
    // Wine passes no QT_* variable on: the platform and its folder by hand.
    QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[4]));
    std::vector<char*> args{argv[0], const_cast<char*>("-platform"), const_cast<char*>("offscreen")};
    int count = static_cast<int>(args.size());
    QApplication app(count, args.data());
    PrintingPresenter presenter;
    SetMessagePresenter(&presenter);

    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "windows_window_test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    SetExecutableDir(dir.string());
    MainPort = new Rs232Port(com, 115200);
    if (!MainPort->Ok) {
        std::fprintf(stderr, "FAILED: COM%d does not open\n", com);
        return 1;
    }

    AdapterLink link{[] { return MainPort; }, [] { return LinkSettings{1}; }}; // I2C, as the simulator
    QMdiArea area;
    area.resize(1200, 900);
    area.show();
    TViewRS232* window = CreateOrRaise(&area, ViewRS232, PortAccessor([] { return MainPort; }), link);
    QApplication::processEvents();
    const ArchiveSession& session = window->Logic().Session;

    QElapsedTimer clock;
    clock.start();
    window->Button3->click();
    Check(RunUntil([&] { return session.HasOutcome(); }, 60000), "the day archive did not end");
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("day archive of %d rows through the console: %.3f s\n", rows, seconds);
    Check(session.Outcome().kind == ArchiveOutcome::Kind::Finished, "the day archive did not finish");
    if (session.Outcome().kind != ArchiveOutcome::Kind::Finished)
        std::fprintf(stderr, "outcome: kind %d, reason %d, code %d, rows %d\n",
                     static_cast<int>(session.Outcome().kind), static_cast<int>(session.Outcome().reason),
                     session.Outcome().code, session.Outcome().rows);
    Check(session.Transfer().ArhivRowCount == rows, "the day archive has not every row");
    Check(seconds <= maxSeconds, "the day archive took longer than it may (read on the timer?)");
    const std::string written = FileText(dir / "day.txt");
    Check(!written.empty(), "day.txt is empty");

    // «Стоп» in the middle of a second read: stopped by the user, day.txt kept.
    // The row count is the first read's until the second one has begun.
    window->Button3->click();
    Check(RunUntil([&] { return session.Transfer().ArhivRowCount < rows; }, 20000),
          "the second read did not start");
    Check(RunUntil([&] { return session.Transfer().ArhivRowCount >= 2; }, 20000),
          "the second read read no rows");
    window->Button3->click();
    Check(RunUntil([&] { return session.HasOutcome(); }, 10000), "the stopped read did not end");
    Check(session.Outcome().kind == ArchiveOutcome::Kind::Stopped &&
              session.Outcome().reason == ArchiveStopReason::UserStopped,
          "«Стоп» did not stop the read");
    Check(FileText(dir / "day.txt") == written, "a stopped read changed day.txt");

    window->close();
    QApplication::processEvents();

    TViewScan* scan = CreateOrRaise(&area, ViewScan, PortAccessor([] { return MainPort; }), link);
    QApplication::processEvents();
    scan->LastEdit->setValue(8);
    // A wait that a meter answers within on a loaded machine too.
    scan->WaitEdit->setValue(300);
    scan->StartButton->click();
    Check(RunUntil([&] { return scan->StartButton->isEnabled(); }, 30000), "the scan did not end");
    std::vector<int> found;
    for (int row = 0; row < scan->ScanTable->rowCount(); ++row)
        if (!scan->ScanTable->isRowHidden(row))
            found.push_back(scan->ScanTable->item(row, 0)->text().toInt());
    Check(found == std::vector<int>{1, 5}, "the scan did not find the meters at 1 and 5 alone");
    scan->close();
    QApplication::processEvents();

    delete MainPort;
    MainPort = nullptr;
    std::filesystem::remove_all(dir);
    return failures ? 1 : 0;
}
