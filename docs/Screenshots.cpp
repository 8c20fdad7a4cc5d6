// Takes the README's pictures: the real main window against the simulated
// gateway and meter (in this process), one picture per child window, each
// after real work (settings read, a request answered, an archive copied,
// packets received). Run by scripts/screenshots under Xvfb.
#include "app/MainForm.h"
#include "app/OptionsDlg.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "console/Uviewrs232.h"
#include "gateway/Config.h"
#include "line/Uviewscan.h"
#include "monitor/Uviewpacket.h"
#include "sim/NetListen.h"
#include "sim/Simulator.h"
#include "ui/AppIcon.h"
#include "viewer/Uviewarchive.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// A message box would stop the run: every message is printed and counted.
class PrintingPresenter : public MessagePresenter {
public:
    void Show(const std::string& text, const std::string& caption, MessageIcon) override {
        std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
        ++Count;
    }
    int Count = 0;
};

template <class Pred> bool WaitUntil(Pred pred, int ms) {
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

bool failed = false;

// The main window down to the bottom right corner of its child window.
void Save(QWidget* main, QWidget* child, const QString& file) {
    QApplication::processEvents();
    const QPoint corner = child->mapTo(main, QPoint(child->width(), child->height()));
    const QRect area(0, 0, std::min(corner.x() + 12, main->width()),
                     std::min(corner.y() + 12, main->height()));
    if (!main->grab(area).save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        failed = true;
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool dark = argc == 3 && std::string(argv[2]) == "--dark";
    if (argc != 2 && !dark) {
        std::fprintf(stderr, "Usage: screenshots OUTPUT-FOLDER [--dark]\n");
        return 2;
    }
    if (dark) {
        // A dark desktop: the Fusion style with a dark palette.
        QApplication::setStyle(QStyleFactory::create("Fusion"));
        QPalette p;
        p.setColor(QPalette::Window, QColor(45, 45, 48));
        p.setColor(QPalette::WindowText, QColor(230, 230, 230));
        p.setColor(QPalette::Base, QColor(30, 30, 32));
        p.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
        p.setColor(QPalette::Text, QColor(230, 230, 230));
        p.setColor(QPalette::Button, QColor(55, 55, 58));
        p.setColor(QPalette::ButtonText, QColor(230, 230, 230));
        p.setColor(QPalette::Highlight, QColor(42, 130, 218));
        p.setColor(QPalette::HighlightedText, Qt::white);
        QApplication::setPalette(p);
    }
    const QString out = QString::fromLocal8Bit(argv[1]) + "/";
    // A Russian desktop: decimal commas, as the program's users see it.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QApplication::setApplicationName(QString::fromUtf8(ApplicationTitle));
    QApplication::setWindowIcon(MakeAppIcon());
    PrintingPresenter presenter;
    SetMessagePresenter(&presenter);

    // A folder of its own as the program's folder: settings that reach the
    // simulated gateway on COM2 at 115200 bit/s (link mode 1), as scripts/run
    // writes them, and the simulator linked as ports/COM2.
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString() + "/";
    SetExecutableDir(folder);
    std::ofstream(folder + "OPTIONS.INI") << "2\r\n115200\r\n1\r\n12\r\n1\r\n1\r\n1\r\nATZ\r\n1\r\n60\r\n";
    LoadOptions(folder + "OPTIONS.INI", AppOptions);
    // Meters at 1, 5, 17 and 30, as scripts/run starts the simulator.
    sim::SimOptions line;
    for (const auto& [address, type] : {std::pair{5, 8}, {17, 10}, {30, 6}}) {
        sim::MeterSetup m;
        m.Address = address;
        m.Ident = sim::IdentificationForType(type);
        line.MoreMeters.push_back(m);
    }
    sim::Simulator gateway(line);
    gateway.LinkCom(folder, 2);
    gateway.Start();

    auto* form = new TMainForm;
    form->resize(1000, 720);
    form->show();

    // The gateway's settings, read.
    form->mnuConfig->trigger();
    frmConfig->Read->click();
    Save(form, frmConfig, out + "gateway.png");
    frmConfig->close();

    // The day archive copied, then a request for the first flow values.
    form->RS2321->trigger();
    ViewRS232->Button3->click();
    const QString end = QString::fromUtf8("архив закончен");
    if (!WaitUntil([&] { return ViewRS232->Memo1->toPlainText().contains(end); }, 60000)) {
        std::fprintf(stderr, "the day archive did not end\n");
        failed = true;
    }
    ViewRS232->Memo3->clear();
    ViewRS232->Edit1->setText("100");
    ViewRS232->Button2->click();
    if (!WaitUntil([] { return ViewRS232->Memo3->toPlainText().contains("G2"); }, 5000)) {
        std::fprintf(stderr, "no answer to the request\n");
        failed = true;
    }
    Save(form, ViewRS232, out + "console.png");

    // The hour archive copied as well; both archives in the viewer, the hour
    // archive with a temperature on a second axis.
    ViewRS232->Button4->click();
    ViewRS232->Memo1->clear();
    if (!WaitUntil([&] { return ViewRS232->Memo1->toPlainText().contains(end); }, 120000)) {
        std::fprintf(stderr, "the hour archive did not end\n");
        failed = true;
    }
    ViewRS232->close();
    form->mnuViewArchive->trigger();
    ViewArchive->DayButtonClick();
    Save(form, ViewArchive, out + "viewer-day.png");
    ViewArchive->HourButtonClick();
    for (const char* column : {"T1"})
        for (QListWidgetItem* item : ViewArchive->ColumnList->findItems(column, Qt::MatchExactly))
            item->setCheckState(Qt::Checked);
    Save(form, ViewArchive, out + "viewer.png");
    ViewArchive->close();

    // Packets on the line; the monitor's loop runs inside its menu command
    // until the window closes.
    gateway.StartPacketStream({.IntervalMs = 200, .Count = -1});
    QTimer::singleShot(3000, [&] {
        Save(form, ViewPacket, out + "monitor.png");
        ViewPacket->close();
    });
    form->mnuTestPacket->trigger();
    gateway.StopPacketStream();

    // The line scanned for meters (1..40), with the session box below: the
    // window is taller than the others.
    form->resize(1000, 800);
    form->mnuScan->trigger();
    ViewScan->FirstEdit->setValue(1);
    ViewScan->LastEdit->setValue(40);
    ViewScan->StartButton->click();
    if (!WaitUntil([] { return ViewScan->Scan().End() == ScanEnd::Finished; }, 60000)) {
        std::fprintf(stderr, "the scan did not end\n");
        failed = true;
    }
    Save(form, ViewScan, out + "scan.png");
    ViewScan->close();
    form->resize(1000, 720);

    form->Options1->trigger();
    Save(form, OptionsDlg, out + "settings.png");

    // COM2 through a serial device server on the network: the simulator's own
    // listener, its address typed on the «Связь» page and taken by OK; the
    // status line then names it with its round trip.
    sim::NetListener server(gateway.PortPath(), {});
    server.Start();
    OptionsDlg->EditAddress->setText(QString::fromStdString(server.Address()));
    OptionsDlg->Button1->click();
    form->Options1->trigger();
    form->WatchPort();
    QApplication::processEvents();
    if (!form->grab().save(out + "network.png")) failed = true;
    OptionsDlg->close();

    delete form;
    if (presenter.Count > 0) failed = true;
    return failed ? 1 : 0;
}
