// The request block handed to the gateway's SendPacket: a length byte L, then
// L bytes (device address, function, register high and low, count or value
// high and low). The console and the archive reader both build them.
#pragma once
#include <array>
#include <cstdint>

// Function codes the program sends.
inline constexpr std::uint8_t FnReadInputRegisters = 0x04;
inline constexpr std::uint8_t FnWriteSingleRegister = 0x06;
inline constexpr std::uint8_t FnWriteMultipleRegisters = 0x10;

// A 7-byte request block: L = 6, address, function, register high and low,
// second field high and low. SendPacket takes all 7 bytes.
using RequestBlock = std::array<std::uint8_t, 7>;

// Any request without data: the second field is the register count for the
// reading functions and the value for function 06, high byte first.
RequestBlock MakeRequest(std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                         std::uint16_t second);

inline std::uint8_t HighByte(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
inline std::uint8_t LowByte(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
