// The Modbus console's state and behaviour without widgets: the send and
// clear commands, the receive loop that assembles every answer, the register
// value decoder and the device identification. It owns the archive transfer,
// feeds it every completed answer and takes its steps. The console window
// forwards its events here and shows what this asks for through
// ConsoleScreen.
#pragma once
#include "archive/ArchiveTransfer.h"
#include "base/Timing.h"
#include "console/ConsoleScreen.h"
#include "console/Framing.h"
#include "serial/Rs232.h"

#include <cstdint>
#include <functional>
#include <string>

// Hands a request block to the gateway (SendPacket in the program).
using PacketSender = std::function<void(const std::uint8_t* block, std::int32_t count)>;

// Shown in the hexadecimal pane when a request goes out while the packet
// monitor takes every byte the port receives.
inline constexpr const char* MonitorTakesAnswersText =
    "Открыто окно «Тест пакетов»: ответ примет оно, здесь он не появится. Закройте его, чтобы видеть ответы.";

// Areas of RxBuf.
inline constexpr int RxAnswerArea = 0;    // data of the last complete answer, then a 0 byte
inline constexpr int RxReceiveArea = 256; // data of the answer being received
inline constexpr int RxBufSize = 512;

class ConsoleLogic : private ArchiveHost {
public:
    // `port` is asked for the port afresh at every read: a handler running
    // inside a message box may have replaced it. `clock` times the archive
    // read's waits and its progress (none: the steady clock).
    ConsoleLogic(ConsoleScreen& screen, PortAccessor port, PacketSender sender, char decimalSeparator,
                 SteadyClock clock = {});
    ConsoleLogic(const ConsoleLogic&) = delete;
    ConsoleLogic& operator=(const ConsoleLogic&) = delete;

    // Window events.
    void Button1Click(); // "Очистка"
    void Button2Click(); // "Отправить пакет"
    void Button3Click(); // "Считать суточный архив"
    void Button4Click(); // "Считать часовой архив"
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

    // Identification.
    void QueryTypeDevice();
    void QueryConfigByteFromDevice();
    void GetTypeOfPresentDevice(std::int16_t version, std::uint16_t config1, std::int32_t config2);
    void Clear_Config_Dev_Flags_dio();

    // The archive readers as the receive loop and the identification call
    // them: the answer is taken, and when a step is due the receive counters
    // restart for its answer before the transfer takes it.
    void ReadDayArhiv();
    void ReadHourArhiv();

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

    // Identification results.
    std::int16_t DevVersion = 0;
    std::int16_t DevConfig1 = 0;
    std::int32_t DevConfig2 = 0;
    std::int32_t HaveVersion = 0;
    std::int32_t HaveConfig1 = 0;
    std::int32_t HaveConfig2 = 0;
    std::int32_t TypeNum = 0;

    // The day and hour archive transfer, fed with every completed answer.
    ArchiveTransfer Archive;

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
    // Bytes the loop may read in one block: up to the end of an answer whose
    // completion calls an archive reader, which may talk to the port itself.
    int SafeReadCount() const;
    Rs232Port* Port() const;
    void DumpByte(std::uint8_t b);
    void ArmReceive(std::int32_t valueAddr);
    void Send(const std::uint8_t* block, std::int32_t count);
    void ReadArhiv(bool hour);
    std::chrono::steady_clock::time_point Now() const;
    void SetIdentificationPoll(bool enabled);
    void StartRun(std::chrono::steady_clock::time_point start);
    // After a receive pass: ends a read that has nothing outstanding, stops
    // one whose answer is overdue, refreshes the progress.
    void CheckRun();
    void EndRun();
    void StopRun(ArchiveStop reason, int code = 0);
    void ShowProgress(bool force);
    std::string ProgressText(bool final) const;

    // ArchiveHost
    std::uint8_t DeviceAddress() override;
    void DecodeFromStartRegister() override;
    void SendRequest(const RequestBlock& block) override;
    void ProgressLine(const std::string& text) override;
    void ShowRowNumber(std::int32_t number) override;
    void ShowRowLength(std::int32_t length) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;

    // Branches taken by the last device type decision.
    struct DevFlags {
        bool Config1Bit3 = false;
        bool Config1Bit10 = false;
        bool Config1Bit8 = false;
        bool Config1Bit9 = false;
    } devFlags_;

    ConsoleScreen& screen_;
    PortAccessor port_;
    PacketSender sender_;
    SteadyClock clock_;
    std::string pending_[3];
    int tickDepth_ = 0;

    // The archive button's run: its start, when its awaited answer was asked
    // for and with which function, the progress shown last.
    ArchiveRun run_ = ArchiveRun::Idle;
    bool identificationPoll_ = false;
    std::chrono::steady_clock::time_point runStart_{}, waitSince_{}, progressShown_{};
    std::uint8_t awaitedFunction_ = 0;
    // The awaited answer is a Modbus exception answer to the run's request:
    // address, function | 0x80, code, two check bytes.
    bool exceptionAnswer_ = false;
    std::uint8_t exceptionCode_ = 0;
};
