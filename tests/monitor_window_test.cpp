// The packet monitor window end to end: its receive loop inside the menu
// command, packets from a pseudo-terminal shown as coloured lines, silence,
// "Очистить", the main window closing, and MainPort replaced meanwhile.
#include "app/MainForm.h"
#include "app/OptionsDlg.h"
#include "base/Paths.h"
#include "base/Timing.h"
#include "monitor/Uviewpacket.h"
#include "serial/Rs232.h"
#include "sim/Simulator.h"
#include "support/Pty.h"
#include "support/Recorder.h"
#include "support/ScopedExecutableDir.h"
#include "support/WindowChecks.h"
#include "ui/LogSwitch.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace {

struct ShownLine {
    std::string text;
    QColor color;
};

std::vector<ShownLine> Shown(const TViewPacket& window) {
    std::vector<ShownLine> lines;
    const QTextDocument* doc = window.RichEdit->document();
    if (doc->isEmpty()) return lines;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QColor color;
        if (auto it = block.begin(); !it.atEnd()) color = it.fragment().charFormat().foreground().color();
        lines.push_back({block.text().toStdString(), color});
    }
    return lines;
}

long long ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

// Collects the warnings of Qt's socket notifiers (one polling a closed
// descriptor says "Invalid socket").
std::vector<std::string>* qtWarnings = nullptr;
void CollectWarnings(QtMsgType, const QMessageLogContext&, const QString& text) {
    if (qtWarnings && text.contains("QSocketNotifier")) qtWarnings->push_back(text.toStdString());
}

const QColor DarkGreen(0, 128, 0), Red(255, 0, 0), Blue(0, 0, 255);

class Monitor : public ::testing::Test {
protected:
    void SetUp() override {
        LinkPorts();
        AppOptions = TAppOptions{};
        TheRecorder().Clear();
        qtWarnings = &warnings;
        previousHandler = qInstallMessageHandler(CollectWarnings);
        form = new TMainForm;
        form->show();
        ASSERT_TRUE(MainPort && MainPort->Ok);
    }
    void TearDown() override {
        delete form;
        qInstallMessageHandler(previousHandler);
        qtWarnings = nullptr;
        EXPECT_TRUE(warnings.empty()) << warnings.front();
        AppOptions = TAppOptions{};
    }

    virtual void LinkPorts() {
        dir.LinkCom(2, com2.SlavePath());
        dir.LinkCom(3, com3.SlavePath());
        dir.LinkCom(7, "/nonexistent/tty");
    }

    // Runs "Тест пакетов"; `step` is called every 5 ms inside the monitor's
    // loop until it returns true, then the monitor is closed. Returns when
    // the menu command has returned.
    void RunMonitor(const std::function<bool(TViewPacket&)>& step, int limitMs = 10000) {
        QTimer driver;
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&driver, &QTimer::timeout, [&] {
            if (!ViewPacket) return;
            window = ViewPacket;
            const bool done = step(*ViewPacket);
            if (clock.elapsed() > limitMs) ADD_FAILURE() << "monitor script timed out";
            if ((done || clock.elapsed() > limitMs) && ViewPacket) ViewPacket->close();
        });
        driver.start(5);
        form->mnuTestPacket->trigger();
        driver.stop();
    }

    // A sequence of steps, each run until it returns true.
    static std::function<bool(TViewPacket&)> Steps(std::vector<std::function<bool(TViewPacket&)>> steps) {
        auto index = std::make_shared<size_t>(0);
        return [steps = std::move(steps), index](TViewPacket& w) {
            while (*index < steps.size() && steps[*index](w))
                ++*index;
            return *index == steps.size();
        };
    }
    static std::function<bool(TViewPacket&)> LinesShown(size_t count) {
        return [count](TViewPacket& w) { return Shown(w).size() >= count; };
    }
    static std::function<bool(TViewPacket&)> Send(PtyPair& pty, const std::string& hex) {
        return [&pty, hex](TViewPacket&) {
            pty.Send(Bytes(hex));
            return true;
        };
    }
    std::function<bool(TViewPacket&)> ChoosePort(const char* number) {
        return [number](TViewPacket&) {
            MainForm->Options1->trigger();
            OptionsDlg->Edit2->setText(number);
            OptionsDlg->Button1->click();
            return true;
        };
    }

    TempDir dir;
    ScopedExecutableDir exeDir{dir.Path()};
    PtyPair com2, com3;
    TMainForm* form = nullptr;
    QPointer<TViewPacket> window;
    std::vector<std::string> warnings;
    QtMessageHandler previousHandler = nullptr;
};

TEST_F(Monitor, PacketsArriveAsColouredLinesAndSilenceEndsAPacket) {
    QElapsedTimer sinceLastByte;
    qint64 silenceMs = 0;
    int sendTick = -1, endTick = -1;
    bool sawPacket = false;
    RunMonitor(Steps({
        [](TViewPacket& w) {
            EXPECT_EQ(w.windowTitle(), "ViewPacket");
            EXPECT_EQ(Plain(w.Button1->text()), QString::fromUtf8("Очистить"));
            EXPECT_TRUE(w.RichEdit->isReadOnly());
            EXPECT_EQ(w.RichEdit->lineWrapMode(), QPlainTextEdit::NoWrap);
            EXPECT_TRUE(QFontInfo(w.RichEdit->font()).fixedPitch());
            return w.Looping();
        },
        // Send just before a tick is due: only a timer restarted by the batch
        // makes the silence last three full ticks from here.
        [](TViewPacket& w) { return w.Timer1->remainingTime() <= 10; },
        [&](TViewPacket& w) {
            // Right after each tick: the tick on which the packet under way ended.
            QObject::connect(w.Timer1, &QTimer::timeout, &w, [&] {
                const bool inPacket = w.Monitor().Framer().InPacket();
                if (sawPacket && !inPacket && endTick < 0) endTick = w.Monitor().TickCount();
                sawPacket = sawPacket || inPacket;
            });
            sendTick = w.Monitor().TickCount();
            com2.Send(Bytes("41 42 23 23 01 02 00 00 00 AA 23 23 01 02 00 01 00 AA 23 23 01 02 00 00 00"));
            sinceLastByte.start();
            return true;
        },
        LinesShown(3),
        [&](TViewPacket& w) {
            if (Shown(w).size() < 4) return false;
            silenceMs = sinceLastByte.elapsed();
            return true;
        },
        Send(com2, "23 23 05 06 03 00"),
        LinesShown(5),
        Send(com2, "23 23"),
        LinesShown(6),
        // Choosing the command again only brings the monitor forward.
        [&](TViewPacket& w) {
            form->mnuTestPacket->trigger();
            EXPECT_EQ(ViewPacket, &w);
            EXPECT_EQ(form->MdiArea()->subWindowList().size(), 1);
            return true;
        },
    }));

    ASSERT_TRUE(window);
    const auto lines = Shown(*window);
    ASSERT_EQ(lines.size(), 6u);
    const QColor standard = window->DefaultColor;
    EXPECT_EQ(lines[0].text, "BAD  : 41 42 ");
    EXPECT_EQ(lines[0].color, DarkGreen);
    EXPECT_EQ(lines[1].text, "OK   : 01 02 00 00 00 [AA] ");
    EXPECT_EQ(lines[1].color, standard);
    EXPECT_EQ(lines[2].text, "CRC  : 01 02 00 01 00 [AA] ");
    EXPECT_EQ(lines[2].color, Red);
    EXPECT_EQ(lines[3].text, "OK_NA: 01 02 00 00 00 ");
    EXPECT_EQ(lines[3].color, standard);
    EXPECT_EQ(lines[4].text, "PART : 05 06 03 00 ");
    EXPECT_EQ(lines[4].color, Blue);
    EXPECT_EQ(lines[5].text, "PART : ");
    // Three whole 50 ms ticks after the batch (a timer left running would end
    // it after little more than two), and not much more: counted in ticks,
    // which a loaded machine stretches but does not add. The batch is read at
    // once, or on a loaded machine by the next tick or the one after.
    EXPECT_GE(silenceMs, 140);
    EXPECT_GE(endTick - sendTick, 3);
    EXPECT_LE(endTick - sendTick, 5);

    // Closed: the loop has returned, the window goes once the handler returned.
    EXPECT_EQ(ViewPacket, nullptr);
    EXPECT_FALSE(window->Looping());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);
}

TEST_F(Monitor, ClearEmptiesTheViewAndKeepsThePacketUnderWay) {
    RunMonitor(Steps({
        Send(com2, "41 23 23 01 02 00 00"),
        [](TViewPacket& w) { return w.Monitor().Framer().InPacket() && w.Monitor().Framer().Count() == 4; },
        [](TViewPacket& w) {
            EXPECT_EQ(Shown(w).size(), 1u);
            w.Button1->click();
            EXPECT_TRUE(Shown(w).empty());
            return true;
        },
        Send(com2, "00 AA"),
        LinesShown(1),
    }));
    ASSERT_TRUE(window);
    const auto lines = Shown(*window);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "OK   : 01 02 00 00 00 [AA] ");
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The time switch dates the lines shown from then on; the log holds every
// line with its time; the view keeps only its most recent lines, colours intact.
TEST_F(Monitor, TimeSwitchLogAndTheViewsLimit) {
    const std::string path = dir.File("monitor.log");
    RunMonitor(Steps({
        [&](TViewPacket& w) {
            EXPECT_FALSE(w.findChild<QCheckBox*>("TimeCheckBox")->isChecked());
            w.SetMaxShownLines(3);
            // Chosen without an extension: the log gets ".log".
            w.Log->ChooseFile = [&] { return QString::fromStdString(dir.File("monitor")); };
            w.findChild<QCheckBox*>("LogCheckBox")->click();
            EXPECT_EQ(w.findChild<QLabel*>("LogFileLabel")->text(), QString::fromUtf8("Журнал: monitor.log"));
            return w.Looping();
        },
        Send(com2, "23 23 01 02 00 00 00 AA 23 23 01 02 00 01 00 AA"),
        LinesShown(2),
        [](TViewPacket& w) {
            w.findChild<QCheckBox*>("TimeCheckBox")->click();
            return true;
        },
        Send(com2, "41 42 23 23 01 02 00 00 00 AA 23 23 01 02 00 01 00 AA"),
        [](TViewPacket& w) { return Shown(w).back().text.find(":") == 2; },
    }));
    ASSERT_TRUE(window);
    const auto shown = Shown(*window);
    const auto logged = LinesOf(dir.Read("monitor.log"));
    ASSERT_EQ(shown.size(), 3u);
    ASSERT_EQ(logged.size(), 5u);
    const std::regex dated(R"(\d\d:\d\d:\d\d\.\d{3} ( {7}|[ ]*\+\d+) (OK   |CRC  |BAD  ): .*)");
    for (const auto& line : logged)
        EXPECT_TRUE(std::regex_match(line, dated)) << line;
    EXPECT_EQ(logged[0].substr(13, 8), std::string(8, ' ')); // no gap before the first line
    EXPECT_EQ(logged[0].substr(21), "OK   : 01 02 00 00 00 [AA] ");
    EXPECT_EQ(logged[1].substr(21), "CRC  : 01 02 00 01 00 [AA] ");
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(shown[i].text, logged[i + 2]);
    EXPECT_EQ(shown[0].color, DarkGreen);
    EXPECT_EQ(shown[1].color, window->DefaultColor);
    EXPECT_EQ(shown[2].color, Red);
}

// The window starts at its own size, which is also its smallest, and may be
// enlarged: the view takes the room it gains.
TEST_F(Monitor, EnlargedTheViewGrowsWithIt) {
    QSize start, view;
    const QSize more(200, 120);
    RunMonitor(Steps({
        [&](TViewPacket& w) {
            start = w.size();
            view = w.RichEdit->size();
            EXPECT_EQ(w.minimumSize(), start);
            EXPECT_GT(w.maximumHeight(), 4 * start.height());
            EXPECT_TRUE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
            w.resize(start + more);
            return w.Looping();
        },
        // Wider, the note above the view may take fewer lines: the view gains
        // at least what the window did.
        [&](TViewPacket& w) {
            return w.RichEdit->width() == view.width() + more.width() &&
                   w.RichEdit->height() >= view.height() + more.height();
        },
    }));
}

TEST_F(Monitor, ALogThatCannotBeWrittenStopsWithOneMessageAndTheViewGoesOn) {
    TimingConstants timing;
    timing.LogFlushMs = 20;
    SetTimingForTests(timing);
    RunMonitor(Steps({
        [](TViewPacket& w) {
            w.Log->ChooseFile = [] { return QStringLiteral("/dev/full"); };
            w.LogCheckBox->click();
            return w.Looping();
        },
        Send(com2, "23 23 01 02 00 00 00 AA"),
        [](TViewPacket& w) { return !TheRecorder().messages.empty() && Shown(w).size() == 1; },
        Send(com2, "23 23 01 02 00 00 00 AA"),
        LinesShown(2),
    }));
    SetTimingForTests(TimingConstants{});
    ASSERT_TRUE(window);
    EXPECT_EQ(TheRecorder().messages,
              (std::vector<RecordedMessage>{
                  {"Журнал остановлен: нет места на диске. Окно работает дальше; выберите другой файл.",
                   "Журнал", MessageIcon::Warning}}));
    EXPECT_FALSE(window->LogCheckBox->isChecked());
    EXPECT_TRUE(window->LogFileLabel->text().isEmpty());
}

TEST_F(Monitor, DenseBurstShowsEveryPacketInOrder) {
    std::string burst;
    for (int i = 0; i < 300; ++i)
        burst += " 23 23 01 02 00 00 00 " + Hex({static_cast<std::uint8_t>(i)});
    RunMonitor(Steps({Send(com2, burst), LinesShown(300)}));
    ASSERT_TRUE(window);
    const auto lines = Shown(*window);
    ASSERT_EQ(lines.size(), 300u);
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(lines[i].text, "OK   : 01 02 00 00 00 [" + Hex({static_cast<std::uint8_t>(i)}) + "] ") << i;
}

TEST_F(Monitor, ClosingTheMainWindowEndsTheLoopFirst) {
    bool closedFromInside = false;
    RunMonitor(Steps({
        Send(com2, "23 23 01 02 00 00 00 AA"),
        LinesShown(1),
        [&](TViewPacket& w) {
            form->close();
            closedFromInside = true;
            // The monitor was closed before the main window went on closing.
            EXPECT_TRUE(w.Closing);
            EXPECT_EQ(ViewPacket, nullptr);
            return true;
        },
    }));
    EXPECT_TRUE(closedFromInside);
    EXPECT_EQ(ViewPacket, nullptr);
    ASSERT_TRUE(window);
    EXPECT_FALSE(window->Looping());
    // The application ends: the main window's destruction closes the port.
    delete form;
    form = nullptr;
    EXPECT_FALSE(window);
    EXPECT_EQ(MainPort, nullptr);
    Rs232Port again(2, 115200);
    EXPECT_TRUE(again.Ok);
}

TEST_F(Monitor, WindowDestroyedWhileItsLoopRunsEndsTheLoop) {
    bool destroyed = false;
    RunMonitor(Steps({
        Send(com2, "23 23 01 02 00 00 00 AA"),
        LinesShown(1),
        [&](TViewPacket& w) {
            delete &w;
            destroyed = true;
            return true;
        },
    }));
    // The menu command has returned without touching the freed window.
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(window);
    EXPECT_EQ(ViewPacket, nullptr);
}

TEST_F(Monitor, FollowsMainPortWhenTheSettingsDialogReplacesIt) {
    RunMonitor(Steps({
        Send(com2, "23 23 01 02 00 00 00 A1"),
        LinesShown(1),
        // Same number: the port is closed and opened anew.
        ChoosePort("2"),
        Send(com2, "23 23 01 02 00 00 00 A2"),
        LinesShown(2),
        // Another number: bytes on the old line are no longer read.
        ChoosePort("3"),
        Send(com2, "23 23 01 02 00 00 00 B0"),
        Send(com3, "23 23 01 02 00 00 00 A3"),
        LinesShown(3),
        // A port that cannot be opened: the monitor waits without a port.
        ChoosePort("7"),
        [](TViewPacket& w) { return w.Monitor().TickCount() >= 4; },
        ChoosePort("3"),
        Send(com3, "23 23 01 02 00 00 00 A4"),
        LinesShown(4),
    }));
    ASSERT_TRUE(window);
    const auto lines = Shown(*window);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "OK   : 01 02 00 00 00 [A1] ");
    EXPECT_EQ(lines[1].text, "OK   : 01 02 00 00 00 [A2] ");
    EXPECT_EQ(lines[2].text, "OK   : 01 02 00 00 00 [A3] ");
    EXPECT_EQ(lines[3].text, "OK   : 01 02 00 00 00 [A4] ");
    ASSERT_EQ(TheRecorder().messages.size(), 1u) << Describe(TheRecorder().messages);
    EXPECT_EQ(TheRecorder().messages[0].caption, "ОШИБКА СИСТЕМЫ");
    EXPECT_EQ(AppOptions.PortNumber, 3);
}

TEST_F(Monitor, WaitsWithoutSpinningWhenIdleOrWhenTheFarEndHangsUp) {
    long long idleCpu = 0, hungUpCpu = 0;
    long long cpuStart = 0;
    QElapsedTimer clock;
    RunMonitor(Steps({
        [&](TViewPacket&) {
            cpuStart = ProcessCpuMs();
            clock.start();
            return true;
        },
        [&](TViewPacket&) {
            if (clock.elapsed() < 500) return false;
            idleCpu = ProcessCpuMs() - cpuStart;
            com2.CloseMaster();
            cpuStart = ProcessCpuMs();
            clock.restart();
            return true;
        },
        [&](TViewPacket&) {
            if (clock.elapsed() < 500) return false;
            hungUpCpu = ProcessCpuMs() - cpuStart;
            return true;
        },
    }));
    // A spinning loop would use the whole 500 ms.
    EXPECT_LT(idleCpu, 100);
    EXPECT_LT(hungUpCpu, 100);
}

// The simulated gateway's packet source on COM2.
class SimulatorMonitor : public Monitor {
protected:
    void LinkPorts() override { Sim().LinkCom(dir.Path(), 2); }
    virtual sim::Simulator& Sim() = 0;
    // The source's eight items and then a frame of its own, each shown as
    // one line of its class.
    void EveryLineClass(const sim::PacketFrame& last);
};

class MonitorOnSimulator : public SimulatorMonitor {
protected:
    sim::Simulator& Sim() override { return simulator; }
    sim::Simulator simulator;
};

// The line the monitor shows for a frame from the source, marker stripped.
std::string Expected(const char* prefix, std::vector<std::uint8_t> bytes, bool bracketed) {
    bytes.erase(bytes.begin(), bytes.begin() + 2);
    std::string text = prefix;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const bool last = bracketed && i + 1 == bytes.size();
        text += (last ? "[" : "") + Hex({bytes[i]}) + (last ? "] " : " ");
    }
    return text;
}

void SimulatorMonitor::EveryLineClass(const sim::PacketFrame& last) {
    using sim::PacketItem;
    sim::Simulator& simulator = Sim();
    simulator.Start();
    sim::PacketStreamOptions stream;
    stream.IntervalMs = 400; // room for the monitor's silence of three ticks
    stream.Count = 8;        // ok ok crc ok nofinal ok cut garbage
    RunMonitor(Steps({
        [&](TViewPacket&) {
            simulator.StartPacketStream(stream);
            return true;
        },
        [&](TViewPacket& w) {
            return simulator.PacketItemsSent() == 8 && !w.Monitor().Framer().InPacket() &&
                   Shown(w).size() == 7;
        },
        [&](TViewPacket&) {
            simulator.EmitPacket(last);
            return true;
        },
        LinesShown(9),
    }));
    ASSERT_TRUE(window);
    const auto lines = Shown(*window);
    const auto item = [](PacketItem kind, int seq) { return sim::PacketStreamBytes(kind, seq); };
    const QColor standard = window->DefaultColor;
    const std::vector<std::pair<std::string, QColor>> expected = {
        {Expected("OK   : ", item(PacketItem::Ok, 0), true), standard},
        {Expected("OK   : ", item(PacketItem::Ok, 1), true), standard},
        {Expected("CRC  : ", item(PacketItem::WrongCrc, 2), true), Red},
        {Expected("OK   : ", item(PacketItem::Ok, 3), true), standard},
        {Expected("OK_NA: ", item(PacketItem::NoFinal, 4), false), standard},
        {Expected("OK   : ", item(PacketItem::Ok, 5), true), standard},
        {Expected("PART : ", item(PacketItem::CutShort, 6), false), Blue},
        {"BAD  : " + Hex(item(PacketItem::Garbage, 7)) + " ", DarkGreen},
        {Expected("OK   : ", sim::BuildPacket(last), true), standard},
    };
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].text, expected[i].first) << "line " << i;
        EXPECT_EQ(lines[i].color, expected[i].second) << "line " << i;
    }
}

TEST_F(MonitorOnSimulator, EveryLineClassFromThePacketSource) {
    sim::PacketFrame last;
    last.Data = {0x10, 0x20};
    EveryLineClass(last);
}

// A USB adapter at its default latency between the gateway and the PC, on a
// line timed as a real one: frames reach the monitor in pieces of up to 62
// bytes up to 16 ms apart, well within its silence of three 50 ms ticks.
class MonitorBehindUsbAdapter : public SimulatorMonitor {
protected:
    static sim::SimOptions Options() {
        sim::SimOptions options;
        options.PaceBaud = 115200;
        options.AdapterLatencyMs = 16;
        return options;
    }
    sim::Simulator& Sim() override { return simulator; }
    sim::Simulator simulator{Options()};
};

TEST_F(MonitorBehindUsbAdapter, FramesStayWholeAndApart) {
    sim::PacketFrame longFrame; // three USB packets, within the framer's 140 bytes
    for (int i = 0; i < 120; ++i)
        longFrame.Data.push_back(static_cast<std::uint8_t>(i));
    EveryLineClass(longFrame);
}

} // namespace
