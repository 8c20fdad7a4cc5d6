// A window's switch for logging its lines to a file: a check box that asks for
// the file, a label that names it while logging, the timer that writes the log
// out every second, and the one message when writing fails.
#pragma once
#include "base/LineLog.h"

#include <QObject>
#include <QString>
#include <functional>

class QCheckBox;
class QLabel;
class QTimer;
class QWidget;

class LogSwitch : public QObject {
public:
    // `log` outlives the switch; it is closed when the switch goes.
    LogSwitch(QWidget* window, QCheckBox* box, QLabel* label, LineLog& log);
    ~LogSwitch() override;

    // Asks for the log file; an empty name leaves logging off, a new file
    // named without an extension gets ".log". Tests replace it.
    std::function<QString()> ChooseFile;
    // Runs just before the log is closed by the box or with the window, so
    // that a line under way still reaches the file.
    std::function<void()> Closing;

private:
    void Toggled(bool on);
    void Stopped(const std::string& reason);
    void SetOff();
    void CloseLog();

    QWidget* window_;
    QCheckBox* box_;
    QLabel* label_;
    LineLog& log_;
    QTimer* timer_;
};
