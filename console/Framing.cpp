// Request blocks, the answer rule, byte reversal and packet CRC.
#include "console/Framing.h"

#include <utility>

namespace {
std::uint8_t Hi(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t Lo(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
} // namespace

RequestBlock MakeRequest(std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                         std::uint16_t second) {
    return {6, address, function, Hi(reg), Lo(reg), Hi(second), Lo(second)};
}

RequestBlock IdentRequest(std::uint8_t address) {
    return MakeRequest(address, FnReadInputRegisters, IdentRegister, IdentRegisterCount);
}

RequestBlock ArhivCommandRequest(std::uint8_t address, std::uint16_t command) {
    return MakeRequest(address, FnWriteSingleRegister, ArhivCommandRegister, command);
}

RequestBlock ArhivLengthRequest(std::uint8_t address) {
    return MakeRequest(address, FnReadInputRegisters, ArhivLengthRegister, 1);
}

RequestBlock ArhivChunkRequest(std::uint8_t address, std::int32_t byteOffset, std::uint16_t registers) {
    // The start register advances by bytes, not registers: the device's own
    // convention (a second chunk of a long template starts at 1252).
    auto reg = static_cast<std::uint16_t>(ArhivDataRegister + byteOffset);
    return MakeRequest(address, FnReadInputRegisters, reg, registers);
}

std::vector<std::uint8_t> WriteMultipleRequest(std::uint8_t address, std::uint16_t reg,
                                               std::string_view data) {
    const auto n = static_cast<std::uint8_t>(data.size());
    const auto registers = static_cast<std::uint16_t>(n / 2 + n % 2);
    std::vector<std::uint8_t> block(8u + n);
    block[0] = static_cast<std::uint8_t>(7 + n);
    block[1] = address;
    block[2] = FnWriteMultipleRegisters;
    block[3] = Hi(reg);
    block[4] = Lo(reg);
    block[5] = Hi(registers);
    block[6] = Lo(registers);
    block[7] = n;
    for (unsigned i = 0; i < n; ++i)
        block[8 + i] = static_cast<std::uint8_t>(data[i]);
    return block;
}

AnswerByte ClassifyAnswerByte(std::int32_t index, std::int32_t byteCount) {
    if (index < 2) return AnswerByte::Head;
    if (index == 2) return AnswerByte::Count;
    if (index > byteCount + 3) return AnswerByte::Last;
    if (index < byteCount + 3) return AnswerByte::Data;
    return AnswerByte::FirstCheck;
}

void ConvertNaoborot(std::uint16_t length, std::uint8_t* buffer) {
    if (length < 2) return;
    for (unsigned i = 0; i < length / 2u; ++i)
        std::swap(buffer[i], buffer[length - 1 - i]);
}

std::uint16_t PacketCrc(const std::uint8_t* data, std::int32_t count) {
    std::uint16_t crc = 0;
    for (std::int32_t n = 0; n < count; ++n) {
        std::uint8_t b = data[n];
        for (int bit = 0; bit < 8; ++bit) {
            if ((crc ^ b) & 1u)
                crc = static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u);
            else
                crc = static_cast<std::uint16_t>(crc >> 1);
            b = static_cast<std::uint8_t>(b >> 1);
        }
    }
    return crc;
}
