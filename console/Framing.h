// Modbus request blocks handed to the gateway, the end-of-answer rule, the
// in-place byte reversal and the packet CRC.
#pragma once
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

// Function codes the program sends.
inline constexpr std::uint8_t FnReadInputRegisters = 0x04;
inline constexpr std::uint8_t FnWriteSingleRegister = 0x06;
inline constexpr std::uint8_t FnWriteMultipleRegisters = 0x10;

// Device registers: identification block, archive command, length and data.
inline constexpr std::uint16_t IdentRegister = 4;
inline constexpr std::uint16_t IdentRegisterCount = 4;
inline constexpr std::uint16_t ArhivCommandRegister = 1000;
inline constexpr std::uint16_t ArhivLengthRegister = 1001;
inline constexpr std::uint16_t ArhivDataRegister = 1002;
// One chunk of template or row bytes: 125 registers, 250 data bytes, so an
// answer's data and its terminating zero fit the 256-byte answer area.
inline constexpr int MaxChunkRegisters = 125;

// Data bytes a function 16 block can carry: its length byte L = 7 + n must
// fit in one byte (the console's block has room for 250, but 249 and 250
// would wrap L and the gateway would take a different block).
inline constexpr int MaxWriteDataBytes = 255 - 7;

// A 7-byte request block: L = 6, address, function, register high and low,
// second field high and low. SendPacket takes all 7 bytes.
using RequestBlock = std::array<std::uint8_t, 7>;

// Any request without data: the second field is the register count for the
// reading functions and the value for function 06, high byte first.
RequestBlock MakeRequest(std::uint8_t address, std::uint8_t function, std::uint16_t reg,
                         std::uint16_t second);

// The identification request: function 04, registers 4..7.
RequestBlock IdentRequest(std::uint8_t address);
// Function 06 to the archive command register.
RequestBlock ArhivCommandRequest(std::uint8_t address, std::uint16_t command);
// Function 04, one register: the length of the template or of the next row.
RequestBlock ArhivLengthRequest(std::uint8_t address);
// Function 04, `registers` registers from 1002 + byteOffset.
RequestBlock ArhivChunkRequest(std::uint8_t address, std::int32_t byteOffset, std::uint16_t registers);

// Function 16 with `data` (at most MaxWriteDataBytes bytes) as its data:
// L = 7 + n, register count n/2 rounded up, byte count n. The whole block
// (L + 1 bytes) is returned. Longer data is the caller's to refuse.
std::vector<std::uint8_t> WriteMultipleRequest(std::uint8_t address, std::uint16_t reg,
                                               std::string_view data);

// What the byte at `index` of an answer is, given its byte count n (the
// byte at index 2, taken as the count whatever the function code). The
// answer is complete with the byte at index n + 4; nothing else is examined,
// so an exception answer (its code taken as n) waits for further bytes.
enum class AnswerByte {
    Head,       // 0, 1: address and function, only counted
    Count,      // 2: the byte count n
    Data,       // 3 .. n+2
    FirstCheck, // n+3: counted and passed to the value decoder
    Last        // n+4: the answer is complete
};
AnswerByte ClassifyAnswerByte(std::int32_t index, std::int32_t byteCount);

// Reverses the first `length` bytes of `buffer` in place (0 and 1: no change).
void ConvertNaoborot(std::uint16_t length, std::uint8_t* buffer);

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR,
// computed bit by bit. "123456789" gives 0xBB3D.
std::uint16_t PacketCrc(const std::uint8_t* data, std::int32_t count);
