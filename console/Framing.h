// The console's own request blocks (identification, function 16 with data)
// and the end-of-answer rule.
#pragma once
#include "base/RequestBlock.h"

#include <cstdint>
#include <string_view>
#include <vector>

// Device registers of the identification block.
inline constexpr std::uint16_t IdentRegister = 4;
inline constexpr std::uint16_t IdentRegisterCount = 4;

// Data bytes a function 16 block can carry: its length byte L = 7 + n must
// fit in one byte (the console's block has room for 250, but 249 and 250
// would wrap L and the gateway would take a different block).
inline constexpr int MaxWriteDataBytes = 255 - 7;

// The identification request: function 04, registers 4..7.
RequestBlock IdentRequest(std::uint8_t address);
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
