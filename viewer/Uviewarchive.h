// TViewArchive: the archive viewer. Opens day.txt, hour.txt or any archive
// file of this program, shows its rows in a table (time frozen at the left)
// and the ticked columns in a chart against time, saves the chart as a
// picture and the rows as CSV.
#pragma once
#include "archive/ArchiveFile.h"

#include <QMdiSubWindow>
#include <QString>
#include <functional>
#include <memory>

class QAbstractTableModel;
class QCheckBox;
class QLabel;
class QListWidget;
class QMdiArea;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTableView;
class TimeChart;

class TViewArchive : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit TViewArchive(QWidget* parent);
    ~TViewArchive() override;

    // Reads `path` and shows it; a file that cannot be read is reported in a
    // message box, lines that do not fit in the window's problem list.
    bool OpenFile(const QString& path);
    void DayButtonClick();
    void HourButtonClick();
    void OpenButtonClick();
    void CsvButtonClick();
    void SaveChartButtonClick();
    // PNG or SVG by the name's extension; false when it cannot be written.
    bool SaveChart(const QString& path);
    // The rows shown in the chart's time range (all rows when not zoomed) as
    // CSV with the decimal separator of the user's locale.
    std::string CsvText(bool shownRangeOnly) const;

    const ArchiveTable& Archive() const { return *table_; }
    const QString& FileName() const { return fileName_; }

    // Asks for a file name (tests replace it): caption, folder or file,
    // filter, whether it is for saving.
    std::function<QString(const QString&, const QString&, const QString&, bool)> ChooseFile;

    QPushButton* DayButton = nullptr;
    QPushButton* HourButton = nullptr;
    QPushButton* OpenButton = nullptr;
    QLabel* FileLabel = nullptr;
    QPlainTextEdit* ProblemsMemo = nullptr;
    QSplitter* Splitter = nullptr;
    QTableView* Table = nullptr;
    QListWidget* ColumnList = nullptr;
    TimeChart* Chart = nullptr;
    QLabel* CursorLabel = nullptr;
    QPushButton* WholeButton = nullptr;
    QPushButton* SaveChartButton = nullptr;
    QPushButton* CsvButton = nullptr;
    QCheckBox* CsvShownBox = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowTable();
    void ColumnsTicked();
    void ShowCursor(double timeMs);
    // A row's place on the chart's time axis (ms since the epoch, local time).
    double RowTimeMs(const ArchiveRow& row) const;

    std::shared_ptr<ArchiveTable> table_;
    std::unique_ptr<QAbstractTableModel> model_;
    // Row indices sorted by time, and their chart times, for the cursor.
    std::vector<std::size_t> byTime_;
    std::vector<double> timesMs_;
    QString fileName_;
};

extern TViewArchive* ViewArchive;

// Opens (or brings forward) the archive viewer in `area` with the file at
// `path`: the entry for windows that have just written an archive file.
TViewArchive* ShowArchiveInViewer(QMdiArea* area, const QString& path);

inline constexpr const char* ViewArchiveCaption = "Просмотр архива";
