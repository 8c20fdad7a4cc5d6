// Byte helpers shared by the console, the archive rows and the packet
// monitor: in-place reversal of a byte run and the packet CRC.
#pragma once
#include <cstdint>

// Reverses the first `length` bytes of `buffer` in place (0 and 1: no change).
void ConvertNaoborot(std::uint16_t length, std::uint8_t* buffer);

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR,
// computed bit by bit. "123456789" gives 0xBB3D.
std::uint16_t PacketCrc(const std::uint8_t* data, std::int32_t count);
