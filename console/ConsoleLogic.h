// The Modbus console's state and behaviour without widgets: the send and
// clear commands, the receive loop that assembles every answer, the register
// value decoder, the device identification and the archive transfer. The
// console window forwards its events here and shows what this asks for
// through ConsoleScreen.
#pragma once
#include "archive/Shablon.h"
#include "console/ConsoleScreen.h"
#include "console/Framing.h"

#include <cstdint>
#include <functional>
#include <string>

// Hands a request block to the gateway (SendPacket in the program).
using PacketSender = std::function<void(const std::uint8_t* block, std::int32_t count)>;

// Areas of RxBuf.
inline constexpr int RxAnswerArea = 0;    // data of the last complete answer, then a 0 byte
inline constexpr int RxReceiveArea = 256; // data of the answer being received
inline constexpr int RxRowArea = 512;     // the archive row being assembled
inline constexpr int RxRowAreaSize = 800;
inline constexpr int RxBufSize = RxRowArea + RxRowAreaSize;

class ConsoleLogic {
public:
    ConsoleLogic(ConsoleScreen& screen, PacketSender sender, char decimalSeparator);
    ConsoleLogic(const ConsoleLogic&) = delete;
    ConsoleLogic& operator=(const ConsoleLogic&) = delete;

    // Window events.
    void Button1Click(); // "Очистка"
    void Button2Click(); // "Отправить пакет"
    void Button3Click(); // "Считать суточный архив"
    void Button4Click(); // "Считать часовой архив"
    void Timer1Timer();  // the receive loop, every 100 ms
    void TimerQueryConfTimer();

    // The receive loop's work on one byte read from the port.
    void ReceiveByte(std::uint8_t b);
    // Groups answer data into register values, shows them in Memo3 and
    // captures version and configuration.
    void DecodeValueByte(std::uint8_t b);

    // Identification.
    void QueryTypeDevice();
    void QueryConfigByteFromDevice();
    void GetTypeOfPresentDevice(std::int16_t version, std::uint16_t config1, std::int32_t config2);
    void Clear_Config_Dev_Flags_dio();

    // Archive transfer: one step per call.
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
    std::int32_t ArhivStepReady = 0;

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

    // Archive transfer.
    std::int32_t ArhivStep = 0;
    std::int32_t ExpectedDataLen = 0;
    std::int32_t ArhivLen = 0;
    std::int32_t ArhivOffset = 0;
    std::int32_t ArhivRowCount = 0;
    std::int32_t RowLen = 0;
    std::string ShablonText;
    std::string ArhivFileName;
    RequestBlock Request = {};

    // Template descriptor (ShablonColumns, ShablonColumnCount): one column
    // kind per keyword, in template order.
    ShablonDescriptor Shablon;

private:
    // A tick's memo output is appended once per memo when its outermost
    // scope ends, also when the tick ends by an exception.
    class TickScope {
    public:
        explicit TickScope(ConsoleLogic& logic) : logic_(logic) { ++logic_.tickDepth_; }
        ~TickScope() {
            if (--logic_.tickDepth_ == 0) logic_.FlushMemos();
        }
        TickScope(const TickScope&) = delete;
        TickScope& operator=(const TickScope&) = delete;

    private:
        ConsoleLogic& logic_;
    };

    // Memo output of one tick is gathered here and appended once per memo.
    void Out(ConsoleMemo memo, const std::string& text);
    // A progress line of the program's own (UTF-8 in the source) in Memo1.
    void Memo1Line(const std::string& text);
    void FlushMemos();
    // Bytes the loop may read in one block: up to the end of an answer whose
    // completion calls an archive reader, which may talk to the port itself.
    int SafeReadCount() const;
    void DumpByte(std::uint8_t b);
    void ArmReceive(std::int32_t valueAddr);
    void Send(const std::uint8_t* block, std::int32_t count);
    int EditInt(ConsoleEdit edit);

    // The archive state machine shared by both readers.
    void ReadArhiv(bool hour);
    std::uint8_t DeviceAddress();
    void SendRequest(const RequestBlock& block, std::int32_t expectedDataLen);
    void SendChunkRequest(std::uint8_t address);
    void TakeLength();
    void AppendAnswerText();
    void CopyChunkToRow();
    bool WriteTemplateFile(bool hour);
    bool AppendRowLine(bool hour);
    void Message(const std::string& text, const std::string& caption);

    // Branches taken by the last device type decision.
    struct DevFlags {
        bool Config1Bit3 = false;
        bool Config1Bit10 = false;
        bool Config1Bit8 = false;
        bool Config1Bit9 = false;
    } devFlags_;

    ConsoleScreen& screen_;
    PacketSender sender_;
    std::string pending_[3];
    int tickDepth_ = 0;
};
