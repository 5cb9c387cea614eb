#include "support/CpmDiskBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelvara::test {

CpmKey Key(std::string_view name11) {
  CpmKey key{};
  EXPECT_EQ(name11.size(), key.size()) << name11;
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

// Writes bytes at a byte address of the disk (block 0 = address 0).
static void PutBytes(TZX_Disk& disk, int address, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int a = address + static_cast<int>(i);
    TSectorRec* s = CpmSlot(disk, a / kCpmSectorSize);
    ASSERT_NE(s, nullptr) << "no sector for address " << a;
    s->Data[a % kCpmSectorSize] = bytes[i];
  }
}

void PutCpmEntry(TZX_Disk& disk, int index, const CpmEntrySpec& entry) {
  std::vector<uint8_t> raw(kCpmEntrySize, 0);
  raw[0] = entry.user;
  const CpmKey key = Key(entry.key);
  std::copy(key.begin(), key.end(), raw.begin() + 1);
  raw[12] = entry.extent;
  raw[15] = entry.records;
  for (size_t i = 0; i < entry.blocks.size() && i < 8; ++i) {
    raw[16 + 2 * i] = static_cast<uint8_t>(entry.blocks[i]);
    raw[17 + 2 * i] = static_cast<uint8_t>(entry.blocks[i] >> 8);
  }
  PutBytes(disk, index * kCpmEntrySize, raw);
}

void PutCpmBlock(TZX_Disk& disk, uint16_t block, const std::vector<uint8_t>& bytes) {
  ASSERT_LE(bytes.size(), static_cast<size_t>(kCpmBlockSize));
  PutBytes(disk, block * kCpmBlockSize, bytes);
}

int PutCpmFile(TZX_Disk& disk, int firstEntry, uint16_t firstBlock, std::string_view key,
               const std::vector<uint8_t>& data, uint8_t user) {
  const size_t records = (data.size() + kCpmRecordSize - 1) / kCpmRecordSize;
  const size_t blocks = (data.size() + kCpmBlockSize - 1) / kCpmBlockSize;
  for (size_t b = 0; b < blocks; ++b) {
    const size_t from = b * kCpmBlockSize;
    const size_t n = std::min<size_t>(kCpmBlockSize, data.size() - from);
    PutCpmBlock(disk, static_cast<uint16_t>(firstBlock + b),
                {data.begin() + from, data.begin() + from + n});
  }
  int extent = 0;
  for (size_t b = 0; b < std::max<size_t>(blocks, 1); b += 8, ++extent) {
    CpmEntrySpec e{user,
                   key,
                   static_cast<uint8_t>(extent),
                   static_cast<uint8_t>(std::min<size_t>(records - b * 16, 128)),
                   {}};
    for (size_t i = b; i < blocks && i < b + 8; ++i)
      e.blocks.push_back(static_cast<uint16_t>(firstBlock + i));
    PutCpmEntry(disk, firstEntry + extent, e);
  }
  return extent;
}

}  // namespace kelvara::test
