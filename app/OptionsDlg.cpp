// The settings dialog's window: two pages of controls over the logic in
// OptionsEntry.
#include "app/OptionsDlg.h"

#include "base/PortAddress.h"

#include "base/ComNumber.h"
#include "base/Messages.h"
#include "base/Phone.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "ui/Handlers.h"
#include "ui/MdiChild.h"
#include "ui/TextCodec.h"
#include "ui/WindowFit.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

TOptionsDlg* OptionsDlg = nullptr;

namespace {
// The width in pixels of the line that shows where the COM number leads.
constexpr int DeviceTextWidth = 360;
} // namespace

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent), buttons_(new QButtonGroup(this)) {
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        buttons_->addButton(button, i);
        layout->addWidget(button);
    }
}

int TRadioGroup::ItemIndex() const {
    return buttons_->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = buttons_->button(index)) {
        button->setChecked(true);
        return;
    }
    // No item: an exclusive group cannot uncheck its button directly.
    buttons_->setExclusive(false);
    for (QAbstractButton* button : buttons_->buttons())
        button->setChecked(false);
    buttons_->setExclusive(true);
}

QAbstractButton* TRadioGroup::Item(int index) const {
    return buttons_->button(index);
}

namespace {

QLineEdit* NewEdit(const char* name, const char* hint, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    if (hint) edit->setToolTip(QString::fromUtf8(hint));
    return edit;
}

QLabel* NewLabel(const char* name, const char* caption, QLineEdit* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(name);
    label->setBuddy(buddy);
    return label;
}

} // namespace

TOptionsDlg::TOptionsDlg(QWidget* parent) : QMdiSubWindow(parent) {
    setObjectName("OptionsDlg");
    setWindowTitle(QString::fromUtf8("Настройки"));
    // Fixed size, with only the system menu and its close button.
    setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);

    PageControl1 = new QTabWidget(content);
    PageControl1->setObjectName("PageControl1");
    layout->addWidget(PageControl1);

    // Page "Связь": link type, speed, port and the device it leads to, and the
    // gateway's addresses.
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName("TabSheet1");
    auto* page1 = new QVBoxLayout(TabSheet1);
    GroupBox1 = new QGroupBox(QStringLiteral("GroupBox1"), TabSheet1);
    GroupBox1->setObjectName("GroupBox1");
    page1->addWidget(GroupBox1);
    auto* group1 = new QVBoxLayout(GroupBox1);

    RadioGroup1 = new TRadioGroup(QString::fromUtf8("Тип соединения"),
                                  {QString::fromUtf8("Связь по I2C"), QString::fromUtf8("Связь по ZEP-LAN")},
                                  GroupBox1);
    RadioGroup1->setObjectName("RadioGroup1");
    group1->addWidget(RadioGroup1);

    GroupBox2 = new QGroupBox(QStringLiteral("RS 232"), GroupBox1);
    GroupBox2->setObjectName("GroupBox2");
    auto* form2 = new QFormLayout(GroupBox2);
    Edit1 = NewEdit("Edit1", "RS232 Speed must be 19200,38400,57600,115200", GroupBox2);
    Edit2 = NewEdit("Edit2", "RS232 Port must be from 1 to 4", GroupBox2);
    Label1 = NewLabel("Label1", "Скорость:", Edit1, GroupBox2);
    Label2 = NewLabel("Label2", "Порт:", Edit2, GroupBox2);
    form2->addRow(Label1, Edit1);
    form2->addRow(Label2, Edit2);
    ComboDevices = new QComboBox(GroupBox2);
    ComboDevices->setObjectName("ComboDevices");
    // Long by-id names do not widen the dialog; the open list shows them whole.
    ComboDevices->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboDevices->setMinimumContentsLength(24);
    ComboDevices->setToolTip(
        QString::fromUtf8("Выбранное устройство будет открываться как порт COM с номером из "
                          "поля «Порт:» (ссылка ports/COMn)"));
    LabelDevices = new QLabel(QString::fromUtf8("Устройство:"), GroupBox2);
    LabelDevices->setObjectName("LabelDevices");
    LabelDevices->setBuddy(ComboDevices);
    form2->addRow(LabelDevices, ComboDevices);
    // Or a serial device server on the network, for the same COM number.
    auto* addressRow = new QHBoxLayout;
    EditAddress = new QLineEdit(GroupBox2);
    EditAddress->setObjectName("EditAddress");
    EditAddress->setPlaceholderText(QString::fromUtf8("tcp://узел:порт или rfc2217://узел:порт"));
    EditAddress->setToolTip(
        QString::fromUtf8("Сервер последовательных портов в сети: порт COM с номером из поля "
                          "«Порт:» будет подключаться к нему"));
    ButtonAddress = new QPushButton(QString::fromUtf8("Св&язать"), GroupBox2);
    ButtonAddress->setObjectName("ButtonAddress");
    addressRow->addWidget(EditAddress, 1);
    addressRow->addWidget(ButtonAddress);
    LabelAddress = new QLabel(QString::fromUtf8("Сетевой адрес:"), GroupBox2);
    LabelAddress->setObjectName("LabelAddress");
    LabelAddress->setBuddy(EditAddress);
    form2->addRow(LabelAddress, addressRow);
    LabelDevice = new QLabel(GroupBox2);
    LabelDevice->setObjectName("LabelDevice");
    form2->addRow(LabelDevice);
    group1->addWidget(GroupBox2);

    GroupBox3 = new QGroupBox(QString::fromUtf8("Шлюз I2C/ZEP-LAN"), GroupBox1);
    GroupBox3->setObjectName("GroupBox3");
    auto* form3 = new QFormLayout(GroupBox3);
    Edit3 = NewEdit("Edit3", "I2C address must be from 1 to 127", GroupBox3);
    Edit4 = NewEdit("Edit4", "ZEP-LAN address must be 0 (broadcasting) or from 1 to 255", GroupBox3);
    Label3 = NewLabel("Label3", "I2C адрес:", Edit3, GroupBox3);
    Label4 = NewLabel("Label4", "ZEP-LAN адрес:", Edit4, GroupBox3);
    form3->addRow(Label3, Edit3);
    form3->addRow(Label4, Edit4);
    group1->addWidget(GroupBox3);
    group1->addStretch();
    PageControl1->addTab(TabSheet1, QString::fromUtf8("Связь"));

    // Page "Модем".
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName("TabSheet2");
    auto* page2 = new QVBoxLayout(TabSheet2);
    GroupBox4 = new QGroupBox(QStringLiteral("GroupBox4"), TabSheet2);
    GroupBox4->setObjectName("GroupBox4");
    page2->addWidget(GroupBox4);
    auto* group4 = new QVBoxLayout(GroupBox4);
    Edit5 = NewEdit("Edit5", nullptr, GroupBox4);
    Edit6 = NewEdit("Edit6", nullptr, GroupBox4);
    EditPhone = NewEdit("EditPhone", nullptr, GroupBox4);
    EditPhone->setMaxLength(MaxPhoneLength);
    LabelPhone = NewLabel("LabelPhone", "Телефон:", EditPhone, GroupBox4);
    Label5 = NewLabel("Label5", "Строка инициализации:", Edit5, GroupBox4);
    Label6 = NewLabel("Label6", "Время ожидания соединения, сек:", Edit6, GroupBox4);
    RadioGroup2 = new TRadioGroup(QString::fromUtf8("Тип набора:"),
                                  {QString::fromUtf8("Импульс"), QString::fromUtf8("Тон")}, GroupBox4);
    RadioGroup2->setObjectName("RadioGroup2");
    group4->addWidget(LabelPhone);
    group4->addWidget(EditPhone);
    group4->addWidget(Label5);
    group4->addWidget(Edit5);
    group4->addWidget(RadioGroup2);
    group4->addWidget(Label6);
    group4->addWidget(Edit6);
    group4->addStretch();
    PageControl1->addTab(TabSheet2, QString::fromUtf8("Модем"));

    // OK and Отмена in a row of their own, which stays in view when the
    // pages have to scroll.
    auto* buttonRow = new QWidget(content);
    buttonRow->setObjectName("ButtonRow");
    auto* buttons = new QHBoxLayout(buttonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch();
    Button2 = new QPushButton(QString::fromUtf8("&Отмена"), buttonRow);
    Button2->setObjectName("Button2");
    Button1 = new QPushButton(QStringLiteral("&OK"), buttonRow);
    Button1->setObjectName("Button1");
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    layout->addWidget(buttonRow);
    setWidget(content);

    connect(Button1, &QPushButton::clicked, this, Guard([this] { Button1Click(); }));
    connect(Button2, &QPushButton::clicked, this, Guard([this] { Button2Click(); }));
    connect(ComboDevices, &QComboBox::activated, this,
            [this](int index) { RunHandler([this, index] { DeviceChosen(index); }); });
    connect(Edit2, &QLineEdit::textChanged, this, Guard([this] { ShowBinding(); }));
    connect(ButtonAddress, &QPushButton::clicked, this, [this] { RunHandler([this] { AddressChosen(); }); });
    connect(EditAddress, &QLineEdit::returnPressed, ButtonAddress, &QPushButton::click);
    // Enter in any edit presses OK, as in a dialog.
    for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, EditPhone})
        connect(edit, &QLineEdit::returnPressed, Button1, &QPushButton::click);
    Button1->setDefault(true);

    Fill(AppOptions, LoadPhoneNumber(PhoneFilePathBeside(OptionsFilePath())));
    FillDevices();
    const QSize size = sizeHint().expandedTo(QSize(460, 0));
    FitToScreen(this, size, WindowSizing::Fixed, buttonRow);
    Edit1->setFocus();
}

TOptionsDlg::~TOptionsDlg() = default;

void TOptionsDlg::Fill(const TAppOptions& options, const std::string& phone) {
    const OptionsFields f = FillOptions(options, phone);
    PageControl1->setCurrentWidget(TabSheet1);
    Edit1->setText(QString::fromStdString(f.Edit1));
    Edit2->setText(QString::fromStdString(f.Edit2));
    Edit5->setText(FromCp1251(f.Edit5));
    RadioGroup1->SetItemIndex(f.RadioGroup1);
    RadioGroup2->SetItemIndex(f.RadioGroup2);
    Edit3->setText(QString::fromStdString(f.Edit3));
    Edit4->setText(QString::fromStdString(f.Edit4));
    Edit6->setText(QString::fromStdString(f.Edit6));
    EditPhone->setText(FromCp1251(f.EditPhone));
}

void TOptionsDlg::FillDevices() {
    ComboDevices->clear();
    ComboDevices->addItem(QString::fromUtf8("(выберите устройство)"));
    for (const SerialDevice& d : PresentSerialDevices()) {
        QString item = QString::fromStdString(d.Path);
        if (!d.Device.empty() && d.Device != d.Path)
            item += QString::fromUtf8(" → ") + QString::fromStdString(d.Device);
        if (!d.Description.empty())
            item += QStringLiteral(" (") + QString::fromStdString(d.Description) + ")";
        ComboDevices->addItem(item, QString::fromStdString(d.Path));
    }
    ShowBinding();
}

void TOptionsDlg::ShowBinding() {
    bool numeric = false;
    const int number = Edit2->text().trimmed().toInt(&numeric);
    if (!numeric || !ValidComNumber(number)) {
        LabelDevice->clear();
        ComboDevices->setCurrentIndex(0);
        EditAddress->clear();
        return;
    }
    const std::string target = ComLinkTarget(number);
    EditAddress->setText(IsNetworkAddress(target) ? QString::fromStdString(target) : QString());
    const std::string path = Rs232Port::DevicePathFor(number);
    // The list starts on the device the number leads to, if it is present.
    int bound = 0;
    for (int i = 1; i < ComboDevices->count() && bound == 0; ++i)
        if (SameDevice(ComboDevices->itemData(i).toString().toStdString(), path)) bound = i;
    ComboDevices->setCurrentIndex(bound);
    // From the link's target on: the ports/ folder says nothing new.
    std::string shown = DeviceShownFor(path);
    if (shown.rfind(path + " -> ", 0) == 0) shown.erase(0, path.size() + 4);
    const QString full = QString::fromUtf8("COM%1 ведёт к ").arg(number) + QString::fromStdString(shown);
    // By-id names are long: the whole chain is the hint, the label shows what fits.
    LabelDevice->setToolTip(full);
    LabelDevice->setText(LabelDevice->fontMetrics().elidedText(full, Qt::ElideMiddle, DeviceTextWidth));
}

void TOptionsDlg::DeviceChosen(int index) {
    const QString device = ComboDevices->itemData(index).toString();
    if (device.isEmpty()) return;
    bool numeric = false;
    const int number = Edit2->text().trimmed().toInt(&numeric);
    if (!numeric || !ValidComNumber(number)) {
        ShowMessage(PortNumberRefusedText(), OptionsCaption, MessageIcon::Error);
        return;
    }
    const std::string refused = BindComPort(number, device.toStdString());
    if (!refused.empty()) ShowMessage(refused, OptionsCaption, MessageIcon::Error);
    ShowBinding();
}

bool TOptionsDlg::AddressChosen() {
    const std::string address = EditAddress->text().trimmed().toStdString();
    if (address.empty()) return true;
    bool numeric = false;
    const int number = Edit2->text().trimmed().toInt(&numeric);
    if (!numeric || !ValidComNumber(number)) {
        ShowMessage(PortNumberRefusedText(), OptionsCaption, MessageIcon::Error);
        return false;
    }
    const std::string refused = BindComAddress(number, address);
    if (!refused.empty()) {
        ShowMessage(refused, OptionsCaption, MessageIcon::Error);
        EditAddress->setFocus();
        return false;
    }
    ShowBinding();
    return true;
}

OptionsFields TOptionsDlg::Fields() const {
    OptionsFields f;
    f.Edit1 = Edit1->text().toStdString();
    f.Edit2 = Edit2->text().toStdString();
    f.Edit3 = Edit3->text().toStdString();
    f.Edit4 = Edit4->text().toStdString();
    f.Edit5 = ToCp1251(Edit5->text());
    f.Edit6 = Edit6->text().toStdString();
    f.EditPhone = ToCp1251(EditPhone->text());
    f.RadioGroup1 = RadioGroup1->ItemIndex();
    f.RadioGroup2 = RadioGroup2->ItemIndex();
    return f;
}

void TOptionsDlg::Button1Click() {
    // An address typed and not yet bound is bound first: OK then opens it.
    bool numeric = false;
    const int number = Edit2->text().trimmed().toInt(&numeric);
    const std::string typed = EditAddress->text().trimmed().toStdString();
    if (!typed.empty() && numeric && ValidComNumber(number) && typed != ComLinkTarget(number) &&
        !AddressChosen())
        return;
    AcceptOptions(Fields(), AppOptions, OptionsFilePath(), *this);
}

void TOptionsDlg::ShowRefusedEntry(OptionsPage page, const std::string& edit) {
    QWidget* sheet = page == OptionsPage::TabSheet1 ? TabSheet1 : TabSheet2;
    PageControl1->setCurrentWidget(sheet);
    // An edit in the hidden group cannot take the focus.
    auto* widget = findChild<QLineEdit*>(QString::fromStdString(edit));
    if (widget && widget->isVisibleTo(sheet)) widget->setFocus();
}

void TOptionsDlg::CloseDialog() {
    close();
}

void TOptionsDlg::Button2Click() {
    close();
}

void TOptionsDlg::FormClose() {
    ReleaseInstance(OptionsDlg, this);
}

void TOptionsDlg::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}
