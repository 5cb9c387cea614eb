// Every CRC of the program's formats, each table-driven and checked against
// known values in one test.
#pragma once

#include <cstdint>
#include <span>

namespace kelvara {

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, MSB first) of ID and data
// fields; `crc` continues an earlier run.
uint16_t CalcCrc16(std::span<const uint8_t> bytes, uint16_t crc = 0xFFFF);
// CRC-16 of the ID field A1 A1 A1 FE C H R N.
uint16_t IdFieldCrc(uint8_t cyl, uint8_t head, uint8_t sec, uint8_t sizeCode);
// The CRC-32 of UDI and project files. It differs from the common CRC-32: the
// register is inverted after every byte and shifted arithmetically.
uint32_t CalcCrc32(std::span<const uint8_t> bytes);
// The TeleDisk checksum: CRC-16, polynomial 0xA097, initial value 0, MSB
// first, no final XOR ("abc" gives 0x8089).
uint16_t Td0Crc(std::span<const uint8_t> bytes);

}  // namespace kelvara
