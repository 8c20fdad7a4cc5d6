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
#include "monitor/Uviewpacket.h"
#include "sim/Simulator.h"
#include "ui/AppIcon.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <fstream>

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
    if (argc != 2) {
        std::fprintf(stderr, "Usage: screenshots OUTPUT-FOLDER\n");
        return 2;
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
    sim::Simulator gateway;
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
    ViewRS232->close();

    // Packets on the line; the monitor's loop runs inside its menu command
    // until the window closes.
    gateway.StartPacketStream({.IntervalMs = 200, .Count = -1});
    QTimer::singleShot(3000, [&] {
        Save(form, ViewPacket, out + "monitor.png");
        ViewPacket->close();
    });
    form->mnuTestPacket->trigger();
    gateway.StopPacketStream();

    form->Options1->trigger();
    Save(form, OptionsDlg, out + "settings.png");

    delete form;
    if (presenter.Count > 0) failed = true;
    return failed ? 1 : 0;
}
