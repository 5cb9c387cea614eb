// Hobeta: one TR-DOS file outside a disk. A 17-byte header (name 8, type 1,
// start 2, length 2, occupied size 2, checksum 2; little-endian) followed by
// the file's whole sectors. The occupied size is whole sectors, so its low
// byte (13) is 0 and only its high byte (14), the sector count, is read.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "filesystems/Trdos.h"

namespace kelvara {

inline constexpr size_t kHobetaHeaderSize = 17;
inline constexpr size_t kHobetaSummedBytes = 15;

// (257 * S + 105) mod 65536, S the 16-bit sum of header bytes 0..14: the same
// as summing 257 * byte[i] + i over them.
uint16_t HobetaChecksum(std::span<const uint8_t> header);

// The header of a catalog entry, checksum included.
std::array<uint8_t, kHobetaHeaderSize> HobetaHeader(const TTrdosFileEntry& entry);

// The header of a Hobeta file as an entry (first sector and track zero) and
// whether its checksum holds. False when the file is shorter than a header.
bool ReadHobetaHeader(std::span<const uint8_t> file, TTrdosFileEntry& entry, bool& checksumOk);

// The name part of an exported file: the 8 name bytes with trailing blanks
// and control bytes cut off, every other control byte and every character
// that a file name cannot hold on common systems (\ / : * ? " < > |)
// replaced by "_".
std::string ExportBaseName(const std::array<uint8_t, 8>& name);
// The type letter made safe the same way.
std::string ExportTypeText(uint8_t type);
// "GAME.$B" for the entry GAME of type B.
std::string HobetaFileName(const TTrdosFileEntry& entry);

}  // namespace kelvara
