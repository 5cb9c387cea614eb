// CP/M Profi disks for tests: directory entries and file data written into a
// new image's sector slots as CP/M lays them out.
#pragma once

#include <string_view>
#include <vector>

#include "filesystems/CpmCatalog.h"

namespace kelvara::test {

CpmKey Key(std::string_view name11);  // "NAME    EXT"
// The slot of 1 KB sector address `logical`, or nullptr.
TSectorRec* CpmSlot(TZX_Disk& disk, int logical);

struct CpmEntrySpec {
  uint8_t user;
  std::string_view key;
  uint16_t extent;  // written as byte 12 (low five bits) and byte 14
  uint8_t records;
  std::vector<uint16_t> blocks;  // up to 8
  uint8_t lastBytes = 0;         // byte 13
};
void PutCpmEntry(TZX_Disk& disk, int index, const CpmEntrySpec& entry);
void PutCpmBlock(TZX_Disk& disk, uint16_t block, const std::vector<uint8_t>& bytes);
// A file in consecutive blocks from firstBlock and entries from firstEntry,
// eight blocks to an extent; returns the entries used.
int PutCpmFile(TZX_Disk& disk, int firstEntry, uint16_t firstBlock, std::string_view key,
               const std::vector<uint8_t>& data, uint8_t user = 0);

}  // namespace kelvara::test
