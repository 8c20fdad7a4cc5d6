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

    void FormShow();
    void DelayTimerTimer();
    void CancelClick();

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Cancel = nullptr;
    QTimer* DelayTimer = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool ShownModally() const;
};

// Where a form of the given size stands centred over a client area whose
// top-left corner is at (x0, y0) on the screen: integer halves.
QPoint CentredOver(int x0, int y0, int clientWidth, int clientHeight, int formWidth, int formHeight);
