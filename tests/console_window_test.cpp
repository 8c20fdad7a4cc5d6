// The console window headless, through its real controls: its initial
// state, a request and its answer through the gateway's handshake on a
// pseudo-terminal, the conversion error, the menu command that opens it.
#include "app/MainForm.h"
#include "base/Files.h"
#include "base/Options.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "console/Uviewrs232.h"
#include "support/FakeConsoleScreen.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/ScopedProgramState.h"
#include "support/ScriptedPeer.h"
#include "support/WindowChecks.h"
#include "ui/LogSwitch.h"
#include "ui/MdiChild.h"
#include "ui/PortWatch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class ConsoleWindow : public ::testing::Test {
protected:
    void SetUp() override {
        // A comma as the decimal separator, from the locale as in the program.
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        TheRecorder().Clear();
        area.resize(1200, 900);
        CreateOrRaiseConsole();
    }
    void TearDown() override {
        if (ViewRS232) ViewRS232->close();
        QApplication::processEvents();
        TheRecorder().Clear();
        QLocale::setDefault(QLocale::c());
    }
    void CreateOrRaiseConsole() {
        window = CreateOrRaise(&area, ViewRS232, PortAccessor([] { return MainPort; }), world.link);
    }
    template <class T> T* Find(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Text(const char* edit) { return Find<QLineEdit>(edit)->text(); }
    QString Caption(const char* label) { return Find<QLabel>(label)->text(); }

    ScopedProgramState world;
    // The remembered request fields go to the test's folder.
    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    ScopedScreen screen{QSize(1920, 1080)}; // the window keeps its own size
    QMdiArea area;
    TViewRS232* window = nullptr;
};

TEST_F(ConsoleWindow, StartsWithTheFormsControlsAndStates) {
    EXPECT_EQ(window->windowTitle(), "ViewRS232");
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(Text("Edit3"), "1");
    EXPECT_EQ(Text("Edit4"), "4");
    EXPECT_EQ(Text("Edit1"), "0");
    EXPECT_EQ(Text("Edit2"), "4");
    EXPECT_EQ(Text("Edit5"), "");
    EXPECT_EQ(Text("Edit6"), "");
    const std::pair<const char*, const char*> labels[] = {
        {"Label1", "Адрес устройства"},
        {"Label4", "Фунуция"},
        {"Label2", "Начальный логический алрес"},
        {"Label3", "Количество регистров(1рег=2байта)"},
        {"Label16", "(для пакета 16 набор символов)"},
        {"Label5", "Тип устройства"},
        {"Label10", "Тип (TYPE_NUM) = "},
        {"Label11", "Версия:"},
        {"Label12", "Конфиг. 1:"},
        {"Label13", "Конфиг. 2:"},
        {"Label9", "Длинна строки"},
        {"Label6", "Номер строки"},
        {"Label7", "не определялось"},
        {"Label8", "не определялось"},
        {"Label14", "не определялось"},
        {"Label15", "не определялось"},
    };
    for (auto [name, caption] : labels)
        EXPECT_EQ(Caption(name), QString::fromUtf8(caption)) << name;
    const std::pair<const char*, const char*> buddies[] = {
        {"Label1", "Edit3"}, {"Label4", "Edit4"}, {"Label2", "Edit1"},    {"Label3", "Edit2"},
        {"Label9", "Edit6"}, {"Label6", "Edit5"}, {"Label5", "ComboBox1"}};
    for (auto [label, edit] : buddies)
        EXPECT_EQ(Find<QLabel>(label)->buddy()->objectName(), QString::fromLatin1(edit)) << label;
    const std::pair<const char*, const char*> buttons[] = {{"Button1", "Очистка"},
                                                           {"Button2", "Отправить пакет"},
                                                           {"Button3", "Считать суточный архив"},
                                                           {"Button4", "Считать часовой архив"}};
    for (auto [name, caption] : buttons)
        EXPECT_EQ(Plain(Find<QPushButton>(name)->text()), QString::fromUtf8(caption));
    EXPECT_EQ(Find<QGroupBox>("GroupBox2")->title(), QString::fromUtf8("Параметры прибора"));
    Find<QGroupBox>("GroupBox1");

    auto* check = Find<QCheckBox>("MemoCheckBox");
    EXPECT_EQ(Plain(check->text()), QString::fromUtf8("Активность Memo"));
    EXPECT_TRUE(check->isChecked());
    for (const char* memo : {"Memo1", "Memo2", "Memo3"}) {
        auto* m = Find<QPlainTextEdit>(memo);
        EXPECT_TRUE(m->toPlainText().isEmpty());
        EXPECT_TRUE(QFontInfo(m->font()).fixedPitch()) << memo;
        EXPECT_EQ(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(m->accessibleName(), QString::fromLatin1(memo));
    }
    auto* combo = Find<QComboBox>("ComboBox1");
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(combo->count(), 8);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->currentText(), "");

    auto* timer1 = Find<QTimer>("Timer1");
    EXPECT_TRUE(timer1->isActive());
    EXPECT_EQ(timer1->interval(), 100);
    EXPECT_FALSE(Find<QTimer>("Timer2")->isActive());
    auto* query = Find<QTimer>("TimerQueryConf");
    EXPECT_FALSE(query->isActive());
    EXPECT_EQ(query->interval(), 1000);
}

TEST_F(ConsoleWindow, MemosTakeTheLogicsTextOnTheirOwnLines) {
    window->AppendToPane(ConsolePane::HexDump, "01 02 \r\n03 ");
    window->AddProgressLine("\xC8\xED\xE8\xF6\xE8\xE0\xEB\xE8\xE7\xE0\xF6\xE8\xFF"); // "Инициализация"
    window->AppendToPane(ConsolePane::HexDump, "04 ");
    window->AddProgressLine("x");
    window->AppendToPane(ConsolePane::CharDump, "A\xC0.");
    EXPECT_EQ(window->Memo1->toPlainText(), QString::fromUtf8("01 02 \n03 \nИнициализация\n04 \nx\n"));
    EXPECT_EQ(window->Memo2->toPlainText(), QString::fromUtf8("AА."));
    window->ClearPanes();
    EXPECT_EQ(window->Memo1->toPlainText(), "");
}

TEST_F(ConsoleWindow, ARequestTypedAndSentWithEnterShowsItsAnswer) {
    TimingConstants fast;
    fast.ReadTimeoutBaseMs = 300;
    SetTimingForTests(fast);
    ConsolePort port;
    ScriptedPeer gateway(port.pty);
    gateway.Expect("11").Reply("22").Expect("06 01 04 00 64 00 04").Reply("00");
    gateway.Wait(20).Reply("01 04 08 41 20 00 00 40 48 00 00 5E 3A");
    gateway.Start();

    window->Edit1->setText("100");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(window->Edit1, &enter);
    EXPECT_TRUE(WaitUntil([&] { return !window->Logic().WaitAnswer; }));
    EXPECT_EQ(gateway.Finish(), "11 (22) 06 01 04 00 64 00 04 (00 01 04 08 41 20 00 00 40 48 00 00 5E 3A)");
    EXPECT_EQ(window->Memo1->toPlainText(), "01 04 08 41 20 00 00 40 48 00 00 5E 3A \n");
    EXPECT_EQ(window->Memo2->toPlainText(), QString::fromUtf8("...A ..@H..^:\n"));
    EXPECT_EQ(window->Memo3->toPlainText(), "G1  (100): 10\nG2  (102): 3,125\n");
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    SetTimingForTests(TimingConstants{});
}

TEST_F(ConsoleWindow, TabMovesFromTheFirstEditThroughEveryControlAndNeverIntoADump) {
    EXPECT_EQ(window->focusWidget(), window->Edit3);
    QStringList order;
    QWidget* w = window->Edit3;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->focusProxy() &&
            window->widget()->isAncestorOf(w))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != window->Edit3);
    EXPECT_EQ(order, (QStringList{"Edit3",        "Edit4",        "Edit1",
                                  "Edit2",        "Button2",      "PollCheckBox",
                                  "PollInterval", "ComboBox1",    "Memo3",
                                  "Button3",      "Button4",      "Edit6",
                                  "Edit5",        "Button1",      "Memo1",
                                  "Memo2",        "MemoCheckBox", "ShowArchiveButton",
                                  "TimeCheckBox", "LogCheckBox",  "RequestsCheckBox"}));
    for (QPlainTextEdit* memo : {window->Memo1, window->Memo2, window->Memo3}) {
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QApplication::sendEvent(memo, &tab);
        EXPECT_FALSE(memo->toPlainText().contains(QLatin1Char('\t'))) << memo->objectName().toStdString();
    }
}

TEST_F(ConsoleWindow, ANonNumericEditIsReportedAndNothingIsSent) {
    ConsolePort port;
    window->Edit3->setText("1x");
    window->Button2->click();
    ASSERT_EQ(TheRecorder().messages.size(), 1u);
    EXPECT_EQ(TheRecorder().messages[0].text, "'1x' is not a valid integer value");
    EXPECT_EQ(TheRecorder().messages[0].caption, "Конфигуратор");
    EXPECT_EQ(Hex(port.pty.Receive(-1, 50)), "");
    EXPECT_TRUE(window->Timer1->isActive());
}

TEST_F(ConsoleWindow, UncheckedBoxKeepsTheMemosEmpty) {
    ConsolePort port;
    window->MemoCheckBox->setChecked(false);
    port.pty.Send(Bytes("41 42 43"));
    EXPECT_TRUE(WaitUntil([&] { return window->Logic().CntByteInLine == 3; }));
    EXPECT_EQ(window->Memo1->toPlainText(), "");
    window->MemoCheckBox->setChecked(true);
    port.pty.Send(Bytes("44"));
    EXPECT_TRUE(WaitUntil([&] { return window->Logic().CntByteInLine == 4; }));
    EXPECT_EQ(window->Memo1->toPlainText(), "44 ");
}

// The time switch stamps the first dump line; the log holds that line as
// shown, goes on while the memos are switched off, and keeps the line under
// way when it is switched off.
TEST_F(ConsoleWindow, TimeSwitchAndLogOfTheHexadecimalDump) {
    ConsolePort port;
    auto* time = Find<QCheckBox>("TimeCheckBox");
    auto* log = Find<QCheckBox>("LogCheckBox");
    EXPECT_FALSE(time->isChecked());
    EXPECT_FALSE(log->isChecked());
    window->Log->ChooseFile = [&] { return QString::fromStdString(dir.File("console.log")); };
    log->click();
    EXPECT_EQ(Caption("LogFileLabel"), QString::fromUtf8("Журнал: console.log"));
    time->click();
    port.pty.Send(Bytes("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"));
    EXPECT_TRUE(WaitUntil([&] { return window->Memo1->toPlainText().endsWith("0F \n"); }));
    window->MemoCheckBox->setChecked(false);
    port.pty.Send(Bytes("10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20"));
    EXPECT_TRUE(WaitUntil([&] { return window->Logic().CntByteInLine == 1; }));
    log->click();
    EXPECT_EQ(Caption("LogFileLabel"), "");

    const QStringList shown = window->Memo1->toPlainText().split('\n');
    const QStringList logged = QString::fromStdString(dir.Read("console.log")).split('\n');
    ASSERT_EQ(logged.size(), 4); // three lines and the empty rest
    EXPECT_TRUE(shown[0].endsWith(" 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "))
        << shown[0].toStdString();
    EXPECT_EQ(shown[0].indexOf(':'), 2);
    EXPECT_EQ(logged[0], shown[0]);
    EXPECT_EQ(logged[1].mid(12), "         10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F ");
    EXPECT_EQ(logged[2].mid(12), "         20 "); // the line under way when the log was switched off
}

TEST_F(ConsoleWindow, ClosingClearsTheGlobalAndStopsReading) {
    window->close();
    // Freed later from the event loop; meanwhile it reads nothing.
    for (QTimer* timer : window->findChildren<QTimer*>())
        EXPECT_FALSE(timer->isActive()) << timer->objectName().toStdString();
    EXPECT_FALSE(window->Watch().Armed());
    QApplication::processEvents();
    EXPECT_EQ(ViewRS232, nullptr);
}

TEST_F(ConsoleWindow, ClosingWhileAHandlersMessageIsOpenWaitsForTheHandler) {
    QPointer<TViewRS232> alive(window);
    window->Edit3->setText("1x");
    TheRecorder().onShow = [&](const RecordedMessage&) {
        // The box's nested loop: the user closes the window, deferred
        // deletions run.
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(alive.isNull());
    };
    window->Button2->click();
    EXPECT_FALSE(alive.isNull());
    EXPECT_TRUE(WaitUntil([&] { return alive.isNull(); }));
    EXPECT_EQ(ViewRS232, nullptr);
}

TEST_F(ConsoleWindow, AnswersAreReadOnArrivalFromWhateverPortIsCurrent) {
    // Timer1 far off: only the port watch can bring the answers in.
    TimingConstants slowTick;
    slowTick.ReadTimeoutBaseMs = 300;
    slowTick.ConsoleTickMs = 60000;
    SetTimingForTests(slowTick);
    window->close();
    QApplication::processEvents();
    CreateOrRaiseConsole();
    ConsolePort port;
    auto request = [&](PtyPair& line) {
        ScriptedPeer gateway(line);
        gateway.Expect("11").Reply("22").Expect("06 01 04 00 00 00 04").Reply("00");
        gateway.Wait(20).Reply("01 04 08 41 20 00 00 40 48 00 00 5E 3A");
        gateway.Start();
        window->Button2->click();
        EXPECT_TRUE(WaitUntil([&] { return !window->Logic().WaitAnswer; }));
        gateway.Finish();
    };
    request(port.pty);
    EXPECT_EQ(window->Watch().Watched(), MainPort);

    // The settings dialog's way: the old port closed, a new one opened.
    PtyPair other;
    Rs232Port* old = MainPort;
    MainPort = new Rs232Port(other.SlavePath(), 115200);
    delete old;
    request(other);
    EXPECT_EQ(window->Watch().Watched(), MainPort);
    EXPECT_EQ(window->Memo3->toPlainText(), "--  (0): 10\n--  (2): 3,125\n");

    // No port: nothing watched.
    Rs232Port* kept = MainPort;
    MainPort = nullptr;
    window->Button1->click();
    EXPECT_FALSE(window->Watch().Armed());
    MainPort = kept;
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
    SetTimingForTests(TimingConstants{});
}

TEST_F(ConsoleWindow, TheRequestFieldsComeBackInTheNextRun) {
    window->Edit3->setText("17");
    window->Edit4->setText("16");
    window->Edit1->setText("256");
    window->Edit2->setText(QString::fromUtf8("Щит 3; a=b \"x\""));
    window->ComboBox1->setEditText(QString::fromUtf8("Модель Б-11"));
    window->PollInterval->setValue(2500);
    window->close();
    QApplication::processEvents();
    ASSERT_EQ(ViewRS232, nullptr);
    EXPECT_TRUE(FileExists(dir.File(ConsoleSettingsFile)));

    CreateOrRaiseConsole();
    EXPECT_EQ(Text("Edit3"), "17");
    EXPECT_EQ(Text("Edit4"), "16");
    EXPECT_EQ(Text("Edit1"), "256");
    EXPECT_EQ(Text("Edit2"), QString::fromUtf8("Щит 3; a=b \"x\""));
    EXPECT_EQ(window->ComboBox1->currentText(), QString::fromUtf8("Модель Б-11"));
    EXPECT_EQ(window->PollInterval->value(), 2500);
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST_F(ConsoleWindow, StoredFieldsThatDoNotFitFallBackToTheDefaults) {
    window->close();
    QApplication::processEvents();
    dir.Write(ConsoleSettingsFile, "[request]\naddress=abc\nfunction=3\nregister=70000\ncount=x\n"
                                   "poll-interval=5\ndevice=\"" +
                                       std::string(100, 'W') + "\"\n");
    CreateOrRaiseConsole();
    EXPECT_EQ(Text("Edit3"), "1");
    EXPECT_EQ(Text("Edit4"), "3");
    EXPECT_EQ(Text("Edit1"), "0");
    EXPECT_EQ(Text("Edit2"), "4");
    EXPECT_EQ(window->ComboBox1->currentText(), "");
    EXPECT_EQ(window->PollInterval->value(), 1000);
    EXPECT_TRUE(TheRecorder().messages.empty()) << Describe(TheRecorder().messages);
}

TEST(ConsoleMenu, TheMenuCommandCreatesTheConsoleOnceAndRaisesItAfter) {
    TempDir dir;
    PtyPair pty;
    ScopedExecutableDir exeDir{dir.Path()};
    dir.LinkCom(3, pty.SlavePath());
    const TAppOptions saved = AppOptions;
    AppOptions.PortNumber = 3;
    {
        TMainForm form;
        form.RS2321->trigger();
        ASSERT_NE(ViewRS232, nullptr);
        TViewRS232* first = ViewRS232;
        EXPECT_EQ(form.MdiArea()->subWindowList().size(), 1);
        form.RS2321->trigger();
        EXPECT_EQ(ViewRS232, first);
        EXPECT_EQ(form.MdiArea()->subWindowList().size(), 1);
        EXPECT_EQ(form.MdiArea()->activeSubWindow(), first);
    }
    EXPECT_EQ(ViewRS232, nullptr);
    AppOptions = saved;
}

} // namespace
