// Device identification: the request for the version and configuration
// registers, the polling until the receive loop has captured them, the device
// type decision and the start of the chosen archive reader.
#include "console/ConsoleLogic.h"

#include <string>

namespace {
void ResetForArchive(ConsoleLogic& l, std::int32_t hour) {
    l.Archive.Restart();
    l.HourArhiv = hour;
    l.ManualRequest = 0;
}
} // namespace

void ConsoleLogic::Button3Click() {
    const auto start = Now();
    screen_.SetRowNumber("");
    ResetForArchive(*this, 0);
    TypeNum = 0;
    QueryTypeDevice();
    StartRun(start);
}

void ConsoleLogic::Button4Click() {
    const auto start = Now();
    screen_.SetRowNumber("");
    ResetForArchive(*this, 1);
    TypeNum = 0;
    QueryTypeDevice();
    StartRun(start);
}

void ConsoleLogic::QueryTypeDevice() {
    // DevVersion keeps its old value; only the flags say what is fresh.
    DevConfig1 = 0;
    DevConfig2 = 0;
    HaveVersion = 0;
    HaveConfig2 = 0;
    HaveConfig1 = 0;
    QueryConfigByteFromDevice();
    SetIdentificationPoll(true);
}

void ConsoleLogic::QueryConfigByteFromDevice() {
    ManualRequest = 1;
    const RequestBlock request = IdentRequest(DeviceAddress());
    Send(request.data(), static_cast<std::int32_t>(request.size()));
    awaitedFunction_ = request[2];
    waitSince_ = Now();
    CntByteInLine = 0;
    ArmReceive(IdentRegister);
}

void ConsoleLogic::TimerQueryConfTimer() {
    // No repeat and no limit: a silent device leaves the polling running.
    if (HaveConfig1 == 0 || HaveConfig2 == 0 || HaveVersion == 0) return;
    // The values are captured before the answer's two check bytes arrive. A
    // reader started now would count those bytes into its own first answer
    // and lose step with the device, so the answer is let finish first.
    if (WaitAnswer) return;
    TickScope scope(*this);
    SetIdentificationPoll(false);
    if (run_ == ArchiveRun::Idle) runStart_ = Now();
    run_ = ArchiveRun::Reading;
    screen_.ShowVersion(std::to_string(DevVersion));
    screen_.ShowConfig1(std::to_string(DevConfig1));
    screen_.ShowConfig2(std::to_string(DevConfig2));
    GetTypeOfPresentDevice(DevVersion, static_cast<std::uint16_t>(DevConfig1), DevConfig2);
    screen_.ShowDeviceType(std::to_string(TypeNum));
    if (HourArhiv == 1) {
        ResetForArchive(*this, 1);
        screen_.SetRowNumber("");
        ReadHourArhiv();
    } else {
        ResetForArchive(*this, 0);
        ReadDayArhiv();
    }
}

void ConsoleLogic::Clear_Config_Dev_Flags_dio() {
    devFlags_ = {};
}

void ConsoleLogic::GetTypeOfPresentDevice(std::int16_t version, std::uint16_t config1, std::int32_t config2) {
    Clear_Config_Dev_Flags_dio();
    const auto c2 = static_cast<std::uint32_t>(config2);
    const auto versionHigh = static_cast<std::uint8_t>(static_cast<std::uint16_t>(version) >> 8);
    if (config1 & 0x0008) {
        devFlags_.Config1Bit3 = true;
        if (!(config1 & 0x0400)) {
            TypeNum = 0;
            return;
        }
        devFlags_.Config1Bit10 = true;
        if (c2 & 0x01) {
            TypeNum = 8;
        } else if (c2 & 0x02) {
            const std::uint32_t masked = c2 & 0xDF;
            if (versionHigh == 0x61)
                TypeNum = 7;
            else if (masked == 0x02)
                TypeNum = 4;
            else if (masked == 0x0A || masked == 0x1A)
                TypeNum = 10;
            // any other pattern leaves TypeNum as it was
        } else if (c2 & 0x04) {
            TypeNum = 9;
        } else {
            TypeNum = 0;
        }
    } else if (config1 & 0x0100) {
        devFlags_.Config1Bit8 = true;
        TypeNum = 0;
    } else if (config1 & 0x0200) {
        devFlags_.Config1Bit9 = true;
        TypeNum = 6;
    } else {
        TypeNum = 5;
    }
}
