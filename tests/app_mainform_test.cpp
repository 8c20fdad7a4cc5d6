// The main window headless: caption, menu tree, the port opened at creation
// and closed at destruction, one system error for a port that cannot open.
#include "app/MainForm.h"
#include "app/OptionsDlg.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "console/Uviewrs232.h"
#include "gateway/Config.h"
#include "gateway/Uwait.h"
#include "monitor/Uviewpacket.h"
#include "serial/AdapterLatency.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "sim/UsbAdapter.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/WindowChecks.h"
#include "ui/MdiChild.h"
#include "ui/Presenter.h"
#include "ui/Translations.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QTranslator>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        TheRecorder().Clear();
        AppOptions = TAppOptions{};
        AppOptions.PortNumber = 5;
    }
    void TearDown() override {
        TheRecorder().Clear();
        AppOptions = TAppOptions{};
    }
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
};

QString Text(const char* s) {
    return QString::fromUtf8(s);
}

TEST_F(MainWindow, CaptionMenusAndThePortInTheStatusLine) {
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    TMainForm form;
    EXPECT_EQ(form.windowTitle(), Text("Конфигуратор для для шлюзов RS485modbus<->RS232 v1.2"));
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);

    ASSERT_EQ(form.menuBar()->actions().size(), 4);
    EXPECT_EQ(form.menuBar()->actions()[0]->text(), Text("&View"));
    EXPECT_EQ(Plain(form.menuBar()->actions()[1]->text()), Text("Конфигурирование"));
    EXPECT_EQ(form.ViewMenu->objectName(), "ViewMenu");
    EXPECT_EQ(form.mnuConfigurator->objectName(), "mnuConfigurator");

    auto* options = form.findChild<QAction*>("Options1");
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(options->text(), Text("&Настройки"));
    EXPECT_EQ(form.ViewMenu->actions(), (QList<QAction*>{options, form.mnuViewArchive}));
    EXPECT_EQ(Plain(form.mnuViewArchive->text()), Text("Просмотр архива"));
    EXPECT_EQ(Plain(form.menuBar()->actions()[2]->text()), Text("Модем"));
    EXPECT_EQ(form.mnuModem->actions(), (QList<QAction*>{form.mnuDial, form.mnuHangUp}));
    EXPECT_EQ(Plain(form.mnuDial->text()), Text("Набрать номер"));
    EXPECT_EQ(Plain(form.mnuHangUp->text()), Text("Положить трубку"));
    EXPECT_EQ(Plain(form.menuBar()->actions()[3]->text()), Text("Справка"));
    EXPECT_EQ(form.mnuHelp->actions(), QList<QAction*>{form.mnuAbout});
    EXPECT_EQ(Plain(form.mnuAbout->text()), Text("О программе"));

    QStringList captions;
    for (QAction* a : form.mnuConfigurator->actions())
        captions << a->objectName() + "=" + Plain(a->text());
    EXPECT_EQ(captions,
              (QStringList{Text("mnuConfig=Настройка шлюза RS485<->RS232"), Text("RS2321=Тест RS232"),
                           Text("mnuTestPacket=Тест пакетов"), Text("mnuScan=Поиск приборов")}));

    ASSERT_NE(form.findChild<QStatusBar*>("StatusLine"), nullptr);
    EXPECT_EQ(form.PortState->text(),
              Text("COM5, ") + QString::fromStdString(pty.SlavePath()) + Text(", 115200 бит/с: открыт"));
}

// Модем > Набрать номер dials the stored number under the wait window; the
// status line shows the connection until Положить трубку.
TEST_F(MainWindow, TheMenuDialsTheStoredNumberAndTheStatusLineShowsTheConnection) {
    TimingConstants fast;
    fast.ModemAnswerMs = 1000;
    fast.ModemGuardMs = 150;
    fast.DtrDropMs = 20;
    fast.ModemSettleMs = 30;
    SetTimingForTests(fast);
    sim::SimOptions o;
    o.AnswerGapMs = 3;
    o.Modem = {.Present = true, .ConnectDelayMs = 20, .GuardMs = 100};
    sim::Simulator simulator(o);
    simulator.Start();
    dir.LinkCom(5, simulator.PortPath());
    dir.Write("PHONE.TXT", "555-12-34\r\n");
    AppOptions.DialMode = 2;
    {
        TMainForm form;
        form.mnuDial->trigger();
        EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
        EXPECT_EQ(simulator.ModemDialled(), "T5551234");
        EXPECT_EQ(form.ModemState->text(), Text("модем: CONNECT 9600"));
        EXPECT_TRUE(form.ModemState->isVisibleTo(form.StatusLine));

        form.mnuHangUp->trigger();
        EXPECT_EQ(form.ModemState->text(), "");
        EXPECT_EQ(simulator.Modem(), sim::ModemState::Command);

        // Without a number the menu says where to enter one.
        std::filesystem::remove(dir.File("PHONE.TXT"));
        form.mnuDial->trigger();
        EXPECT_EQ(TheRecorder().messages,
                  (std::vector<RecordedMessage>{
                      {"Номер телефона не задан. Укажите его в настройках на странице «Модем».", "МОДЕМ",
                       MessageIcon::Error}}));
    }
    SetTimingForTests(TimingConstants{});
}

TEST_F(MainWindow, AnAdapterLatencyThatStaysHighShowsItsFixAsTheStatusLineTooltip) {
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    const std::string timer = sim::MakeFakeAdapterSysfs(dir.File("sys"), pty.SlavePath(), 16);
    std::filesystem::permissions(timer, std::filesystem::perms::owner_read);
    SerialDriverAccess fake;
    fake.SysfsRoot = dir.File("sys");
    fake.GetLowLatency = [](int) { return std::optional<bool>(); }; // a driver without the flag
    SetSerialDriverForTests(fake);
    {
        TMainForm form;
        EXPECT_TRUE(form.PortState->text().endsWith(
            Text("открыт, задержка адаптера 16 мс (снизить не удалось, см. подсказку)")));
        EXPECT_TRUE(form.PortState->toolTip().contains(QString::fromUtf8(LatencyUdevRule)));
    }
    SetSerialDriverForTests(SerialDriverAccess{});
}

TEST_F(MainWindow, OpensTheConfiguredPortAndClosesItWhenDestroyed) {
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    AppOptions.BaudRate = 57600;
    auto* form = new TMainForm;
    ASSERT_NE(MainPort, nullptr);
    EXPECT_TRUE(MainPort->Ok);
    EXPECT_EQ(MainForm, form);
    Rs232Port meanwhile(pty.SlavePath(), 9600);
    EXPECT_FALSE(meanwhile.Ok); // held exclusively by MainPort
    delete form;
    EXPECT_EQ(MainPort, nullptr);
    EXPECT_EQ(MainForm, nullptr);
    Rs232Port after(pty.SlavePath(), 9600);
    EXPECT_TRUE(after.Ok);
}

TEST_F(MainWindow, PortThatCannotOpenIsReportedOnceBeforeTheWindowShows) {
    dir.LinkCom(5, "/nonexistent/device");
    bool visibleAtMessage = true;
    TheRecorder().onShow = [&](const RecordedMessage&) {
        visibleAtMessage = MainForm && MainForm->isVisible();
    };
    TMainForm form;
    ASSERT_EQ(TheRecorder().messages.size(), 1u) << Describe(TheRecorder().messages);
    const RecordedMessage& box = TheRecorder().messages[0];
    EXPECT_EQ(box.caption, "ОШИБКА СИСТЕМЫ");
    EXPECT_EQ(box.icon, MessageIcon::Information);
    EXPECT_NE(box.text.find("COM5 (" + dir.File("ports/COM5") + " -> /nonexistent/device)"),
              std::string::npos);
    EXPECT_NE(box.text.find(SystemErrorText(ENOENT)), std::string::npos) << box.text;
    EXPECT_FALSE(visibleAtMessage);
    ASSERT_NE(MainPort, nullptr);
    EXPECT_FALSE(MainPort->Ok); // stays in place, unusable, until the settings replace it
    EXPECT_EQ(form.windowTitle(), Text("Конфигуратор для для шлюзов RS485modbus<->RS232 v1.2"));
}

// Each child command makes one window, brings it forward while it exists,
// and makes a fresh one after it was closed.
template <class T>
void CheckCreateOrRaise(TMainForm& form, QAction* command, T*& global, const char* editName) {
    ASSERT_EQ(global, nullptr);
    command->trigger();
    QPointer<T> first = global;
    ASSERT_TRUE(first);
    auto* edit = first->template findChild<QLineEdit*>(editName);
    ASSERT_NE(edit, nullptr);
    edit->setText("changed");
    command->trigger();
    EXPECT_EQ(global, first.data());
    EXPECT_EQ(form.MdiArea()->activeSubWindow(), first.data());
    EXPECT_EQ(form.MdiArea()->subWindowList().count(first.data()), 1);

    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(global, nullptr);
    EXPECT_TRUE(first.isNull());
    command->trigger();
    ASSERT_NE(global, nullptr);
    EXPECT_NE(global->template findChild<QLineEdit*>(editName)->text(), "changed");
    global->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST_F(MainWindow, ChildCommandsCreateOnceRaiseAfterAndStartFreshWhenClosed) {
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    TMainForm form;
    form.show();
    CheckCreateOrRaise(form, form.Options1, OptionsDlg, "Edit1");
    CheckCreateOrRaise(form, form.mnuConfig, frmConfig, "EditAddress");
    CheckCreateOrRaise(form, form.RS2321, ViewRS232, "Edit3");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

// 1280x1024 at scale 2: every child window fits the frame's room, the ones too
// large for it scroll their controls, and each starts on its first control.
TEST_F(MainWindow, AtScaleTwoEveryWindowFitsTheScreen) {
    const QSize room = SmallestScreen - FrameChrome;
    ScopedScreen screen{SmallestScreen};
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    TMainForm form;
    form.show();
    form.Options1->trigger();
    form.mnuConfig->trigger();
    form.RS2321->trigger();
    TViewPacket* monitor = CreateOrRaise(form.MdiArea(), ViewPacket, PortAccessor([] { return MainPort; }));
    const std::pair<QMdiSubWindow*, const char*> windows[] = {
        {OptionsDlg, "Edit1"}, {frmConfig, "EditAddress"}, {ViewRS232, "Edit3"}, {monitor, "RichEdit"}};
    for (auto [window, first] : windows) {
        SCOPED_TRACE(window->objectName().toStdString());
        EXPECT_GE(window->x(), 0);
        EXPECT_GE(window->y(), 0);
        EXPECT_LE(window->width(), room.width());
        EXPECT_LE(window->height(), room.height());
        EXPECT_LE(window->minimumWidth(), room.width());
        EXPECT_LE(window->minimumHeight(), room.height());
        const bool fixed = window->minimumSize() == window->maximumSize();
        EXPECT_TRUE(fixed || window->widget()->findChild<QScrollArea*>() ||
                    qobject_cast<QScrollArea*>(window->widget()));
        EXPECT_EQ(window->focusWidget()->objectName(), first);
    }
    // The two large windows are the ones that had to give way.
    EXPECT_TRUE(qobject_cast<QScrollArea*>(ViewRS232->widget()));
    EXPECT_TRUE(qobject_cast<QScrollArea*>(monitor->widget()));
    delete monitor;
}

// 2560x1440 at scale 2: the console keeps its own fixed size, nothing scrolls.
TEST_F(MainWindow, AtScaleTwoOnAWideScreenTheConsoleFits) {
    ScopedScreen screen{QSize(1280, 720)};
    PtyPair pty;
    dir.LinkCom(5, pty.SlavePath());
    TMainForm form;
    form.show();
    form.RS2321->trigger();
    ASSERT_NE(ViewRS232, nullptr);
    EXPECT_FALSE(qobject_cast<QScrollArea*>(ViewRS232->widget()));
    EXPECT_EQ(ViewRS232->minimumSize(), ViewRS232->maximumSize());
    EXPECT_LE(ViewRS232->height(), 720 - FrameChrome.height());
    // A long notice (how a read stopped) wraps within the room the dumps
    // spare: the dumps keep their smallest height and the notice is seen whole.
    ViewRS232->ShowNotice("Чтение суточного архива остановлено: порт отключён. Последняя записанная строка: "
                          "12. Проверьте порт в настройках и прочтите архив заново. Прочитанные строки "
                          "сохранены в файле /home/user/.local/share/configurator/day.partial.txt, файл "
                          "/home/user/.local/share/configurator/day.txt не изменён.");
    QApplication::processEvents();
    EXPECT_GE(ViewRS232->Memo1->height(), ViewRS232->Memo1->minimumHeight());
    const QRect notice(ViewRS232->ConsoleNotice->mapTo(ViewRS232->widget(), QPoint(0, 0)),
                       ViewRS232->ConsoleNotice->size());
    EXPECT_GE(notice.height(), ViewRS232->ConsoleNotice->heightForWidth(notice.width()));
    EXPECT_LE(notice.bottom(), ViewRS232->widget()->height());
}

// With Qt's Russian texts loaded, Qt's own texts are Russian and every button
// the program names keeps its text, the message boxes' OK included.
TEST(QtTranslations, QtSpeaksRussianNamedButtonsKeepTheirTexts) {
    const std::unique_ptr<QTranslator> russian = LoadQtTranslations();
    ASSERT_NE(russian, nullptr) << "qtbase_ru.qm missing (qt6-translations-l10n)";
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), Text("Отмена"));

    QString okText;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                okText = box->buttons().value(0)->text();
                box->accept();
            }
    });
    closer.start(5);
    QtMessagePresenter().Show("Текст", "ОШИБКА СИСТЕМЫ", MessageIcon::Information);
    closer.stop();
    EXPECT_EQ(Plain(okText), "OK");

    QMdiArea area;
    TOptionsDlg* dialog = CreateOrRaise(&area, OptionsDlg);
    EXPECT_EQ(Plain(dialog->Button1->text()), "OK");
    EXPECT_EQ(Plain(dialog->Button2->text()), Text("Отмена"));
    dialog->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    TDelayForm wait(&area);
    EXPECT_EQ(wait.Cancel->text(), "Cancel");
}

TEST(MessageBox, AsWideAsItsCaption) {
    const QString caption = Text("Очень длинный заголовок окна сообщения, который не должен обрезаться");
    QMessageBox box;
    box.setWindowTitle(caption);
    box.setText(Text("Да"));
    WidenForCaption(box);
    box.show();
    // Beside the text the title bar holds the window's icon and its buttons:
    // the toolkit's own allowance (50 pixels) leaves the caption cut.
    EXPECT_GE(box.width(), QFontMetrics(box.font()).horizontalAdvance(caption) + 100);
}

} // namespace
