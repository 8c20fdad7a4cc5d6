// The scan window: its controls, and the port's bytes and ticks handed to the
// scan or the batch that runs.
#include "line/Uviewscan.h"

#include "base/DecimalSeparator.h"
#include "base/Messages.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/PortAddress.h"
#include "base/Timing.h"
#include "console/Uviewrs232.h"
#include "gateway/GatewaySettings.h"
#include "serial/LineDriver.h"
#include "serial/PortDevices.h"
#include "ui/Handlers.h"
#include "ui/Keyboard.h"
#include "ui/LineTraceLog.h"
#include "ui/MdiChild.h"
#include "ui/PortWatch.h"
#include "ui/TextCodec.h"
#include "ui/WindowFit.h"
#include "viewer/Uviewarchive.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <ctime>

TViewScan* ViewScan = nullptr;

namespace {

// The decimal point of the locale the windows' texts use, as the console
// takes it, so that a batch writes the console's bytes.
char LocaleDecimalSeparator() {
    const QByteArray point = QLocale().decimalPoint().toUtf8();
    return DecimalSeparatorOf(std::string_view(point.constData(), static_cast<size_t>(point.size())));
}

template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

QPushButton* Button(const char* name, const char* text) {
    return Named(new QPushButton(QString::fromUtf8(text)), name);
}

QTableWidget* Table(const char* name, std::initializer_list<const char*> columns) {
    auto* t = Named(new QTableWidget(0, static_cast<int>(columns.size())), name);
    QStringList heads;
    for (const char* c : columns)
        heads << QString::fromUtf8(c);
    t->setHorizontalHeaderLabels(heads);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setTabKeyNavigation(false);
    t->verticalHeader()->hide();
    // Every column as wide as its header and its cells; the last takes the rest.
    t->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

QTableWidgetItem* Cell(const std::string& text) {
    return new QTableWidgetItem(FromUtf8(text));
}

std::string FileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file the summary names for a read: the one it left, else while it
// waits or runs the one it writes; nothing for a read that wrote none.
std::string ShownFile(const BatchRow& r) {
    if (!r.LeftFile.empty()) return r.LeftFile;
    return r.Ended ? std::string() : r.Job.File;
}

} // namespace

TViewScan::TViewScan(QMdiArea* parent, PortAccessor port, AdapterLink& link)
    : QMdiSubWindow(parent), port_(std::move(port)), link_(link),
      line_(port_,
            [this](const std::uint8_t* block, std::int32_t count) {
                if (link_.LinkBusy) return false;
                link_.LinkBusy = true;
                const bool taken = link_.SendPacketExchange(block, count);
                link_.LinkBusy = false;
                return taken;
            }),
      scan_(*this, line_),
      batch_(
          *this,
          [this](const RequestBlock& b) {
              line_.Request(b.data(), static_cast<std::int32_t>(b.size()), {.Function = b[2]});
          },
          LocaleDecimalSeparator()) {
    TraceToLog(line_);
    setObjectName("ViewScan");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromUtf8(ViewScanCaption));
    auto* content = new QWidget;
    content->setObjectName("ViewScanContent");
    auto* grid = new QGridLayout(content);

    // The range, the speed and the wait.
    auto* range = new QHBoxLayout;
    FirstEdit = Named(new QSpinBox, "FirstEdit");
    LastEdit = Named(new QSpinBox, "LastEdit");
    for (QSpinBox* s : {FirstEdit, LastEdit})
        s->setRange(0, LastAddressByte);
    FirstEdit->setValue(FirstMeterAddress);
    LastEdit->setValue(LastMeterAddress);
    SpeedCombo = Named(new QComboBox, "SpeedCombo");
    for (const char* caption : SpeedCaptions)
        SpeedCombo->addItem(QString::fromUtf8(caption));
    ReadSpeedButton = Button("ReadSpeedButton", "Из &шлюза");
    WaitEdit = Named(new QSpinBox, "WaitEdit");
    WaitEdit->setRange(1, 60000);
    WaitEdit->setSuffix(QString::fromUtf8(" мс"));
    auto* first = new QLabel(QString::fromUtf8("&Адреса с"));
    first->setBuddy(FirstEdit);
    auto* speed = new QLabel(QString::fromUtf8("&RS-485, бит/с"));
    speed->setBuddy(SpeedCombo);
    auto* wait = new QLabel(QString::fromUtf8("&Ожидание"));
    wait->setBuddy(WaitEdit);
    range->addWidget(first);
    range->addWidget(FirstEdit);
    range->addWidget(new QLabel(QString::fromUtf8("по")));
    range->addWidget(LastEdit);
    range->addSpacing(12);
    range->addWidget(speed);
    range->addWidget(SpeedCombo);
    range->addWidget(ReadSpeedButton);
    range->addSpacing(12);
    range->addWidget(wait);
    range->addWidget(WaitEdit);
    LongWaitEdit = Named(new QSpinBox, "LongWaitEdit");
    LongWaitEdit->setRange(1, 60000);
    LongWaitEdit->setSuffix(QString::fromUtf8(" мс"));
    LongWaitEdit->setValue(DefaultLongWaitMs);
    LongWaitEdit->setToolTip(QString::fromUtf8(
        "Адрес, чей ответ пришёл позже ожидания, переспрашивается с этим ожиданием в конце поиска"));
    auto* longWait = new QLabel(QString::fromUtf8("&Долгое"));
    longWait->setBuddy(LongWaitEdit);
    range->addSpacing(12);
    range->addWidget(longWait);
    range->addWidget(LongWaitEdit);
    range->addStretch(1);
    grid->addLayout(range, 0, 0, 1, 2);
    WaitLabel = Named(new QLabel, "WaitLabel");
    grid->addWidget(WaitLabel, 1, 0, 1, 2);

    // The scan's table and its commands.
    ScanTable = Table("ScanTable", {"Адрес", "Результат", "Тип", "Версия", "Конфигурация 1", "Конфигурация 2",
                                    "Ответ, мс"});
    grid->addWidget(ScanTable, 2, 0);
    auto* commands = new QVBoxLayout;
    StartButton = Button("StartButton", "&Начать поиск");
    StopButton = Button("StopButton", "О&становить");
    SilentCheck = Named(new QCheckBox(QString::fromUtf8("&Молчащие адреса")), "SilentCheck");
    RecheckCheck = Named(new QCheckBox(QString::fromUtf8("&Переспросить молчащие")), "RecheckCheck");
    RecheckCheck->setToolTip(
        QString::fromUtf8("В конце поиска спросить каждый молчавший адрес ещё раз с долгим ожиданием"));
    SaveButton = Button("SaveButton", "Сохранить &CSV...");
    CopyButton = Button("CopyButton", "&Копировать");
    ConsoleButton = Button("ConsoleButton", "В «&Тест RS232»");
    for (QWidget* w : std::initializer_list<QWidget*>{StartButton, StopButton, SilentCheck, RecheckCheck,
                                                      SaveButton, CopyButton, ConsoleButton})
        commands->addWidget(w);
    commands->addStretch(1);
    grid->addLayout(commands, 2, 1);
    ProgressLine = Named(new QLabel, "ProgressLine");
    grid->addWidget(ProgressLine, 3, 0, 1, 2);

    // The batch read of the ticked meters and its summary.
    auto* batchBox = Named(new QGroupBox(QString::fromUtf8("Архивы отмеченных приборов")), "BatchBox");
    auto* batch = new QGridLayout(batchBox);
    DayCheck = Named(new QCheckBox(QString::fromUtf8("&суточные")), "DayCheck");
    DayCheck->setChecked(true);
    HourCheck = Named(new QCheckBox(QString::fromUtf8("&часовые")), "HourCheck");
    BatchButton = Button("BatchButton", "&Считать архивы");
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(DayCheck);
    kinds->addWidget(HourCheck);
    kinds->addWidget(BatchButton);
    kinds->addStretch(1);
    batch->addLayout(kinds, 0, 0, 1, 2);
    BatchTable = Table("BatchTable", {"Адрес", "Архив", "Строк", "Время, с", "Итог", "Файл"});
    batch->addWidget(BatchTable, 1, 0);
    auto* after = new QVBoxLayout;
    OpenFolderButton = Button("OpenFolderButton", "Открыть &папку");
    ViewerButton = Button("ViewerButton", "&Просмотр архива");
    after->addWidget(OpenFolderButton);
    after->addWidget(ViewerButton);
    after->addStretch(1);
    batch->addLayout(after, 1, 1);
    BatchProgress = Named(new QLabel, "BatchProgress");
    FolderLabel = Named(new QLabel, "FolderLabel");
    FolderLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    batch->addWidget(BatchProgress, 2, 0, 1, 2);
    batch->addWidget(FolderLabel, 3, 0, 1, 2);
    grid->addWidget(batchBox, 4, 0, 1, 2);

    // The session file for collecting from a timer: what this window is set to.
    auto* sessionBox = Named(new QGroupBox(QString::fromUtf8("Сеанс сбора")), "SessionBox");
    auto* session = new QHBoxLayout(sessionBox);
    OutputEdit = Named(new QLineEdit, "OutputEdit");
    OutputEdit->setPlaceholderText(QString::fromUtf8("папка архивов"));
    OutputEdit->setToolTip(QString::fromUtf8("Куда сеанс сбора пишет файлы архивов и базу"));
    auto* output = new QLabel(QString::fromUtf8("Папка &вывода"));
    output->setBuddy(OutputEdit);
    SaveSessionButton = Button("SaveSessionButton", "Сохранить с&еанс…");
    OpenSessionButton = Button("OpenSessionButton", "Откр&ыть сеанс…");
    session->addWidget(output);
    session->addWidget(OutputEdit, 1);
    session->addWidget(SaveSessionButton);
    session->addWidget(OpenSessionButton);
    grid->addWidget(sessionBox, 5, 0, 1, 2);
    grid->setRowStretch(2, 3);
    grid->setRowStretch(4, 2);
    setWidget(content);

    ChooseFile = [this](const QString& caption, const QString& where, const QString& filter, bool save) {
        return save ? QFileDialog::getSaveFileName(this, caption, where, filter)
                    : QFileDialog::getOpenFileName(this, caption, where, filter);
    };

    TickTimer = Named(new QTimer(this), "TickTimer");
    TickTimer->setSingleShot(true);
    watch_ = new PortWatch(this);
    watch_->SetEnabled(false);
    connect(watch_, &PortWatch::Readable, this, [this] { Readable(); });
    connect(TickTimer, &QTimer::timeout, this, [this] { Tick(); });

    connect(StartButton, &QPushButton::clicked, this, Guard([this] { StartButtonClick(); }));
    connect(StopButton, &QPushButton::clicked, this, Guard([this] { StopButtonClick(); }));
    connect(ReadSpeedButton, &QPushButton::clicked, this, Guard([this] { ReadSpeedButtonClick(); }));
    connect(SaveButton, &QPushButton::clicked, this, Guard([this] { SaveButtonClick(); }));
    connect(CopyButton, &QPushButton::clicked, this, Guard([this] { CopyButtonClick(); }));
    connect(ConsoleButton, &QPushButton::clicked, this, Guard([this] { ConsoleButtonClick(); }));
    connect(BatchButton, &QPushButton::clicked, this, Guard([this] { BatchButtonClick(); }));
    connect(OpenFolderButton, &QPushButton::clicked, this, Guard([this] { OpenFolderButtonClick(); }));
    connect(ViewerButton, &QPushButton::clicked, this, Guard([this] { ViewerButtonClick(); }));
    connect(SaveSessionButton, &QPushButton::clicked, this, Guard([this] { SaveSessionButtonClick(); }));
    connect(OpenSessionButton, &QPushButton::clicked, this, Guard([this] { OpenSessionButtonClick(); }));
    connect(SpeedCombo, &QComboBox::currentIndexChanged, this, Guard([this] { ComputeWait(); }));
    connect(SilentCheck, &QCheckBox::toggled, this, Guard([this] { ApplySilentFilter(); }));
    connect(ScanTable, &QTableWidget::cellDoubleClicked, this, Guard([this] { ConsoleButtonClick(); }));
    connect(BatchTable, &QTableWidget::cellDoubleClicked, this, Guard([this] { ViewerButtonClick(); }));

    SetTabOrder({FirstEdit,    LastEdit,          SpeedCombo,       ReadSpeedButton,  WaitEdit,
                 LongWaitEdit, StartButton,       StopButton,       SilentCheck,      RecheckCheck,
                 SaveButton,   CopyButton,        ConsoleButton,    ScanTable,        DayCheck,
                 HourCheck,    BatchButton,       BatchTable,       OpenFolderButton, ViewerButton,
                 OutputEdit,   SaveSessionButton, OpenSessionButton});
    ComputeWait();
    Running(false);
    FirstEdit->setFocus();
    // The tables take the room of a larger or maximised window.
    FitToScreen(this, QSize(900, 700), WindowSizing::Growing);
}

TViewScan::~TViewScan() {
    ReleaseLine(this);
}

void TViewScan::closeEvent(QCloseEvent* event) {
    scan_.Stop();
    batch_.Stop();
    ReleaseLine(this);
    ReleaseInstance(ViewScan, this);
    event->accept();
}

void TViewScan::ComputeWait() {
    const int item = std::max(0, SpeedCombo->currentIndex());
    Rs232Port* port = port_ ? port_() : nullptr;
    const int pc = port ? port->BaudRate : 115200;
    const ScanWaitParts w = ScanWait(Rs485SpeedOfCode(SpeedCodes[item]), pc);
    WaitEdit->setValue(w.TotalMs);
    char text[200];
    std::snprintf(
        text, sizeof text,
        "Ожидание %d мс: запрос %.1f + ответ %.1f + паузы %.1f + порт ПК %.1f + обработка в приборе "
        "%.0f мс",
        w.TotalMs, w.Request, w.Answer, w.Silences, w.PcLine, w.Allowance);
    WaitLabel->setText(QString::fromUtf8(text));
}

void TViewScan::ReadSpeedButtonClick() {
    if (LineBusyFor(this)) return ShowMessage(LineBusyText(), LineBusyCaption, MessageIcon::Information);
    if (!link_.LinkModeChosen())
        return ShowMessage(NoLinkModeText, NoLinkModeCaption, MessageIcon::Information);
    // The read holds the link itself (and declines while another exchange does).
    const auto code = ReadGatewaySpeedCode(link_);
    if (!code) return; // the link has said why
    const int item = SpeedItemOfCode(*code);
    if (item < 0)
        return ShowMessage("Шлюз сообщил код скорости " + std::to_string(*code) +
                               ". Выберите скорость вручную.",
                           ViewScanCaption, MessageIcon::Information);
    SpeedCombo->setCurrentIndex(item);
    ComputeWait();
}

bool TViewScan::TakeLine(const char* activity) {
    // Every request would fail: said once, before anything is sent.
    Rs232Port* port = port_ ? port_() : nullptr;
    if (!port) {
        ShowMessage(NoPortText, ViewScanCaption, MessageIcon::Information);
        return false;
    }
    if (port->NotOpen()) {
        ShowMessage(PortNotOpenText(*port), ViewScanCaption, MessageIcon::Information);
        return false;
    }
    if (LineTakenWhole()) {
        ShowMessage(MonitorOpenText, ViewScanCaption, MessageIcon::Information);
        return false;
    }
    if (!ClaimLine(this, activity)) {
        ShowMessage(LineBusyText(), LineBusyCaption, MessageIcon::Information);
        return false;
    }
    if (!link_.LinkModeChosen()) {
        ReleaseLine(this);
        ShowMessage(NoLinkModeText, NoLinkModeCaption, MessageIcon::Information);
        return false;
    }
    return true;
}

void TViewScan::StartButtonClick() {
    if (scan_.Running() || batch_.Running()) return;
    if (LastEdit->value() < FirstEdit->value())
        return ShowMessage("Последний адрес меньше первого. Исправьте диапазон.", ViewScanCaption,
                           MessageIcon::Information);
    if (!TakeLine("поиск приборов")) return;
    ScanTable->setRowCount(0);
    Running(true);
    line_.Attach(&scan_);
    scan_.Start(FirstEdit->value(), LastEdit->value(), WaitEdit->value(),
                {.LongWaitMs = LongWaitEdit->value(), .EverySilent = RecheckCheck->isChecked()});
    Rearm();
}

void TViewScan::StopButtonClick() {
    scan_.Stop();
    batch_.Stop();
}

void TViewScan::Running(bool running) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{StartButton, BatchButton, ReadSpeedButton, FirstEdit, LastEdit,
                                         SpeedCombo, WaitEdit, LongWaitEdit, RecheckCheck, OpenSessionButton})
        w->setEnabled(!running);
    StopButton->setEnabled(running);
    // Bytes an exchange with the gateway finds in its way belong to the run.
    if (running)
        link_.SetStraySink([this](const std::uint8_t* b, std::size_t n) { line_.Found(b, n); });
    else
        link_.SetStraySink({});
    if (!running) {
        TickTimer->stop();
        watch_->SetEnabled(false);
        line_.AwaitNothing();
        ReleaseLine(this);
    }
}

void TViewScan::Rearm() {
    if (!scan_.Running() && !batch_.Running()) return;
    watch_->Follow(port_ ? port_() : nullptr);
    watch_->SetEnabled(true);
    int due = scan_.Running() ? scan_.MsUntilDue() : Timing().ConsoleTickMs;
    if (const int driverDue = line_.MsUntilDue(); driverDue >= 0) due = std::min(due, driverDue);
    TickTimer->start(std::clamp(due, 0, Timing().ConsoleTickMs));
    ShowProgress();
}

void TViewScan::Readable() {
    // A failure message of the link runs a loop of its own: the run waits.
    if (!link_.LinkBusy && (scan_.Running() || batch_.Running())) RunHandler([&] { line_.Pump(0); });
    Tick();
}

void TViewScan::Tick() {
    if (link_.LinkBusy) return Rearm();
    Rs232Port* port = port_ ? port_() : nullptr;
    const bool gone = !port || !port->IsOpen() || port->HungUp();
    RunHandler([&] {
        line_.Service();
        if (scan_.Running()) scan_.Tick(gone);
        if (batch_.Running()) batch_.Tick(gone);
    });
    Rearm();
}

void TViewScan::ShowProgress() {
    if (scan_.Running()) {
        ProgressLine->setText(FromUtf8(ScanProgressText(scan_.Progress())));
    } else if (batch_.Running()) {
        BatchProgress->setText(FromUtf8(BatchProgressText(batch_)));
    }
}

void TViewScan::ShowScanRow(int row, const ScanResult& r) {
    auto* address = Cell(std::to_string(r.Address));
    address->setData(Qt::UserRole, r.Address);
    address->setFlags(address->flags() | Qt::ItemIsUserCheckable);
    // A session that names its meters ticks them, answering or not.
    const bool ticked = sessionTicks_.empty() ? r.HasIdentity
                                              : std::find(sessionTicks_.begin(), sessionTicks_.end(),
                                                          r.Address) != sessionTicks_.end();
    address->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
    ScanTable->setItem(row, 0, address);
    ScanTable->setItem(row, 1, Cell(ScanResultText(r)));
    const bool id = r.HasIdentity;
    ScanTable->setItem(row, 2, Cell(id ? std::to_string(r.Identity.TypeNum) : ""));
    ScanTable->setItem(row, 3, Cell(id ? std::to_string(r.Identity.Version) : ""));
    ScanTable->setItem(row, 4, Cell(id ? std::to_string(r.Identity.Config1) : ""));
    ScanTable->setItem(row, 5, Cell(id ? std::to_string(r.Identity.Config2) : ""));
    ScanTable->setItem(row, 6, Cell(r.AnswerMs >= 0 ? std::to_string(r.AnswerMs) : ""));
    ScanTable->setRowHidden(row, r.Kind == ScanResultKind::NoAnswer && !SilentCheck->isChecked());
}

void TViewScan::ResultChanged(std::size_t index, bool added) {
    const int row = static_cast<int>(index);
    if (added) ScanTable->insertRow(row);
    ShowScanRow(row, scan_.Results()[index]);
    ShowProgress();
}

void TViewScan::Ended(ScanEnd end) {
    Running(false);
    const ScanProgress p = scan_.Progress();
    int found = 0;
    for (const ScanResult& r : scan_.Results())
        found += r.Kind != ScanResultKind::NoAnswer;
    ProgressLine->setText(
        FromUtf8(ScanEndText(end, p.Address) + " Ответили адресов: " + std::to_string(found) + " из " +
                 std::to_string(scan_.Results().size()) + ", за " + MinutesSeconds(p.SecondsSpent) + "."));
    if (end == ScanEnd::PortGone || end == ScanEnd::GatewayFailed)
        ShowMessage(ScanEndText(end, p.Address), ViewScanCaption, MessageIcon::Warning);
}

void TViewScan::ApplySilentFilter() {
    const auto& results = scan_.Results();
    for (int row = 0; row < ScanTable->rowCount() && row < static_cast<int>(results.size()); ++row)
        ScanTable->setRowHidden(row,
                                results[static_cast<std::size_t>(row)].Kind == ScanResultKind::NoAnswer &&
                                    !SilentCheck->isChecked());
}

std::vector<int> TViewScan::ChosenAddresses() const {
    std::vector<int> out, shown;
    for (int row = 0; row < ScanTable->rowCount(); ++row) {
        const QTableWidgetItem* item = ScanTable->item(row, 0);
        if (!item) continue;
        shown.push_back(item->data(Qt::UserRole).toInt());
        if (item->checkState() == Qt::Checked) out.push_back(shown.back());
    }
    // The table's tick decides for a row it shows; a session's meter that it
    // does not show stays chosen.
    for (const int a : sessionTicks_)
        if (std::find(shown.begin(), shown.end(), a) == shown.end()) out.push_back(a);
    std::sort(out.begin(), out.end());
    return out;
}

int TViewScan::SelectedAddress() const {
    const int row = ScanTable->currentRow();
    const QTableWidgetItem* item = row >= 0 ? ScanTable->item(row, 0) : nullptr;
    return item ? item->data(Qt::UserRole).toInt() : -1;
}

bool TViewScan::SaveCsv(const QString& path) {
    std::vector<ScanResult> shown;
    const auto& results = scan_.Results();
    for (std::size_t i = 0; i < results.size(); ++i)
        if (!ScanTable->isRowHidden(static_cast<int>(i))) shown.push_back(results[i]);
    const std::string csv = ScanCsv(shown, LocaleDecimalSeparator());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) ||
        !file.flush()) {
        ShowMessage("Файл " + path.toStdString() + " не записан: " + file.errorString().toStdString() +
                        ". Выберите другое место.",
                    ViewScanCaption, MessageIcon::Warning);
        return false;
    }
    ProgressLine->setText(FromUtf8("Таблица записана в файл " + path.toStdString() + "."));
    return true;
}

void TViewScan::SaveButtonClick() {
    const QString path =
        QFileDialog::getSaveFileName(this, QString::fromUtf8("Сохранить таблицу поиска"),
                                     FromUtf8(ArchiveDir() + "поиск.csv"), QString::fromUtf8("CSV (*.csv)"));
    if (!path.isEmpty()) SaveCsv(path);
}

void TViewScan::CopyButtonClick() {
    QString text;
    for (int c = 0; c < ScanTable->columnCount(); ++c)
        text += (c ? "\t" : "") + ScanTable->horizontalHeaderItem(c)->text();
    text += "\n";
    for (int row = 0; row < ScanTable->rowCount(); ++row) {
        if (ScanTable->isRowHidden(row)) continue;
        for (int c = 0; c < ScanTable->columnCount(); ++c)
            text += (c ? "\t" : "") + (ScanTable->item(row, c) ? ScanTable->item(row, c)->text() : QString());
        text += "\n";
    }
    QApplication::clipboard()->setText(text);
}

void TViewScan::ConsoleButtonClick() {
    const int address = SelectedAddress();
    if (address < 0)
        return ShowMessage("Выберите прибор в таблице.", ViewScanCaption, MessageIcon::Information);
    TViewRS232* console = CreateOrRaise(mdiArea(), ViewRS232, port_, link_);
    console->Edit3->setText(QString::number(address));
}

void TViewScan::BatchButtonClick() {
    if (scan_.Running() || batch_.Running()) return;
    const std::vector<int> addresses = ChosenAddresses();
    if (addresses.empty())
        return ShowMessage("Отметьте приборы в таблице поиска.", ViewScanCaption, MessageIcon::Information);
    if (!DayCheck->isChecked() && !HourCheck->isChecked())
        return ShowMessage("Выберите архивы: суточные, часовые или оба.", ViewScanCaption,
                           MessageIcon::Information);
    if (!TakeLine("чтение архивов приборов")) return;
    folder_ = NewBatchFolder(std::time(nullptr));
    if (!MakeFolder(folder_)) {
        ReleaseLine(this);
        return ShowMessage("Папка " + folder_ + " не создаётся. Проверьте права на папку архивов.",
                           ViewScanCaption, MessageIcon::Warning);
    }
    FolderLabel->setText(FromUtf8("Папка: " + folder_));
    const BatchArchives archives = !HourCheck->isChecked()  ? BatchArchives::Day
                                   : !DayCheck->isChecked() ? BatchArchives::Hour
                                                            : BatchArchives::Both;
    const std::vector<ArchiveJob> jobs = BatchJobs(addresses, archives, folder_);
    BatchTable->setRowCount(static_cast<int>(jobs.size()));
    Running(true);
    line_.Attach(&batch_);
    batch_.Start(jobs);
    for (std::size_t i = 0; i < jobs.size(); ++i)
        ShowBatchRow(i);
    Rearm();
}

void TViewScan::ShowBatchRow(std::size_t index) {
    const BatchRow& r = batch_.Rows()[index];
    const int row = static_cast<int>(index);
    auto* address = Cell(std::to_string(r.Job.Address));
    address->setData(Qt::UserRole, FromUtf8(r.LeftFile.empty() ? r.Job.File : r.LeftFile));
    BatchTable->setItem(row, 0, address);
    BatchTable->setItem(row, 1, Cell(r.Job.Archive == MeterArchive::Hour ? "часовой" : "суточный"));
    BatchTable->setItem(row, 2, Cell(std::to_string(r.Rows)));
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", r.Seconds);
    BatchTable->setItem(row, 3, Cell(r.Attempts > 0 ? seconds : ""));
    BatchTable->setItem(row, 4, Cell(BatchRowText(r)));
    BatchTable->setItem(row, 5, Cell(FileName(ShownFile(r))));
}

void TViewScan::ReadStarted(std::size_t index, int attempt) {
    (void)attempt;
    ShowBatchRow(index);
    BatchTable->setCurrentCell(static_cast<int>(index), 0);
}

void TViewScan::RowRead(std::size_t index, const ArchiveProgress& progress) {
    BatchTable->item(static_cast<int>(index), 2)->setText(QString::number(progress.Rows));
    ShowProgress();
}

void TViewScan::ReadEnded(std::size_t index) {
    ShowBatchRow(index);
}

void TViewScan::BatchEnded(bool stopped) {
    Running(false);
    int read = 0;
    std::string incomplete;
    for (std::size_t i = 0; i < batch_.Rows().size(); ++i) {
        const BatchRow& r = batch_.Rows()[i];
        ShowBatchRow(i);
        if (r.Complete)
            ++read;
        else if (!r.LeftFile.empty())
            incomplete += (incomplete.empty() ? "" : ", ") + FileName(r.LeftFile);
    }
    std::string text = std::string(stopped ? "Чтение остановлено" : "Готово") + " за " +
                       MinutesSeconds(batch_.Seconds()) + ": прочитано " + std::to_string(read) + " из " +
                       std::to_string(batch_.Rows().size()) + ".";
    if (!incomplete.empty()) text += " Неполные файлы: " + incomplete + ".";
    BatchProgress->setText(FromUtf8(text));
}

void TViewScan::OpenFolderButtonClick() {
    if (folder_.empty())
        return ShowMessage("Архивы ещё не читались.", ViewScanCaption, MessageIcon::Information);
    QDesktopServices::openUrl(QUrl::fromLocalFile(FromUtf8(folder_)));
}

void TViewScan::ViewerButtonClick() {
    const int row = BatchTable->currentRow();
    const QTableWidgetItem* item = row >= 0 ? BatchTable->item(row, 0) : nullptr;
    if (!item) return ShowMessage("Выберите файл в сводке.", ViewScanCaption, MessageIcon::Information);
    const QString path = item->data(Qt::UserRole).toString();
    if (!QFile::exists(path))
        return ShowMessage("Файла " + path.toStdString() + " нет: архив этого прибора не прочитан.",
                           ViewScanCaption, MessageIcon::Information);
    ShowArchiveInViewer(mdiArea(), path);
}

CollectSession TViewScan::WindowSession() const {
    CollectSession s = session_;
    if (!sessionOpened_) {
        // A new session names the program's port and link, so that a timer
        // run under another user (another OPTIONS.INI, no ports/ links of
        // its own) reads the same line: the device or address the COM
        // number leads to. What it reads goes into a database in the output
        // folder.
        const std::string target = ComLinkTarget(AppOptions.PortNumber);
        s.Port = !target.empty() && (target[0] == '/' || IsNetworkAddress(target))
                     ? target
                     : "COM" + std::to_string(AppOptions.PortNumber);
        s.Speed = AppOptions.BaudRate;
        if (AppOptions.LinkMode == 1 || AppOptions.LinkMode == 2) s.LinkMode = AppOptions.LinkMode;
        s.Database = "archive.db";
    }
    s.Rs485SpeedItem = std::max(0, SpeedCombo->currentIndex());
    // A wait longer than the edit takes is kept while the edit shows it cut.
    if (!session_.WaitMs || std::min(*session_.WaitMs, WaitEdit->maximum()) != WaitEdit->value())
        s.WaitMs = WaitEdit->value();
    const std::vector<int> chosen = ChosenAddresses();
    s.Scan = chosen.empty();
    s.Addresses = chosen;
    if (s.Scan) {
        // An opened session's addresses to scan are kept while the range
        // shows them from the first to the last.
        const auto [low, high] = std::minmax_element(session_.Addresses.begin(), session_.Addresses.end());
        const bool same = session_.Scan && low != session_.Addresses.end() && *low == FirstEdit->value() &&
                          *high == LastEdit->value();
        if (same) s.Addresses = session_.Addresses;
        for (int a = FirstEdit->value(); !same && a <= LastEdit->value(); ++a)
            s.Addresses.push_back(a);
    }
    s.Archives = !HourCheck->isChecked()  ? SessionArchives::Day
                 : !DayCheck->isChecked() ? SessionArchives::Hour
                                          : SessionArchives::Both;
    s.Output = OutputEdit->text().trimmed().toStdString();
    return s;
}

bool TViewScan::SaveSession(const QString& path) {
    if (!DayCheck->isChecked() && !HourCheck->isChecked()) {
        ShowMessage("Выберите архивы: суточные, часовые или оба.", ViewScanCaption, MessageIcon::Information);
        return false;
    }
    if (ChosenAddresses().empty() && LastEdit->value() < FirstEdit->value()) {
        ShowMessage("Последний адрес меньше первого. Исправьте диапазон.", ViewScanCaption,
                    MessageIcon::Information);
        return false;
    }
    std::string error;
    if (!WriteSessionFile(path.toStdString(), WindowSession(), error)) {
        ShowMessage(error, ViewScanCaption, MessageIcon::Warning);
        return false;
    }
    ProgressLine->setText(FromUtf8("Сеанс записан в файл " + path.toStdString() + "."));
    return true;
}

bool TViewScan::OpenSession(const QString& path) {
    std::string error;
    const std::optional<CollectSession> read = ReadSessionFile(path.toStdString(), error);
    if (!read) {
        ShowMessage(error, ViewScanCaption, MessageIcon::Warning);
        return false;
    }
    const CollectSession& s = *read;
    // The speed first: choosing it computes the wait, which the session's may replace.
    if (s.Rs485SpeedItem) SpeedCombo->setCurrentIndex(*s.Rs485SpeedItem);
    if (s.WaitMs) WaitEdit->setValue(*s.WaitMs);
    if (!s.Addresses.empty()) {
        const auto [low, high] = std::minmax_element(s.Addresses.begin(), s.Addresses.end());
        FirstEdit->setValue(*low);
        LastEdit->setValue(*high);
    }
    // The table shows the session's meters ticked; a session that scans its
    // range names none.
    sessionTicks_ = s.Scan ? std::vector<int>() : s.Addresses;
    for (int row = 0; row < ScanTable->rowCount(); ++row)
        if (QTableWidgetItem* item = ScanTable->item(row, 0)) {
            const bool ticked = std::find(sessionTicks_.begin(), sessionTicks_.end(),
                                          item->data(Qt::UserRole).toInt()) != sessionTicks_.end();
            item->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
        }
    DayCheck->setChecked(s.Archives != SessionArchives::Hour);
    HourCheck->setChecked(s.Archives != SessionArchives::Day);
    OutputEdit->setText(FromUtf8(s.Output));
    session_ = s;
    sessionOpened_ = true;
    ProgressLine->setText(FromUtf8("Сеанс открыт из файла " + path.toStdString() + "."));
    return true;
}

void TViewScan::SaveSessionButtonClick() {
    const QString path =
        ChooseFile(QString::fromUtf8("Сохранить сеанс сбора"), FromUtf8(ArchiveDir() + "сеанс.toml"),
                   QString::fromUtf8("Сеанс сбора (*.toml)"), true);
    if (!path.isEmpty()) SaveSession(path);
}

void TViewScan::OpenSessionButtonClick() {
    if (scan_.Running() || batch_.Running()) return;
    const QString path = ChooseFile(QString::fromUtf8("Открыть сеанс сбора"), FromUtf8(ArchiveDir()),
                                    QString::fromUtf8("Сеанс сбора (*.toml)"), false);
    if (!path.isEmpty()) OpenSession(path);
}
