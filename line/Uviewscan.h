// TViewScan ("Поиск приборов"): finds the meters on the gateway's line and
// reads the archives of the chosen ones, one file per meter. The scan and the
// batch (line/LineScan.h, line/ArchiveBatch.h) do the work; this window feeds
// them the port's bytes as they arrive and their ticks, claims the line for
// their run, and shows their table, progress and summary.
#pragma once
#include "adapter/Dataio.h"
#include "collect/CollectSession.h"
#include "line/ArchiveBatch.h"
#include "line/LineScan.h"
#include "serial/Rs232.h"

#include <QMdiSubWindow>
#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class PortWatch;

class TViewScan : public QMdiSubWindow, private ScanObserver, private BatchObserver {
    Q_OBJECT
public:
    TViewScan(QMdiArea* parent, PortAccessor port, AdapterLink& link);
    ~TViewScan() override;

    // Handlers.
    void StartButtonClick();
    void StopButtonClick();
    void ReadSpeedButtonClick();
    void SaveButtonClick(); // asks for a file; SaveCsv writes it
    void CopyButtonClick();
    void ConsoleButtonClick();
    void BatchButtonClick();
    void OpenFolderButtonClick();
    void ViewerButtonClick();
    void SaveSessionButtonClick(); // asks for a file; SaveSession writes it
    void OpenSessionButtonClick(); // asks for a file; OpenSession reads it

    // Writes the table as CSV; false (and a message) when it cannot.
    bool SaveCsv(const QString& path);
    // Writes the window's session (range or ticked meters, speed, wait,
    // archives, output folder, and whatever else the opened session held)
    // into a file that `configurator-cli collect` runs; false (and a
    // message) when it cannot.
    bool SaveSession(const QString& path);
    // Shows a session file's values in the controls and keeps the keys the
    // window does not show for the next save; false (and the parser's
    // message, naming the line) when the file does not fit.
    bool OpenSession(const QString& path);
    // The session as the controls set it.
    CollectSession WindowSession() const;
    // Asks for a file name (tests replace it): caption, folder or file,
    // filter, whether it is for saving.
    std::function<QString(const QString&, const QString&, const QString&, bool)> ChooseFile;

    // The wait for the chosen speed goes into WaitEdit.
    void ComputeWait();
    // The addresses whose rows are ticked for a batch read.
    std::vector<int> ChosenAddresses() const;
    const LineScan& Scan() const { return scan_; }
    // The batch's folder (ends with '/'); empty before the first batch.
    const std::string& BatchFolder() const { return folder_; }

    QSpinBox* FirstEdit = nullptr;
    QSpinBox* LastEdit = nullptr;
    QComboBox* SpeedCombo = nullptr;
    QPushButton* ReadSpeedButton = nullptr;
    QSpinBox* WaitEdit = nullptr;
    QLabel* WaitLabel = nullptr;       // what the wait is made of
    QSpinBox* LongWaitEdit = nullptr;  // the wait for slow meters asked again
    QCheckBox* RecheckCheck = nullptr; // ask every silent address again with the long wait
    QPushButton* StartButton = nullptr;
    QPushButton* StopButton = nullptr;
    QCheckBox* SilentCheck = nullptr; // show addresses without an answer
    QTableWidget* ScanTable = nullptr;
    QLabel* ProgressLine = nullptr;
    QPushButton* SaveButton = nullptr;
    QPushButton* CopyButton = nullptr;
    QPushButton* ConsoleButton = nullptr;
    QCheckBox* DayCheck = nullptr;
    QCheckBox* HourCheck = nullptr;
    QPushButton* BatchButton = nullptr;
    QLabel* BatchProgress = nullptr;
    QTableWidget* BatchTable = nullptr;
    QLabel* FolderLabel = nullptr;
    QPushButton* OpenFolderButton = nullptr;
    QPushButton* ViewerButton = nullptr;
    QLineEdit* OutputEdit = nullptr; // the session's output folder; empty: the archives' folder
    QPushButton* SaveSessionButton = nullptr;
    QPushButton* OpenSessionButton = nullptr;
    QTimer* TickTimer = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // ScanObserver
    void ResultChanged(std::size_t index, bool added) override;
    void Ended(ScanEnd end) override;
    // BatchObserver
    void ReadStarted(std::size_t index, int attempt) override;
    void RowRead(std::size_t index, const ArchiveProgress& progress) override;
    void ReadEnded(std::size_t index) override;
    void BatchEnded(bool stopped) override;

    // Whether the line may be taken now; says why not.
    bool TakeLine(const char* activity);
    void Readable();
    void Tick();
    void Rearm();
    void Running(bool running);
    void ShowScanRow(int row, const ScanResult& result);
    void ShowBatchRow(std::size_t index);
    void ShowProgress();
    void ApplySilentFilter();
    int SelectedAddress() const;

    PortAccessor port_;
    AdapterLink& link_;
    PortWatch* watch_ = nullptr;
    // The line's driver: the scan's and the batch's requests, reads and checks.
    LineDriver line_;
    LineScan scan_;
    ArchiveBatch batch_;
    std::string folder_;
    // The last session opened or saved: its keys the window does not show
    // go into the next save unchanged.
    CollectSession session_;
    bool sessionOpened_ = false;
    // Meters a session names that the scan table does not show (yet): they
    // stay chosen, and a scan ticks their rows.
    std::vector<int> sessionTicks_;
};

// The one scan window; empty while it does not exist.
extern TViewScan* ViewScan;

inline constexpr const char* ViewScanCaption = "Поиск приборов";
inline constexpr const char* NoPortText = "Порт не открыт. Выберите порт в «Настройки» и нажмите OK.";
inline constexpr const char* MonitorOpenText =
    "Открыто окно «Тест пакетов»: оно принимает все ответы. Закройте его и начните снова.";
