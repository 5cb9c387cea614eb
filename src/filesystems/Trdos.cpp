#include "filesystems/Trdos.h"

#include <algorithm>

#include "model/CodePage.h"

namespace kelvara {

namespace {

constexpr size_t kServiceOffset = (kTrdosServiceSector - 1) * kTrdosSectorSize;
constexpr size_t kNeededBlock = kTrdosServiceSector * kTrdosSectorSize;

uint8_t ServiceByte(std::span<const uint8_t> block, int offset) {
  return block[kServiceOffset + static_cast<size_t>(offset)];
}

bool AllZero(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
}

}  // namespace

std::string TrdosSectorErrorText(int track, int sec, std::string_view end) {
  return "Ошибка сектора - (track " + std::to_string(track) + " sector " + std::to_string(sec) +
         std::string(end);
}

void TTrdosFileEntry::Encode(std::span<uint8_t, kTrdosEntrySize> out) const {
  std::copy(Name.begin(), Name.end(), out.begin());
  out[8] = FileType;
  out[9] = static_cast<uint8_t>(Start & 0xFF);
  out[10] = static_cast<uint8_t>(Start >> 8);
  out[11] = static_cast<uint8_t>(Length & 0xFF);
  out[12] = static_cast<uint8_t>(Length >> 8);
  out[13] = SectorCount;
  out[14] = FirstSector;
  out[15] = FirstTrack;
}

TTrdosFileEntry TTrdosFileEntry::Decode(std::span<const uint8_t, kTrdosEntrySize> in) {
  // A fixed 16 bytes: read by position, as Encode writes them.
  TTrdosFileEntry e;
  std::copy_n(in.begin(), e.Name.size(), e.Name.begin());
  e.FileType = in[8];
  e.Start = static_cast<uint16_t>(in[9] | in[10] << 8);
  e.Length = static_cast<uint16_t>(in[11] | in[12] << 8);
  e.SectorCount = in[13];
  e.FirstSector = in[14];
  e.FirstTrack = in[15];
  return e;
}

namespace {

// The const and the writable lookups in one: a writable one goes through the
// disk's writable track, which marks the track as used.
template <class Disk>
auto FindLogicalSector(Disk& disk, int track, int sec) -> decltype(&disk.GetTrack(0).Sectors[0]) {
  if (track < 0 || track >= kTrackCount) return nullptr;
  for (auto& s : disk.GetTrack(static_cast<uint8_t>(track)).Sectors) {
    if (s.Sec == sec) return &s;
  }
  return nullptr;
}

template <class Sector>
Sector* IfUsable(Sector* s) {
  return (s && s->Present && s->DataLength() >= kTrdosSectorSize && IdFieldOk(*s)) ? s : nullptr;
}

template <class Disk>
auto FindUsableSector(Disk& disk, int track, int sec) {
  return IfUsable(FindLogicalSector(disk, track, sec));
}

}  // namespace

const TSectorRec* GetLogicalSector(const TZX_Disk& disk, int track, int sec) {
  return FindLogicalSector(disk, track, sec);
}

TSectorRec* GetLogicalSector(TZX_Disk& disk, int track, int sec) {
  return FindLogicalSector(disk, track, sec);
}

const TSectorRec* UsableSector(const TZX_Disk& disk, int track, int sec) {
  return FindUsableSector(disk, track, sec);
}

TSectorRec* UsableSector(TZX_Disk& disk, int track, int sec) {
  return FindUsableSector(disk, track, sec);
}

int LinearSectorIndex::Slot(int linear) {
  const int track = linear / kTrdosSectorsPerTrack;
  if (track != track_) {
    track_ = track;
    slots_.fill(-1);
    trackPresent_ = false;
    if (track >= 0 && track < kTrackCount) {
      trackPresent_ = disk_.GetTrack(static_cast<uint8_t>(track)).Present != 0;
      const auto& sectors = disk_.GetTrack(static_cast<uint8_t>(track)).Sectors;
      for (int slot = kSlotCount - 1; slot >= 0; --slot) {  // the first slot wins
        const int sec = sectors[slot].Sec;
        if (sec >= 1 && sec <= kTrdosSectorsPerTrack) slots_[sec - 1] = static_cast<int8_t>(slot);
      }
    }
  }
  return linear < 0 ? -1 : slots_[linear % kTrdosSectorsPerTrack];
}

const TSectorRec* LinearSectorIndex::Logical(int linear) {
  const int slot = Slot(linear);
  return slot < 0 ? nullptr : &disk_.GetTrack(static_cast<uint8_t>(track_)).Sectors[slot];
}

const TSectorRec* LinearSectorIndex::Usable(int linear) {
  return IfUsable(Logical(linear));
}

const TSectorRec* LinearSectorIndex::Destination(int linear) {
  const TSectorRec* s = Logical(linear);
  return s && trackPresent_ ? s : nullptr;
}

TSectorRec& LinearSectorIndex::Writable(TZX_Disk& disk, int linear) {
  const int slot = Slot(linear);
  return disk.GetTrack(static_cast<uint8_t>(track_)).Sectors[slot];
}

bool ParseTrdosCatalog(std::span<const uint8_t> sectors, TTrdosCatalog& out) {
  namespace sv = trdos_service;
  const bool whole = sectors.size() >= kNeededBlock;
  const uint8_t id = whole ? ServiceByte(sectors, sv::kTrdosId) : 0;
  const uint8_t type = whole ? ServiceByte(sectors, sv::kDiskType) : 0;
  if (id != kTrdosIdByte || type < 0x16 || type > 0x19) {
    out = TTrdosCatalog{};
    return false;
  }
  // Every field is set below and the entries past the listed ones are
  // zeroed, so the catalog is not cleared first.
  out.FirstFreeSector = ServiceByte(sectors, sv::kFirstFreeSector);
  out.FirstFreeTrack = ServiceByte(sectors, sv::kFirstFreeTrack);
  out.DiskType = type;
  out.FileCount = ServiceByte(sectors, sv::kFileCount);
  out.FreeSectors = static_cast<uint16_t>(ServiceByte(sectors, sv::kFreeSectors) |
                                          ServiceByte(sectors, sv::kFreeSectors + 1) << 8);
  out.TrdosId = id;
  out.DeletedCount = ServiceByte(sectors, sv::kDeletedCount);
  std::copy_n(sectors.begin() + kServiceOffset + sv::kDiskName, 8, out.DiskName.begin());

  // Eight zero name bytes end the catalog; an entry whose first byte alone is
  // zero is still read (and counts as deleted).
  int n = 0;
  while (n < kTrdosMaxFiles) {
    const auto bytes =
        sectors.subspan(static_cast<size_t>(n) * kTrdosEntrySize).first<kTrdosEntrySize>();
    if (AllZero(bytes.first(8))) break;
    out.Entries[n++] = TTrdosFileEntry::Decode(bytes);
  }
  std::fill(out.Entries.begin() + n, out.Entries.end(), TTrdosFileEntry{});
  out.ListedCount = static_cast<uint8_t>(n);
  out.Valid = true;
  return true;
}

namespace {

// The nine catalog sectors of track 0, one after the other; false when one
// of them is not a 256-byte sector or the service sector is short. Each is
// the first slot of its number, the copy a controller finds first after the
// index and the one every write goes to: a track with two sectors of one
// number must not be read from one copy and written to the other.
bool ReadCatalogBlock(const TZX_Disk& disk, std::span<uint8_t, kNeededBlock> block) {
  if (!disk.GetTrack(0).Present) return false;
  for (int sec = 1; sec <= kTrdosServiceSector; ++sec) {
    const TSectorRec* s = GetLogicalSector(disk, 0, sec);
    if (!s) continue;  // a missing catalog sector reads as zeros
    if (s->SizeCode != 1 || !s->Present) return false;
    if (sec == kTrdosServiceSector && s->DataLength() < kTrdosSectorSize) return false;
    // A catalog sector read short counts as zeros after its bytes.
    s->CopyDataPadded(block.subspan((sec - 1) * kTrdosSectorSize, kTrdosSectorSize));
  }
  return true;
}

}  // namespace

bool ReadTrdosCatalog(const TZX_Disk& disk, TTrdosCatalog& out) {
  std::array<uint8_t, kNeededBlock> block{};
  if (!ReadCatalogBlock(disk, block)) {
    out = TTrdosCatalog{};
    return false;
  }
  return ParseTrdosCatalog(block, out);
}

int DuplicateCatalogSector(const TZX_Disk& disk) {
  std::array<bool, kTrdosServiceSector + 1> seen{};
  for (const TSectorRec& s : disk.GetTrack(0).Sectors) {
    if (s.Sec == 0 || s.Sec > kTrdosServiceSector) continue;
    if (seen[s.Sec]) return s.Sec;
    seen[s.Sec] = true;
  }
  return 0;
}

bool NoteDuplicateCatalogSector(TZX_Disk& disk) {
  const int sec = DuplicateCatalogSector(disk);
  if (sec == 0) return false;
  const std::string line = "Сектор " + std::to_string(sec) +
                           " встречается на дорожке не один раз: каталог TR-DOS читается из "
                           "первой копии и пишется в неё же.";
  std::vector<std::string>& log = disk.GetTrack(0).Log;
  if (std::find(log.begin(), log.end(), line) == log.end()) log.push_back(line);
  return true;
}

bool TrdosCatalogWritable(const TZX_Disk& disk, std::string& error) {
  for (int sec = 1; sec <= kTrdosServiceSector; ++sec) {
    if (!UsableSector(disk, 0, sec)) {
      error = TrdosSectorErrorText(0, sec);
      return false;
    }
  }
  return true;
}

bool WriteTrdosCatalog(TZX_Disk& disk, const TTrdosCatalog& cat, std::string& error) {
  // A catalog wiped halfway loses every file, so nothing is written unless
  // every sector can be.
  if (!TrdosCatalogWritable(disk, error)) return false;
  std::array<TSectorRec*, kTrdosServiceSector> sectors{};
  for (int sec = 1; sec <= kTrdosServiceSector; ++sec)
    sectors[sec - 1] = UsableSector(disk, 0, sec);
  std::array<uint8_t, kTrdosCatalogBytes> entries{};
  for (int i = 0; i < cat.ListedBound(); ++i) {
    cat.Entries[i].Encode(std::span<uint8_t, kTrdosEntrySize>(&entries[i * kTrdosEntrySize], 16));
  }
  for (int sec = 1; sec < kTrdosServiceSector; ++sec) {
    StoreTrdosSector(*sectors[sec - 1],
                     std::span(entries).subspan((sec - 1) * kTrdosSectorSize, kTrdosSectorSize));
  }
  TSectorRec& service = *sectors[kTrdosServiceSector - 1];
  // The disk type and the identification byte belong to the formatter.
  StoreVolumeCounts(service.MutableData(), cat);
  std::copy(cat.DiskName.begin(), cat.DiskName.end(),
            service.MutableData().begin() + trdos_service::kDiskName);
  service.DataOk = 0xFF;
  return true;
}

void StoreVolumeCounts(std::span<uint8_t> service, const TTrdosCatalog& cat) {
  namespace sv = trdos_service;
  service[sv::kFirstFreeSector] = cat.FirstFreeSector;
  service[sv::kFirstFreeTrack] = cat.FirstFreeTrack;
  service[sv::kFileCount] = cat.FileCount;
  service[sv::kDeletedCount] = cat.DeletedCount;
  service[sv::kFreeSectors] = static_cast<uint8_t>(cat.FreeSectors & 0xFF);
  service[sv::kFreeSectors + 1] = static_cast<uint8_t>(cat.FreeSectors >> 8);
}

int TrdosTotalSectors(uint8_t diskType) {
  switch (diskType) {
    case 0x17:  // 40 tracks, two sides
    case 0x18:  // 80 tracks, one side
      return kTrdosTotalSectors / 2;
    case 0x19:  // 40 tracks, one side
      return kTrdosTotalSectors / 4;
    default:
      return kTrdosTotalSectors;
  }
}

uint16_t FreeSectorsFrom(int linear, int total) {
  return static_cast<uint16_t>(std::clamp(total - linear, 0, total));
}

void SetFreePointer(TTrdosCatalog& cat, int linear) {
  cat.FirstFreeTrack = static_cast<uint8_t>(linear / kTrdosSectorsPerTrack);
  cat.FirstFreeSector = static_cast<uint8_t>(linear % kTrdosSectorsPerTrack);
  cat.FreeSectors = FreeSectorsFrom(linear, TrdosTotalSectors(cat.DiskType));
}

void StoreTrdosSector(TSectorRec& sector, std::span<const uint8_t> bytes) {
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), kTrdosSectorSize),
              sector.MutableData().begin());
  sector.DataOk = 0xFF;
}

bool ReadTrdosRun(const TZX_Disk& disk, int firstTrack, int firstSector, int count,
                  std::vector<uint8_t>& out, TrdosSectorAddress& failed) {
  out.clear();
  out.reserve(static_cast<size_t>(count) * kTrdosSectorSize);
  return AppendTrdosRun(disk, firstTrack, firstSector, count, out, failed);
}

bool AppendTrdosRun(const TZX_Disk& disk, int firstTrack, int firstSector, int count,
                    std::vector<uint8_t>& out, TrdosSectorAddress& failed) {
  int track = firstTrack;
  int sec = firstSector + 1;
  for (int i = 0; i < count; ++i) {
    const TSectorRec* s = UsableSector(disk, track, sec);
    if (!s) {
      failed = {track, sec};
      return false;
    }
    out.insert(out.end(), s->Data().begin(), s->Data().begin() + kTrdosSectorSize);
    if (++sec > kTrdosSectorsPerTrack) {
      sec = 1;
      ++track;
    }
  }
  return true;
}

std::string FindSectorOwner(const TTrdosCatalog& snapshot, int track, int position) {
  if (track == 0 || !snapshot.Valid) return {};
  const int s = track * kTrdosSectorsPerTrack + position;
  for (int i = 0; i < snapshot.ListedBound(); ++i) {
    const TTrdosFileEntry& e = snapshot.Entries[i];
    if (s >= e.FirstLinear() && s < e.FirstLinear() + e.SectorCount) {
      return TrdosNameText(e.Name) + "_" + TrdosTypeText(e.FileType);
    }
  }
  return "Free sector!";
}

std::string TrdosNameText(const std::array<uint8_t, 8>& name) {
  return Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
}

std::string TrdosTypeText(uint8_t type) {
  return Cp1251ToUtf8(std::string(1, static_cast<char>(type)));
}

std::array<uint8_t, 8> TrdosNameBytes(const std::string& utf8, uint8_t pad) {
  const std::string bytes = Utf8ToCp1251(utf8);
  std::array<uint8_t, 8> out;
  out.fill(pad);
  std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), out.size()), out.begin());
  return out;
}

}  // namespace kelvara
