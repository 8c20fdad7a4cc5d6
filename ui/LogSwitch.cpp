// The log switch: opening, naming, writing out and stopping a window's log.
#include "ui/LogSwitch.h"

#include "base/Messages.h"
#include "base/Timing.h"
#include "ui/Handlers.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimer>

LogSwitch::LogSwitch(QWidget* window, QCheckBox* box, QLabel* label, LineLog& log)
    : QObject(window), window_(window), box_(box), label_(label), log_(log), timer_(new QTimer(this)) {
    ChooseFile = [this] {
        return QFileDialog::getSaveFileName(window_, QString::fromUtf8("Файл журнала"), QString(),
                                            QString::fromUtf8("Журнал (*.log *.txt);;Все файлы (*)"), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    timer_->setInterval(Timing().LogFlushMs);
    connect(timer_, &QTimer::timeout, this, Guard([this] { log_.Flush(); }));
    connect(box_, &QCheckBox::toggled, this, [this](bool on) { RunHandler([this, on] { Toggled(on); }); });
    log_.OnFailure([this](const std::string& reason) { Stopped(reason); });
}

LogSwitch::~LogSwitch() {
    log_.OnFailure(nullptr);
    CloseLog();
}

void LogSwitch::CloseLog() {
    if (log_.IsOpen() && Closing) Closing();
    log_.Close();
}

void LogSwitch::Toggled(bool on) {
    if (!on) {
        CloseLog();
        SetOff();
        return;
    }
    QString path = ChooseFile ? ChooseFile() : QString();
    if (path.isEmpty()) {
        SetOff();
        return;
    }
    // A new file named without an extension is a log all the same; an
    // existing file chosen is taken as it is.
    if (QFileInfo(path).suffix().isEmpty() && !QFileInfo::exists(path)) path += QStringLiteral(".log");
    std::string error;
    if (!log_.Open(QFile::encodeName(path).toStdString(), error)) {
        SetOff();
        ShowMessage("Не удалось открыть журнал: " + error + ". Выберите другой файл.", "Журнал",
                    MessageIcon::Warning);
        return;
    }
    label_->setText(QString::fromUtf8("Журнал: ") + QFileInfo(path).fileName());
    label_->setToolTip(path);
    timer_->start();
}

// Reported from inside a write, which may run in the middle of showing
// lines: the box waits until that has ended.
void LogSwitch::Stopped(const std::string& reason) {
    SetOff();
    QTimer::singleShot(0, window_, [reason] {
        ShowMessage("Журнал остановлен: " + reason + ". Окно работает дальше; выберите другой файл.",
                    "Журнал", MessageIcon::Warning);
    });
}

void LogSwitch::SetOff() {
    timer_->stop();
    const QSignalBlocker blocker(box_);
    box_->setChecked(false);
    label_->clear();
    label_->setToolTip(QString());
}
