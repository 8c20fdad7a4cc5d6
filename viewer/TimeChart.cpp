// The time chart: axes, series, zoom, pan and the points that can be seen.
#include "viewer/TimeChart.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double HourMs = 3600.0 * 1000.0;
// The narrowest range a zoom reaches.
constexpr double NarrowestMs = 2 * HourMs;
// Series whose largest values differ by more than this factor get axes of
// their own.
constexpr double ScaleFactorForSecondAxis = 10.0;
// Zoom steps of the wheel and the keys.
constexpr double ZoomInStep = 0.8;
constexpr double ZoomOutStep = 1.25;
constexpr double PanStep = 0.1;

double Magnitude(const std::vector<ChartPoint>& points) {
    double m = 0;
    for (const auto& p : points)
        m = std::max(m, std::abs(p.Y));
    return m;
}

bool ScalesDiffer(double a, double b) {
    if (a <= 0 || b <= 0) return a != b && std::max(a, b) >= ScaleFactorForSecondAxis;
    return std::max(a, b) / std::min(a, b) > ScaleFactorForSecondAxis;
}

// A value axis spans whole steps of 1, 2, 2.5 or 5 times a power of ten,
// at most this many: its ticks fall on round numbers with little room beyond
// the data.
constexpr int MaxAxisSteps = 6;

struct AxisRange {
    double Min, Max;
    int Ticks;
};

AxisRange NiceRange(double low, double high) {
    if (!(low <= high)) low = 0, high = 1;
    if (low == high) {
        const double margin = low == 0 ? 1 : std::abs(low) / 10;
        low -= margin, high += margin;
    }
    const double power = std::pow(10.0, std::floor(std::log10((high - low) / (MaxAxisSteps - 1))));
    double from = low, to = high, step = high - low;
    for (double factor : {1.0, 2.0, 2.5, 5.0, 10.0, 20.0}) {
        step = factor * power;
        from = std::floor(low / step) * step;
        to = std::ceil(high / step) * step;
        if (std::lround((to - from) / step) <= MaxAxisSteps) break;
    }
    return {from, to, static_cast<int>(std::lround((to - from) / step)) + 1};
}

// The names of the series drawn against one axis, as its title.
QString AxisTitle(const std::vector<QString>& names) {
    QString title;
    for (const QString& name : names)
        title += (title.isEmpty() ? "" : ", ") + name;
    return title;
}

bool DarkPalette(const QWidget* w) {
    return w->palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

TimeChart::TimeChart(QWidget* parent) : QChartView(parent), narrowestMs_(NarrowestMs) {
    auto* chart = new QChart;
    chart->setTheme(DarkPalette(this) ? QChart::ChartThemeDark : QChart::ChartThemeLight);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    setChart(chart);
    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setFormat("dd.MM.yy hh:mm");
    timeAxis_->setTickCount(6);
    leftAxis_ = new QValueAxis;
    rightAxis_ = new QValueAxis;
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(leftAxis_, Qt::AlignLeft);
    chart->addAxis(rightAxis_, Qt::AlignRight);
    rightAxis_->setVisible(false);
    connect(timeAxis_, &QDateTimeAxis::rangeChanged, this, [this] { AxisRangeChanged(); });
    setRubberBand(QChartView::HorizontalRubberBand);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(320, 200);
}

void TimeChart::SetSeries(std::vector<Series> series) {
    chart()->removeAllSeries();
    series_.clear();
    first_ = std::numeric_limits<double>::infinity();
    last_ = -first_;
    double leftMagnitude = -1;
    for (auto& s : series) {
        Shown shown;
        shown.Line = new QLineSeries;
        shown.Line->setName(s.Name);
        if (!s.Points.empty()) {
            first_ = std::min(first_, s.Points.front().X);
            last_ = std::max(last_, s.Points.back().X);
        }
        // The first series sets the left axis's scale; one far off it goes right.
        const double m = Magnitude(s.Points);
        if (leftMagnitude < 0) leftMagnitude = m;
        shown.Right = ScalesDiffer(m, leftMagnitude);
        shown.Points = std::move(s.Points);
        chart()->addSeries(shown.Line);
        shown.Line->attachAxis(timeAxis_);
        shown.Line->attachAxis(shown.Right ? rightAxis_ : leftAxis_);
        QLineSeries* line = shown.Line;
        for (QLegendMarker* marker : chart()->legend()->markers(line)) {
            connect(marker, &QLegendMarker::clicked, this, [this, line, marker] {
                // The series goes, its legend entry stays, faded, to bring it back.
                line->setVisible(!line->isVisible());
                // The legend hides the entry of a hidden series, also once
                // the change has been laid out.
                marker->setVisible(true);
                QTimer::singleShot(0, marker, [marker] { marker->setVisible(true); });
                QColor label = marker->labelBrush().color();
                label.setAlphaF(line->isVisible() ? 1.0f : 0.4f);
                marker->setLabelBrush(label);
                FitValueAxes();
            });
        }
        series_.push_back(std::move(shown));
    }
    if (!(first_ <= last_))
        first_ = last_ = static_cast<double>(QDateTime::currentDateTime().toMSecsSinceEpoch());
    if (last_ - first_ < narrowestMs_) {
        const double middle = (first_ + last_) / 2;
        first_ = middle - narrowestMs_ / 2, last_ = middle + narrowestMs_ / 2;
    }
    const bool twoAxes = std::any_of(series_.begin(), series_.end(), [](const Shown& s) { return s.Right; });
    rightAxis_->setVisible(twoAxes);
    // With two scales each axis names its series; one axis needs no title
    // beside the legend.
    std::vector<QString> left, right;
    for (const Shown& s : series_)
        (s.Right ? right : left).push_back(s.Line->name());
    leftAxis_->setTitleText(twoAxes ? AxisTitle(left) : QString());
    rightAxis_->setTitleText(twoAxes ? AxisTitle(right) : QString());
    ShowAll();
    Redecimate(); // also when the range shown stayed the same
    FitValueAxes();
}

bool TimeChart::Zoomed() const {
    return from_ > first_ || to_ < last_;
}

void TimeChart::ShowRange(double from, double to) {
    const double full = last_ - first_;
    double width = std::clamp(to - from, std::min(narrowestMs_, full), full);
    from = std::clamp(from, first_, last_ - width);
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from)),
                        QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from + width)));
}

void TimeChart::ShowAll() {
    ShowRange(first_, last_);
}

void TimeChart::Zoom(double factor, double centre) {
    if (!std::isfinite(centre)) centre = (from_ + to_) / 2;
    ShowRange(centre - (centre - from_) * factor, centre + (to_ - centre) * factor);
}

void TimeChart::Pan(double fraction) {
    const double shift = (to_ - from_) * fraction;
    ShowRange(from_ + shift, to_ + shift);
}

void TimeChart::SetTimeFormat(const QString& format) {
    timeAxis_->setFormat(format);
}

void TimeChart::AppendPoints(double x, const std::vector<double>& values, std::size_t keep) {
    const bool following = !Zoomed();
    // The value axes are fitted again only when a new value falls outside
    // them or old points go (a pass over every point).
    bool refit = false;
    double first = std::numeric_limits<double>::infinity();
    double last = -first;
    for (std::size_t i = 0; i < series_.size(); ++i) {
        auto& points = series_[i].Points;
        if (i < values.size() && !std::isnan(values[i])) {
            points.push_back({x, values[i]});
            const QValueAxis* axis = series_[i].Right ? rightAxis_ : leftAxis_;
            refit = refit || points.size() == 1 || values[i] < axis->min() || values[i] > axis->max();
            if (points.size() > keep) {
                points.erase(points.begin(),
                             points.begin() + static_cast<std::ptrdiff_t>(points.size() / 10));
                refit = true;
            }
        }
        if (!points.empty())
            first = std::min(first, points.front().X), last = std::max(last, points.back().X);
    }
    if (!(first <= last)) return;
    // The range starts at the first point and spans at least the narrowest range.
    first_ = first;
    last_ = std::max(last, first + narrowestMs_);
    const double from = from_, to = to_;
    if (following) ShowAll();
    if (from_ == from && to_ == to) Redecimate(); // a changed range has redrawn already
    if (refit) FitValueAxes();
}

int TimeChart::Slices() const {
    return std::max(16, static_cast<int>(chart()->plotArea().width() / 2));
}

void TimeChart::AxisRangeChanged() {
    const double from = static_cast<double>(timeAxis_->min().toMSecsSinceEpoch());
    const double to = static_cast<double>(timeAxis_->max().toMSecsSinceEpoch());
    if (from == from_ && to == to_) return;
    from_ = from, to_ = to;
    Redecimate();
    if (RangeChanged) RangeChanged();
}

void TimeChart::Redecimate() {
    const int slices = Slices();
    for (auto& s : series_) {
        const auto points = VisiblePoints(s.Points, from_, to_, slices);
        QList<QPointF> list;
        list.reserve(static_cast<qsizetype>(points.size()));
        for (const auto& p : points)
            list.append(QPointF(p.X, p.Y));
        s.Line->replace(list);
    }
}

void TimeChart::FitValueAxes() {
    for (QValueAxis* axis : {leftAxis_, rightAxis_}) {
        double low = std::numeric_limits<double>::infinity(), high = -low;
        for (const auto& s : series_) {
            if ((axis == rightAxis_) != s.Right || !s.Line->isVisible()) continue;
            for (const auto& p : s.Points)
                low = std::min(low, p.Y), high = std::max(high, p.Y);
        }
        const AxisRange range = NiceRange(low, high);
        axis->setRange(range.Min, range.Max);
        axis->setTickCount(range.Ticks);
    }
}

double TimeChart::TimeAt(const QPointF& position) const {
    const QRectF area = chart()->plotArea();
    if (!area.contains(position) || area.width() <= 0) return std::numeric_limits<double>::quiet_NaN();
    return from_ + (position.x() - area.left()) / area.width() * (to_ - from_);
}

void TimeChart::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) return;
    Zoom(delta > 0 ? ZoomInStep : ZoomOutStep, TimeAt(event->position()));
    event->accept();
}

void TimeChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::MiddleButton ||
        (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier))) {
        panning_ = true;
        panFrom_ = event->position();
        setCursor(Qt::ClosedHandCursor);
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        event->accept(); // zooms out on release
        return;
    }
    QChartView::mousePressEvent(event);
}

void TimeChart::mouseMoveEvent(QMouseEvent* event) {
    if (panning_) {
        const double width = chart()->plotArea().width();
        if (width > 0) Pan(-(event->position().x() - panFrom_.x()) / width);
        panFrom_ = event->position();
        event->accept();
    } else {
        QChartView::mouseMoveEvent(event);
    }
    if (CursorMoved) CursorMoved(TimeAt(event->position()));
}

void TimeChart::mouseReleaseEvent(QMouseEvent* event) {
    if (panning_) {
        panning_ = false;
        unsetCursor();
        event->accept();
        return;
    }
    if (event->button() == Qt::RightButton) {
        Zoom(ZoomOutStep * ZoomOutStep, TimeAt(event->position()));
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void TimeChart::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
        Pan(-PanStep);
        break;
    case Qt::Key_Right:
        Pan(PanStep);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        Zoom(ZoomInStep, std::numeric_limits<double>::quiet_NaN());
        break;
    case Qt::Key_Minus:
        Zoom(ZoomOutStep, std::numeric_limits<double>::quiet_NaN());
        break;
    case Qt::Key_Home:
    case Qt::Key_0:
        ShowAll();
        break;
    default:
        QChartView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TimeChart::leaveEvent(QEvent* event) {
    if (CursorMoved) CursorMoved(std::numeric_limits<double>::quiet_NaN());
    QChartView::leaveEvent(event);
}

void TimeChart::resizeEvent(QResizeEvent* event) {
    QChartView::resizeEvent(event);
    Redecimate(); // as many points as the new width shows
}
