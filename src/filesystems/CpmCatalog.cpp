#include "filesystems/CpmCatalog.h"

#include <algorithm>

#include "model/CodePage.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr uint8_t kTrack0FifthSector = 9;
constexpr int kDirSectors = kCpmDirBytes / kCpmSectorSize;  // track 0 sectors 1 to 4

// The present slot of a track that carries sector number `sec`, if any.
const TSectorRec* FindSector(const TZX_Disk& disk, int track, uint8_t sec) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  const TTrack& t = disk.GetTrack(static_cast<uint8_t>(track));
  for (const TSectorRec& s : t.Sectors) {
    if (s.Present && s.Sec == sec) return &s;
  }
  return nullptr;
}

CpmDirEntry ParseEntry(std::span<const uint8_t, kCpmEntrySize> raw) {
  CpmDirEntry e;
  e.user = raw[0];
  std::copy_n(raw.begin() + 1, e.key.size(), e.key.begin());
  // Byte 12 holds the extent number modulo 32, byte 14 the multiples of 32
  // (its top bits are flags of the running system, never numbers). Byte 13
  // (the bytes used of the last record, kept by some later systems only)
  // plays no part: sizes are whole records.
  e.extent = static_cast<uint16_t>((raw[14] & 0x3F) << 5 | (raw[12] & 0x1F));
  e.records = raw[15];
  for (size_t i = 0; i < e.blocks.size(); ++i)
    e.blocks[i] = static_cast<uint16_t>(raw[16 + 2 * i] | raw[17 + 2 * i] << 8);
  return e;
}

// The other extents of the file whose extent-0 entry is `first`, in extent
// order, up to the first one that is not full. The user byte must match as
// well as the name: a deleted earlier copy of the file, or a namesake of
// another user, keeps its entries in the directory and is not part of it.
// CP/M fills freed directory slots first, so a file's extents need not
// stand in directory order.
std::vector<const CpmDirEntry*> LaterExtents(const std::vector<CpmDirEntry>& dir,
                                             const CpmDirEntry& first) {
  std::vector<const CpmDirEntry*> found;
  for (const CpmDirEntry& e : dir) {
    if (e.extent != 0 && e.user == first.user && e.key == first.key) found.push_back(&e);
  }
  std::stable_sort(found.begin(), found.end(), [](const CpmDirEntry* a, const CpmDirEntry* b) {
    return a->extent < b->extent;
  });
  const auto partial = std::find_if(
      found.begin(), found.end(), [](const CpmDirEntry* e) { return e->records < kCpmRecordSize; });
  if (partial != found.end()) found.erase(partial + 1, found.end());
  return found;
}

void MarkBlocks(const CpmDirEntry& e, std::bitset<kCpmBlockCount>& used) {
  for (uint16_t b : e.blocks) {
    if (b >= kCpmBlockCount) break;
    used.set(b);
  }
}

void AppendBlockNumbers(const CpmDirEntry& e, std::vector<uint16_t>& blocks) {
  for (uint16_t b : e.blocks) {
    if (b == 0) break;
    blocks.push_back(b);
  }
}

// A block's 2048 bytes. Only a sector of exactly 1024 data bytes counts: a
// short or oversized read means the sector is not the one the file system
// wrote, and its kilobyte reads as zeros like a missing one.
void AppendBlockBytes(const TZX_Disk& disk, uint16_t block, std::vector<uint8_t>& out) {
  for (int half = 0; half < 2; ++half) {
    const CpmSectorPlace place = CpmSectorOf(block * 2 + half);
    const TSectorRec* s = FindSector(disk, place.track, place.sec);
    const bool usable = s && disk.GetTrack(static_cast<uint8_t>(place.track)).Present &&
                        s->DataLength() == kCpmSectorSize;
    if (usable) {
      out.insert(out.end(), s->Data().begin(), s->Data().begin() + kCpmSectorSize);
    } else {
      out.insert(out.end(), kCpmSectorSize, 0);
    }
  }
}

// Shown as stored, read as Windows-1251; control bytes (a zeroed entry's
// name) become "?" so that the row stays visible.
std::string KeyText(const uint8_t* bytes, size_t n) {
  std::string raw(reinterpret_cast<const char*>(bytes), n);
  for (char& c : raw) {
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return Cp1251ToUtf8(raw);
}

}  // namespace

CpmSectorPlace CpmSectorOf(int logicalSector) {
  CpmSectorPlace p{logicalSector / kCpmSectorsPerTrack,
                   static_cast<uint8_t>(logicalSector % kCpmSectorsPerTrack + 1)};
  if (p.track == 0 && p.sec == kCpmSectorsPerTrack) p.sec = kTrack0FifthSector;
  return p;
}

std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk) {
  std::array<uint8_t, kCpmDirBytes> bytes{};
  for (int i = 0; i < kDirSectors; ++i) {
    const CpmSectorPlace place = CpmSectorOf(i);
    if (const TSectorRec* s = FindSector(disk, place.track, place.sec)) {
      const size_t n = std::min<size_t>(s->DataLength(), kCpmSectorSize);
      std::copy_n(s->Data().begin(), n, bytes.begin() + i * kCpmSectorSize);
    }
  }
  std::vector<CpmDirEntry> entries;
  for (int i = 0; i < kCpmDirEntries; ++i) {
    const std::span<const uint8_t, kCpmEntrySize> raw(bytes.data() + i * kCpmEntrySize,
                                                      kCpmEntrySize);
    if (raw[0] == kCpmUnused && raw[1] == kCpmUnused) break;
    entries.push_back(ParseEntry(raw));
  }
  return entries;
}

std::string CpmFileRow::Name() const {
  return KeyText(key.data(), 8);
}

std::string CpmFileRow::Ext() const {
  return KeyText(key.data() + 8, 3);
}

CpmCatalog ReadCpmCatalog(const TZX_Disk& disk, CpmShowOptions show) {
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk);
  CpmCatalog cat;
  cat.usedBlocks.set(0);
  cat.usedBlocks.set(1);
  for (const CpmDirEntry& e : dir) {
    // Every live extent holds its blocks, listed or not.
    if (!e.Deleted()) MarkBlocks(e, cat.usedBlocks);
    if (e.extent != 0 || (e.Deleted() && !show.deleted) || (e.Hidden() && !show.hidden)) continue;
    CpmFileRow row{e.key, e.user, e.extent, e.records};
    // The total is kept whole: a file of 256 records or more shows its true
    // size rather than one wrapped to 8 bits.
    if (e.records >= kCpmRecordSize) {
      for (const CpmDirEntry* x : LaterExtents(dir, e))
        row.records += x->records;
    }
    cat.rows.push_back(row);
  }
  return cat;
}

bool CollectCpmFile(const TZX_Disk& disk, const CpmKey& key, uint8_t user,
                    std::vector<uint8_t>& out) {
  return CollectCpmFile(disk, ReadCpmDirectory(disk), key, user, out);
}

bool CollectCpmFile(const TZX_Disk& disk, const std::vector<CpmDirEntry>& dir, const CpmKey& key,
                    uint8_t user, std::vector<uint8_t>& out) {
  out.clear();
  const auto first = std::find_if(dir.begin(), dir.end(), [&](const CpmDirEntry& e) {
    return e.extent == 0 && e.user == user && e.key == key;
  });
  if (first == dir.end()) return false;

  uint64_t length = uint64_t{first->records} * kCpmRecordSize;
  std::vector<uint16_t> blocks;
  AppendBlockNumbers(*first, blocks);
  // An extent that does not use all its eight blocks is the file's last.
  if (blocks.size() == first->blocks.size()) {
    for (const CpmDirEntry* x : LaterExtents(dir, *first)) {
      length += uint64_t{x->records} * kCpmRecordSize;
      AppendBlockNumbers(*x, blocks);
    }
  }
  out.reserve(blocks.size() * kCpmBlockSize);
  for (uint16_t b : blocks)
    AppendBlockBytes(disk, b, out);
  if (out.size() > length) out.resize(static_cast<size_t>(length));
  return true;
}

bool IsCpmImage(TZX_Disk& disk) {
  const int count = disk.GetTrack(0).CountSectors();
  return count == 5 || count == 6;
}

bool WriteCpmFile(const TZX_Disk& disk, const CpmFileRow& row, const std::string& path,
                  std::string& error) {
  std::vector<uint8_t> bytes;
  if (!CollectCpmFile(disk, row.key, row.user, bytes)) {
    error = kCpmCatalogErrorText;
    return false;
  }
  return WriteFileAtomic(path, bytes, error);
}

void CreateCpmDisk(TZX_Disk& disk) {
  disk.ClearImage();
  for (int t = 0; t < kCpmTracks; ++t) {
    TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    track.Present = 0xFF;
    for (int slot = 0; slot < kCpmSectorsPerTrack; ++slot) {
      const int logical = t * kCpmSectorsPerTrack + slot;
      TSectorRec& s = track.SectorHeader(static_cast<uint8_t>(slot));
      s.SetId(static_cast<uint8_t>(t / 2), static_cast<uint8_t>(t % 2), CpmSectorOf(logical).sec,
              3);
      s.DataOk = 0xFF;
      const std::span<uint8_t> data = s.MutableData(kCpmSectorSize);
      // An all-zero directory entry is a live file (user 0, extent 0, blank
      // name); the empty CP/M directory is filled with 0xE5.
      if (logical < kDirSectors) std::ranges::fill(data, kCpmUnused);
    }
    track.CountSectors();
  }
  disk.CountTracks();
  if (disk.View()) disk.View()->ScrollToTopAndRepaint();
}

}  // namespace kelvara
