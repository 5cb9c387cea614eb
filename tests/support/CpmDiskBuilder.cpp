#include "support/CpmDiskBuilder.h"

#include <algorithm>

namespace kelvara::test {

namespace {

void PutBytes(TZX_Disk& disk, size_t address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i, ++address)
    CpmSlot(disk, static_cast<int>(address / kCpmSectorSize))
        ->MutableData()[address % kCpmSectorSize] = bytes[i];
}

}  // namespace

CpmKey Key(std::string_view name11) {
  CpmKey key{};
  std::copy_n(name11.begin(), std::min(name11.size(), key.size()), key.begin());
  return key;
}

TSectorRec* CpmSlot(TZX_Disk& disk, int logical) {
  const CpmSectorPlace place = CpmSectorOf(logical);
  for (TSectorRec& s : disk.GetTrack(static_cast<uint8_t>(place.track)).Sectors) {
    if (s.Present && s.Sec == place.sec) return &s;
  }
  return nullptr;
}

void PutCpmEntry(TZX_Disk& disk, int index, const CpmEntrySpec& e) {
  std::vector<uint8_t> raw(kCpmEntrySize, 0);
  raw[0] = e.user;
  std::copy_n(e.key.begin(), std::min<size_t>(e.key.size(), 11), raw.begin() + 1);
  raw[12] = static_cast<uint8_t>(e.extent & 0x1F);
  raw[13] = e.lastBytes;
  raw[14] = static_cast<uint8_t>(e.extent >> 5);
  raw[15] = e.records;
  for (size_t i = 0; i < e.blocks.size(); ++i) {
    raw[16 + 2 * i] = static_cast<uint8_t>(e.blocks[i]);
    raw[17 + 2 * i] = static_cast<uint8_t>(e.blocks[i] >> 8);
  }
  PutBytes(disk, static_cast<size_t>(index) * kCpmEntrySize, raw);
}

void PutCpmBlock(TZX_Disk& disk, uint16_t block, const std::vector<uint8_t>& bytes) {
  PutBytes(disk, size_t{block} * kCpmBlockSize, bytes);
}

int PutCpmFile(TZX_Disk& disk, int firstEntry, uint16_t firstBlock, std::string_view key,
               const std::vector<uint8_t>& data, uint8_t user) {
  PutBytes(disk, size_t{firstBlock} * kCpmBlockSize, data);
  const size_t records = (data.size() + kCpmRecordSize - 1) / kCpmRecordSize;
  const size_t blocks = (data.size() + kCpmBlockSize - 1) / kCpmBlockSize;
  int extent = 0;
  for (size_t b = 0; b == 0 || b < blocks; b += 8, ++extent) {
    CpmEntrySpec e{user,
                   key,
                   static_cast<uint16_t>(extent),
                   static_cast<uint8_t>(std::min<size_t>(records - b * 16, 128)),
                   {}};
    for (size_t i = b; i < blocks && i < b + 8; ++i)
      e.blocks.push_back(static_cast<uint16_t>(firstBlock + i));
    PutCpmEntry(disk, firstEntry + extent, e);
  }
  return extent;
}

}  // namespace kelvara::test
