// The simulator's CRC-16 with the reflected polynomial 0xA001, computed here
// independently of the program so that it checks the program's bytes. The
// Modbus RTU check starts at 0xFFFF (sent low byte first); the packet
// monitor's frames use the same polynomial starting at 0 (CRC-16/ARC).
#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {
std::uint16_t Crc16A001(const std::uint8_t* data, std::size_t count, std::uint16_t initial);
inline std::uint16_t ModbusCrc(const std::uint8_t* data, std::size_t count) {
    return Crc16A001(data, count, 0xFFFF);
}
} // namespace sim
