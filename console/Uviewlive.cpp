// The polling's table and chart.
#include "console/Uviewlive.h"

#include "console/PollCsv.h"
#include "ui/WindowFit.h"
#include "viewer/TimeChart.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

TViewLiveValues::TViewLiveValues(QMdiArea* area) : QMdiSubWindow(area) {
    setObjectName("ViewLiveValues");
    setWindowTitle(QString::fromUtf8("Опрос значений"));
    auto* content = new QWidget;
    StatusLabel = new QLabel;
    StatusLabel->setObjectName("StatusLabel");
    CsvCheckBox = new QCheckBox(QString::fromUtf8("Запись в &CSV"));
    CsvCheckBox->setObjectName("CsvCheckBox");
    CsvFileLabel = new QLabel;
    CsvFileLabel->setObjectName("CsvFileLabel");
    CsvFileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Table = new QTableWidget(0, 2);
    Table->setObjectName("Table");
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->setVisible(false);
    Table->setTabKeyNavigation(false);
    Chart = new TimeChart;
    Chart->setObjectName("Chart");
    Chart->SetNarrowestRange(LiveNarrowestMs);
    Chart->SetTimeFormat("hh:mm:ss");

    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(Table);
    split->addWidget(Chart);
    split->setStretchFactor(1, 2);
    auto* top = new QHBoxLayout;
    top->addWidget(StatusLabel, 1);
    top->addWidget(CsvCheckBox);
    auto* layout = new QVBoxLayout(content);
    layout->addLayout(top);
    layout->addWidget(CsvFileLabel);
    layout->addWidget(split, 1);
    setWidget(content);

    connect(CsvCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        const bool now = LogSwitched ? LogSwitched(on) : false;
        if (now != on) {
            const QSignalBlocker blocker(CsvCheckBox);
            CsvCheckBox->setChecked(now);
        }
    });
    Reset();
    resize(720, 560);
    FitToScreen(this, size());
}

void TViewLiveValues::Reset() {
    Table->setRowCount(0);
    Table->setColumnCount(2);
    Table->setHorizontalHeaderLabels({QString::fromUtf8("Время"), QString::fromUtf8("Ответ, мс")});
    Chart->SetSeries({});
    columnsSet_ = false;
    lastAnswerMs_ = -1;
    ShowCounts({});
}

void TViewLiveValues::ShowCounts(const PollCounts& counts, std::int32_t lastAnswerMs) {
    if (lastAnswerMs >= 0) lastAnswerMs_ = lastAnswerMs;
    QString text = QString::fromUtf8("Запросов: %1, ответов: %2, без ответа: %3")
                       .arg(counts.Sent)
                       .arg(counts.Answered)
                       .arg(counts.Missed);
    if (lastAnswerMs_ >= 0) text += QString::fromUtf8(", время ответа: %1 мс").arg(lastAnswerMs_);
    StatusLabel->setText(text);
}

void TViewLiveValues::AddSample(const PollSample& sample, const PollCounts& counts) {
    if (!columnsSet_) {
        // The first answer names the columns and the chart's series.
        columnsSet_ = true;
        std::vector<TimeChart::Series> series;
        Table->setColumnCount(2 + static_cast<int>(sample.Values.size()));
        int column = 2;
        for (const auto& v : sample.Values) {
            const QString name = QString::fromStdString(v.Name);
            Table->setHorizontalHeaderItem(column++, new QTableWidgetItem(name));
            series.push_back({name, {}});
        }
        Chart->SetSeries(std::move(series));
    }
    Table->insertRow(0);
    const QString time = QString::fromStdString(LocalIsoTimeText(sample.WallMs)).mid(11);
    Table->setItem(0, 0, new QTableWidgetItem(time));
    Table->setItem(0, 1, new QTableWidgetItem(QString::number(sample.AnswerMs)));
    const QLocale locale;
    std::vector<double> values;
    for (std::size_t i = 0; i < sample.Values.size(); ++i) {
        const double v = sample.Values[i].Value;
        values.push_back(std::isfinite(v) ? v : std::nan(""));
        Table->setItem(0, 2 + static_cast<int>(i), new QTableWidgetItem(locale.toString(v, 'g', 7)));
    }
    if (Table->rowCount() > LiveTableRows) Table->setRowCount(LiveTableRows);
    Chart->AppendPoints(static_cast<double>(sample.WallMs), values, LivePointsKept);
    ShowCounts(counts, sample.AnswerMs);
}

void TViewLiveValues::LogEnded() {
    const QSignalBlocker blocker(CsvCheckBox);
    CsvCheckBox->setChecked(false);
}

void TViewLiveValues::ShowLogFile(const QString& path) {
    CsvFileLabel->setText(path);
}
