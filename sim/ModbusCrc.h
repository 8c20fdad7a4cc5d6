// The Modbus RTU check: CRC-16 with polynomial 0xA001 (reflected) and initial
// value 0xFFFF, sent low byte first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace sim {
std::uint16_t ModbusCrc(const std::uint8_t* data, std::size_t count);
}
