// TViewLiveValues: what the console's polling has read, as a table with the
// time of every answer (the newest on top) and a chart of every value
// against time in the archive viewer's style, with the answer time, the
// requests left without answer and the switch of the CSV log.
#pragma once
#include "console/ValuePoller.h"

#include <QMdiSubWindow>
#include <functional>

class QCheckBox;
class QLabel;
class QMdiArea;
class QTableWidget;
class TimeChart;

// Rows the table keeps (the oldest go first); the chart keeps the points of
// LivePointsKept answers per value, the CSV log every answer.
inline constexpr int LiveTableRows = 1000;
inline constexpr std::size_t LivePointsKept = 360000; // ten hours at the shortest interval
// The narrowest time range the chart shows.
inline constexpr double LiveNarrowestMs = 10000;

class TViewLiveValues : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TViewLiveValues(QMdiArea* area);

    // A new poll: table, chart and counters empty.
    void Reset();
    void AddSample(const PollSample& sample, const PollCounts& counts);
    void ShowCounts(const PollCounts& counts, std::int32_t lastAnswerMs = -1);
    // The CSV log switched by the user; told whether it is on now.
    std::function<bool(bool on)> LogSwitched;
    void LogEnded(); // the log stopped by itself (the switch goes off)
    void ShowLogFile(const QString& path);

    QLabel* StatusLabel = nullptr;
    QCheckBox* CsvCheckBox = nullptr;
    QLabel* CsvFileLabel = nullptr;
    QTableWidget* Table = nullptr;
    TimeChart* Chart = nullptr;

private:
    std::int32_t lastAnswerMs_ = -1;
    bool columnsSet_ = false;
};
