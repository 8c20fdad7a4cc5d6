// The archive reader's requests: the identification, the command register,
// the length register and the data registers of the template and the rows.
#pragma once
#include "base/RequestBlock.h"

// Device registers of the identification: version, configuration word 1,
// configuration 2 (two registers).
inline constexpr std::uint16_t IdentRegister = 4;
inline constexpr std::uint16_t IdentRegisterCount = 4;

inline constexpr std::uint16_t ArchiveCommandRegister = 1000;
inline constexpr std::uint16_t ArchiveLengthRegister = 1001;
inline constexpr std::uint16_t ArchiveDataRegister = 1002;
// One chunk of template or row bytes: 125 registers, 250 data bytes, so an
// answer's data and its terminating zero fit the 256-byte answer area.
inline constexpr int MaxChunkRegisters = 125;

// The identification request: function 04, registers 4..7.
RequestBlock IdentRequest(std::uint8_t address);
// Function 06 to the archive command register.
RequestBlock ArchiveCommandRequest(std::uint8_t address, std::uint16_t command);
// Function 04, one register: the length of the template or of the next row.
RequestBlock ArchiveLengthRequest(std::uint8_t address);
// Function 04, `registers` registers from 1002 + byteOffset.
RequestBlock ArchiveChunkRequest(std::uint8_t address, std::int32_t byteOffset, std::uint16_t registers);
