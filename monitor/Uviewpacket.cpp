// The packet monitor window: widgets, timers and the descriptor watch over the
// receive loop in PacketMonitor.
#include "monitor/Uviewpacket.h"

#include "base/Timing.h"

#include "ui/DescriptorWatch.h"
#include "ui/Handlers.h"
#include "ui/LogSwitch.h"
#include "ui/MdiChild.h"
#include "ui/Readable.h"
#include "ui/WindowFit.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

TViewPacket* ViewPacket = nullptr;

namespace {

QFont MonitorFont() {
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    if (!QFontInfo(font).fixedPitch()) font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return font;
}

} // namespace

TViewPacket::TViewPacket(QWidget* parent, PortAccessor port, WallClock clock)
    : QMdiSubWindow(parent), log_(clock), monitor_(*this, std::move(port), clock) {
    setObjectName("ViewPacket");
    setWindowTitle(QStringLiteral("ViewPacket"));
    // Starts at its own size and may be enlarged, the view growing with it.
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);

    // This window takes every byte the port receives: say so.
    LabelReading = new QLabel(QString::fromUtf8("Окно читает порт программы: пока оно открыто, все принятые "
                                                "байты показываются здесь, а не в окне «Тест RS232»."),
                              content);
    LabelReading->setObjectName("LabelReading");
    LabelReading->setWordWrap(true);
    layout->addWidget(LabelReading);

    GroupBox1 = new QGroupBox(content);
    GroupBox1->setObjectName("GroupBox1");
    auto* groupLayout = new QVBoxLayout(GroupBox1);
    RichEdit = new QPlainTextEdit(GroupBox1);
    RichEdit->setObjectName("RichEdit");
    RichEdit->setAccessibleName(QStringLiteral("RichEdit"));
    RichEdit->setFont(MonitorFont());
    RichEdit->setReadOnly(true);
    RichEdit->setUndoRedoEnabled(false); // an endless log must not grow an undo stack
    RichEdit->setTabChangesFocus(true);
    RichEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit->clear();
    RichEdit->document()->setMaximumBlockCount(MaxShownLines);
    groupLayout->addWidget(RichEdit);
    layout->addWidget(GroupBox1, 1); // the view takes what the window grows by

    Button1 = new QPushButton(QString::fromUtf8("&Очистить"), content);
    Button1->setObjectName("Button1");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    // Off by default: the lines stay as they always were.
    TimeCheckBox = new QCheckBox(QString::fromUtf8("Время"), content);
    TimeCheckBox->setObjectName("TimeCheckBox");
    TimeCheckBox->setToolTip(QString::fromUtf8("Время прихода пакета и пауза после предыдущего, мс"));
    buttons->addWidget(TimeCheckBox);
    LogCheckBox = new QCheckBox(QString::fromUtf8("Журнал в файл"), content);
    LogCheckBox->setObjectName("LogCheckBox");
    buttons->addWidget(LogCheckBox);
    LogFileLabel = new QLabel(content);
    LogFileLabel->setObjectName("LogFileLabel");
    buttons->addWidget(LogFileLabel, 1);
    layout->addLayout(buttons);
    Log = new LogSwitch(this, LogCheckBox, LogFileLabel, log_);
    setWidget(content);
    FitToScreen(this, QSize(760, 480), WindowSizing::Growing);
    RichEdit->setFocus();

    watch_ = new DescriptorWatch(this);
    connect(watch_, &DescriptorWatch::Readable, this, Guard([this] { monitor_.Woken(); }));
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(Timing().MonitorTickMs);
    connect(Timer1, &QTimer::timeout, this, Guard([this] { Timer1Timer(); }));
    connect(Button1, &QPushButton::clicked, this, Guard([this] { Button1Click(); }));
    Timer1->start();

    showTimer_ = new QTimer(this);
    showTimer_->setInterval(Timing().MonitorShowBatchMs);
    connect(showTimer_, &QTimer::timeout, this, Guard([this] { ShowPending(); }));

    DefaultColor = RichEdit->palette().color(QPalette::Text);
    Closing = false;
}

TViewPacket::~TViewPacket() {
    // Destroyed while its loop runs (not through close): end the loop, which
    // then returns without touching the window.
    if (loop_) loop_->quit();
    monitor_.Stop();
    delete Log; // before the log it switches
}

void TViewPacket::ReceiveLoop() {
    if (loop_) return; // one loop per window
    QEventLoop loop;
    loop_ = &loop;
    const QPointer<TViewPacket> self(this);
    if (!Closing) monitor_.Start();
    if (!Closing) loop.exec();
    if (!self) return;
    loop_ = nullptr;
    monitor_.Stop();
    ShowPending();
}

void TViewPacket::WatchDescriptor(int fd) {
    // Every new descriptor starts awake; a paused watch waits for its tick.
    watch_->SetEnabled(true);
    watch_->Watch(fd);
}

void TViewPacket::EnableWatch(bool enabled) {
    watch_->SetEnabled(enabled);
}

void TViewPacket::RestartTicks() {
    Timer1->start();
}

void TViewPacket::ClassifyAndShow(const std::uint8_t* bytes, int length, PacketClass cls) {
    const std::string text = PacketLineText(bytes, length, cls);
    const PacketColor color = PacketLineColor(cls);
    const bool dated = TimeCheckBox->isChecked();
    std::string prefix;
    if (dated || log_.IsOpen()) {
        const PacketMonitor::LineTime& time = monitor_.ShownLineTime();
        prefix = TimePrefix(time.arrivedMs, time.gapMs);
    }
    // The log holds every line with its time, whatever the view keeps.
    if (log_.IsOpen()) log_.Write(prefix + text);
    const std::string shown = dated ? prefix + text : text;
    pending_.push_back({QString::fromLatin1(shown.data(), static_cast<qsizetype>(shown.size())),
                        color.useDefault ? DefaultColor : LineColor(color)});
    // A line after a quiet spell is shown at once; lines that follow it
    // closely are shown together when the interval has passed, so that a
    // dense stream is laid out and painted a few times a second rather than
    // once per packet.
    if (!showTimer_->isActive()) {
        ShowPending();
        showTimer_->start();
    }
}

QColor TViewPacket::LineColor(const PacketColor& color) {
    const QRgb given = qRgb(color.red, color.green, color.blue);
    for (const auto& [rgb, shown] : lineColors_)
        if (rgb == given) return shown;
    const QColor shown = ReadableColor(QColor(given), RichEdit->palette().color(QPalette::Base));
    lineColors_.emplace_back(given, shown);
    return shown;
}

void TViewPacket::changeEvent(QEvent* event) {
    QMdiSubWindow::changeEvent(event);
    // New lines take colours for the new palette; lines already shown keep
    // theirs.
    if (event->type() == QEvent::PaletteChange) {
        DefaultColor = palette().color(QPalette::Text);
        lineColors_.clear();
    }
}

void TViewPacket::ShowPending() {
    if (pending_.empty()) {
        showTimer_->stop();
        return;
    }
    QScrollBar* bar = RichEdit->verticalScrollBar();
    const bool followEnd = bar->value() >= bar->maximum();
    QTextDocument* doc = RichEdit->document();
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    for (const PendingLine& line : pending_) {
        if (!doc->isEmpty()) cursor.insertBlock();
        QTextCharFormat format;
        format.setForeground(line.color);
        cursor.insertText(line.text, format);
    }
    cursor.endEditBlock();
    pending_.clear();
    if (followEnd) bar->setValue(bar->maximum());
}

void TViewPacket::SetMaxShownLines(int lines) {
    RichEdit->document()->setMaximumBlockCount(lines);
}

void TViewPacket::Timer1Timer() {
    monitor_.Tick();
}

void TViewPacket::Button1Click() {
    pending_.clear(); // lines already classified count as shown
    RichEdit->clear();
}

void TViewPacket::FormClose() {
    Closing = true;
    ReleaseInstance(ViewPacket, this);
    Timer1->stop();
    monitor_.Stop();
    log_.Close();
    // The window itself is freed by whoever called ReceiveLoop, once it returned.
    if (loop_) loop_->quit();
}

void TViewPacket::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}
