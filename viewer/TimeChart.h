// A chart of values against time: series of (time, value) points, zoom and
// pan with mouse and keyboard, the time and values under the cursor, a
// second value axis when the scales differ much, a legend that switches a
// series on and off, and only the points that can be seen handed to the
// drawing.
#pragma once
#include "archive/ChartPoints.h"

#include <QChartView>
#include <QString>
#include <functional>
#include <vector>

class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

class TimeChart : public QChartView {
    Q_OBJECT
public:
    explicit TimeChart(QWidget* parent = nullptr);

    struct Series {
        QString Name;
        std::vector<ChartPoint> Points; // X: ms since the epoch, sorted; no NaN
    };
    // Replaces every series and shows the whole time range.
    void SetSeries(std::vector<Series> series);
    int SeriesCount() const { return static_cast<int>(series_.size()); }
    QLineSeries* LineSeries(int i) const { return series_[static_cast<std::size_t>(i)].Line; }
    // Whether series i is drawn against the right-hand axis.
    bool OnRightAxis(int i) const { return series_[static_cast<std::size_t>(i)].Right; }

    // The time range shown (ms since the epoch); the whole range of the data.
    double ShownFrom() const { return from_; }
    double ShownTo() const { return to_; }
    bool Zoomed() const;
    void ShowRange(double from, double to);
    void ShowAll();
    // Zooms about `centre` (a time) by `factor` (< 1 zooms in).
    void Zoom(double factor, double centre);
    // Moves the shown range by `fraction` of its width.
    void Pan(double fraction);

    // Told the time under the cursor (ms), or NaN when the cursor leaves.
    std::function<void(double)> CursorMoved;
    // Told after the shown range has changed.
    std::function<void()> RangeChanged;

    // For a chart that grows while it is shown: the narrowest time range a
    // zoom reaches (and the least the chart spans), the time axis's format.
    void SetNarrowestRange(double ms) { narrowestMs_ = ms; }
    void SetTimeFormat(const QString& format);
    // Adds a point at time `x` to every series, `values` in the order of the
    // series (NaN: none for that series). A series longer than `keep` points
    // drops its oldest tenth. A chart that showed its whole range follows
    // the new end; a zoomed one stays where it is.
    void AppendPoints(double x, const std::vector<double>& values, std::size_t keep);
    std::size_t PointCount(int i) const { return series_[static_cast<std::size_t>(i)].Points.size(); }

    // Series values a slice of the chart's width shows: the points handed to
    // drawing per series stay about 4 x this.
    int Slices() const;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Shown {
        std::vector<ChartPoint> Points;
        QLineSeries* Line = nullptr;
        bool Right = false;
    };
    double TimeAt(const QPointF& position) const;
    void AxisRangeChanged();
    void Redecimate();
    void FitValueAxes();

    std::vector<Shown> series_;
    QDateTimeAxis* timeAxis_ = nullptr;
    QValueAxis* leftAxis_ = nullptr;
    QValueAxis* rightAxis_ = nullptr;
    double first_ = 0, last_ = 0; // the data's time range
    double from_ = 0, to_ = 0;    // the range shown
    double narrowestMs_;
    bool panning_ = false;
    QPointF panFrom_;
    bool settingRange_ = false;
};
