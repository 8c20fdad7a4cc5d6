// The archive viewer headless through its controls: the menu command and the
// About box, opening hour.txt and other files, the table, ticking columns
// into the chart, zoom, the legend, the problem list, CSV and pictures.
#include "app/MainForm.h"
#include "archive/ArchiveCsv.h"
#include "base/Options.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/WindowChecks.h"
#include "ui/MdiChild.h"
#include "viewer/TimeChart.h"
#include "viewer/Uviewarchive.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QMdiArea>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QValueAxis>
#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

QString Text(const char* s) {
    return QString::fromUtf8(s);
}

// Two days of hours: Q1 small, M1 a thousand times larger.
std::string TwoDaysOfHours() {
    std::string file = "DATE HOUR TNORM Q1 M1\r\n";
    for (int i = 0; i < 48; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%02d-01-2024 %2d 1,00 %d,5 %d000 \r\n", 25 + i / 24, i % 24, i % 7,
                      i);
        file += line;
    }
    return file;
}

class Viewer : public ::testing::Test {
protected:
    Viewer() {
        TheRecorder().Clear();
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        window = CreateOrRaise(&area, ViewArchive);
        window->ChooseFile = [this](const QString&, const QString&, const QString&, bool) { return chosen; };
    }
    ~Viewer() override {
        delete window;
        QLocale::setDefault(QLocale::c());
        TheRecorder().Clear();
    }
    QString Cell(int row, int column) const {
        auto* m = window->Table->model();
        return m->data(m->index(row, column)).toString();
    }
    void Tick(const char* keyword, bool on = true) {
        const auto items = window->ColumnList->findItems(Text(keyword), Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1);
        items[0]->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    void Key(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(window->Chart, &press);
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    QMdiArea area;
    QPointer<TViewArchive> window;
    QString chosen;
};

TEST_F(Viewer, HourFileInTableAndChart) {
    dir.Write("hour.txt",
              "DATE HOUR TNORM TMIN Q1\r\n25-01-2024 13 1,00 0,50 1,25 \r\n25-01-2024  4 0,98 ? ? \r\n");
    window->HourButton->click();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(window->FileLabel->text(), Text("hour.txt: строк 2"));
    EXPECT_FALSE(window->ProblemsMemo->isVisibleTo(window));

    QAbstractItemModel* m = window->Table->model();
    ASSERT_EQ(m->rowCount(), 2);
    ASSERT_EQ(m->columnCount(), 5);
    EXPECT_EQ(m->headerData(4, Qt::Horizontal).toString(), "Q1");
    EXPECT_EQ(m->headerData(0, Qt::Vertical).toString(), "25.01.2024 13:00");
    EXPECT_EQ(m->headerData(1, Qt::Vertical).toString(), "25.01.2024 04:00");
    EXPECT_TRUE(window->Table->isColumnHidden(0) && window->Table->isColumnHidden(1)); // in the header
    EXPECT_EQ(Cell(0, 4), "1,25");
    EXPECT_EQ(Cell(1, 3), "?");

    // Q1 is ticked to begin with; the incomplete row is left out of it.
    ASSERT_EQ(window->ColumnList->count(), 3);
    ASSERT_EQ(window->Chart->SeriesCount(), 1);
    EXPECT_EQ(window->Chart->LineSeries(0)->name(), "Q1");
    EXPECT_EQ(window->Chart->LineSeries(0)->count(), 1);
    Tick("TNORM");
    ASSERT_EQ(window->Chart->SeriesCount(), 2);
    EXPECT_EQ(window->Chart->LineSeries(0)->name(), "TNORM");
    EXPECT_EQ(window->Chart->LineSeries(0)->count(), 2);
}

TEST_F(Viewer, ZoomLegendSecondAxisCsvAndPictures) {
    dir.Write("long.txt", TwoDaysOfHours());
    chosen = Text(dir.File("long.txt").c_str());
    window->OpenButton->click();
    ASSERT_EQ(window->Table->model()->rowCount(), 48);
    Tick("M1");
    ASSERT_EQ(window->Chart->SeriesCount(), 2);
    EXPECT_FALSE(window->Chart->OnRightAxis(0)); // Q1
    EXPECT_TRUE(window->Chart->OnRightAxis(1));  // M1, a thousand times larger

    // The legend hides one series and leaves the other.
    const auto markers = window->Chart->chart()->legend()->markers(window->Chart->LineSeries(0));
    ASSERT_EQ(markers.size(), 1);
    emit markers[0]->clicked();
    EXPECT_FALSE(window->Chart->LineSeries(0)->isVisible());
    QCoreApplication::processEvents();
    EXPECT_TRUE(markers[0]->isVisible());
    EXPECT_TRUE(window->Chart->LineSeries(1)->isVisible());

    // Zoomed in by keys: the CSV of the shown range has fewer rows.
    EXPECT_FALSE(window->Chart->Zoomed());
    for (int i = 0; i < 5; ++i)
        Key(Qt::Key_Plus);
    Key(Qt::Key_Left);
    EXPECT_TRUE(window->Chart->Zoomed());
    const std::string all = window->CsvText(false);
    const std::string shown = window->CsvText(true);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 49);
    EXPECT_LT(std::count(shown.begin(), shown.end(), '\n'), 30);
    EXPECT_EQ(shown.substr(0, all.find("\r\n")), all.substr(0, all.find("\r\n")));
    Key(Qt::Key_Home);
    EXPECT_FALSE(window->Chart->Zoomed());

    chosen = Text(dir.File("out.csv").c_str());
    window->CsvButton->click();
    EXPECT_EQ(dir.Read("out.csv"), ArchiveCsv(window->Archive(), ','));
    EXPECT_EQ(window->CursorLabel->text(),
              Text(("CSV записан в файл " + dir.File("out.csv") + ", строк 48.").c_str()));
    EXPECT_EQ(dir.Read("out.csv").substr(0, 17), "\xEF\xBB\xBF"
                                                 "DATETIME;DATE;");

    chosen = Text(dir.File("chart.svg").c_str());
    window->SaveChartButton->click();
    EXPECT_EQ(dir.Read("chart.svg").substr(0, 5), "<?xml");
    chosen = Text(dir.File("chart.png").c_str());
    window->SaveChartButton->click();
    EXPECT_EQ(dir.Read("chart.png").substr(1, 3), "PNG");
    EXPECT_EQ(window->CursorLabel->text(),
              Text(("График сохранён в файл " + dir.File("chart.png") + ".").c_str()));
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(Viewer, TheSecondAxisIsNamedAndFitsItsValues) {
    // Q1 in thousands; M1 from 2 to 71 goes to the second axis.
    std::string file = "DATE HOUR Q1 M1\r\n";
    for (int i = 0; i < 24; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "25-01-2024 %2d %d,0 %d \r\n", i, 1000 + 100 * i, 2 + 3 * i);
        file += line;
    }
    dir.Write("axes.txt", file);
    chosen = Text(dir.File("axes.txt").c_str());
    window->OpenButton->click();
    Tick("Q1");
    Tick("M1");
    ASSERT_EQ(window->Chart->SeriesCount(), 2);
    ASSERT_TRUE(window->Chart->OnRightAxis(1));
    const auto axes = window->Chart->chart()->axes(Qt::Vertical, window->Chart->LineSeries(1));
    ASSERT_EQ(axes.size(), 1);
    const auto* right = qobject_cast<const QValueAxis*>(axes[0]);
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(right->titleText(), "M1");
    // Round numbers close around 2..71, not far below zero.
    EXPECT_GE(right->min(), 0.0);
    EXPECT_LE(right->min(), 2.0);
    EXPECT_GE(right->max(), 71.0);
    EXPECT_LE(right->max(), 80.0);
}

TEST_F(Viewer, AnotherFileClearsTheValuesUnderTheCursor) {
    dir.Write("long.txt", TwoDaysOfHours());
    chosen = Text(dir.File("long.txt").c_str());
    window->OpenButton->click();
    window->Chart->CursorMoved(window->Chart->ShownFrom());
    EXPECT_TRUE(window->CursorLabel->text().contains("Q1 = ")) << window->CursorLabel->text().toStdString();
    dir.Write("other.txt", "DATE HOUR TNORM\r\n25-01-2024 13 1,00 \r\n");
    chosen = Text(dir.File("other.txt").c_str());
    window->OpenButton->click();
    EXPECT_FALSE(window->CursorLabel->text().contains("Q1")) << window->CursorLabel->text().toStdString();
}

TEST_F(Viewer, BrokenAndMissingFilesAreReported) {
    dir.Write("broken.txt", "DATE HOUR Q1\r\n25-01-2024 13 x \r\n25-01-2024 14 2 \r\n");
    chosen = Text(dir.File("broken.txt").c_str());
    window->OpenButton->click();
    EXPECT_TRUE(window->ProblemsMemo->isVisibleTo(window));
    EXPECT_EQ(window->ProblemsMemo->toPlainText(),
              Text("Строка 2: не подходит к шаблону: в столбце Q1 «x»."));
    EXPECT_EQ(window->Table->model()->rowCount(), 1);
    EXPECT_EQ(window->FileLabel->text(), Text("broken.txt: строк 1, ошибок 1 (список выше)"));

    window->DayButton->click(); // there is no day.txt
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].caption, "ОШИБКА ЧТЕНИЯ");
    EXPECT_EQ(TheRecorder().messages[0].text, "Файл " + dir.File("day.txt") + " не открывается: " +
                                                  SystemErrorText(ENOENT) + ". Выберите другой файл.");
    EXPECT_EQ(window->Table->model()->rowCount(), 1); // the file shown stays
}

TEST(ViewerMenu, CreatedOnceAndTheAboutBox) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    AppOptions = TAppOptions{};
    AppOptions.PortNumber = 5;
    {
        TMainForm form;
        form.mnuViewArchive->trigger();
        QPointer<TViewArchive> first = ViewArchive;
        ASSERT_TRUE(first);
        EXPECT_EQ(Plain(first->windowTitle()), Text("Просмотр архива"));
        form.mnuViewArchive->trigger();
        EXPECT_EQ(ViewArchive, first.data());
        first->close();
        EXPECT_EQ(ViewArchive, nullptr);

        form.mnuAbout->trigger();
        auto* box = form.findChild<QMessageBox*>("AboutBox");
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), Text("О программе"));
        EXPECT_TRUE(box->text().contains(Text("Версия " PROGRAM_VERSION)));
        EXPECT_TRUE(box->text().contains("GPL-3.0-or-later"));
        EXPECT_TRUE(box->text().contains(QString::fromStdString(dir.Path())));
        box->close();
    }
    AppOptions = TAppOptions{};
    TheRecorder().Clear();
}

} // namespace
