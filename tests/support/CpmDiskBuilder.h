// CP/M Profi disks for tests: directory entries and file data written into a
// new image's sector slots as CP/M itself would lay them out.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "filesystems/CPMcat.h"

namespace kelvara::test {

// "NAME    EXT": exactly 11 characters.
CpmKey Key(std::string_view name11);

struct CpmEntrySpec {
  uint8_t user = 0;
  std::string_view key;  // 11 characters
  uint8_t extent = 0;
  uint8_t records = 0;
  std::vector<uint16_t> blocks;  // at most 8; the rest stay 0
};

// The slot holding 1 KB sector address `logical`, or nullptr.
TSectorRec* CpmSlot(TZX_Disk& disk, int logical);
// Writes directory entry `index` (0..127).
void PutCpmEntry(TZX_Disk& disk, int index, const CpmEntrySpec& entry);
// Writes up to 2048 bytes into a block.
void PutCpmBlock(TZX_Disk& disk, uint16_t block, const std::vector<uint8_t>& bytes);
// Writes a file into consecutive blocks from firstBlock and consecutive
// entries from firstEntry, eight blocks (128 records) per extent. Returns the
// number of entries used.
int PutCpmFile(TZX_Disk& disk, int firstEntry, uint16_t firstBlock, std::string_view key,
               const std::vector<uint8_t>& data, uint8_t user = 0);

}  // namespace kelvara::test
