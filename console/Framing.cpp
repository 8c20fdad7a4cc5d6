// The console's function 16 request block.
#include "console/Framing.h"

std::vector<std::uint8_t> WriteMultipleRequest(std::uint8_t address, std::uint16_t reg,
                                               std::string_view data) {
    const auto n = static_cast<std::uint8_t>(data.size());
    const auto registers = static_cast<std::uint16_t>(n / 2 + n % 2);
    std::vector<std::uint8_t> block(8u + n);
    block[0] = static_cast<std::uint8_t>(7 + n);
    block[1] = address;
    block[2] = FnWriteMultipleRegisters;
    block[3] = HighByte(reg);
    block[4] = LowByte(reg);
    block[5] = HighByte(registers);
    block[6] = LowByte(registers);
    block[7] = n;
    for (unsigned i = 0; i < n; ++i)
        block[8 + i] = static_cast<std::uint8_t>(data[i]);
    return block;
}
