// The gateway configuration window and its controls.
#include "gateway/Config.h"

#include "gateway/Uwait.h"
#include "ui/Handlers.h"
#include "ui/MdiChild.h"
#include "ui/TextCodec.h"
#include "ui/WindowFit.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TfrmConfig* frmConfig = nullptr;

TfrmConfig::TfrmConfig(QMdiArea* area, AdapterLink& link, StatusNotice notice)
    : QMdiSubWindow(area), settings_(*this, link), notice_(std::move(notice)) {
    setObjectName("frmConfig");
    setAttribute(Qt::WA_DeleteOnClose);
    // A fixed border with a system menu and no minimise or maximise box. The
    // fixed-size hint keeps the area from offering resize cursors at the
    // edges and a Size command in the system menu.
    setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QString::fromUtf8("Окончательная настройка"));

    auto* content = new QWidget;
    content->setObjectName("ConfigContent");
    GroupBox1 = new QGroupBox(content);
    GroupBox1->setObjectName("GroupBox1");

    GroupBox4 = new QGroupBox(QString::fromUtf8("RS485"), GroupBox1);
    GroupBox4->setObjectName("GroupBox4");
    Label12 = new QLabel(QString::fromUtf8("Адрес:"), GroupBox4);
    Label12->setObjectName("Label12");
    EditAddress = new QLineEdit(GroupBox4);
    EditAddress->setObjectName("EditAddress");
    Label12->setBuddy(EditAddress);

    SpeedGroup = new QGroupBox(QString::fromUtf8("Скорость"), GroupBox4);
    SpeedGroup->setObjectName("SpeedGroup");
    SpeedButtons = new QButtonGroup(SpeedGroup);
    SpeedButtons->setExclusive(true);
    auto* speedLayout = new QVBoxLayout(SpeedGroup);
    for (int i = 0; i < SpeedCount; ++i) {
        auto* item = new QRadioButton(QString::fromUtf8(SpeedCaptions[i]), SpeedGroup);
        item->setObjectName(QString("SpeedGroupItem%1").arg(i));
        SpeedButtons->addButton(item, i);
        speedLayout->addWidget(item);
    }
    SpeedButtons->button(0)->setChecked(true);

    CheckBoxPacket = new QCheckBox(QString::fromUtf8("Пакетный протокол"), GroupBox4);
    CheckBoxPacket->setObjectName("CheckBoxPacket");

    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(Label12);
    addressRow->addWidget(EditAddress);
    auto* rs485 = new QVBoxLayout(GroupBox4);
    rs485->addLayout(addressRow);
    rs485->addWidget(SpeedGroup);
    rs485->addWidget(CheckBoxPacket);

    GroupBox5 = new QGroupBox(QString::fromUtf8("Модем"), GroupBox1);
    GroupBox5->setObjectName("GroupBox5");
    CheckBoxModem = new QCheckBox(QString::fromUtf8("Включить поддержку модема"), GroupBox5);
    CheckBoxModem->setObjectName("CheckBoxModem");
    Label1 = new QLabel(QString::fromUtf8("Строка инициализации:"), GroupBox5);
    Label1->setObjectName("Label1");
    EditInitLine = new QLineEdit(GroupBox5);
    EditInitLine->setObjectName("EditInitLine");
    EditInitLine->setMinimumWidth(260);
    Label1->setBuddy(EditInitLine);
    auto* modem = new QVBoxLayout(GroupBox5);
    modem->addWidget(CheckBoxModem);
    modem->addWidget(Label1);
    modem->addWidget(EditInitLine);
    modem->addStretch();

    Read = new QPushButton(QString::fromUtf8("&Считать"), GroupBox1);
    Read->setObjectName("Read");
    Write = new QPushButton(QString::fromUtf8("&Записать"), GroupBox1);
    Write->setObjectName("Write");
    Write->setEnabled(false);
    Quit = new QPushButton(QString::fromUtf8("&Выход"), GroupBox1);
    Quit->setObjectName("Quit");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Read);
    buttons->addWidget(Write);
    buttons->addWidget(Quit);
    auto* groups = new QGridLayout(GroupBox1);
    groups->addWidget(GroupBox4, 0, 0);
    groups->addWidget(GroupBox5, 0, 1);
    groups->addLayout(buttons, 1, 0, 1, 2);
    auto* outer = new QVBoxLayout(content);
    outer->setContentsMargins(6, 6, 6, 6);
    outer->addWidget(GroupBox1);
    setWidget(content);

    connect(Read, &QPushButton::clicked, this, Guard([this] { ReadClick(); }));
    connect(Write, &QPushButton::clicked, this, Guard([this] { WriteClick(); }));
    connect(Quit, &QPushButton::clicked, this, Guard([this] { QuitClick(); }));

    // A fixed border: the size the controls need, at the client area's
    // top-left corner (resizable only where the screen is too small for it).
    FitToScreen(this, sizeHint());
    move(0, 0);
    EditAddress->setFocus();
}

TfrmConfig::~TfrmConfig() = default;

void TfrmConfig::showEvent(QShowEvent* event) {
    QMdiSubWindow::showEvent(event);
    // The area places a new child where it sees fit; this one starts at the
    // top-left corner.
    if (!placed_) {
        placed_ = true;
        move(0, 0);
    }
}

void TfrmConfig::closeEvent(QCloseEvent* event) {
    // FormClose: the window frees itself (WA_DeleteOnClose) and the next menu
    // command creates a fresh one.
    ReleaseInstance(frmConfig, this);
    QMdiSubWindow::closeEvent(event);
}

void TfrmConfig::ReadClick() {
    settings_.ReadClick();
}

void TfrmConfig::WriteClick() {
    settings_.WriteClick();
}

void TfrmConfig::QuitClick() {
    close();
}

std::string TfrmConfig::AddressText() const {
    return ToCp1251(EditAddress->text());
}

void TfrmConfig::SetAddressText(const std::string& text) {
    EditAddress->setText(FromCp1251(text));
}

std::string TfrmConfig::InitLineText() const {
    return ToCp1251(EditInitLine->text());
}

void TfrmConfig::SetInitLineText(const std::string& text) {
    EditInitLine->setText(FromCp1251(text));
}

bool TfrmConfig::ModemChecked() const {
    return CheckBoxModem->isChecked();
}

void TfrmConfig::SetModemChecked(bool checked) {
    CheckBoxModem->setChecked(checked);
}

bool TfrmConfig::PacketChecked() const {
    return CheckBoxPacket->isChecked();
}

void TfrmConfig::SetPacketChecked(bool checked) {
    CheckBoxPacket->setChecked(checked);
}

int TfrmConfig::SpeedItem() const {
    return SpeedButtons->checkedId();
}

void TfrmConfig::SetSpeedItem(int item) {
    if (QAbstractButton* button = SpeedButtons->button(item)) button->setChecked(true);
}

void TfrmConfig::EnableWrite() {
    Write->setEnabled(true);
}

void TfrmConfig::FocusInitLine() {
    // A disabled window cannot take the focus: EndWait hands it over.
    if (isEnabled()) {
        EditInitLine->setFocus();
    } else {
        focusInitLinePending_ = true;
    }
}

void TfrmConfig::ReportWritten() {
    if (notice_) notice_("Настройки записаны в шлюз");
}

void TfrmConfig::BeginWait() {
    setEnabled(false);
    repaint(); // the disabled look, before the loop stops
    if (!WaitForm) {
        WaitForm = new TDelayForm(this);
        WaitForm->setAttribute(Qt::WA_DeleteOnClose);
    }
    // The exchanges block the message loop: paint the wait window now.
    WaitForm->ShowPainted();
}

void TfrmConfig::EndWait() {
    if (WaitForm) WaitForm->close();
    WaitForm = nullptr;
    setEnabled(true);
    if (focusInitLinePending_) {
        focusInitLinePending_ = false;
        EditInitLine->setFocus();
    }
}
