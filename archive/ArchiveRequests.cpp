// The archive reader's request blocks.
#include "archive/ArchiveRequests.h"

RequestBlock IdentRequest(std::uint8_t address) {
    return MakeRequest(address, FnReadInputRegisters, IdentRegister, IdentRegisterCount);
}

RequestBlock ArchiveCommandRequest(std::uint8_t address, std::uint16_t command) {
    return MakeRequest(address, FnWriteSingleRegister, ArchiveCommandRegister, command);
}

RequestBlock ArchiveLengthRequest(std::uint8_t address) {
    return MakeRequest(address, FnReadInputRegisters, ArchiveLengthRegister, 1);
}

RequestBlock ArchiveChunkRequest(std::uint8_t address, std::int32_t byteOffset, std::uint16_t registers) {
    // The start register advances by bytes, not registers: the device's own
    // convention (a second chunk of a long template starts at 1252).
    auto reg = static_cast<std::uint16_t>(ArchiveDataRegister + byteOffset);
    return MakeRequest(address, FnReadInputRegisters, reg, registers);
}
