// TeleDisk (TD0) helpers beside the image's LoadTD0 / SaveTD0.
#pragma once

#include <cstdint>
#include <span>

namespace kelvara {

// The TeleDisk checksum: CRC-16, polynomial 0xA097, initial value 0, most
// significant bit first, no final XOR ("abc" gives 0x8089).
uint16_t Td0Crc(std::span<const uint8_t> bytes);

}  // namespace kelvara
