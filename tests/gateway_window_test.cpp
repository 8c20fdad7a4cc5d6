// The gateway configuration window and its wait window, headless, against
// the simulated gateway: controls and their states, placement, the wait
// window around an exchange, and the bytes a click puts on the line.
#include "app/MainForm.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "gateway/Config.h"
#include "gateway/Uwait.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "support/PtyMainPort.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/ScopedProgramState.h"
#include "support/WindowChecks.h"
#include "ui/MdiChild.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <initializer_list>

namespace {

using Msgs = std::vector<RecordedMessage>;

class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        gateway.Start();
        area.resize(900, 700);
        area.show();
        CreateOrRaise(&area, frmConfig, world.link);
        ASSERT_NE(frmConfig, nullptr);
    }
    void TearDown() override { delete frmConfig; }
    // What went over the line, once the gateway has handled all of it.
    std::string Line() {
        EXPECT_TRUE(gateway.WaitIdle(2000));
        return gateway.PcTranscript();
    }
    QRadioButton* SpeedItem(int i) {
        return frmConfig->findChild<QRadioButton*>(QString("SpeedGroupItem%1").arg(i));
    }

    ScopedProgramState world;
    sim::Simulator gateway;
    PtyMainPort port{gateway.PortPath()};
    QMdiArea area;
};

TEST_F(ConfigWindow, WithoutALinkTypeReadAndWriteSayWhereToChooseItAndSendNothing) {
    AppOptions.LinkMode = 0;
    frmConfig->ReadClick();
    frmConfig->WriteClick();
    const RecordedMessage box{NoLinkModeText, NoLinkModeCaption, MessageIcon::Warning};
    EXPECT_EQ(TheRecorder().messages, (Msgs{box, box}));
    EXPECT_EQ(Line(), "");
}

TEST_F(ConfigWindow, StartsWithItsControlsInTheirInitialStates) {
    TfrmConfig* w = frmConfig;
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Окончательная настройка"));
    EXPECT_EQ(w->pos(), QPoint(0, 0));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowSystemMenuHint);
    // A fixed border: no resize cursor at an edge, no Size command.
    const QPointF edge(w->width() - 2, w->height() / 2);
    QMouseEvent hover(QEvent::MouseMove, edge, w->mapToGlobal(edge), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &hover);
    EXPECT_NE(w->cursor().shape(), Qt::SizeHorCursor);
    int sizeCommands = 0;
    for (QAction* a : w->systemMenu()->actions())
        sizeCommands += a->text() == "&Size" && a->isVisible();
    EXPECT_EQ(sizeCommands, 0);

    struct Named {
        const char* name;
        QString caption;
    } named[] = {
        {"GroupBox4", "RS485"},
        {"Label12", "Адрес:"},
        {"SpeedGroup", "Скорость"},
        {"CheckBoxPacket", "Пакетный протокол"},
        {"GroupBox5", "Модем"},
        {"CheckBoxModem", "Включить поддержку модема"},
        {"Label1", "Строка инициализации:"},
        {"Read", "Считать"},
        {"Write", "Записать"},
        {"Quit", "Выход"},
    };
    for (const Named& n : named) {
        SCOPED_TRACE(n.name);
        QWidget* c = w->findChild<QWidget*>(n.name);
        ASSERT_NE(c, nullptr);
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(c)) text = Plain(b->text());
        if (auto* g = qobject_cast<QGroupBox*>(c)) text = g->title();
        if (auto* l = qobject_cast<QLabel*>(c)) text = l->text();
        EXPECT_EQ(text, n.caption);
    }
    EXPECT_EQ(w->GroupBox1->title(), QString());
    EXPECT_EQ(w->Label12->buddy(), w->EditAddress);
    EXPECT_EQ(w->Label1->buddy(), w->EditInitLine);
    EXPECT_TRUE(w->EditAddress->text().isEmpty());
    EXPECT_TRUE(w->EditInitLine->text().isEmpty());
    const char* speeds[] = {"57600", "38400", "19200", "9600", "4800"};
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(SpeedItem(i)->text(), speeds[i]);
    EXPECT_TRUE(SpeedItem(0)->isChecked());
    EXPECT_FALSE(w->CheckBoxPacket->isChecked());
    EXPECT_FALSE(w->CheckBoxModem->isChecked());
    EXPECT_TRUE(w->Read->isEnabled());
    EXPECT_FALSE(w->Write->isEnabled());
    EXPECT_TRUE(w->Quit->isEnabled());
    EXPECT_EQ(w->WaitForm, nullptr);
}

TEST_F(ConfigWindow, TheMenuCommandBringsTheOneWindowForwardAndQuitFreesIt) {
    TfrmConfig* first = frmConfig;
    EXPECT_EQ(CreateOrRaise(&area, frmConfig, world.link), first);
    EXPECT_EQ(area.subWindowList().size(), 1);
    QPointer<TfrmConfig> guard(first);
    first->Quit->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmConfig, nullptr);
    EXPECT_TRUE(guard.isNull());
    // Another child in the corner does not push it elsewhere.
    QMdiSubWindow* other = area.addSubWindow(new QLabel("other"));
    other->show();
    CreateOrRaise(&area, frmConfig, world.link);
    EXPECT_NE(frmConfig, nullptr);
    EXPECT_EQ(frmConfig->pos(), QPoint(0, 0));
}

TEST_F(ConfigWindow, ReadFillsEveryControl) {
    // "A" and three Cyrillic letters in CP1251.
    gateway.SetSettings({.Address = 5, .Switches = 0x06, .SpeedCode = 0x67, .InitLine = "A\xD2\xC5\xD1\r"});
    frmConfig->Read->click();
    EXPECT_EQ(frmConfig->EditAddress->text(), "5");
    EXPECT_TRUE(frmConfig->CheckBoxModem->isChecked());
    EXPECT_TRUE(frmConfig->CheckBoxPacket->isChecked());
    EXPECT_TRUE(SpeedItem(3)->isChecked());
    EXPECT_EQ(frmConfig->EditInitLine->text(), QString::fromUtf8("AТЕС"));
    EXPECT_TRUE(frmConfig->Write->isEnabled());
    EXPECT_TRUE(frmConfig->isEnabled());
    EXPECT_EQ(frmConfig->WaitForm, nullptr);
    EXPECT_EQ(TheRecorder().messages, Msgs{});
    EXPECT_TRUE(gateway.WaitForExchanges(3, 2000));
}

TEST_F(ConfigWindow, WriteSendsTheTypedSettingsThenPauses) {
    frmConfig->EditAddress->setText("5");
    frmConfig->CheckBoxModem->setChecked(true);
    frmConfig->CheckBoxPacket->setChecked(true);
    SpeedItem(2)->setChecked(true);
    frmConfig->EditInitLine->setText("ATZ");
    frmConfig->Write->setEnabled(true);
    auto start = std::chrono::steady_clock::now();
    frmConfig->Write->click();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(Line(), "B0 (DD) 5A 50 01 (01) 81 58 00 00 04 (00) 05 06 33 04 (00) "
                      "B0 (DD) 5A 50 01 (01) 81 58 00 04 04 (00) 41 54 5A 0D (00) "
                      "B0 (DD) 5A 50 01 (01) EF 0C 00 02 01 (00) 00 (00)");
    EXPECT_GE(ms.count(), FastTiming().FinishWritePauseMs);
    EXPECT_EQ(gateway.ApplyCount(), 1);
    EXPECT_EQ(gateway.AppliedSettings(),
              (sim::GatewaySettings{.Address = 5, .Switches = 0x06, .SpeedCode = 0x33, .InitLine = "ATZ\r"}));
    EXPECT_EQ(TheRecorder().messages, Msgs{});
}

TEST_F(ConfigWindow, LongestLineAndEmptyLineComeBackAsWritten) {
    for (const QString& line : {QString(31, QChar('7')), QString()}) {
        SCOPED_TRACE(line.size());
        frmConfig->EditAddress->setText("0"); // the master
        frmConfig->EditInitLine->setText(line);
        frmConfig->WriteClick();
        EXPECT_EQ(gateway.Settings().InitLine, line.toStdString() + "\r");
        frmConfig->EditInitLine->setText("something else");
        frmConfig->ReadClick();
        EXPECT_EQ(frmConfig->EditInitLine->text(), line);
    }
    EXPECT_EQ(TheRecorder().messages, Msgs{});
}

TEST_F(ConfigWindow, ALineLengthOutOfRangeIsNotRead) {
    for (std::uint8_t length : std::initializer_list<std::uint8_t>{0, 33}) {
        SCOPED_TRACE(length);
        gateway.SetCells(0x81, 0x58, 3, {length});
        frmConfig->EditInitLine->setText("kept");
        frmConfig->ReadClick();
        EXPECT_EQ(frmConfig->EditInitLine->text(), "kept");
        EXPECT_TRUE(frmConfig->Write->isEnabled());
    }
}

TEST_F(ConfigWindow, TheInitLineGoesOutAsCp1251AndItsBytesAreCounted) {
    frmConfig->EditAddress->setText("1");
    frmConfig->EditInitLine->setText(QString::fromUtf8("ЖДИ"));
    frmConfig->WriteClick();
    EXPECT_EQ(gateway.Settings().InitLine, "\xC6\xC4\xC8\r");
    ASSERT_TRUE(gateway.WaitIdle(2000));
    gateway.ClearTranscript();

    // 32 Cyrillic letters are 32 bytes: too long.
    frmConfig->EditInitLine->setText(QString::fromUtf8("Ж").repeated(32));
    frmConfig->WriteClick();
    EXPECT_EQ(TheRecorder().messages, (Msgs{{"Номер должен состоять из 31 латинских букв или цифр.",
                                             "ОШИБКА ДАННЫХ", MessageIcon::Information}}));
    EXPECT_EQ(frmConfig->focusWidget(), frmConfig->EditInitLine);
    EXPECT_EQ(Line(), "");
}

TEST_F(ConfigWindow, ABadAddressSendsNothing) {
    for (const char* text : {"256", "-1", "адрес", ""}) {
        SCOPED_TRACE(text);
        TheRecorder().messages.clear();
        frmConfig->EditAddress->setText(QString::fromUtf8(text));
        frmConfig->WriteClick();
        EXPECT_EQ(TheRecorder().messages,
                  (Msgs{{"Адрес должен быть от 0 для мастера и от 1 до 255 для подчиненных.", "ОШИБКА ДАННЫХ",
                         MessageIcon::Information}}));
        EXPECT_TRUE(frmConfig->isEnabled());
    }
    EXPECT_EQ(Line(), "");
}

TEST_F(ConfigWindow, TheWaitWindowStandsOverTheDisabledWindowDuringAnExchange) {
    bool seen = false;
    TheRecorder().onShow = [&](const RecordedMessage&) {
        // Inside the failure message: the exchange has not returned yet.
        seen = true;
        EXPECT_FALSE(frmConfig->isEnabled());
        ASSERT_NE(frmConfig->WaitForm, nullptr);
        TDelayForm* wait = frmConfig->WaitForm;
        EXPECT_TRUE(wait->isVisible());
        EXPECT_TRUE(wait->WasPainted());
        EXPECT_TRUE(wait->isWindow());
        EXPECT_EQ(wait->parentWidget(), frmConfig);
        EXPECT_EQ(wait->windowTitle(), QString::fromUtf8("Задержка"));
        EXPECT_EQ(wait->Label1->text(), QString::fromUtf8("ЖДИТЕ..."));
        EXPECT_FALSE(wait->Cancel->isVisible());
        EXPECT_FALSE(wait->DelayTimer->isActive());
        QWidget* client = frmConfig->widget();
        QPoint origin = client->mapToGlobal(QPoint(0, 0));
        EXPECT_EQ(wait->pos(), QPoint(origin.x() + client->width() / 2 - wait->width() / 2,
                                      origin.y() + client->height() / 2 - wait->height() / 2));
    };
    frmConfig->EditAddress->setText("9");
    frmConfig->EditInitLine->setText("kept");
    gateway.AddFault({.step = sim::Step::Ready, .kind = sim::FaultKind::Byte, .value = 0x07, .times = 3});
    frmConfig->Read->click();
    EXPECT_TRUE(seen);
    EXPECT_EQ(TheRecorder().messages,
              (Msgs{{"Линия занята.", "GetData:(5) ОШИБКА СВЯЗИ", MessageIcon::Information}}));
    EXPECT_EQ(Line(), "B0 (07) B0 (07) B0 (07)");
    // A failed first exchange changes nothing.
    EXPECT_EQ(frmConfig->EditAddress->text(), "9");
    EXPECT_EQ(frmConfig->EditInitLine->text(), "kept");
    EXPECT_TRUE(SpeedItem(0)->isChecked());
    EXPECT_FALSE(frmConfig->CheckBoxPacket->isChecked());
    EXPECT_FALSE(frmConfig->Write->isEnabled());
    EXPECT_TRUE(frmConfig->isEnabled());
    EXPECT_EQ(frmConfig->WaitForm, nullptr);
}

// The main window's link shows failure messages from the start, and its menu
// command opens the one configuration window, which reads from its port; a
// write is confirmed in the main window's status line.
TEST(ConfigFromMainWindow, MenuCommandOpensTheWindowOnceAndAWriteIsConfirmed) {
    ScopedProgramState world;
    TempDir dir;
    sim::Simulator gateway;
    gateway.Start();
    gateway.LinkCom(dir.Path(), 4);
    ScopedExecutableDir exeDir{dir.Path()};
    AppOptions.PortNumber = 4;
    {
        TMainForm form;
        EXPECT_TRUE(form.Link().LinkMessages);
        form.mnuConfig->trigger();
        ASSERT_NE(frmConfig, nullptr);
        TfrmConfig* first = frmConfig;
        form.mnuConfig->trigger();
        EXPECT_EQ(frmConfig, first);
        EXPECT_EQ(form.MdiArea()->subWindowList().size(), 1);
        frmConfig->ReadClick();
        EXPECT_EQ(frmConfig->EditAddress->text(), "1"); // the simulator's default settings
        EXPECT_TRUE(frmConfig->Write->isEnabled());
        TimingConstants fast;
        fast.FinishWritePauseMs = 10;
        SetTimingForTests(fast);
        frmConfig->WriteClick();
        SetTimingForTests(TimingConstants{});
        EXPECT_EQ(form.StatusLine->currentMessage(), QString::fromUtf8("Настройки записаны в шлюз"));
    }
    EXPECT_EQ(frmConfig, nullptr);
    EXPECT_EQ(TheRecorder().messages, Msgs{}) << Describe(TheRecorder().messages);
}

TEST(DelayForm, AModalShowingEndsByItsTimerOrByCancel) {
    QWidget owner;
    owner.resize(400, 300);
    {
        TDelayForm form(&owner);
        EXPECT_EQ(form.minimumSize(), form.maximumSize());
        EXPECT_FALSE(form.windowFlags() & Qt::WindowSystemMenuHint);
        EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
        // Shown modelessly: the handlers leave the form alone.
        form.show();
        EXPECT_FALSE(form.Cancel->isVisible());
        form.DelayTimerTimer();
        form.CancelClick();
        EXPECT_TRUE(form.isVisible());
        form.hide();

        bool cancelShown = false;
        form.DelayTimer->setInterval(10);
        form.DelayTimer->start();
        QTimer::singleShot(0, &form, [&] { cancelShown = form.Cancel->isVisible(); });
        EXPECT_EQ(form.exec(), QDialog::Accepted);
        EXPECT_TRUE(cancelShown);
        EXPECT_FALSE(form.DelayTimer->isActive());

        form.DelayTimer->setInterval(60000);
        form.DelayTimer->start();
        QTimer::singleShot(0, &form, [&] { form.Cancel->click(); });
        EXPECT_EQ(form.exec(), QDialog::Rejected);
        EXPECT_FALSE(form.DelayTimer->isActive());
    }
}

} // namespace
