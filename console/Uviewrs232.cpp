// The Modbus console window: controls, their initial state, and the screen
// operations its logic uses.
#include "console/Uviewrs232.h"

#include "console/RequestMemory.h"
#include "console/Uviewlive.h"

#include "base/DecimalSeparator.h"
#include "base/Paths.h"
#include "base/Timing.h"

#include "adapter/Dataio.h"
#include "base/Messages.h"
#include "ui/Handlers.h"
#include "ui/Keyboard.h"
#include "ui/LineTraceLog.h"
#include "ui/LogSwitch.h"
#include "ui/MdiChild.h"
#include "ui/PortWatch.h"
#include "ui/TextCodec.h"
#include "ui/WindowFit.h"
#include "viewer/Uviewarchive.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCompleter>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

TViewRS232* ViewRS232 = nullptr;

namespace {

// The decimal point of the locale the window's texts use.
char LocaleDecimalSeparator() {
    const QByteArray point = QLocale().decimalPoint().toUtf8();
    return DecimalSeparatorOf(std::string_view(point.constData(), static_cast<size_t>(point.size())));
}

template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* MakeLabel(const char* name, const char* caption) {
    return Named(new QLabel(QString::fromUtf8(caption)), name);
}

QLineEdit* MakeEdit(const char* name, const char* text, QLabel* label) {
    auto* edit = Named(new QLineEdit(QString::fromUtf8(text)), name);
    if (label) label->setBuddy(edit);
    return edit;
}

// columns 0: the memo takes the width its column gives it.
QPlainTextEdit* MakeMemo(const char* name, int columns, int lines) {
    auto* memo = Named(new QPlainTextEdit, name);
    // No label names a memo, so a screen reader is given its own name.
    memo->setAccessibleName(QString::fromLatin1(name));
    memo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The dumps grow until "Очистка": no undo history behind them.
    memo->setUndoRedoEnabled(false);
    // Tab moves on to the next control instead of typing into the dump.
    memo->setTabChangesFocus(true);
    // Wide enough for a whole dump line; as tall as the form lets it be.
    const QFontMetrics fm(memo->font());
    const int frame = 2 * memo->frameWidth() + 2 * static_cast<int>(memo->document()->documentMargin());
    const int width = fm.horizontalAdvance(QLatin1Char('0')) * columns + frame +
                      memo->verticalScrollBar()->sizeHint().width() + 4;
    if (columns > 0) memo->setFixedWidth(width);
    memo->setMinimumHeight(fm.lineSpacing() * lines + frame);
    memo->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return memo;
}

// Enabling a running timer keeps its phase, as the toolkit's timers do.
void Enable(QTimer* timer, bool enabled) {
    if (!enabled)
        timer->stop();
    else if (!timer->isActive())
        timer->start();
}

QTimer* MakeTimer(QObject* owner, const char* name, int interval) {
    auto* timer = Named(new QTimer(owner), name);
    timer->setInterval(interval);
    return timer;
}

// Eight model designations offered for reference; the program never reads them.
const char* const DeviceModels[] = {"Модель А-10", "Модель А-20", "Модель Б-11", "Модель Б-21",
                                    "Модель В-12", "Модель В-22", "Модель Г-13", "Модель Г-23"};

} // namespace

TViewRS232::TViewRS232(QMdiArea* parent, PortAccessor port, AdapterLink& link)
    : QMdiSubWindow(parent), port_(port),
      logic_(
          *this, std::move(port),
          [&link](const std::uint8_t* block, std::int32_t count) { return link.SendPacket(block, count); },
          LocaleDecimalSeparator()) {
    TraceToLog(logic_.Line());
    setObjectName("ViewRS232");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle("ViewRS232");
    // A single fixed border: no maximise button, no resizing.
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto* content = new QWidget;
    content->setObjectName("ViewRS232Content");

    // Left: the two dumps and the switch that silences every memo.
    GroupBox1 = Named(new QGroupBox, "GroupBox1");
    Memo1 = MakeMemo("Memo1", 48, 26);
    Memo2 = MakeMemo("Memo2", 16, 26);
    MemoCheckBox = Named(new QCheckBox(QString::fromUtf8("&Активность Memo")), "MemoCheckBox");
    MemoCheckBox->setChecked(true);
    auto* dumps = new QGridLayout(GroupBox1);
    dumps->addWidget(Memo1, 0, 0);
    dumps->addWidget(Memo2, 0, 1);
    // Under the dumps, beside the switch: how an archive read goes.
    ArchiveProgress = MakeLabel("ArchiveProgress", "");
    auto* status = new QHBoxLayout;
    status->addWidget(MemoCheckBox);
    status->addStretch(1);
    status->addWidget(ArchiveProgress);
    ShowArchiveButton = Named(new QPushButton(QString::fromUtf8("Показать")), "ShowArchiveButton");
    ShowArchiveButton->setToolTip(QString::fromUtf8("Открыть записанный архив в окне просмотра"));
    ShowArchiveButton->hide();
    status->addWidget(ShowArchiveButton);
    dumps->addLayout(status, 1, 0, 1, 2);
    // Off by default: the dumps stay as they always were.
    TimeCheckBox = Named(new QCheckBox(QString::fromUtf8("Время ответов")), "TimeCheckBox");
    TimeCheckBox->setToolTip(QString::fromUtf8("Время первого байта ответа и пауза после предыдущего, мс"));
    LogCheckBox = Named(new QCheckBox(QString::fromUtf8("Журнал в файл")), "LogCheckBox");
    LogFileLabel = Named(new QLabel, "LogFileLabel");
    auto* records = new QHBoxLayout;
    records->addWidget(TimeCheckBox);
    records->addWidget(LogCheckBox);
    records->addWidget(LogFileLabel, 1);
    RequestsCheckBox = Named(new QCheckBox(QString::fromUtf8("Запросы")), "RequestsCheckBox");
    RequestsCheckBox->setToolTip(
        QString::fromUtf8("Показывать каждый запрос в шестнадцатеричном виде, когда он уходит"));
    records->addWidget(RequestsCheckBox);
    dumps->addLayout(records, 2, 0, 1, 2);
    // What the last command came to, under the dumps across their width: a
    // long text takes its lines from the room the dumps have beyond their
    // smallest height, so the window is no taller for it.
    ConsoleNotice = Named(new QLabel, "ConsoleNotice");
    ConsoleNotice->setWordWrap(true);
    ConsoleNotice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Selectable by mouse, yet never the control the window starts on.
    ConsoleNotice->setFocusPolicy(Qt::NoFocus);
    dumps->addWidget(ConsoleNotice, 3, 0, 1, 2);
    Log = new LogSwitch(this, LogCheckBox, LogFileLabel, logic_.Log());
    Log->Closing = [this] { logic_.EndLogLine(); };
    connect(TimeCheckBox, &QCheckBox::toggled, this, [this](bool on) { logic_.SetTimeStamps(on); });
    connect(RequestsCheckBox, &QCheckBox::toggled, this, [this](bool on) { logic_.SetShowRequests(on); });
    connect(ShowArchiveButton, &QPushButton::clicked, this, [this] {
        if (!offeredArchive_.isEmpty()) ShowArchiveInViewer(mdiArea(), offeredArchive_);
    });

    // Right: the request, the decoded values and the archive commands.
    Label1 = MakeLabel("Label1", "Адрес устройства");
    Edit3 = MakeEdit("Edit3", "1", Label1);
    Label4 = MakeLabel("Label4", "Фунуция");
    Edit4 = MakeEdit("Edit4", "4", Label4);
    Label2 = MakeLabel("Label2", "Начальный логический алрес");
    Edit1 = MakeEdit("Edit1", "0", Label2);
    Label3 = MakeLabel("Label3", "Количество регистров(1рег=2байта)");
    Edit2 = MakeEdit("Edit2", "4", Label3);
    Label16 = MakeLabel("Label16", "(для пакета 16 набор символов)");
    Button2 = Named(new QPushButton(QString::fromUtf8("Отправить &пакет")), "Button2");
    Label5 = MakeLabel("Label5", "Тип устройства");
    ComboBox1 = Named(new QComboBox, "ComboBox1");
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    for (const char* model : DeviceModels)
        ComboBox1->addItem(QString::fromUtf8(model));
    ComboBox1->completer()->setCompletionMode(QCompleter::PopupCompletion);
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(QString());
    Label5->setBuddy(ComboBox1);
    // The values take what the column leaves: the window is no taller for
    // them than the request, the archive and the device need, and fits a
    // 2560x1440 screen at scale 2.
    Memo3 = MakeMemo("Memo3", 0, 6);
    Memo3->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    Button3 = Named(new QPushButton(QString::fromUtf8("Считать &суточный архив")), "Button3");
    Button4 = Named(new QPushButton(QString::fromUtf8("Считать &часовой архив")), "Button4");

    GroupBox2 = Named(new QGroupBox(QString::fromUtf8("Параметры прибора")), "GroupBox2");
    const char* undetermined = "не определялось";
    Label10 = MakeLabel("Label10", "Тип (TYPE_NUM) = ");
    Label7 = MakeLabel("Label7", undetermined);
    Label11 = MakeLabel("Label11", "Версия:");
    Label8 = MakeLabel("Label8", undetermined);
    Label12 = MakeLabel("Label12", "Конфиг. 1:");
    Label14 = MakeLabel("Label14", undetermined);
    Label13 = MakeLabel("Label13", "Конфиг. 2:");
    Label15 = MakeLabel("Label15", undetermined);
    Label9 = MakeLabel("Label9", "Длинна строки");
    Edit6 = MakeEdit("Edit6", "", Label9);
    Label6 = MakeLabel("Label6", "Номер строки");
    Edit5 = MakeEdit("Edit5", "", Label6);
    auto* params = new QGridLayout(GroupBox2);
    int row = 0;
    for (auto [caption, value] : {std::pair<QWidget*, QWidget*>{Label10, Label7},
                                  {Label11, Label8},
                                  {Label12, Label14},
                                  {Label13, Label15},
                                  {Label9, Edit6},
                                  {Label6, Edit5}}) {
        params->addWidget(caption, row, 0);
        params->addWidget(value, row, 1);
        ++row;
    }
    Button1 = Named(new QPushButton(QString::fromUtf8("&Очистка")), "Button1");

    auto* request = new QGridLayout;
    row = 0;
    for (auto [label, edit] :
         {std::pair<QWidget*, QWidget*>{Label1, Edit3}, {Label4, Edit4}, {Label2, Edit1}, {Label3, Edit2}}) {
        request->addWidget(label, row, 0);
        request->addWidget(edit, row, 1);
        ++row;
    }
    request->addWidget(Label16, row++, 0, 1, 2);
    // Polling: the request repeated every interval, its values in a window of their own. It shares the
    // send button's row, so that the window still fits a 2560x1440 screen at scale 2.
    PollCheckBox = Named(new QCheckBox(QString::fromUtf8("Оп&рос, интервал")), "PollCheckBox");
    PollCheckBox->setToolTip(QString::fromUtf8("Повторять запрос; значения — в окне «Опрос значений»"));
    PollInterval = Named(new QSpinBox, "PollInterval");
    PollInterval->setRange(MinPollIntervalMs, MaxPollIntervalMs);
    PollInterval->setSingleStep(100);
    PollInterval->setValue(1000);
    PollInterval->setSuffix(QString::fromUtf8(" мс"));
    PollInterval->setAccessibleName(QString::fromUtf8("Интервал опроса"));
    auto* poll = new QHBoxLayout;
    poll->addWidget(PollCheckBox);
    poll->addWidget(PollInterval, 1);
    request->addWidget(Button2, row, 0);
    request->addLayout(poll, row++, 1);
    request->addWidget(Label5, row, 0);
    request->addWidget(ComboBox1, row++, 1);

    auto* right = new QVBoxLayout;
    right->addLayout(request);
    right->addWidget(Memo3, 1);
    right->addWidget(Button3);
    right->addWidget(Button4);
    right->addWidget(GroupBox2);
    right->addWidget(Button1);

    auto* top = new QHBoxLayout(content);
    top->addWidget(GroupBox1);
    top->addLayout(right);
    setWidget(content);

    Timer1 = MakeTimer(this, "Timer1", Timing().ConsoleTickMs);
    Timer2 = MakeTimer(this, "Timer2", 1000); // present on the form, never enabled
    TimerQueryConf = MakeTimer(this, "TimerQueryConf", Timing().IdentificationPollMs);

    connect(Button1, &QPushButton::clicked, this, [this] { Run([this] { logic_.Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] {
        Run([this] { logic_.Button2Click(); });
        StoreRequest();
    });
    connect(Button3, &QPushButton::clicked, this, [this] { Run([this] { logic_.Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { Run([this] { logic_.Button4Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] {
        wokenEmpty_ = false;
        Run([this] { logic_.Timer1Timer(); });
    });
    connect(TimerQueryConf, &QTimer::timeout, this,
            [this] { Run([this] { logic_.TimerQueryConfTimer(); }); });
    PollTimer = MakeTimer(this, "PollTimer", Timing().PollAnswerTimeoutMs);
    PollTimer->setSingleShot(true);
    connect(PollTimer, &QTimer::timeout, this, [this] { Run([this] { logic_.PollTimer(); }); });
    connect(PollCheckBox, &QCheckBox::clicked, this, [this](bool on) { PollCheckBoxClick(on); });

    // Enter in a request edit sends the packet, as the button does.
    for (QLineEdit* edit : {Edit3, Edit4, Edit1, Edit2})
        connect(edit, &QLineEdit::returnPressed, Button2, &QPushButton::click);
    // The request first, then the archive and its fields, then the dumps.
    SetTabOrder({Edit3,        Edit4,       Edit1,           Edit2,   Button2,      PollCheckBox,
                 PollInterval, ComboBox1,   Memo3,           Button3, Button4,      Edit6,
                 Edit5,        Button1,     Memo1,           Memo2,   MemoCheckBox, ShowArchiveButton,
                 TimeCheckBox, LogCheckBox, RequestsCheckBox});
    Edit3->setFocus();

    watch_ = new PortWatch(this);
    connect(watch_, &PortWatch::Readable, this, &TViewRS232::PortReadable);

    Memo1->clear();
    Memo2->clear();
    RestoreRequest();
    // Polishing the sub-window drops the focus set above: a window of its own
    // size starts on the tab chain's first control when it is activated; one
    // whose controls scroll is given it again.
    adjustSize();
    if (!FitToScreen(this, size())) Edit3->setFocus();
    Timer1->start();
    UpdateWatch();
}

TViewRS232::~TViewRS232() {
    // Also when the main window ends and deletes its windows unclosed; a
    // closed one has stored its fields, and a console opened since may have
    // stored newer ones.
    if (!requestStored_) StoreRequest();
    delete Log; // before the log it switches
    delete live_;
}

namespace {

// The console's own settings file beside OPTIONS.INI, which keeps its
// original bytes and knows nothing of the console.
QString RequestFile() {
    const std::string dir = ConfigDir();
    return dir.empty() ? QString() : QString::fromStdString(dir + ConsoleSettingsFile);
}

} // namespace

void TViewRS232::RestoreRequest() {
    const QString file = RequestFile();
    if (file.isEmpty()) return;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup("request");
    std::map<std::string, std::string> stored;
    for (const QString& key : settings.childKeys())
        stored[key.toStdString()] = settings.value(key).toString().toStdString();
    const RequestFields f = RestoredRequestFields(stored);
    Edit3->setText(QString::fromStdString(f.Address));
    Edit4->setText(QString::fromStdString(f.Function));
    Edit1->setText(QString::fromStdString(f.Register));
    Edit2->setText(QString::fromStdString(f.Count));
    ComboBox1->setEditText(QString::fromStdString(f.DeviceType));
    PollInterval->setValue(f.PollIntervalMs);
}

void TViewRS232::StoreRequest() {
    const QString file = RequestFile();
    if (file.isEmpty()) return;
    const RequestFields f{Edit3->text().toStdString(),
                          Edit4->text().toStdString(),
                          Edit1->text().toStdString(),
                          Edit2->text().toStdString(),
                          ComboBox1->currentText().toStdString(),
                          PollInterval->value()};
    // Remembering is a convenience: a folder that cannot be written is not
    // worth a message on every send.
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup("request");
    for (const auto& [key, value] : StoredRequestFields(f))
        settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings.endGroup();
    settings.sync();
}

void TViewRS232::PollCheckBoxClick(bool on) {
    bool started = false;
    if (on) {
        // The window first: the first answer may come while the poll starts.
        if (!live_) {
            live_ = new TViewLiveValues(mdiArea());
            live_->LogSwitched = [this](bool log) {
                if (!log) {
                    logic_.StopPollLog();
                    return false;
                }
                const std::string path = DefaultPollLogFile(SystemNowMs());
                bool opened = false;
                Run([&] { opened = logic_.StartPollLog(path); });
                if (opened) live_->ShowLogFile(FromCp1251(path));
                return opened;
            };
        }
        live_->Reset();
        Run([&] { started = logic_.StartPolling(PollInterval->value()); });
        if (started) {
            live_->show();
            live_->raise();
        }
    } else {
        Run([this] { logic_.StopPolling(); });
        PollTimer->stop();
    }
    PollCheckBox->setChecked(started);
    LockRequest(started);
}

void TViewRS232::LockRequest(bool locked) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Edit3, Edit4, Edit1, Edit2, Button2, Button3, Button4, PollInterval})
        w->setEnabled(!locked);
}

void TViewRS232::ShowPollSample(const PollSample& sample, const PollCounts& counts) {
    if (live_) live_->AddSample(sample, counts);
}

void TViewRS232::ShowPollCounts(const PollCounts& counts) {
    if (live_) live_->ShowCounts(counts);
}

void TViewRS232::PollingEnded() {
    PollTimer->stop();
    PollCheckBox->setChecked(false);
    LockRequest(false);
}

void TViewRS232::PollLogEnded() {
    if (live_) live_->LogEnded();
}

void TViewRS232::WakePollAfter(int ms) {
    PollTimer->start(std::max(ms, 0));
}

void TViewRS232::Run(const std::function<void()>& handler) {
    ++handlersRunning_;
    RunHandler(handler);
    --handlersRunning_;
    UpdateWatch();
    if (handlersRunning_ == 0 && closePending_) {
        closePending_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TViewRS232::PortReadable() {
    Rs232Port* port = port_ ? port_() : nullptr;
    if (!port || port->InQueue() <= 0) {
        wokenEmpty_ = true;
        UpdateWatch();
        return;
    }
    Run([this] { logic_.PortReadable(); });
}

void TViewRS232::UpdateWatch() {
    if (!ReadOnArrival) {
        watch_->Follow(nullptr);
        return;
    }
    watch_->Follow(port_ ? port_() : nullptr);
    watch_->SetEnabled(!wokenEmpty_ && Timer1->isActive() && logic_.WaitAnswer);
}

void TViewRS232::closeEvent(QCloseEvent* event) {
    // A read under way stops first, as its stop button stops it, without a
    // question or a message; the window closes when the line is quiet.
    if (logic_.ArchiveRunning()) {
        closeAfterRun_ = true;
        event->ignore();
        if (handlersRunning_ == 0)
            Run([this] { logic_.StopArchiveRead(true); });
        else
            QTimer::singleShot(0, this, [this] { Run([this] { logic_.StopArchiveRead(true); }); });
        return;
    }
    // A message box inside a handler runs a nested loop in which the window
    // could be closed and freed under the running handler: the close waits
    // until the handler has ended.
    if (handlersRunning_ > 0) {
        closePending_ = true;
        event->ignore();
        return;
    }
    ReleaseInstance(ViewRS232, this);
    StoreRequest();
    requestStored_ = true;
    // A closed window is freed later, from the event loop: until then it
    // must not take the port's bytes from whoever reads the line next.
    for (QTimer* timer : {Timer1, TimerQueryConf, PollTimer})
        timer->stop();
    watch_->Follow(nullptr);
    event->accept();
}

QPlainTextEdit* TViewRS232::PaneWidget(ConsolePane pane) const {
    switch (pane) {
    case ConsolePane::HexDump:
        return Memo1;
    case ConsolePane::CharDump:
        return Memo2;
    case ConsolePane::Values:
        break;
    }
    return Memo3;
}

std::string TViewRS232::DeviceAddressText() {
    return ToCp1251(Edit3->text());
}

std::string TViewRS232::FunctionText() {
    return ToCp1251(Edit4->text());
}

std::string TViewRS232::StartRegisterText() {
    return ToCp1251(Edit1->text());
}

std::string TViewRS232::RegisterCountText() {
    return ToCp1251(Edit2->text());
}

void TViewRS232::SetRowNumber(const std::string& text) {
    Edit5->setText(FromCp1251(text));
}

void TViewRS232::SetRowLength(const std::string& text) {
    Edit6->setText(FromCp1251(text));
}

void TViewRS232::ShowArchiveProgress(const std::string& text) {
    ArchiveProgress->setText(QString::fromUtf8("Чтение архива: ") + FromCp1251(text));
}

void TViewRS232::AppendToPane(ConsolePane pane, const std::string& text) {
    QPlainTextEdit* edit = PaneWidget(pane);
    QScrollBar* bar = edit->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    // One insertion at the end: only the new blocks are laid out, however
    // much the memo already holds.
    QTextCursor cursor(edit->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(FromCp1251(text));
    if (following) bar->setValue(bar->maximum());
}

void TViewRS232::AddProgressLine(const std::string& text) {
    QScrollBar* bar = Memo1->verticalScrollBar();
    const bool following = bar->value() == bar->maximum();
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::End);
    QString line = FromCp1251(text) + QLatin1Char('\n');
    if (!cursor.atBlockStart()) line.prepend(QLatin1Char('\n'));
    cursor.insertText(line);
    if (following) bar->setValue(bar->maximum());
}

void TViewRS232::ClearPanes() {
    Memo1->clear();
    Memo2->clear();
    Memo3->clear();
}

bool TViewRS232::PanesActive() {
    return MemoCheckBox->isChecked();
}

void TViewRS232::EnableReceiveTimer(bool enabled) {
    Enable(Timer1, enabled);
    // While a tick runs the watch rests too: a message box shown inside the
    // tick must not run the loop again. Run() wakes it afterwards.
    if (!enabled) watch_->SetEnabled(false);
}

void TViewRS232::EnableIdentificationPoll(bool enabled) {
    Enable(TimerQueryConf, enabled);
}

void TViewRS232::ShowDeviceType(const std::string& text) {
    Label7->setText(FromCp1251(text));
}

void TViewRS232::ShowVersion(const std::string& text) {
    Label8->setText(FromCp1251(text));
}

void TViewRS232::ShowConfig1(const std::string& text) {
    Label14->setText(FromCp1251(text));
}

void TViewRS232::ShowConfig2(const std::string& text) {
    Label15->setText(FromCp1251(text));
}

void TViewRS232::ShowMessage(const std::string& text, const std::string& caption) {
    ::ShowMessage(text, caption, MessageIcon::Information);
}

void TViewRS232::ShowNotice(const std::string& text) {
    ConsoleNotice->setText(QString::fromStdString(text));
}

void TViewRS232::ShowArchiveRun(bool running, MeterArchive archive) {
    QPushButton* button = archive == MeterArchive::Hour ? Button4 : Button3;
    button->setText(QString::fromUtf8(running                         ? "Стоп"
                                      : archive == MeterArchive::Hour ? "Считать &часовой архив"
                                                                      : "Считать &суточный архив"));
    if (!running && closeAfterRun_) {
        closeAfterRun_ = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TViewRS232::OfferArchive(const std::string& path) {
    offeredArchive_ = QString::fromStdString(path);
    ShowArchiveButton->setVisible(!path.empty());
}
