// The Modbus console's state and behaviour without widgets: the send and
// clear commands, the receive loop that assembles every answer, the register
// value decoder, and the archive buttons. Each button starts a read of its
// archive session, whose identification answer the loop decodes and whose
// further answers it hands over; the session's reports become the window's
// lines, fields and messages. The console window forwards its events here and
// shows what this asks for through ConsoleScreen.
#pragma once
#include "archive/ArchiveSession.h"
#include "base/LineLog.h"
#include "base/Timing.h"
#include "console/ConsoleScreen.h"
#include "console/Framing.h"
#include "console/PollCsv.h"
#include "console/ValuePoller.h"
#include "serial/LineDriver.h"
#include "serial/Rs232.h"

#include <cstdint>
#include <functional>
#include <string>

// Hands a request block to the gateway (SendPacket in the program); false
// when the block did not go out, so that no answer is to be awaited.
using PacketSender = BlockSender;

// The notice under the panes when the console's own request got an answer
// whose check did not match.
inline constexpr const char* ChecksumMismatchText =
    "Контрольная сумма ответа не совпала: ответ искажён, значения ниже не верны. Повторите запрос; "
    "если повторяется - проверьте линию.";

// Shown in the hexadecimal pane when a request goes out while the packet
// monitor takes every byte the port receives.
inline constexpr const char* MonitorTakesAnswersText =
    "Открыто окно «Тест пакетов»: ответ примет оно, здесь он не появится. Закройте его, чтобы видеть ответы.";

// Areas of RxBuf.
inline constexpr int RxAnswerArea = 0;    // data of the last complete answer, then a 0 byte
inline constexpr int RxReceiveArea = 256; // data of the answer being received
inline constexpr int RxBufSize = 512;

// The CP1251 text of an edit read as an integer, or the toolkit's conversion
// error.
int IntOf(const std::string& text);

// The activity a poll names when it holds the line.
inline constexpr const char* PollActivity = "опрос прибора";

class ConsoleLogic : private ArchiveSessionObserver, private PollObserver, private LineConversation {
public:
    // `port` is asked for the port afresh at every read: a handler running
    // inside a message box may have replaced it. `clock` times the archive
    // read's waits and its progress (none: the steady clock).
    ConsoleLogic(ConsoleScreen& screen, PortAccessor port, PacketSender sender, char decimalSeparator,
                 SteadyClock clock = {});
    ConsoleLogic(const ConsoleLogic&) = delete;
    ConsoleLogic& operator=(const ConsoleLogic&) = delete;
    // Gives the line back; a read under way is left where it is (its
    // incomplete file keeps the rows read, the file asked for is untouched).
    ~ConsoleLogic() override;

    // Window events.
    void Button1Click(); // "Очистка"
    void Button2Click(); // "Отправить пакет"
    void Button3Click(); // "Считать суточный архив", or "Стоп" while its read runs
    void Button4Click(); // "Считать часовой архив", or "Стоп" while its read runs
    void Timer1Timer();  // the receive loop, every 100 ms
    void TimerQueryConfTimer();
    // The port has bytes to read: the receive loop's work at once, and the
    // identification goes on as soon as its answer is in (its timer stays
    // as the upper bound). Every tick, and this, also stops an archive read
    // whose answer is overdue.
    void PortReadable();

    // The receive loop's work on one byte read from the port.
    void ReceiveByte(std::uint8_t b);
    // Groups answer data into register values, shows them in the values
    // pane and captures version and configuration.
    void DecodeValueByte(std::uint8_t b);

    // Starts reading the day or hour archive of the meter in the address
    // edit into its file: the identification goes out and its polling starts.
    void StartArchiveRead(MeterArchive archive);
    // Whether an archive read (or its identification) runs.
    bool ArchiveRunning() const { return run_ != ArchiveRun::Idle; }
    // Stops the read under way: its awaited answer is let arrive (or time
    // out) first, so that the line is quiet when the read ends. `quiet`: no
    // message box at the end (the window is closing).
    void StopArchiveRead(bool quiet = false);
    // Each request is shown in the hexadecimal pane (and the log) as it goes
    // out, before its answer.
    void SetShowRequests(bool on) { showRequests_ = on; }

    // Hands a complete answer's data to the archive session: when a step is
    // due the receive counters restart for its answer before the session
    // takes it.
    void TakeArchiveAnswer(const std::uint8_t* data, std::int32_t count);
    // The line's driver: every read of the port, every request, the check of
    // every answer and the repeat of a garbled one go through it.
    LineDriver& Line() { return line_; }

    // Polling: the current request repeated every `intervalMs`, its answers
    // shown in the panes as a send's (each request clears them) and their
    // values reported to the screen. Refused with a message while another
    // holds the line or the packet monitor takes the answers; the poll
    // holds the line while it runs. An archive button stops it.
    bool StartPolling(int intervalMs);
    void StopPolling();
    // The poll's timer: the interval or an answer's time-out is due.
    void PollTimer();
    // The poll's values logged as CSV into `path` (see DefaultPollLogFile);
    // false with a message when it cannot be created.
    bool StartPollLog(const std::string& path);
    void StopPollLog() { PollLog.Close(); }

    // Time stamps and the log of the hexadecimal pane. With stamps on, the
    // first dump line of each answer begins with the time its first byte was
    // dumped and the gap since the previous answer's last byte. The log, open
    // or not, receives every line of that pane with its time (the dump lines
    // and the archive's progress lines), whether or not the panes show them.
    void SetTimeStamps(bool on) { timeStamps_ = on; }
    void SetWallClock(WallClock clock) { wallClock_ = std::move(clock); }
    LineLog& Log() { return log_; }
    // Writes the hexadecimal pane's line under way to the log as it stands.
    void EndLogLine();

    char DecimalSeparator;

    // Receive loop.
    std::int32_t CntByteInLine = 0;
    bool WaitAnswer = false;
    bool AnswerReady = false;
    std::int32_t AnswerByteCount = 0;
    std::int32_t AnswerPos = 0;
    std::int32_t AnswerDataLen = 0;
    std::uint8_t RxBuf[RxBufSize] = {};
    std::int32_t ManualRequest = 0;
    std::int32_t HourArhiv = 0;

    // Value decoder.
    std::int32_t ValueAddr = 0;
    std::int32_t ValueByteCnt = 0;
    std::uint8_t ValueBytes[4] = {};

    // Identification values as the decoder captures them, and the device type.
    std::int16_t DevVersion = 0;
    std::int16_t DevConfig1 = 0;
    std::int32_t DevConfig2 = 0;
    std::int32_t HaveVersion = 0;
    std::int32_t HaveConfig1 = 0;
    std::int32_t HaveConfig2 = 0;
    std::int32_t TypeNum = 0;

    // The archive buttons' reads.
    ArchiveSession Session;
    // The polling and its CSV log.
    ValuePoller Poller;
    PollCsvLog PollLog;

private:
    // What an archive button has started.
    enum class ArchiveRun { Idle, Identifying, Reading };

    // A tick's pane output is appended once per pane when its outermost
    // scope ends, also when the tick ends by an exception.
    class TickScope {
    public:
        explicit TickScope(ConsoleLogic& logic) : logic_(logic) { ++logic_.tickDepth_; }
        ~TickScope() {
            if (--logic_.tickDepth_ == 0) logic_.FlushPanes();
        }
        TickScope(const TickScope&) = delete;
        TickScope& operator=(const TickScope&) = delete;

    private:
        ConsoleLogic& logic_;
    };

    // Pane output of one tick is gathered here and appended once per pane.
    void Out(ConsolePane pane, const std::string& text);
    void FlushPanes();
    Rs232Port* Port() const;
    // LineConversation: the driver's bytes go through the receive loop's
    // work byte by byte; its frames, with their check, decide what is taken.
    void LineBytes(const std::uint8_t* bytes, std::size_t count) override;
    void LineFrameEnded(const LineFrame& frame) override;
    void LineAskedAgain() override;
    void ArchiveFrame(const LineFrame& frame);
    void PollFrame(const LineFrame& frame);
    // The identification's answer is in: the read goes on at once.
    void IdentificationAnswered(const LineFrame& frame);
    // ReceiveByte's parts, on an awaited answer's byte at AnswerPos: notes
    // whether the answer is an exception answer (and explains one to the
    // console's own request); reads a byte of an exception answer or of a
    // regular one. Each reading part tells whether the byte ends the answer.
    void WatchRefusal(std::uint8_t b);
    bool TakeRefusalByte(std::uint8_t b);
    bool TakeAnswerByte(std::uint8_t b);
    void DumpByte(std::uint8_t b);
    void BeginLogLine(const std::string& prefix);
    void ArmReceive(std::int32_t valueAddr);
    // False when the block did not go out.
    bool Send(const std::uint8_t* block, std::int32_t count, const AwaitOptions& await);
    // The session's requests: sent, and the receive loop awaits their answers.
    void SendArchiveRequest(const RequestBlock& block);
    std::chrono::steady_clock::time_point Now() const;
    void SetIdentificationPoll(bool enabled);
    // After a receive pass: ends a read that has nothing outstanding, stops
    // one whose answer is overdue, refreshes the progress.
    void CheckRun();
    // The port is missing, not open, or reports that its device went away.
    bool PortGone() const;
    void EndRun();
    // Refuses a command while the line is held: the holder's activity shown.
    // `whileWatched`: the command may go on while the packet monitor only
    // watches the line.
    bool LineRefused(bool whileWatched = false);
    // Says so when the console's own request has had no complete answer
    // within the answer time-out.
    void CheckManualAnswer();
    void ShowRequestLine(const std::uint8_t* block, std::int32_t count);
    void StopRun(ArchiveStopReason reason, int code = 0);
    void ShowProgress(bool force);
    std::string ProgressText(bool final) const;
    // A line of the hexadecimal pane (and the log) of its own.
    void ProgressLine(const std::string& text);
    void ShowMessage(const std::string& text, const std::string& caption);

    // Sends the poll's request as the send button does.
    void SendPollRequest();
    // After a receive pass or on the poll's timer: the poll's time.
    void CheckPoll();

    // PollObserver
    void Sampled(const PollSample& sample) override;
    void Missed(const PollCounts& counts) override;
    void PollStopped(PollStopReason reason, int code) override;

    // ArchiveSessionObserver
    void Identified(const DeviceIdentity& identity) override;
    void DecodeFromStartRegister() override;
    void StepLine(const std::string& text) override;
    void RowLength(std::int32_t length) override;
    void RowRead(std::int32_t rows) override;
    void Ended(const ArchiveOutcome& outcome) override;

    ConsoleScreen& screen_;
    PortAccessor port_;
    PacketSender sender_;
    SteadyClock clock_;
    LineDriver line_{port_, sender_, clock_};
    // The request under way is the poll's: its garbled answers are asked again.
    bool pollSend_ = false;
    std::string pending_[3];
    int tickDepth_ = 0;

    // The archive button's run: the function of its awaited answer, the
    // progress shown last.
    ArchiveRun run_ = ArchiveRun::Idle;
    bool identificationPoll_ = false;
    std::chrono::steady_clock::time_point progressShown_{};
    std::uint8_t awaitedFunction_ = 0;
    // The awaited answer is a Modbus exception answer to the run's request:
    // address, function | 0x80, code, two check bytes.
    bool exceptionAnswer_ = false;
    std::uint8_t exceptionCode_ = 0;
    // The stop button was pressed: the read ends once its awaited answer is
    // in or overdue; `quietStop_`: without a message box.
    bool stopping_ = false;
    bool quietStop_ = false;

    // The console's own request: its meter, when it went, whether its answer
    // is still awaited, and whether the answer so far is a refusal.
    int manualAddress_ = 0;
    std::chrono::steady_clock::time_point manualSentAt_{};
    bool manualAwaiting_ = false;
    bool manualRefusal_ = false;
    std::uint8_t manualCode_ = 0;
    bool showRequests_ = false;

    WallClock wallClock_ = SystemNowMs;
    LineLog log_{[this] { return wallClock_(); }};
    bool timeStamps_ = false;
    bool answerBegins_ = true; // the next dump line starts an answer
    std::int64_t lastAnswerEndMs_ = -1;
    std::string logLine_; // the hexadecimal pane's line under way, with its time
    bool logLineOpen_ = false;
};
