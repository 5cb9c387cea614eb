#include "filesystems/CpmWrite.h"

#include <algorithm>
#include <cctype>

#include "filesystems/Trdos.h"

namespace kelvara {

namespace {

constexpr int kNameBytes = 8;
constexpr int kExtBytes = 3;
constexpr int kExtentRecords = 128;  // records of a 16 KB logical extent
constexpr uint8_t kSoftEof = 0x1A;
constexpr uint8_t kFirstNonFileUser = 0x20;  // labels, date stamps

bool AllowedInName(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x7F && std::string_view("<>.,;:=?*[]|").find(c) == std::string_view::npos;
}

// The slot that holds a logical sector of the layout, when it can be
// written: present, on a track of the image, exactly the layout's size.
const TSectorRec* WritableSector(const TZX_Disk& disk, const CpmFormat& format, int logical,
                                 CpmSectorPlace& place) {
  place = CpmSectorOf(format, logical);
  if (place.track < 0 || place.track >= kTrackCount) return nullptr;
  const TTrack& track = disk.GetTrack(static_cast<uint8_t>(place.track));
  if (!track.Present) return nullptr;
  for (const TSectorRec& s : track.Sectors) {
    if (s.Present && s.Sec == place.sec) return s.DataLength() == format.sectorSize ? &s : nullptr;
  }
  return nullptr;
}

int FirstSectorOfBlock(const CpmFormat& format, int block) {
  return format.reservedTracks * format.sectorsPerTrack +
         block * (format.blockSize / format.sectorSize);
}

int DirSectors(const CpmFormat& format) {
  return (format.dirEntries * kCpmEntrySize + format.sectorSize - 1) / format.sectorSize;
}

std::string Trimmed(const CpmKey& key, size_t from, size_t n) {
  std::string s;
  for (size_t i = from; i < from + n; ++i)
    s += static_cast<char>(key[i] & 0x7F);
  return s.erase(s.find_last_not_of(' ') + 1);
}

}  // namespace

CpmKey PlainCpmKey(const CpmKey& key) {
  CpmKey plain;
  std::ranges::transform(key, plain.begin(), [](uint8_t b) { return uint8_t(b & 0x7F); });
  return plain;
}

bool ParseCpmName(std::string_view text, CpmName& out, std::string& error) {
  CpmName name;
  const std::string_view whole = text;
  const size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    const std::string_view user = text.substr(0, colon);
    int value = 0;
    const bool digits = !user.empty() && user.size() <= 2 &&
                        std::ranges::all_of(user, [](char c) { return c >= '0' && c <= '9'; });
    if (digits) value = std::stoi(std::string(user));
    if (!digits || value > kCpmMaxUser) {
      error = std::string(whole) + ": the user area before \":\" must be 0 to 15";
      return false;
    }
    name.user = static_cast<uint8_t>(value);
    text.remove_prefix(colon + 1);
  }
  const size_t dot = text.find('.');
  const std::string_view base = text.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (base.empty() || base.size() > kNameBytes || ext.size() > kExtBytes ||
      !std::ranges::all_of(base, AllowedInName) || !std::ranges::all_of(ext, AllowedInName)) {
    error = std::string(whole) +
            ": a CP/M name is 1 to 8 characters, a dot and up to 3 more, without spaces or "
            "< > . , ; : = ? * [ ] |";
    return false;
  }
  name.key.fill(' ');
  for (size_t i = 0; i < base.size(); ++i)
    name.key[i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(base[i])));
  for (size_t i = 0; i < ext.size(); ++i)
    name.key[kNameBytes + i] =
        static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(ext[i])));
  out = name;
  return true;
}

CpmKey CpmKeyFrom(std::string_view text) {
  std::string s(text);
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  for (char& c : s)
    c = AllowedInName(c) || c == '.'
            ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
            : '_';
  const size_t dot = s.find_last_of('.');
  std::string base = s.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : s.substr(dot + 1);
  std::ranges::replace(base, '.', '_');
  if (dot == std::string::npos && base.size() > kNameBytes) ext = base.substr(kNameBytes);
  CpmKey key;
  key.fill(' ');
  if (base.empty()) return CpmKey{};
  std::copy_n(base.begin(), std::min<size_t>(base.size(), kNameBytes), key.begin());
  std::copy_n(ext.begin(), std::min<size_t>(ext.size(), kExtBytes), key.begin() + kNameBytes);
  return key;
}

std::string CpmNameText(const CpmName& name) {
  const std::string ext = Trimmed(name.key, kNameBytes, kExtBytes);
  std::string text = Trimmed(name.key, 0, kNameBytes);
  if (!ext.empty()) text += "." + ext;
  return name.user == 0 ? text : std::to_string(name.user) + ":" + text;
}

bool CpmVolume::Open(TZX_Disk& disk, std::string& error) {
  disk_ = &disk;
  format_ = CpmFormatOf(disk);
  added_.clear();
  // A geometry record that gives no reserved track lies in the directory's
  // first sector: the first entry written there would change the layout
  // the disk is read with. A +3 keeps it on a reserved track.
  if (format_.plus3 && format_.reservedTracks == 0 && format_.firstSector == 1) {
    error = "the disk's format record (track 0, sector 1) lies in its directory: not changed";
    return false;
  }
  dir_.assign(static_cast<size_t>(format_.dirEntries) * kCpmEntrySize, kCpmUnused);
  const int first = FirstSectorOfBlock(format_, 0);
  for (int i = 0; i < DirSectors(format_); ++i) {
    CpmSectorPlace place;
    const TSectorRec* s = WritableSector(disk, format_, first + i, place);
    if (!s) {
      error = TrdosSectorErrorText(place.track, place.sec);
      return false;
    }
    const size_t at = static_cast<size_t>(i) * format_.sectorSize;
    std::copy_n(s->Data().begin(), std::min<size_t>(format_.sectorSize, dir_.size() - at),
                dir_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  MarkUsed();
  return true;
}

// A file's entry: a user area CP/M gives files. 0xE5 marks a free entry;
// 0x20 and up are labels and date stamps, whose bytes are no block numbers.
bool CpmVolume::IsFileEntry(int i) const {
  return Entry(i)[0] < kFirstNonFileUser;
}

bool CpmVolume::EntryOf(int i, const CpmName& name) const {
  const uint8_t* e = Entry(i);
  if (e[0] != name.user) return false;
  for (size_t k = 0; k < name.key.size(); ++k) {
    if ((e[1 + k] & 0x7F) != (name.key[k] & 0x7F)) return false;
  }
  return true;
}

std::vector<uint16_t> CpmVolume::EntryBlocks(int i) const {
  const uint8_t* e = Entry(i);
  std::vector<uint16_t> blocks;
  const int pointers = format_.PointersPerEntry();
  for (int k = 0; k < pointers; ++k) {
    const uint16_t b =
        pointers == 8 ? static_cast<uint16_t>(e[16 + 2 * k] | e[17 + 2 * k] << 8) : e[16 + k];
    if (b != 0 && b < format_.blockCount) blocks.push_back(b);
  }
  return blocks;
}

// The directory's blocks, and every block a file's entry names, wherever
// the entry stands: cpmtools reads the whole directory, so a block named
// past a never-used entry is in use too.
void CpmVolume::MarkUsed() {
  used_.assign(static_cast<size_t>(format_.blockCount), false);
  for (int b = 0; b < format_.DirBlocks() && b < format_.blockCount; ++b)
    used_[b] = true;
  for (int i = 0; i < format_.dirEntries; ++i) {
    if (!IsFileEntry(i)) continue;
    for (uint16_t b : EntryBlocks(i))
      used_[b] = true;
  }
}

bool CpmVolume::Exists(const CpmName& name) const {
  for (int i = 0; i < format_.dirEntries; ++i) {
    if (EntryOf(i, name)) return true;
  }
  return false;
}

int CpmVolume::FreeBlocks() const {
  return static_cast<int>(std::ranges::count(used_, false));
}

int CpmVolume::FreeEntries() const {
  int n = 0;
  for (int i = 0; i < format_.dirEntries; ++i)
    n += Entry(i)[0] == kCpmUnused ? 1 : 0;
  return n;
}

bool CpmVolume::Add(const CpmName& name, std::span<const uint8_t> bytes, std::string& error) {
  if (Exists(name)) {
    error = "Файл с именем " + CpmNameText(name) + " в образе уже существует..!";
    return false;
  }
  const size_t records = (bytes.size() + kCpmRecordSize - 1) / kCpmRecordSize;
  const size_t blockCount = (bytes.size() + format_.blockSize - 1) / format_.blockSize;
  const size_t pointers = static_cast<size_t>(format_.PointersPerEntry());
  const size_t entries = std::max<size_t>(1, (blockCount + pointers - 1) / pointers);
  const uint64_t maxRecords =
      uint64_t{64} * 32 * kExtentRecords;  // extent numbers run to 2047 (bytes 12 and 14)
  if (records > maxRecords || entries > static_cast<size_t>(FreeEntries())) {
    error = kCpmDirectoryFullText;
    return false;
  }
  if (blockCount > static_cast<size_t>(FreeBlocks())) {
    error = kCpmDiskFullText;
    return false;
  }
  std::vector<uint16_t> blocks;
  for (int b = 0; b < format_.blockCount && blocks.size() < blockCount; ++b) {
    if (!used_[b]) blocks.push_back(static_cast<uint16_t>(b));
  }
  const size_t recordsPerBlock = static_cast<size_t>(format_.blockSize) / kCpmRecordSize;
  const size_t extentsPerEntry = static_cast<size_t>(format_.ExtentMask()) + 1;
  int slot = 0;
  for (size_t k = 0; k < entries; ++k) {
    while (Entry(slot)[0] != kCpmUnused)
      ++slot;
    uint8_t* e = Entry(slot);
    std::fill_n(e, kCpmEntrySize, 0);
    e[0] = name.user;
    const CpmKey plain = PlainCpmKey(name.key);
    std::ranges::copy(plain, e + 1);
    // The records this entry maps, and the logical extent its last one is in.
    const size_t first = k * pointers * recordsPerBlock;
    const size_t here = std::min(records - std::min(records, first), pointers * recordsPerBlock);
    const size_t lastExtent = here == 0 ? 0 : (here - 1) / kExtentRecords;
    const size_t extent = k * extentsPerEntry + lastExtent;
    e[12] = static_cast<uint8_t>(extent & 0x1F);
    e[14] = static_cast<uint8_t>(extent >> 5);
    e[15] = static_cast<uint8_t>(here - lastExtent * kExtentRecords);
    if (k + 1 == entries && format_.plus3)
      e[13] = static_cast<uint8_t>(bytes.size() % kCpmRecordSize);
    for (size_t p = 0; p < pointers && k * pointers + p < blocks.size(); ++p) {
      const uint16_t b = blocks[k * pointers + p];
      if (pointers == 8) {
        e[16 + 2 * p] = static_cast<uint8_t>(b);
        e[17 + 2 * p] = static_cast<uint8_t>(b >> 8);
      } else {
        e[16 + p] = static_cast<uint8_t>(b);
      }
    }
  }
  for (size_t i = 0; i < blocks.size(); ++i) {
    const size_t at = i * static_cast<size_t>(format_.blockSize);
    const size_t n = std::min<size_t>(format_.blockSize, bytes.size() - at);
    std::vector<uint8_t> block(static_cast<size_t>(format_.blockSize), 0);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), n, block.begin());
    // The rest of the last record, as CP/M leaves a text file.
    const size_t recordEnd = (n + kCpmRecordSize - 1) / kCpmRecordSize * kCpmRecordSize;
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(n),
              block.begin() + static_cast<std::ptrdiff_t>(recordEnd), kSoftEof);
    added_[blocks[i]] = std::move(block);
    used_[blocks[i]] = true;
  }
  return true;
}

bool CpmVolume::Remove(const CpmName& name, std::string& error) {
  bool found = false;
  for (int i = 0; i < format_.dirEntries; ++i) {
    if (!EntryOf(i, name)) continue;
    found = true;
    for (uint16_t b : EntryBlocks(i))
      added_.erase(b);
    Entry(i)[0] = kCpmUnused;
  }
  if (!found) {
    error = CpmNameText(name) + ": " + kCpmCatalogErrorText;
    return false;
  }
  MarkUsed();
  return true;
}

bool CpmVolume::Rename(const CpmName& from, const CpmName& to, std::string& error) {
  if (!Exists(from)) {
    error = CpmNameText(from) + ": " + kCpmCatalogErrorText;
    return false;
  }
  if (!(from == to) && Exists(to)) {
    error = "Файл с именем " + CpmNameText(to) + " в образе уже существует..!";
    return false;
  }
  const CpmKey plain = PlainCpmKey(to.key);
  for (int i = 0; i < format_.dirEntries; ++i) {
    if (!EntryOf(i, from)) continue;
    uint8_t* e = Entry(i);
    e[0] = to.user;
    std::ranges::copy(plain, e + 1);
  }
  return true;
}

bool CpmVolume::Save(std::string& error) {
  if (!disk_) return false;
  // Each logical sector to write and the bytes it gets.
  std::vector<std::pair<int, std::span<const uint8_t>>> writes;
  const int dirFirst = FirstSectorOfBlock(format_, 0);
  for (int i = 0; i < DirSectors(format_); ++i) {
    const size_t at = static_cast<size_t>(i) * format_.sectorSize;
    writes.emplace_back(
        dirFirst + i,
        std::span(dir_).subspan(at, std::min<size_t>(format_.sectorSize, dir_.size() - at)));
  }
  const int perBlock = format_.blockSize / format_.sectorSize;
  for (const auto& [block, bytes] : added_) {
    for (int k = 0; k < perBlock; ++k)
      writes.emplace_back(FirstSectorOfBlock(format_, block) + k,
                          std::span(bytes).subspan(static_cast<size_t>(k) * format_.sectorSize,
                                                   static_cast<size_t>(format_.sectorSize)));
  }
  for (const auto& [logical, bytes] : writes) {
    CpmSectorPlace place;
    if (!WritableSector(*disk_, format_, logical, place)) {
      error = TrdosSectorErrorText(place.track, place.sec);
      return false;
    }
  }
  for (const auto& [logical, bytes] : writes) {
    const CpmSectorPlace place = CpmSectorOf(format_, logical);
    for (TSectorRec& s : disk_->GetTrack(static_cast<uint8_t>(place.track)).Sectors) {
      if (!s.Present || s.Sec != place.sec) continue;
      std::ranges::copy(bytes, s.MutableData().begin());
      s.DataOk = 0xFF;
      break;
    }
  }
  added_.clear();
  return true;
}

}  // namespace kelvara
