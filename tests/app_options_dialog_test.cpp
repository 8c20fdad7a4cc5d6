// The settings dialog's window: its controls, refusals with page and focus,
// the file it writes, the port it reopens, and Отмена.
#include "app/MainForm.h"
#include "app/OptionsDlg.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "serial/PortDevices.h"
#include "serial/Rs232.h"
#include "sim/NetListen.h"
#include "sim/Simulator.h"
#include "support/InstalledCopy.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/WindowChecks.h"
#include "ui/MdiChild.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QScrollArea>
#include <QTabWidget>
#include <filesystem>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

namespace {

QString U(const char* text) {
    return QString::fromUtf8(text);
}

// Device number behind a descriptor or a path: tells which line a port holds.
dev_t DeviceOf(int fd) {
    struct stat st {};
    fstat(fd, &st);
    return st.st_rdev;
}
dev_t DeviceOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_rdev;
}

void PressKey(QWidget* widget, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

class OptionsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        SetTimingForTests(TimingConstants{});
        dir.LinkCom(2, com2.SlavePath());
        dir.LinkCom(3, com3.SlavePath());
        AppOptions = TAppOptions{};
        MainPort = new Rs232Port(2, 115200);
        ASSERT_TRUE(MainPort->Ok);
        area.show();
        TheRecorder().Clear();
        dlg = CreateOrRaise(&area, OptionsDlg);
    }
    void TearDown() override {
        if (OptionsDlg) OptionsDlg->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete MainPort;
        MainPort = nullptr;
        AppOptions = TAppOptions{};
        TheRecorder().Clear();
    }
    // Deferred deletes run, so a closed dialog is gone.
    void Settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    PtyPair com2, com3;
    QMdiArea area;
    TOptionsDlg* dlg = nullptr;
};

TEST_F(OptionsDialog, ControlsCaptionsHintsAndInitialState) {
    EXPECT_EQ(dlg->windowTitle(), U("Настройки"));
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    EXPECT_FALSE(dlg->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(Plain(dlg->Button1->text()), "OK");
    EXPECT_EQ(Plain(dlg->Button2->text()), U("Отмена"));
    EXPECT_EQ(dlg->PageControl1->tabText(0), U("Связь"));
    EXPECT_EQ(dlg->PageControl1->tabText(1), U("Модем"));
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet1);
    EXPECT_EQ(dlg->GroupBox2->title(), "RS 232");
    EXPECT_EQ(dlg->GroupBox3->title(), U("Шлюз I2C/ZEP-LAN"));
    EXPECT_EQ(dlg->RadioGroup1->title(), U("Тип соединения"));
    EXPECT_EQ(dlg->RadioGroup1->Item(1)->text(), U("Связь по ZEP-LAN"));
    EXPECT_EQ(dlg->RadioGroup2->title(), U("Тип набора:"));
    EXPECT_EQ(dlg->RadioGroup2->Item(0)->text(), U("Импульс"));
    EXPECT_EQ(dlg->RadioGroup2->Item(1)->text(), U("Тон"));

    EXPECT_TRUE(dlg->RadioGroup1->isVisibleTo(dlg->TabSheet1));
    EXPECT_TRUE(dlg->GroupBox3->isVisibleTo(dlg->TabSheet1));
    EXPECT_TRUE(dlg->GroupBox2->isVisibleTo(dlg->TabSheet1));

    EXPECT_EQ(dlg->Edit1->toolTip(), "RS232 Speed must be 19200,38400,57600,115200");
    EXPECT_EQ(dlg->Edit2->toolTip(), "RS232 Port must be from 1 to 4");
    EXPECT_EQ(dlg->Edit3->toolTip(), "I2C address must be from 1 to 127");
    EXPECT_EQ(dlg->Edit4->toolTip(), "ZEP-LAN address must be 0 (broadcasting) or from 1 to 255");
    EXPECT_TRUE(dlg->Edit5->toolTip().isEmpty());
    EXPECT_EQ(dlg->Label5->buddy(), dlg->Edit5);
    EXPECT_EQ(dlg->Label6->text(), U("Время ожидания соединения, сек:"));
    EXPECT_EQ(dlg->Label6->buddy(), dlg->Edit6);

    EXPECT_EQ(dlg->Edit1->text(), "115200");
    EXPECT_EQ(dlg->Edit2->text(), "2");
    EXPECT_EQ(dlg->Edit3->text(), "0x0C");
    EXPECT_EQ(dlg->Edit4->text(), "0x01");
    EXPECT_EQ(dlg->Edit5->text(), "ATZ");
    EXPECT_EQ(dlg->Edit6->text(), "60");
    EXPECT_EQ(dlg->RadioGroup1->ItemIndex(), -1);
    EXPECT_EQ(dlg->RadioGroup2->ItemIndex(), 0);
}

TEST_F(OptionsDialog, RefusalShowsTheMessageBringsThePageForwardAndFocusesTheEdit) {
    const TAppOptions before = AppOptions;
    Rs232Port* port = MainPort;

    // The speed is refused while the modem page is shown; the port had been
    // changed before it and must not be stored either.
    dlg->PageControl1->setCurrentWidget(dlg->TabSheet2);
    dlg->Edit2->setText("5");
    dlg->Edit1->setText("1000");
    dlg->Button1->click();
    EXPECT_EQ(TheRecorder().messages, (std::vector<RecordedMessage>{{"Speed must be 19200,38400,57600,115200",
                                                                     "OPTIONS", MessageIcon::Error}}));
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet1);
    EXPECT_EQ(dlg->focusWidget(), dlg->Edit1);

    // A wait time of 201 comes after speed and port: neither is stored.
    dlg->Edit1->setText("9600");
    dlg->Edit6->setText("201");
    dlg->Button1->click();
    EXPECT_EQ(TheRecorder().messages.back().text, "Время ожидания соединения должно быть от 1 до 200");
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet2);
    EXPECT_EQ(dlg->focusWidget(), dlg->Edit6);
    EXPECT_EQ(FormatOptions(AppOptions), FormatOptions(before));

    // An edit in the gateway's group: its page comes forward, the edit gets the focus.
    dlg->Edit6->setText("30");
    dlg->Edit3->setText("200");
    dlg->Button1->click();
    EXPECT_EQ(TheRecorder().messages.back().text, "I2C address must be from 1 to 127");
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet1);
    EXPECT_EQ(dlg->focusWidget(), dlg->Edit3);

    // Too long for line 8 of the file.
    dlg->Edit3->setText("12");
    dlg->PageControl1->setCurrentWidget(dlg->TabSheet1);
    dlg->Edit5->setText(QString(59, QChar(0x0416))); // 59 Cyrillic letters, one byte each in the file
    dlg->Button1->click();
    EXPECT_EQ(TheRecorder().messages.back().text, "Строка инициализации должна быть не длиннее 58 символов");
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet2);
    EXPECT_EQ(dlg->focusWidget(), dlg->Edit5);

    // Conversion error: the application's exception display, nothing stored.
    dlg->Edit5->setText("ATZ");
    dlg->Edit4->setText("zz");
    dlg->Button1->click();
    EXPECT_EQ(TheRecorder().messages.back(),
              (RecordedMessage{"'zz' is not a valid integer value", "Конфигуратор", MessageIcon::Error}));

    EXPECT_EQ(TheRecorder().messages.size(), 5u);
    EXPECT_EQ(FormatOptions(AppOptions), FormatOptions(before));
    EXPECT_EQ(MainPort, port);
    EXPECT_EQ(OptionsDlg, dlg);
    EXPECT_FALSE(std::filesystem::exists(dir.File("OPTIONS.INI")));

    // Отмена after refusals really cancels.
    dlg->Button2->click();
    Settle();
    EXPECT_EQ(OptionsDlg, nullptr);
    EXPECT_EQ(FormatOptions(AppOptions), FormatOptions(before));
}

TEST_F(OptionsDialog, OkWritesTheFileBesideTheExecutableAndReopensThePort) {
    dlg->Edit1->setText("9600");
    dlg->Edit2->setText("3");
    dlg->Edit3->setText("$0C");
    dlg->Edit4->setText("0");
    dlg->Edit5->setText(U("ATDP Ж"));
    dlg->Edit6->setText("45");
    dlg->RadioGroup2->SetItemIndex(1);
    dlg->Button1->click();
    Settle();

    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(OptionsDlg, nullptr);
    EXPECT_EQ(dir.Read("OPTIONS.INI"), "3\r\n9600\r\n0\r\n12\r\n0\r\n1\r\n1\r\nATDP \xC6\r\n2\r\n45\r\n");
    EXPECT_EQ(AppOptions.PortNumber, 3);
    EXPECT_EQ(AppOptions.ModemInitString, "ATDP \xC6\n");

    // MainPort now holds COM3; COM2 is free again.
    ASSERT_TRUE(MainPort->Ok);
    EXPECT_EQ(DeviceOf(MainPort->Handle), DeviceOf(com3.SlavePath()));
    Rs232Port again(2, 115200);
    EXPECT_TRUE(again.Ok);

    // A fresh dialog shows the stored settings.
    dlg = CreateOrRaise(&area, OptionsDlg);
    EXPECT_EQ(dlg->Edit3->text(), "0x0C");
    EXPECT_EQ(dlg->Edit5->text(), U("ATDP Ж"));
    EXPECT_EQ(dlg->RadioGroup2->ItemIndex(), 1);
}

TEST_F(OptionsDialog, OkReopensThePortAlsoWhenNothingChanged) {
    // A byte waiting on the line: a freshly opened port starts empty.
    com2.Send({0x55});
    pollfd pfd{MainPort->Handle, POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    ASSERT_EQ(MainPort->InQueue(), 1);
    dlg->Button1->click();
    Settle();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(OptionsDlg, nullptr);
    ASSERT_TRUE(MainPort->Ok);
    EXPECT_EQ(DeviceOf(MainPort->Handle), DeviceOf(com2.SlavePath()));
    EXPECT_EQ(MainPort->InQueue(), 0);
}

// A speed of 0 is refused like any other that is no multiple of 2400; Enter
// in an edit presses OK.
TEST_F(OptionsDialog, SpeedZeroIsRefusedAndEnterPressesOk) {
    Rs232Port* port = MainPort;
    dlg->Edit1->setText("0");
    PressKey(dlg->Edit1, Qt::Key_Return);
    Settle();
    EXPECT_EQ(TheRecorder().messages, (std::vector<RecordedMessage>{{"Speed must be 19200,38400,57600,115200",
                                                                     "OPTIONS", MessageIcon::Error}}));
    EXPECT_EQ(OptionsDlg, dlg);
    EXPECT_EQ(MainPort, port);
    EXPECT_EQ(AppOptions.BaudRate, 115200);
    EXPECT_FALSE(std::filesystem::exists(dir.File("OPTIONS.INI")));

    TheRecorder().Clear();
    dlg->Edit1->setText("9600");
    PressKey(dlg->Edit6, Qt::Key_Enter);
    Settle();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(OptionsDlg, nullptr);
    EXPECT_EQ(AppOptions.BaudRate, 9600);
}

// On a screen too small for the dialog its pages scroll, OK and Отмена stay
// below them in view.
TEST_F(OptionsDialog, WhenThePagesScrollOkAndCancelStayOutside) {
    dlg->close();
    Settle();
    ScopedScreen tiny{FrameChrome + QSize(300, 200)};
    dlg = CreateOrRaise(&area, OptionsDlg);
    auto* scroll = dlg->findChild<QScrollArea*>();
    ASSERT_NE(scroll, nullptr);
    for (QPushButton* button : {dlg->Button1, dlg->Button2}) {
        EXPECT_FALSE(scroll->isAncestorOf(button)) << button->objectName().toStdString();
        EXPECT_TRUE(dlg->isAncestorOf(button));
    }
    EXPECT_LE(dlg->height(), 200);
}

TEST_F(OptionsDialog, AnInstalledCopySavesIntoANewConfigurationFolder) {
    InstalledCopy copy;
    dlg->Edit2->setText("3");
    dlg->Button1->click();
    Settle();
    EXPECT_EQ(copy.root.Read("config/gateway-configurator/OPTIONS.INI").substr(0, 3), "3\r\n");
    for (const auto& m : TheRecorder().messages) // COM3 has no link there: only its opening may fail
        EXPECT_EQ(m.caption, "ОШИБКА СИСТЕМЫ");
}

TEST_F(OptionsDialog, FileThatCannotBeCreatedStoresNothingAndKeepsThePort) {
    Rs232Port* port = MainPort;
    dir.Write("file", "");
    ScopedExecutableDir underAFile{dir.File("file/")};
    dlg->Edit2->setText("3");
    dlg->Button1->click();
    Settle();
    EXPECT_EQ(TheRecorder().messages,
              (std::vector<RecordedMessage>{{"Can't create OPTIONS.INI", "OPTIONS", MessageIcon::Error}}));
    EXPECT_EQ(AppOptions.PortNumber, 2);
    EXPECT_EQ(MainPort, port);
    EXPECT_EQ(OptionsDlg, dlg);
}

// OPTIONS.INI that cannot be written (a folder of that name) leaves PHONE.TXT
// as it was too.
TEST_F(OptionsDialog, ARefusedOkKeepsTheOldPhoneNumber) {
    dir.Write("PHONE.TXT", "111\r\n");
    std::filesystem::create_directory(dir.File("OPTIONS.INI"));
    dlg->EditPhone->setText("222");
    dlg->Button1->click();
    Settle();
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text, "Can't create OPTIONS.INI");
    EXPECT_EQ(dir.Read("PHONE.TXT"), "111\r\n");
}

// The modem's number lives in PHONE.TXT beside OPTIONS.INI: shown when the
// dialog opens, written on OK only, checked with the other entries, and
// OPTIONS.INI keeps its bytes.
TEST_F(OptionsDialog, ThePhoneNumberIsKeptBesideTheSettingsFileOnOkOnly) {
    dlg->Button1->click();
    Settle();
    const std::string ini = dir.Read("OPTIONS.INI");
    dlg = CreateOrRaise(&area, OptionsDlg);
    EXPECT_EQ(dlg->LabelPhone->text(), U("Телефон:"));
    EXPECT_EQ(dlg->LabelPhone->buddy(), dlg->EditPhone);
    EXPECT_EQ(dlg->EditPhone->text(), "");
    dlg->EditPhone->setText("8 (495) 123-45-67");
    dlg->Button2->click();
    Settle();
    EXPECT_FALSE(std::filesystem::exists(dir.File("PHONE.TXT")));

    dlg = CreateOrRaise(&area, OptionsDlg);
    dlg->EditPhone->setText("8 (495) 123-45-67");
    dlg->Button1->click();
    Settle();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(dir.Read("PHONE.TXT"), "8 (495) 123-45-67\r\n");
    EXPECT_EQ(dir.Read("OPTIONS.INI"), ini);

    dlg = CreateOrRaise(&area, OptionsDlg);
    EXPECT_EQ(dlg->EditPhone->text(), "8 (495) 123-45-67");
    // A number that would carry a command of its own is refused.
    dlg->EditPhone->setText("123;H0");
    dlg->Button1->click();
    EXPECT_EQ(
        TheRecorder().messages,
        (std::vector<RecordedMessage>{
            {"В номере телефона допустимы цифры, пробел и знаки - ( ) , * # ! @ W P T. Исправьте номер.",
             "OPTIONS", MessageIcon::Error}}));
    EXPECT_EQ(dlg->PageControl1->currentWidget(), dlg->TabSheet2);
    EXPECT_EQ(dir.Read("PHONE.TXT"), "8 (495) 123-45-67\r\n");
    EXPECT_EQ(dir.Read("OPTIONS.INI"), ini);
}

TEST(OptionsMenu, CommandCreatesOneDialogAndBringsItForward) {
    TempDir dir;
    PtyPair com2;
    ScopedExecutableDir exeDir{dir.Path()};
    dir.LinkCom(2, com2.SlavePath());
    AppOptions = TAppOptions{};
    TheRecorder().Clear();
    {
        TMainForm form;
        form.Options1->trigger();
        TOptionsDlg* first = OptionsDlg;
        ASSERT_NE(first, nullptr);
        first->Edit1->setText("4800");
        form.Options1->trigger();
        EXPECT_EQ(OptionsDlg, first);
        EXPECT_EQ(form.MdiArea()->subWindowList().size(), 1);
        first->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        form.Options1->trigger();
        ASSERT_NE(OptionsDlg, nullptr);
        EXPECT_EQ(OptionsDlg->Edit1->text(), "115200");
    }
    EXPECT_EQ(OptionsDlg, nullptr);
}

} // namespace

namespace {

// The device list under its by-id-like name; choosing one binds it to the
// number in Порт:, and the dialog shows where that number leads.
TEST(OptionsDevices, ChoosingADeviceLinksTheComNumberToIt) {
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    PtyPair adapter;
    std::filesystem::create_directories(dir.File("by-id"));
    const std::string byId = dir.File("by-id/usb-Neutral_Bridge_C0003-if00-port0");
    std::filesystem::create_symlink(adapter.SlavePath(), byId);
    SetSerialDeviceLister([&] {
        return NameSerialDevices({{"", adapter.SlavePath(), "Bridge"}}, dir.File("by-id"));
    });
    AppOptions = TAppOptions{};
    TheRecorder().Clear();
    QMdiArea area;
    TOptionsDlg* dlg = CreateOrRaise(&area, OptionsDlg);

    ASSERT_EQ(dlg->ComboDevices->count(), 2);
    EXPECT_EQ(dlg->ComboDevices->itemText(1).toStdString(), byId + " → " + adapter.SlavePath() + " (Bridge)");
    dlg->Edit2->setText("7");
    EXPECT_EQ(dlg->LabelDevice->toolTip().toStdString(), "COM7 ведёт к /dev/ttyS6");
    dlg->ComboDevices->activated(1);
    EXPECT_EQ(ComLinkTarget(7), byId);
    EXPECT_EQ(dlg->LabelDevice->toolTip().toStdString(),
              "COM7 ведёт к " + byId + " -> " + adapter.SlavePath());
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);

    dlg->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetSerialDeviceLister(nullptr);
}

// A network address for the COM number: a malformed one is refused with the
// reason, a good one typed and confirmed by OK links ports/COM2 to it and opens
// it, while OPTIONS.INI keeps its ten lines and its COM number.
TEST_F(OptionsDialog, ANetworkAddressForTheComNumberIsOpenedByOk) {
    sim::Simulator simulator;
    simulator.Start();
    sim::NetListener server(simulator.PortPath(), {});
    server.Start();
    EXPECT_EQ(Plain(dlg->LabelAddress->text()), U("Сетевой адрес:"));
    dlg->EditAddress->setText("tcp://127.0.0.1");
    dlg->ButtonAddress->click();
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text,
              "Адрес «tcp://127.0.0.1» не подходит: не указан порт: нужен адрес "
              "вида узел:порт. Например: tcp://192.168.0.7:4001.");
    EXPECT_EQ(ComLinkTarget(2), com2.SlavePath());
    TheRecorder().Clear();

    dlg->EditAddress->setText(QString::fromStdString(server.Address()));
    dlg->Button1->click();
    Settle();
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    EXPECT_EQ(ComLinkTarget(2), server.Address());
    EXPECT_EQ(dir.Read("OPTIONS.INI"), "2\r\n115200\r\n0\r\n12\r\n1\r\n1\r\n1\r\nATZ\r\n1\r\n60\r\n");
    ASSERT_TRUE(MainPort->IsOpen());
    EXPECT_TRUE(MainPort->Network());
    EXPECT_EQ(MainPort->NetAddress, server.Address());

    // A fresh dialog shows where COM2 leads.
    dlg = CreateOrRaise(&area, OptionsDlg);
    EXPECT_EQ(dlg->EditAddress->text().toStdString(), server.Address());
    EXPECT_EQ(dlg->LabelDevice->toolTip().toStdString(), "COM2 ведёт к " + server.Address());
}

} // namespace
