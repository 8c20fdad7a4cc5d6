#include "sim/ModbusCrc.h"

namespace sim {
std::uint16_t Crc16A001(const std::uint8_t* data, std::size_t count, std::uint16_t initial) {
    std::uint16_t crc = initial;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001u)
                             : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}
} // namespace sim
