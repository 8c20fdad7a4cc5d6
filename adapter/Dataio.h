// The PC side of the adapter's byte-level exchange protocol on MainPort: the
// exchanges SetData, GetData and SendPacket, and the guarded operations the
// windows call them through.
#pragma once
#include <cstdint>

// While set, exchange failures are shown to the user. Set at start.
extern bool LinkMessages;
// Set while a public operation runs an exchange.
extern bool LinkBusy;
// Holds each command byte before it is sent, each one-byte answer, and the
// request header. After a failed attempt it still holds the last byte
// received, which the report of an exhausted attempt loop names.
extern std::uint8_t ExchangeBuf[7];

// Text of an adapter error code, or nullptr for a code without a text.
const char* AdapterErrorText(unsigned code);

// Writes count bytes of data into consecutive cells of a device behind the
// adapter. True when the adapter confirmed the block. The low 16 bits of the
// cell address and the low 8 bits of count go into the header.
bool SetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
             const std::uint8_t* data, std::int32_t count);
// Reads count bytes from consecutive cells into buffer. True when all arrived.
bool GetData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
             std::int32_t count, std::uint8_t* buffer);
// Hands the adapter a block to put on the RS-485 line; true when the adapter
// took it (status 0x00 or no status at all).
bool SendPacketExchange(const std::uint8_t* block, std::int32_t count);

// Cells of ordinary devices live 0x8000 higher: types with bit 5 or 6 set and
// device addresses 0x50..0x5F keep their cell address.
std::int32_t MapCellAddress(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress);

// Public operations. Each runs with LinkBusy set; one that finds LinkBusy
// already set (it was called from a handler running inside another
// exchange's failure message) declines at once: nothing is sent or shown,
// and the result is false.

// SetData with the cell address unchanged.
bool WriteData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
               const std::uint8_t* data, std::int32_t count);
// SetData after MapCellAddress.
bool WriteDataMapped(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                     const std::uint8_t* data, std::int32_t count);
// WriteDataMapped of the first count (0..4) bytes of value, least significant
// first.
bool WriteValue(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
                std::int32_t value, std::int32_t count);
// GetData after MapCellAddress, in blocks of at most 64 bytes; stops at the
// first failing block. Count 0 reads nothing and succeeds.
bool ReadData(std::uint8_t deviceType, std::uint8_t deviceAddress, std::int32_t cellAddress,
              std::int32_t count, std::uint8_t* buffer);
// The SendPacket exchange; the caller reads the line's answer from MainPort.
void SendPacket(const std::uint8_t* block, std::int32_t count);
// Switches the failure messages on.
void EnableLinkMessages();
