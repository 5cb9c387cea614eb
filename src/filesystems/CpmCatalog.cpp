#include "filesystems/CpmCatalog.h"

#include <algorithm>
#include <array>
#include <utility>

#include "filesystems/Plus3Dos.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

constexpr uint8_t kTrack0FifthSector = 9;
constexpr int kDirSectors = kCpmDirBytes / kCpmSectorSize;  // track 0 sectors 1 to 4
constexpr int kExtentRecords = 128;                         // records of a logical extent

// The present slot of a track that carries sector number `sec` under an ID
// field a controller can read, if any.
const TSectorRec* FindSector(const TZX_Disk& disk, int track, uint8_t sec) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  const TTrack& t = disk.GetTrack(static_cast<uint8_t>(track));
  for (const TSectorRec& s : t.Sectors) {
    if (s.Present && s.Sec == sec && IdFieldOk(s)) return &s;
  }
  return nullptr;
}

CpmDirEntry ParseEntry(std::span<const uint8_t, kCpmEntrySize> raw, const CpmFormat& format) {
  CpmDirEntry e;
  e.user = raw[0];
  std::copy_n(raw.begin() + 1, e.key.size(), e.key.begin());
  // Byte 12 holds the extent number modulo 32, byte 14 the multiples of 32
  // (its top bits are flags of the running system, never numbers). Byte 13,
  // the bytes used of the last record, counts only where the format keeps
  // it (CpmFormat::lastRecordBytes).
  e.extent = static_cast<uint16_t>((raw[14] & 0x3F) << 5 | (raw[12] & 0x1F));
  e.lastBytes = raw[13];
  e.records = raw[15];
  e.pointers = static_cast<uint8_t>(format.PointersPerEntry());
  for (int i = 0; i < e.pointers; ++i) {
    e.blocks[i] = e.pointers == 8 ? static_cast<uint16_t>(raw[16 + 2 * i] | raw[17 + 2 * i] << 8)
                                  : raw[16 + i];
  }
  return e;
}

// Where an entry stands among its file's entries: an entry maps ExtentMask +
// 1 logical extents, and its extent number is that of the last one it uses.
int EntryIndex(const CpmDirEntry& e, const CpmFormat& format) {
  return e.extent / (format.ExtentMask() + 1);
}

// The records an entry holds: its full logical extents and the records of
// the last.
uint32_t EntryRecords(const CpmDirEntry& e, const CpmFormat& format) {
  return uint32_t(e.extent & format.ExtentMask()) * kExtentRecords + e.records;
}

// The other extents of the file whose extent-0 entry is `first`, in extent
// order, up to the first one that is not full. The user byte must match as
// well as the name: a deleted earlier copy of the file, or a namesake of
// another user, keeps its entries in the directory and is not part of it.
// CP/M fills freed directory slots first, so a file's extents need not
// stand in directory order.
std::vector<const CpmDirEntry*> LaterExtents(const std::vector<CpmDirEntry>& dir,
                                             const CpmDirEntry& first, const CpmFormat& format) {
  std::vector<const CpmDirEntry*> found;
  for (const CpmDirEntry& e : dir) {
    if (EntryIndex(e, format) != 0 && e.user == first.user && e.key == first.key)
      found.push_back(&e);
  }
  std::stable_sort(found.begin(), found.end(), [](const CpmDirEntry* a, const CpmDirEntry* b) {
    return a->extent < b->extent;
  });
  const uint32_t full = uint32_t(format.ExtentMask() + 1) * kExtentRecords;
  const auto partial = std::find_if(found.begin(), found.end(), [&](const CpmDirEntry* e) {
    return EntryRecords(*e, format) < full;
  });
  if (partial != found.end()) found.erase(partial + 1, found.end());
  return found;
}

// A file's length from its first entry and its later ones: whole records,
// less what the last record leaves unused where the format keeps that count.
uint64_t FileBytes(const CpmDirEntry& first, const std::vector<const CpmDirEntry*>& later,
                   const CpmFormat& format) {
  uint64_t records = EntryRecords(first, format);
  for (const CpmDirEntry* x : later)
    records += EntryRecords(*x, format);
  const CpmDirEntry& last = later.empty() ? first : *later.back();
  if (format.lastRecordBytes && records > 0 && last.lastBytes > 0 &&
      last.lastBytes < kCpmRecordSize) {
    return (records - 1) * kCpmRecordSize + last.lastBytes;
  }
  return records * kCpmRecordSize;
}

void MarkBlocks(const CpmDirEntry& e, int blockCount, std::bitset<kCpmMaxBlocks>& used) {
  for (uint16_t b : e.Blocks()) {
    if (b >= blockCount) break;
    used.set(b);
  }
}

void AppendBlockNumbers(const CpmDirEntry& e, std::vector<uint16_t>& blocks) {
  for (uint16_t b : e.Blocks()) {
    if (b == 0) break;
    blocks.push_back(b);
  }
}

// The first logical sector of a block.
int BlockSector(const CpmFormat& format, int block) {
  return format.reservedTracks * format.sectorsPerTrack +
         block * (format.blockSize / format.sectorSize);
}

// A block's bytes (2048 on a Profi disk). Only a sector of exactly its
// format's size counts: a short or oversized read means the sector is not
// the one the file system wrote, and its bytes read as zeros like a missing
// one.
void AppendBlockBytes(const TZX_Disk& disk, const CpmFormat& format, uint16_t block,
                      std::vector<uint8_t>& out) {
  const int first = BlockSector(format, block);
  for (int i = 0; i < format.blockSize / format.sectorSize; ++i) {
    const CpmSectorPlace place = CpmSectorOf(format, first + i);
    const TSectorRec* s = FindSector(disk, place.track, place.sec);
    const bool usable = s && disk.GetTrack(static_cast<uint8_t>(place.track)).Present &&
                        s->DataLength() == format.sectorSize;
    if (usable) {
      out.insert(out.end(), s->Data().begin(), s->Data().end());
    } else {
      out.insert(out.end(), format.sectorSize, 0);
    }
  }
}

// The 7-bit characters (bit 7 is an attribute); control bytes (a zeroed
// entry's name) become "?" so that the row stays visible.
std::string KeyText(const uint8_t* bytes, size_t n) {
  std::string text(n, ' ');
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i] & 0x7F;
    text[i] = c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
  }
  return text;
}

std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

std::string UserText(int user) {
  constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[user >> 4] + kHex[user & 15];
}

CpmOtherEntry::Kind OtherKind(uint8_t user) {
  using Kind = CpmOtherEntry::Kind;
  if (user < 2 * kCpmUsers) return Kind::Password;
  if (user == 0x20) return Kind::Label;
  return user == 0x21 ? Kind::DateStamps : Kind::Unknown;
}

}  // namespace

CpmSectorPlace CpmSectorOf(int logicalSector) {
  return CpmSectorOf(kProfiCpmFormat, logicalSector);
}

CpmSectorPlace CpmSectorOf(const CpmFormat& format, int logicalSector) {
  const int t = logicalSector / format.sectorsPerTrack;
  const int index = logicalSector % format.sectorsPerTrack;
  CpmSectorPlace p{t, static_cast<uint8_t>(format.firstSector + index)};
  if (format.profiTrack0 && t == 0 && index == kCpmSectorsPerTrack - 1) p.sec = kTrack0FifthSector;
  switch (format.sides) {
    case CpmFormat::Sides::Interleaved:
      break;
    case CpmFormat::Sides::One:
      p.track = 2 * t;
      break;
    case CpmFormat::Sides::Successive:
      p.track = t < format.tracksPerSide ? 2 * t : 2 * (2 * format.tracksPerSide - 1 - t) + 1;
      break;
  }
  return p;
}

CpmFormat CpmFormatOf(const TZX_Disk& disk) {
  CpmFormat format;
  if (FindPlus3Format(disk, format)) return format;
  return kProfiCpmFormat;
}

std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk) {
  return ReadCpmDirectory(disk, CpmFormatOf(disk));
}

std::vector<CpmDirEntry> ReadCpmDirectory(const TZX_Disk& disk, const CpmFormat& format) {
  std::vector<uint8_t> bytes(size_t(format.dirEntries) * kCpmEntrySize);
  const int dirSectors = static_cast<int>(bytes.size() + format.sectorSize - 1) / format.sectorSize;
  const int first = BlockSector(format, 0);
  for (int i = 0; i < dirSectors; ++i) {
    const CpmSectorPlace place = CpmSectorOf(format, first + i);
    if (const TSectorRec* s = FindSector(disk, place.track, place.sec)) {
      const size_t at = size_t(i) * format.sectorSize;
      const size_t n =
          std::min<size_t>({s->DataLength(), size_t(format.sectorSize), bytes.size() - at});
      std::copy_n(s->Data().begin(), n, bytes.begin() + at);
    }
  }
  std::vector<CpmDirEntry> entries;
  for (int i = 0; i < format.dirEntries; ++i) {
    const std::span<const uint8_t, kCpmEntrySize> raw(bytes.data() + i * kCpmEntrySize,
                                                      kCpmEntrySize);
    if (raw[0] == kCpmUnused && raw[1] == kCpmUnused) break;
    entries.push_back(ParseEntry(raw, format));
  }
  return entries;
}

std::string CpmTypedName(const CpmKey& key) {
  const std::string name = Trimmed(KeyText(key.data(), 8)),
                    ext = Trimmed(KeyText(key.data() + 8, 3));
  return ext.empty() ? name : name + "." + ext;
}

std::vector<std::string> CpmAttributes(const CpmKey& key) {
  static constexpr std::array<std::pair<int, const char*>, 7> kBits = {
      {{0, "F1"}, {1, "F2"}, {2, "F3"}, {3, "F4"}, {8, "R/O"}, {9, "SYS"}, {10, "ARC"}}};
  std::vector<std::string> names;
  for (const auto& [at, name] : kBits) {
    if (key[static_cast<size_t>(at)] & 0x80) names.emplace_back(name);
  }
  return names;
}

std::string CpmFileRow::Name() const {
  return KeyText(key.data(), 8);
}

std::string CpmFileRow::Ext() const {
  return KeyText(key.data() + 8, 3);
}

const char* CpmOtherEntry::KindName() const {
  static constexpr const char* kNames[] = {"label", "date-stamps", "password", "unknown"};
  return kNames[static_cast<int>(kind)];
}

std::string CpmOtherEntry::Describe() const {
  switch (kind) {
    case Kind::Label:
      return "Label: " + CpmTypedName(key);
    case Kind::DateStamps:
      return "Date stamps";
    case Kind::Password:
      return "Password of " + std::to_string(user - kCpmUsers) + ":" + CpmTypedName(key);
    case Kind::Unknown:
      break;
  }
  return "Entry of user " + UserText(user) + ": " + CpmTypedName(key);
}

std::string CpmCatalog::Label() const {
  for (const CpmOtherEntry& e : others) {
    if (e.kind == CpmOtherEntry::Kind::Label) return CpmTypedName(e.key);
  }
  return {};
}

CpmCatalog ReadCpmCatalog(const TZX_Disk& disk, CpmShowOptions show) {
  const CpmFormat format = CpmFormatOf(disk);
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk, format);
  CpmCatalog cat;
  cat.blockSize = format.blockSize;
  cat.blockCount = std::min(format.blockCount, kCpmMaxBlocks);
  for (int b = 0; b < format.DirBlocks() && b < cat.blockCount; ++b)
    cat.usedBlocks.set(b);
  const uint32_t full = uint32_t(format.ExtentMask() + 1) * kExtentRecords;
  for (const CpmDirEntry& e : dir) {
    if (!e.Deleted() && !e.IsFile()) {
      // Labels, date stamps and passwords hold no blocks.
      if (EntryIndex(e, format) == 0) cat.others.push_back({OtherKind(e.user), e.user, e.key});
      continue;
    }
    // Every live extent holds its blocks, listed or not.
    if (!e.Deleted()) MarkBlocks(e, cat.blockCount, cat.usedBlocks);
    if (EntryIndex(e, format) != 0 || (e.Deleted() && !show.deleted) ||
        (e.Hidden() && !show.hidden)) {
      continue;
    }
    CpmFileRow row{e.key, e.user, e.extent, EntryRecords(e, format), 0};
    // The total is kept whole: a file of 256 records or more shows its true
    // size rather than one wrapped to 8 bits.
    std::vector<const CpmDirEntry*> later;
    if (row.records >= full) later = LaterExtents(dir, e, format);
    for (const CpmDirEntry* x : later)
      row.records += EntryRecords(*x, format);
    row.bytes = FileBytes(e, later, format);
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
  const CpmFormat format = CpmFormatOf(disk);
  const auto first = std::find_if(dir.begin(), dir.end(), [&](const CpmDirEntry& e) {
    return EntryIndex(e, format) == 0 && e.user == user && e.key == key;
  });
  if (first == dir.end()) return false;

  std::vector<uint16_t> blocks;
  AppendBlockNumbers(*first, blocks);
  // An entry that does not use all its blocks is the file's last.
  std::vector<const CpmDirEntry*> later;
  if (blocks.size() == first->pointers) later = LaterExtents(dir, *first, format);
  for (const CpmDirEntry* x : later)
    AppendBlockNumbers(*x, blocks);
  const uint64_t length = FileBytes(*first, later, format);
  out.reserve(blocks.size() * format.blockSize);
  for (uint16_t b : blocks)
    AppendBlockBytes(disk, format, b, out);
  if (out.size() > length) out.resize(static_cast<size_t>(length));
  return true;
}

bool IsCpmImage(TZX_Disk& disk) {
  const int count = disk.GetTrack(0).CountSectors();
  CpmFormat format;
  return count == 5 || count == 6 || FindPlus3Format(disk, format);
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
