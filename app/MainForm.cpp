// The main window: menu tree, child windows, MainPort's lifetime.
#include "app/MainForm.h"

#include "adapter/Dataio.h"
#include "app/OptionsDlg.h"
#include "app/ProgramPort.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/Phone.h"
#include "base/Timing.h"
#include "console/Uviewrs232.h"
#include "gateway/Config.h"
#include "gateway/Uwait.h"
#include "line/Uviewscan.h"
#include "monitor/Uviewpacket.h"
#include "serial/Dialer.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "ui/Handlers.h"
#include "ui/LineTraceLog.h"
#include "ui/MdiChild.h"
#include "ui/PortWatch.h"
#include "ui/SerialList.h"
#include "ui/TextCodec.h"
#include "viewer/Uviewarchive.h"

#include <algorithm>

#include <QCloseEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>

TMainForm* MainForm = nullptr;

namespace {

// The adapter link and the console read the program-wide port and settings as
// they need them: the settings dialog may replace both meanwhile.
Rs232Port* CurrentPort() {
    return MainPort;
}

LinkSettings CurrentLinkSettings() {
    return {.LinkMode = AppOptions.LinkMode,
            .I2cAddress = AppOptions.I2cAddress,
            .ZepLanAddress = AppOptions.ZepLanAddress};
}

} // namespace

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), link_(CurrentPort, CurrentLinkSettings) {
    setObjectName("MainForm");
    mdiArea_ = new QMdiArea(this);
    mdiArea_->setObjectName("MdiArea");
    setCentralWidget(mdiArea_);

    StatusLine = new QStatusBar(this);
    StatusLine->setObjectName("StatusLine");
    setStatusBar(StatusLine);
    // The port's state stays in the status line; a temporary message stands
    // over it for a while.
    PortState = new QLabel(StatusLine);
    PortState->setObjectName("PortState");
    StatusLine->addWidget(PortState, 1);
    ModemState = new QLabel(StatusLine);
    ModemState->setObjectName("ModemState");
    StatusLine->addWidget(ModemState);

    ViewMenu = menuBar()->addMenu(QString::fromUtf8("&View"));
    ViewMenu->setObjectName("ViewMenu");
    Options1 = ViewMenu->addAction(QString::fromUtf8("&Настройки"));
    Options1->setObjectName("Options1");
    mnuConfigurator = menuBar()->addMenu(QString::fromUtf8("&Конфигурирование"));
    mnuConfigurator->setObjectName("mnuConfigurator");
    mnuConfig = mnuConfigurator->addAction(QString::fromUtf8("&Настройка шлюза RS485<->RS232"));
    mnuConfig->setObjectName("mnuConfig");
    RS2321 = mnuConfigurator->addAction(QString::fromUtf8("&Тест RS232"));
    RS2321->setObjectName("RS2321");
    mnuTestPacket = mnuConfigurator->addAction(QString::fromUtf8("Тест &пакетов"));
    mnuTestPacket->setObjectName("mnuTestPacket");
    mnuScan = mnuConfigurator->addAction(QString::fromUtf8("П&оиск приборов"));
    mnuScan->setObjectName("mnuScan");
    mnuViewArchive = ViewMenu->addAction(QString::fromUtf8("Просмотр &архива"));
    mnuViewArchive->setObjectName("mnuViewArchive");
    mnuModem = menuBar()->addMenu(QString::fromUtf8("&Модем"));
    mnuModem->setObjectName("mnuModem");
    mnuDial = mnuModem->addAction(QString::fromUtf8("&Набрать номер"));
    mnuDial->setObjectName("mnuDial");
    mnuHangUp = mnuModem->addAction(QString::fromUtf8("&Положить трубку"));
    mnuHangUp->setObjectName("mnuHangUp");
    mnuHelp = menuBar()->addMenu(QString::fromUtf8("&Справка"));
    mnuHelp->setObjectName("mnuHelp");
    mnuAbout = mnuHelp->addAction(QString::fromUtf8("&О программе"));
    mnuAbout->setObjectName("mnuAbout");

    connect(Options1, &QAction::triggered, this, Guard([this] { Options1Click(); }));
    connect(mnuConfig, &QAction::triggered, this, Guard([this] { mnuConfigClick(); }));
    connect(RS2321, &QAction::triggered, this, Guard([this] { RS2321Click(); }));
    connect(mnuTestPacket, &QAction::triggered, this, Guard([this] { mnuTestPacketClick(); }));
    connect(mnuScan, &QAction::triggered, this, Guard([this] { mnuScanClick(); }));
    connect(mnuViewArchive, &QAction::triggered, this, Guard([this] { mnuViewArchiveClick(); }));
    connect(mnuDial, &QAction::triggered, this, Guard([this] { mnuDialClick(); }));
    connect(mnuHangUp, &QAction::triggered, this, Guard([this] { mnuHangUpClick(); }));
    connect(mnuAbout, &QAction::triggered, this, Guard([this] { mnuAboutClick(); }));

    // FormCreate: open the configured port; a failure is reported once and
    // the program runs on without a usable port.
    SetSerialDeviceLister([] { return ListSerialDevices(); });
    ReopenMainPort(AppOptions);
    link_.EnableLinkMessages();
    MainForm = this;
    ShowPortState();
    PortWatch = new QTimer(this);
    PortWatch->setObjectName("PortWatch");
    PortWatch->setInterval(Timing().PortWatchMs);
    connect(PortWatch, &QTimer::timeout, this, Guard([this] { WatchPort(); }));
    PortWatch->start();
    setWindowTitle(QString::fromUtf8(MainFormCaption));
}

TMainForm::~TMainForm() {
    // Child windows go first: none of them may outlive the port they use.
    for (QMdiSubWindow* child : mdiArea_->subWindowList())
        delete child;
    delete MainPort;
    MainPort = nullptr;
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // The packet monitor's loop runs inside mnuTestPacketClick; closing the
    // monitor ends it, so that the handler returns before the application ends.
    if (ViewPacket) ViewPacket->close();
    event->accept();
}

void TMainForm::ShowPortState() {
    const int number = MainPort ? MainPort->PortNumber : AppOptions.PortNumber;
    const int speed = MainPort ? MainPort->BaudRate : AppOptions.BaudRate;
    const QString text = QString::fromStdString(PortStatusText(MainPort, number, speed));
    if (PortState->text() != text) PortState->setText(text);
    // How to lower an adapter's latency where the program could not.
    const QString hint = QString::fromStdString(PortStatusHint(MainPort));
    if (PortState->toolTip() != hint) PortState->setToolTip(hint);
    const bool online = MainPort && MainPort->IsOpen() && !MainPort->ModemConnection.empty();
    const QString modem = online ? FromUtf8("модем: " + MainPort->ModemConnection) : QString();
    if (ModemState->text() != modem) ModemState->setText(modem);
}

void TMainForm::WatchPort() {
    WatchMainPort(AppOptions);
    // A modem that reports its carrier gone has lost the connection.
    if (MainPort && !MainPort->ModemConnection.empty() && MainPort->CarrierDetect() == false)
        MainPort->ModemConnection.clear();
    // Also after the dialog's OK or a failed read found the device gone.
    ShowPortState();
}

void TMainForm::Options1Click() {
    CreateOrRaise(MdiArea(), OptionsDlg);
}

void TMainForm::mnuConfigClick() {
    // A temporary message: it stands over whatever the status line shows
    // permanently and then gives way to it again.
    StatusNotice notice = [this](const std::string& text) {
        StatusLine->showMessage(FromUtf8(text), Timing().StatusNoticeMs);
    };
    CreateOrRaise(MdiArea(), frmConfig, link_, std::move(notice));
}

void TMainForm::RS2321Click() {
    CreateOrRaise(MdiArea(), ViewRS232, PortAccessor(CurrentPort), link_);
}

void TMainForm::mnuTestPacketClick() {
    const bool running = ViewPacket != nullptr;
    QPointer<TViewPacket> window = CreateOrRaise(MdiArea(), ViewPacket, PortAccessor(CurrentPort));
    if (running) return; // only brought forward
    // Returns only when the monitor has been closed; the rest of the program
    // runs inside its loop meanwhile.
    window->ReceiveLoop();
    if (window) window->deleteLater();
}

void TMainForm::mnuScanClick() {
    CreateOrRaise(MdiArea(), ViewScan, PortAccessor(CurrentPort), link_);
}

void TMainForm::mnuViewArchiveClick() {
    CreateOrRaise(MdiArea(), ViewArchive);
}

void TMainForm::RunModem(ModemDialer& dialer, bool wait) {
    if (!dialer.Running()) return;
    TDelayForm* form = wait ? new TDelayForm(this) : nullptr;
    const QPointer<TDelayForm> waitForm(form);
    QEventLoop loop;
    auto ended = [&] {
        if (dialer.Running()) return false;
        if (waitForm && waitForm->isVisible()) waitForm->done(QDialog::Accepted);
        loop.quit();
        return true;
    };
    // The modem's answers as they arrive, and its time-outs when due; the
    // port is fetched afresh every time, since a handler may replace it.
    ::PortWatch watch; // the class, not the window's timer of that name
    watch.Follow(MainPort);
    connect(&watch, &PortWatch::Readable, &loop, [&] {
        RunHandler([&] {
            dialer.Driver().Pump(0);
            ended();
        });
    });
    QTimer tick;
    tick.setSingleShot(true);
    connect(&tick, &QTimer::timeout, &loop, [&] {
        RunHandler([&] {
            Rs232Port* port = MainPort;
            const bool gone = !port || !port->IsOpen();
            if (!gone) dialer.Driver().Pump(0);
            dialer.Tick(gone || port->HungUp());
            if (!ended()) tick.start(std::clamp(dialer.MsUntilDue(), 0, Timing().ConsoleTickMs));
        });
    });
    tick.start(0);
    if (form) {
        form->setWindowModality(Qt::ApplicationModal);
        // Cancel: the dial is interrupted and its end awaited briefly below.
        if (form->exec() == QDialog::Rejected) dialer.Cancel();
        delete form;
    }
    if (dialer.Running()) loop.exec();
}

void TMainForm::mnuDialClick() {
    const std::string number = LoadPhoneNumber(PhoneFilePathBeside(OptionsFilePath()));
    ModemDialer dialer{PortAccessor(CurrentPort)};
    TraceToLog(dialer.Driver());
    StatusLine->showMessage(FromUtf8("модем: набор номера " + number));
    dialer.Dial(DialSettingsFrom(AppOptions, number));
    RunModem(dialer, true);
    StatusLine->clearMessage();
    ShowPortState();
    const DialOutcome outcome = dialer.Outcome();
    if (outcome == DialOutcome::LineBusy)
        ShowMessage(LineBusyText(), LineBusyCaption, MessageIcon::Information);
    else if (const std::string text =
                 DialOutcomeText(outcome, AppOptions.ConnectWaitSeconds, dialer.ConnectLine());
             !text.empty())
        ShowMessage(text, ModemCaption, MessageIcon::Error);
}

void TMainForm::mnuHangUpClick() {
    ModemDialer dialer{PortAccessor(CurrentPort)};
    TraceToLog(dialer.Driver());
    StatusLine->showMessage(FromUtf8("модем: отбой"));
    dialer.HangUp();
    RunModem(dialer, false);
    StatusLine->clearMessage();
    ShowPortState();
    const HangUpOutcome outcome = dialer.HangUpResult();
    if (outcome == HangUpOutcome::LineBusy)
        ShowMessage(LineBusyText(), LineBusyCaption, MessageIcon::Information);
    else if (const std::string text = HangUpOutcomeText(outcome); !text.empty())
        ShowMessage(text, ModemCaption, MessageIcon::Error);
}

std::string AboutText() {
    return std::string(ApplicationTitle) +
           " для шлюзов RS-232 <-> RS-485 Modbus\n"
           "Версия " PROGRAM_VERSION "\n\n"
           "Свободная программа: её можно распространять и изменять на условиях GNU General Public "
           "License версии 3 или (по вашему выбору) любой более поздней (GPL-3.0-or-later). "
           "Она распространяется без каких-либо гарантий.\n\n"
           "Настройки (OPTIONS.INI) и ports/: " +
           ConfigDir() + "\nАрхивы (day.txt, hour.txt): " + ArchiveDir();
}

void TMainForm::mnuAboutClick() {
    auto* box = new QMessageBox(QMessageBox::Information, QString::fromUtf8(AboutCaption),
                                FromUtf8(AboutText()), QMessageBox::Ok, this);
    box->setObjectName("AboutBox");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    box->open();
}
