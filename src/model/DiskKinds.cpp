#include "model/DiskKinds.h"

#include <array>

namespace kelvara {

namespace {

// Gaps: the +3/CPC values are those of the +3 geometry record (0x2A read and
// write, 0x52 format); +D disks are formatted with a GAP 3 of 24; the others
// take the values the drive runs have always used for TR-DOS disks.
constexpr std::array kKinds = {
    //          key          name                 cyl sd spt N  R1  il sk head  g3f   g3rw  fill
    //          rate
    DiskKind{"trdos", "TR-DOS", 80, 2, 16, 1, 1, 1, 0, false, 0x14, 0x14, 0x00, 250},
    DiskKind{"plus3", "+3DOS", 40, 1, 9, 2, 1, 1, 0, true, 0x52, 0x2A, 0xE5, 250},
    DiskKind{"cpc-system", "CPC system", 40, 1, 9, 2, 0x41, 1, 0, true, 0x52, 0x2A, 0xE5, 250},
    DiskKind{"cpc-data", "CPC data", 40, 1, 9, 2, 0xC1, 1, 0, true, 0x52, 0x2A, 0xE5, 250},
    DiskKind{"profi", "CP/M Profi", 80, 2, 5, 3, 1, 1, 0, true, 0x14, 0x14, 0xE5, 250},
    DiskKind{"plusd", "+D/DISCiPLE", 80, 2, 10, 2, 1, 1, 0, true, 24, 0x2A, 0xE5, 250},
    DiskKind{"opus", "Opus Discovery", 40, 1, 18, 1, 0, 13, 13, true, 0x14, 0x14, 0xE5, 250},
    DiskKind{"opus-ds80", "Opus Discovery DS80", 80, 2, 18, 1, 0, 13, 13, true, 0x14, 0x14, 0xE5,
             250},
    DiskKind{"didaktik", "Didaktik MDOS", 80, 2, 9, 2, 1, 1, 5, true, 0x52, 0x2A, 0xE5, 250},
    DiskKind{"pc720", "PC 720K", 80, 2, 9, 2, 1, 1, 0, true, 0x54, 0x2A, 0xF6, 250},
    DiskKind{"pc1440", "PC 1.44M", 80, 2, 18, 2, 1, 1, 0, true, 0x6C, 0x1B, 0xF6, 500},
};

}  // namespace

std::vector<uint8_t> DiskKind::SectorOrder(int cyl) const {
  std::vector<uint8_t> order(sectors, 0);
  std::vector<bool> taken(sectors, false);
  int pos = sectors ? (cyl * skew) % sectors : 0;
  for (int i = 0; i < sectors; ++i) {
    while (taken[pos])
      pos = (pos + 1) % sectors;
    order[pos] = static_cast<uint8_t>(firstSector + i);
    taken[pos] = true;
    pos = (pos + interleave) % sectors;
  }
  return order;
}

std::span<const DiskKind> DiskKinds() {
  return kKinds;
}

const DiskKind* FindDiskKind(std::string_view key) {
  for (const DiskKind& k : kKinds)
    if (key == k.key) return &k;
  return nullptr;
}

}  // namespace kelvara
