// The console's own request block for function 16 with data; the
// identification's block and the end-of-answer rule it shares with the
// archive session.
#pragma once
#include "archive/ArchiveRequests.h"
#include "base/AnswerFrame.h"
#include "base/RequestBlock.h"

#include <cstdint>
#include <string_view>
#include <vector>

// Data bytes a function 16 block can carry: its length byte L = 7 + n must
// fit in one byte (the console's block has room for 250, but 249 and 250
// would wrap L and the gateway would take a different block).
inline constexpr int MaxWriteDataBytes = 255 - 7;

// Function 16 with `data` (at most MaxWriteDataBytes bytes) as its data:
// L = 7 + n, register count n/2 rounded up, byte count n. The whole block
// (L + 1 bytes) is returned. Longer data is the caller's to refuse.
std::vector<std::uint8_t> WriteMultipleRequest(std::uint8_t address, std::uint16_t reg,
                                               std::string_view data);
