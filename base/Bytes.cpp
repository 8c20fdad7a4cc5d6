// In-place byte reversal and the packet CRC.
#include "base/Bytes.h"

#include <utility>

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
