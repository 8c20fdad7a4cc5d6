// TDelayForm: the small "wait" window that stands centred over the
// configuration window while an exchange blocks the message loop.
#pragma once
#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;

class TDelayForm : public QDialog {
    Q_OBJECT
public:
    // A top-level tool window owned by `owner`, centred over its client area.
    explicit TDelayForm(QWidget* owner);

    // Shows the form (not modally) and returns once it has been painted, or
    // after WaitWindowPaintMs: the exchanges that follow block the message
    // loop, and a window system maps a new window only through that loop.
    void ShowPainted();
    bool WasPainted() const { return painted_; }

    void FormShow();
    void DelayTimerTimer();
    void CancelClick();

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Cancel = nullptr;
    QTimer* DelayTimer = nullptr;

signals:
    void Painted();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool ShownModally() const;
    void ColourLabel();
    bool painted_ = false;
};

// Where a form of the given size stands centred over a client area whose
// top-left corner is at (x0, y0) on the screen: integer halves.
QPoint CentredOver(int x0, int y0, int clientWidth, int clientHeight, int formWidth, int formHeight);
