// The archive viewer window: file, table, chart, pictures and CSV.
#include "viewer/Uviewarchive.h"

#include "archive/ArchiveCsv.h"
#include "archive/Shablon.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "ui/Handlers.h"
#include "ui/MdiChild.h"
#include "ui/TextCodec.h"
#include "ui/WindowFit.h"
#include "viewer/TimeChart.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QMdiArea>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTableView>
#include <QTimeZone>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <cmath>

TViewArchive* ViewArchive = nullptr;

namespace {

// What the line under the chart says while the cursor shows no values.
const char* const ChartHint = "Колесо, +/-: масштаб; Shift или средняя кнопка, стрелки: сдвиг";

// The viewer's size where the main frame has room for it.
constexpr QSize PreferredSize(980, 700);

char LocaleDecimalSeparator() {
    return QLocale().decimalPoint() == QLatin1String(",") ? ',' : '.';
}

// The rows of an archive: one column per template keyword; the vertical
// header, which stays in place while the table scrolls sideways, holds the
// time.
class ArchiveModel : public QAbstractTableModel {
public:
    explicit ArchiveModel(std::shared_ptr<ArchiveTable> table) : t_(std::move(table)) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(t_->Rows.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(t_->Columns.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        const ArchiveRow& row = t_->Rows[static_cast<std::size_t>(index.row())];
        const auto column = static_cast<std::size_t>(index.column());
        switch (role) {
        case Qt::DisplayRole:
            return FromCp1251(row.Texts[column]);
        case Qt::TextAlignmentRole:
            return t_->Columns[column].Numeric() ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                 : int(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ToolTipRole:
            if (row.Texts[column] == "?") return QString::fromUtf8("Неполная строка: этих байтов не было");
            return QVariant();
        default:
            return QVariant();
        }
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole) return QVariant();
        if (orientation == Qt::Horizontal) {
            const std::string& k = t_->Columns[static_cast<std::size_t>(section)].Keyword;
            return k.empty() ? QString::number(section + 1) : FromCp1251(k);
        }
        const ArchiveRow& row = t_->Rows[static_cast<std::size_t>(section)];
        if (row.Time) return FromUtf8(CivilTimeText(*row.Time, t_->HourColumn >= 0));
        return QString::fromUtf8("стр. %1").arg(row.Line);
    }

private:
    std::shared_ptr<ArchiveTable> t_;
};

QPushButton* Button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    return b;
}

} // namespace

TViewArchive::TViewArchive(QWidget* parent)
    : QMdiSubWindow(parent), table_(std::make_shared<ArchiveTable>()) {
    setObjectName("ViewArchive");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QString::fromUtf8(ViewArchiveCaption));
    ChooseFile = [this](const QString& caption, const QString& where, const QString& filter, bool save) {
        return save ? QFileDialog::getSaveFileName(this, caption, where, filter)
                    : QFileDialog::getOpenFileName(this, caption, where, filter);
    };

    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    auto* top = new QHBoxLayout;
    DayButton = Button(content, "DayButton", "&Суточный (day.txt)");
    HourButton = Button(content, "HourButton", "&Часовой (hour.txt)");
    OpenButton = Button(content, "OpenButton", "&Открыть файл...");
    FileLabel = new QLabel(content);
    FileLabel->setObjectName("FileLabel");
    FileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(DayButton);
    top->addWidget(HourButton);
    top->addWidget(OpenButton);
    top->addWidget(FileLabel, 1);
    layout->addLayout(top);

    ProblemsMemo = new QPlainTextEdit(content);
    ProblemsMemo->setObjectName("ProblemsMemo");
    ProblemsMemo->setReadOnly(true);
    ProblemsMemo->setTabChangesFocus(true);
    ProblemsMemo->setMaximumHeight(72);
    ProblemsMemo->setAccessibleName(QString::fromUtf8("Ошибки в файле"));
    ProblemsMemo->hide();
    layout->addWidget(ProblemsMemo);

    Splitter = new QSplitter(Qt::Vertical, content);
    Splitter->setObjectName("Splitter");
    Table = new QTableView(Splitter);
    Table->setObjectName("Table");
    Table->setAccessibleName(QString::fromUtf8("Строки архива"));
    Table->setTabKeyNavigation(false);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    auto* bottom = new QWidget(Splitter);
    auto* chartRow = new QHBoxLayout(bottom);
    chartRow->setContentsMargins(0, 0, 0, 0);
    auto* listColumn = new QVBoxLayout;
    auto* listLabel = new QLabel(QString::fromUtf8("&На графике:"), bottom);
    ColumnList = new QListWidget(bottom);
    ColumnList->setObjectName("ColumnList");
    ColumnList->setMaximumWidth(130);
    listLabel->setBuddy(ColumnList);
    listColumn->addWidget(listLabel);
    listColumn->addWidget(ColumnList, 1);
    chartRow->addLayout(listColumn);
    Chart = new TimeChart(bottom);
    Chart->setObjectName("Chart");
    Chart->setAccessibleName(QString::fromUtf8("График"));
    chartRow->addWidget(Chart, 1);
    Splitter->addWidget(Table);
    Splitter->addWidget(bottom);
    Splitter->setStretchFactor(0, 2);
    Splitter->setStretchFactor(1, 3);
    layout->addWidget(Splitter, 1);

    auto* under = new QHBoxLayout;
    CursorLabel = new QLabel(content);
    CursorLabel->setObjectName("CursorLabel");
    CursorLabel->setText(QString::fromUtf8(ChartHint));
    WholeButton = Button(content, "WholeButton", "&Весь график");
    SaveChartButton = Button(content, "SaveChartButton", "Сохранить &график...");
    CsvButton = Button(content, "CsvButton", "&CSV...");
    CsvShownBox = new QCheckBox(QString::fromUtf8("только &показанный отрезок"), content);
    CsvShownBox->setObjectName("CsvShownBox");
    under->addWidget(CursorLabel, 1);
    under->addWidget(WholeButton);
    under->addWidget(SaveChartButton);
    under->addWidget(CsvButton);
    under->addWidget(CsvShownBox);
    layout->addLayout(under);
    setWidget(content);

    connect(DayButton, &QPushButton::clicked, this, Guard([this] { DayButtonClick(); }));
    connect(HourButton, &QPushButton::clicked, this, Guard([this] { HourButtonClick(); }));
    connect(OpenButton, &QPushButton::clicked, this, Guard([this] { OpenButtonClick(); }));
    connect(CsvButton, &QPushButton::clicked, this, Guard([this] { CsvButtonClick(); }));
    connect(SaveChartButton, &QPushButton::clicked, this, Guard([this] { SaveChartButtonClick(); }));
    connect(WholeButton, &QPushButton::clicked, this, Guard([this] { Chart->ShowAll(); }));
    connect(ColumnList, &QListWidget::itemChanged, this, Guard([this] { ColumnsTicked(); }));
    Chart->CursorMoved = [this](double ms) { ShowCursor(ms); };

    // A viewer wants room: as large as the frame allows, resizable.
    QSize room = ChildRoom(this);
    if (auto* area = qobject_cast<QMdiArea*>(parent); area && !area->viewport()->size().isEmpty())
        room = room.boundedTo(area->viewport()->size());
    resize(std::min(PreferredSize.width(), room.width()), std::min(PreferredSize.height(), room.height()));
    ShowTable();
}

TViewArchive::~TViewArchive() {
    Table->setModel(nullptr);
}

void TViewArchive::closeEvent(QCloseEvent* event) {
    ReleaseInstance(ViewArchive, this);
    QMdiSubWindow::closeEvent(event);
}

bool TViewArchive::OpenFile(const QString& path) {
    errno = 0;
    auto table = ReadArchiveFile(QFile::encodeName(path).toStdString());
    if (!table) {
        ShowMessage("Файл " + path.toStdString() + " не открывается: " + SystemErrorText(errno) +
                        ". Выберите другой файл.",
                    "ОШИБКА ЧТЕНИЯ", MessageIcon::Warning);
        return false;
    }
    table_ = std::make_shared<ArchiveTable>(std::move(*table));
    fileName_ = path;
    ShowTable();
    return true;
}

void TViewArchive::ShowTable() {
    auto model = std::make_unique<ArchiveModel>(table_);
    Table->setModel(model.get());
    model_ = std::move(model);
    // Date and hour are the time in the frozen header at the left.
    for (int i = 0; i < static_cast<int>(table_->Columns.size()); ++i)
        Table->setColumnHidden(i, table_->Columns[static_cast<std::size_t>(i)].Kind == ColDate ||
                                      table_->Columns[static_cast<std::size_t>(i)].Kind == ColHour);
    Table->horizontalHeader()->setDefaultSectionSize(Table->fontMetrics().horizontalAdvance("1234567,89") +
                                                     8);

    // The chart's times, once: the rows' civil times on the local clock.
    timesMs_.assign(table_->Rows.size(), std::nan(""));
    byTime_.clear();
    for (std::size_t r = 0; r < table_->Rows.size(); ++r) {
        timesMs_[r] = RowTimeMs(table_->Rows[r]);
        if (!std::isnan(timesMs_[r])) byTime_.push_back(r);
    }
    std::stable_sort(byTime_.begin(), byTime_.end(),
                     [this](std::size_t a, std::size_t b) { return timesMs_[a] < timesMs_[b]; });

    {
        const QSignalBlocker blocker(ColumnList);
        ColumnList->clear();
        int ticked = 0;
        for (std::size_t i = 0; i < table_->Columns.size(); ++i) {
            const ArchiveColumn& c = table_->Columns[i];
            if (!c.Numeric()) continue;
            auto* item =
                new QListWidgetItem(c.Keyword.empty() ? QString::number(i + 1) : FromCp1251(c.Keyword));
            item->setData(Qt::UserRole, static_cast<int>(i));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            // The first measured values are ticked to begin with.
            const bool tick = c.Kind == ColFloat32 && ticked < 2;
            ticked += tick;
            item->setCheckState(tick ? Qt::Checked : Qt::Unchecked);
            ColumnList->addItem(item);
        }
    }
    ColumnsTicked();
    // Values under the cursor belong to the file shown before.
    CursorLabel->setText(QString::fromUtf8(ChartHint));

    const QString problems = FromUtf8(ProblemsText(*table_)).trimmed();
    ProblemsMemo->setPlainText(problems);
    ProblemsMemo->setVisible(!problems.isEmpty());
    if (fileName_.isEmpty()) {
        FileLabel->setText(QString::fromUtf8("Откройте архив: day.txt, hour.txt или другой файл"));
    } else {
        QString text =
            QString::fromUtf8("%1: строк %2").arg(QFileInfo(fileName_).fileName()).arg(table_->Rows.size());
        const std::size_t bad = table_->Problems.size() + static_cast<std::size_t>(table_->MoreProblems);
        if (bad > 0) text += QString::fromUtf8(", ошибок %1 (список выше)").arg(bad);
        FileLabel->setText(text);
        FileLabel->setToolTip(fileName_);
    }
    setWindowTitle(fileName_.isEmpty()
                       ? QString::fromUtf8(ViewArchiveCaption)
                       : QString::fromUtf8(ViewArchiveCaption) + " - " + QFileInfo(fileName_).fileName());
}

double TViewArchive::RowTimeMs(const ArchiveRow& row) const {
    if (!row.Time) return std::nan("");
    const QDateTime civil = QDateTime::fromSecsSinceEpoch(*row.Time, QTimeZone::utc());
    return static_cast<double>(QDateTime(civil.date(), civil.time()).toMSecsSinceEpoch());
}

void TViewArchive::ColumnsTicked() {
    std::vector<TimeChart::Series> series;
    for (int i = 0; i < ColumnList->count(); ++i) {
        QListWidgetItem* item = ColumnList->item(i);
        if (item->checkState() != Qt::Checked) continue;
        const auto column = static_cast<std::size_t>(item->data(Qt::UserRole).toInt());
        TimeChart::Series s;
        s.Name = item->text();
        s.Points.reserve(byTime_.size());
        for (std::size_t r : byTime_) {
            const double v = table_->Rows[r].Values[column];
            if (!std::isnan(v) && !std::isinf(v)) s.Points.push_back({timesMs_[r], v});
        }
        series.push_back(std::move(s));
    }
    Chart->SetSeries(std::move(series));
}

void TViewArchive::ShowCursor(double timeMs) {
    if (std::isnan(timeMs) || byTime_.empty()) return;
    // The row nearest in time.
    auto it = std::lower_bound(byTime_.begin(), byTime_.end(), timeMs,
                               [this](std::size_t r, double t) { return timesMs_[r] < t; });
    if (it == byTime_.end() ||
        (it != byTime_.begin() && timeMs - timesMs_[*(it - 1)] < timesMs_[*it] - timeMs))
        --it;
    const ArchiveRow& row = table_->Rows[*it];
    QString text = FromUtf8(CivilTimeText(*row.Time, table_->HourColumn >= 0));
    for (int i = 0; i < ColumnList->count(); ++i) {
        QListWidgetItem* item = ColumnList->item(i);
        if (item->checkState() != Qt::Checked) continue;
        const auto column = static_cast<std::size_t>(item->data(Qt::UserRole).toInt());
        text += "   " + item->text() + " = " + FromCp1251(row.Texts[column]);
    }
    CursorLabel->setText(text);
}

void TViewArchive::DayButtonClick() {
    OpenFile(QString::fromStdString(ArchiveDir() + "day.txt"));
}

void TViewArchive::HourButtonClick() {
    OpenFile(QString::fromStdString(ArchiveDir() + "hour.txt"));
}

void TViewArchive::OpenButtonClick() {
    const QString path = ChooseFile(QString::fromUtf8("Открыть архив"), QString::fromStdString(ArchiveDir()),
                                    QString::fromUtf8("Архивы (*.txt);;Все файлы (*)"), false);
    if (!path.isEmpty()) OpenFile(path);
}

std::string TViewArchive::CsvText(bool shownRangeOnly) const {
    if (!shownRangeOnly || !Chart->Zoomed()) return ArchiveCsv(*table_, LocaleDecimalSeparator());
    // The rows whose time the chart shows.
    ArchiveTable shown;
    shown.Columns = table_->Columns;
    shown.DateColumn = table_->DateColumn;
    shown.HourColumn = table_->HourColumn;
    for (std::size_t r = 0; r < table_->Rows.size(); ++r)
        if (timesMs_[r] >= Chart->ShownFrom() && timesMs_[r] <= Chart->ShownTo())
            shown.Rows.push_back(table_->Rows[r]);
    return ArchiveCsv(shown, LocaleDecimalSeparator());
}

void TViewArchive::CsvButtonClick() {
    QString suggestion = fileName_.isEmpty() ? QString::fromStdString(ArchiveDir()) : fileName_;
    if (suggestion.endsWith(".txt")) suggestion.chop(4);
    if (!fileName_.isEmpty()) suggestion += ".csv";
    const QString path =
        ChooseFile(QString::fromUtf8("Сохранить CSV"), suggestion, QString::fromUtf8("CSV (*.csv)"), true);
    if (path.isEmpty()) return;
    const std::string csv = CsvText(CsvShownBox->isChecked());
    if (!WriteArchiveCsv(QFile::encodeName(path).toStdString(), csv))
        return ShowMessage("Файл " + path.toStdString() + " не записан: " + SystemErrorText(errno) +
                               ". Выберите другую папку.",
                           "ОШИБКА ЗАПИСИ", MessageIcon::Warning);
    // Every row ends in CR LF; the first is the header.
    const auto rows = std::count(csv.begin(), csv.end(), '\n') - 1;
    CursorLabel->setText(QString::fromUtf8("CSV записан в файл %1, строк %2.").arg(path).arg(rows));
}

bool TViewArchive::SaveChart(const QString& path) {
    if (path.endsWith(".svg", Qt::CaseInsensitive)) {
        QSvgGenerator svg;
        svg.setFileName(path);
        svg.setSize(Chart->size());
        svg.setViewBox(QRect(QPoint(0, 0), Chart->size()));
        svg.setTitle(QFileInfo(fileName_).fileName());
        QPainter painter;
        if (!painter.begin(&svg)) return false;
        Chart->render(&painter);
        return painter.end() && QFileInfo(path).size() > 0;
    }
    return Chart->grab().save(path, "PNG");
}

void TViewArchive::SaveChartButtonClick() {
    QString suggestion = fileName_;
    if (suggestion.endsWith(".txt")) suggestion.chop(4);
    const QString path = ChooseFile(QString::fromUtf8("Сохранить график"), suggestion + ".png",
                                    QString::fromUtf8("Рисунок PNG (*.png);;Рисунок SVG (*.svg)"), true);
    if (path.isEmpty()) return;
    if (!SaveChart(path))
        return ShowMessage("Файл " + path.toStdString() + " не записан. Выберите другую папку.",
                           "ОШИБКА ЗАПИСИ", MessageIcon::Warning);
    CursorLabel->setText(QString::fromUtf8("График сохранён в файл %1.").arg(path));
}

TViewArchive* ShowArchiveInViewer(QMdiArea* area, const QString& path) {
    TViewArchive* viewer = CreateOrRaise(area, ViewArchive);
    viewer->OpenFile(path);
    return viewer;
}
