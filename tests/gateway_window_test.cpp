// The gateway configuration window and its wait window, headless: controls
// and their states, placement, the wait window around an exchange, and the
// bytes a click puts on the line.
#include "adapter/Dataio.h"
#include "app/MdiChild.h"
#include "app/Options.h"
#include "gateway/Config.h"
#include "gateway/Uwait.h"
#include "support/PtyMainPort.h"
#include "support/Recorder.h"
#include "support/ScriptedPeer.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using Msgs = std::vector<RecordedMessage>;

class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        AppOptions = TAppOptions{};
        AppOptions.LinkMode = 1;
        LinkMessages = true;
        LinkBusy = false;
        TheRecorder().Clear();
        area.resize(900, 700);
        area.show();
        CreateOrRaise(&area, frmConfig);
        ASSERT_NE(frmConfig, nullptr);
        peer.expectTimeoutMs = 3000;
    }
    void TearDown() override {
        TheRecorder().Clear();
        delete frmConfig;
        AppOptions = TAppOptions{};
    }
    std::string Finish() {
        std::string t = peer.Finish();
        EXPECT_EQ(peer.Errors(), "");
        return t;
    }
    QRadioButton* SpeedItem(int i) { return frmConfig->findChild<QRadioButton*>(QString("SpeedGroupItem%1").arg(i)); }

    PtyPair pty;
    PtyMainPort port{pty};
    ScriptedPeer peer{pty};
    QMdiArea area;
};

void AnswerGet(ScriptedPeer& peer, const std::string& header, const std::string& data) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 02").Reply("01").Expect(header).Reply("00");
    peer.Reply(data + " 00");
}

void AnswerSet(ScriptedPeer& peer, const std::string& header, const std::string& data) {
    peer.Expect("B0").Reply("DD").Expect("5A 50 01").Reply("01").Expect(header).Reply("00");
    peer.Expect(data).Reply("00");
}

TEST_F(ConfigWindow, StartsWithItsControlsInTheirInitialStates) {
    TfrmConfig* w = frmConfig;
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Окончательная настройка"));
    EXPECT_EQ(w->pos(), QPoint(0, 0));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowSystemMenuHint);

    struct Named {
        const char* name;
        QString caption;
    } named[] = {
        {"GroupBox4", "RS485"}, {"Label12", "Адрес:"}, {"SpeedGroup", "Скорость"},
        {"CheckBoxPacket", "Пакетный протокол"}, {"GroupBox5", "Модем"},
        {"CheckBoxModem", "Включить поддержку модема"}, {"Label1", "Строка инициализации:"},
        {"Read", "Считать"}, {"Write", "Записать"}, {"Quit", "Выход"},
    };
    for (const Named& n : named) {
        SCOPED_TRACE(n.name);
        QWidget* c = w->findChild<QWidget*>(n.name);
        ASSERT_NE(c, nullptr);
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(c)) text = b->text();
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
    for (int i = 0; i < 5; ++i) ASSERT_EQ(SpeedItem(i)->text(), speeds[i]);
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
    EXPECT_EQ(CreateOrRaise(&area, frmConfig), first);
    EXPECT_EQ(area.subWindowList().size(), 1);
    QPointer<TfrmConfig> guard(first);
    first->Quit->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(frmConfig, nullptr);
    EXPECT_TRUE(guard.isNull());
    // Another child in the corner does not push it elsewhere.
    QMdiSubWindow* other = area.addSubWindow(new QLabel("other"));
    other->show();
    CreateOrRaise(&area, frmConfig);
    EXPECT_NE(frmConfig, nullptr);
    EXPECT_EQ(frmConfig->pos(), QPoint(0, 0));
}

TEST_F(ConfigWindow, ReadFillsEveryControl) {
    AnswerGet(peer, "EF 0C 40 00 04", "01 02 03 04");
    AnswerGet(peer, "81 58 00 00 04", "05 06 67 05");
    AnswerGet(peer, "81 58 00 04 05", "41 D2 C5 D1 0D"); // "A" and three Cyrillic letters in CP1251
    peer.Start();
    frmConfig->Read->click();
    Finish();
    EXPECT_EQ(frmConfig->EditAddress->text(), "5");
    EXPECT_TRUE(frmConfig->CheckBoxModem->isChecked());
    EXPECT_TRUE(frmConfig->CheckBoxPacket->isChecked());
    EXPECT_TRUE(SpeedItem(3)->isChecked());
    EXPECT_EQ(frmConfig->EditInitLine->text(), QString::fromUtf8("AТЕС"));
    EXPECT_TRUE(frmConfig->Write->isEnabled());
    EXPECT_TRUE(frmConfig->isEnabled());
    EXPECT_EQ(frmConfig->WaitForm, nullptr);
    EXPECT_EQ(TheRecorder().messages, Msgs{});
}

TEST_F(ConfigWindow, WriteSendsTheTypedSettings) {
    frmConfig->EditAddress->setText("5");
    frmConfig->CheckBoxModem->setChecked(true);
    frmConfig->CheckBoxPacket->setChecked(true);
    SpeedItem(2)->setChecked(true);
    frmConfig->EditInitLine->setText("ATZ");
    frmConfig->Write->setEnabled(true);
    AnswerSet(peer, "81 58 00 00 04", "05 06 33 04");
    AnswerSet(peer, "81 58 00 04 04", "41 54 5A 0D");
    AnswerSet(peer, "EF 0C 00 02 01", "00");
    peer.Start();
    frmConfig->Write->click();
    Finish();
    EXPECT_EQ(TheRecorder().messages, Msgs{});
}

TEST_F(ConfigWindow, TheInitLineGoesOutAsCp1251AndItsBytesAreCounted) {
    frmConfig->EditAddress->setText("1");
    frmConfig->EditInitLine->setText(QString::fromUtf8("ЖДИ"));
    AnswerSet(peer, "81 58 00 00 04", "01 00 10 04");
    AnswerSet(peer, "81 58 00 04 04", "C6 C4 C8 0D");
    AnswerSet(peer, "EF 0C 00 02 01", "00");
    peer.Start();
    frmConfig->WriteClick();
    Finish();

    // 32 Cyrillic letters are 32 bytes: too long.
    frmConfig->EditInitLine->setText(QString::fromUtf8("Ж").repeated(32));
    frmConfig->WriteClick();
    EXPECT_EQ(TheRecorder().messages,
              (Msgs{{"Номер должен состоять из 31 латинских букв или цифр.", "ОШИБКА ДАННЫХ",
                     MessageIcon::Information}}));
    EXPECT_EQ(frmConfig->focusWidget(), frmConfig->EditInitLine);
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
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
    EXPECT_TRUE(pty.Receive(-1, 50).empty());
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
    for (int i = 0; i < 3; ++i) peer.Expect("B0").Reply("07");
    peer.Start();
    frmConfig->Read->click();
    Finish();
    EXPECT_TRUE(seen);
    EXPECT_EQ(TheRecorder().messages.size(), 1u);
    // A failed first exchange changes nothing.
    EXPECT_EQ(frmConfig->EditAddress->text(), "9");
    EXPECT_EQ(frmConfig->EditInitLine->text(), "kept");
    EXPECT_TRUE(SpeedItem(0)->isChecked());
    EXPECT_FALSE(frmConfig->Write->isEnabled());
    EXPECT_TRUE(frmConfig->isEnabled());
    EXPECT_EQ(frmConfig->WaitForm, nullptr);
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
