// Request blocks without data.
#include "base/RequestBlock.h"

RequestBlock MakeRequest(std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                         std::uint16_t second) {
    return {6, address, function, HighByte(reg), LowByte(reg), HighByte(second), LowByte(second)};
}
