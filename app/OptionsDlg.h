// TOptionsDlg: the settings dialog. OK checks the entries, writes OPTIONS.INI
// and reopens the port with the new number and speed (OptionsEntry); Отмена
// stores nothing.
#pragma once
#include "app/OptionsEntry.h"

#include <QGroupBox>
#include <QMdiSubWindow>

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

// A group box of radio buttons with an item index (-1: none selected).
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);
    int ItemIndex() const;
    void SetItemIndex(int index);
    QAbstractButton* Item(int index) const;

private:
    QButtonGroup* buttons_;
};

class TOptionsDlg : public QMdiSubWindow, public OptionsScreen {
    Q_OBJECT
public:
    explicit TOptionsDlg(QWidget* parent = nullptr);
    ~TOptionsDlg() override;

    void Button1Click(); // OK
    void Button2Click(); // Отмена
    void FormClose();
    void ShowRefusedEntry(OptionsPage page, const std::string& edit) override;
    void CloseDialog() override;

    // The serial devices present, in ComboDevices.
    void FillDevices();
    // A device chosen in ComboDevices: ports/COM<Порт:> leads to it from now on.
    void DeviceChosen(int index);
    // LabelDevice: where the COM number in Порт: leads now.
    void ShowBinding();
    // The network address in EditAddress: ports/COM<Порт:> leads to it from
    // now on. False (after a message) when it was refused.
    bool AddressChosen();

    // The controls' contents as the checks read them.
    OptionsFields Fields() const;

    QPushButton* Button2 = nullptr;
    QPushButton* Button1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    TRadioGroup* RadioGroup1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* LabelDevices = nullptr;
    QComboBox* ComboDevices = nullptr; // the serial devices present; choosing one binds it to Порт:
    QLabel* LabelDevice = nullptr;     // where the COM number leads now
    QLabel* LabelAddress = nullptr;
    QLineEdit* EditAddress = nullptr;     // tcp://host:port or rfc2217://host:port for the COM number
    QPushButton* ButtonAddress = nullptr; // binds the COM number to EditAddress
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit5 = nullptr;
    TRadioGroup* RadioGroup2 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QLabel* LabelPhone = nullptr;
    QLineEdit* EditPhone = nullptr; // the modem's telephone number (PHONE.TXT)

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Fill(const TAppOptions& options, const std::string& phone);
};

extern TOptionsDlg* OptionsDlg;
