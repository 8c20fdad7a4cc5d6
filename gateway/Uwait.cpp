// The wait window: "ЖДИТЕ..." with a hidden Cancel and a disabled timer that
// serve a modal showing only.
#include "gateway/Uwait.h"

#include "base/Timing.h"
#include "ui/Handlers.h"
#include "ui/Readable.h"

#include <QEvent>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

QPoint CentredOver(int x0, int y0, int clientWidth, int clientHeight, int formWidth, int formHeight) {
    return {x0 + clientWidth / 2 - formWidth / 2, y0 + clientHeight / 2 - formHeight / 2};
}

TDelayForm::TDelayForm(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("DelayForm");
    setWindowTitle(QString::fromUtf8("Задержка"));

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = new QLabel(QString::fromUtf8("ЖДИТЕ..."), GroupBox1);
    Label1->setObjectName("Label1");
    Label1->setAlignment(Qt::AlignCenter);
    QFont font = Label1->font();
    font.setPointSize(font.pointSize() * 2);
    font.setBold(true);
    Label1->setFont(font);
    ColourLabel();

    Cancel = new QPushButton(QString::fromUtf8("Cancel"), GroupBox1);
    Cancel->setObjectName("Cancel");
    Cancel->hide();

    auto* inner = new QVBoxLayout(GroupBox1);
    inner->setContentsMargins(24, 16, 24, 16);
    inner->addWidget(Label1);
    inner->addWidget(Cancel, 0, Qt::AlignHCenter);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(GroupBox1);

    DelayTimer = new QTimer(this);
    DelayTimer->setObjectName("DelayTimer");

    connect(Cancel, &QPushButton::clicked, this, Guard([this] { CancelClick(); }));
    connect(DelayTimer, &QTimer::timeout, this, Guard([this] { DelayTimerTimer(); }));

    // A fixed size: the hidden Cancel keeps its room for a modal showing.
    Cancel->show();
    setFixedSize(sizeHint());
    Cancel->hide();

    // Centred over the owner's client area.
    if (owner) {
        QWidget* client = owner;
        if (auto* sub = qobject_cast<QMdiSubWindow*>(owner); sub && sub->widget()) client = sub->widget();
        const QPoint origin = client->mapToGlobal(QPoint(0, 0));
        move(CentredOver(origin.x(), origin.y(), client->width(), client->height(), width(), height()));
    }
}

void TDelayForm::ColourLabel() {
    // Navy, or a lighter navy that reads on a dark window background.
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText,
                     ReadableColor(QColor(0, 0, 128), this->palette().color(QPalette::Window)));
    Label1->setPalette(palette);
}

void TDelayForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && Label1) ColourLabel();
}

bool TDelayForm::ShownModally() const {
    return testAttribute(Qt::WA_ShowModal);
}

void TDelayForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TDelayForm::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    painted_ = true;
    emit Painted();
}

void TDelayForm::ShowPainted() {
    show();
    repaint(); // paints at once where the window is already exposed
    if (painted_) return;
    // User input stays queued meanwhile; the owner is disabled anyway.
    QEventLoop loop;
    connect(this, &TDelayForm::Painted, &loop, &QEventLoop::quit);
    QTimer::singleShot(Timing().WaitWindowPaintMs, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void TDelayForm::FormShow() {
    if (ShownModally()) Cancel->show();
}

void TDelayForm::DelayTimerTimer() {
    DelayTimer->stop();
    if (ShownModally()) done(QDialog::Accepted);
}

void TDelayForm::CancelClick() {
    DelayTimer->stop();
    if (ShownModally()) done(QDialog::Rejected);
}
