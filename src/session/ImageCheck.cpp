#include "session/ImageCheck.h"

#include <algorithm>
#include <array>
#include <bitset>

#include "filesystems/CpmCatalog.h"
#include "filesystems/Hobeta.h"
#include "filesystems/Plus3Dos.h"
#include "filesystems/SclArchive.h"
#include "filesystems/Trdos.h"
#include "formats/ImageFiles.h"
#include "model/FileIO.h"

namespace kelvara {

namespace {

std::string Hex2(int v) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string("0x") + kHex[(v >> 4) & 15] + kHex[v & 15];
}

// "boot.B": the name without its padding, a dot and the type letter.
std::string EntryName(const TTrdosFileEntry& e) {
  std::string name = TrdosNameText(e.Name);
  name.erase(name.find_last_not_of(' ') + 1);
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 32) c = '?';
  }
  return name + "." + TrdosTypeText(e.FileType);
}

void CheckSectors(const TZX_Disk& disk, const VolumeFindings& volume, ImageCheck& out) {
  const int last = disk.LastPresentTrack();
  // A file of one side holds no track of the other: those are not missing.
  bool side[2] = {false, false};
  for (int t = 0; t <= last; ++t)
    side[t % 2] |= disk.GetTrack(static_cast<uint8_t>(t)).Present != 0;
  for (int t = 0; t <= last; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) {
      if (side[t % 2]) out.missingTracks.push_back(t);
      continue;
    }
    ++out.tracks;
    TrackDamage d;
    d.track = t;
    std::bitset<256> seen;
    for (const TSectorRec& s : track.Sectors) {
      if (!s.Present) continue;
      seen.set(s.Sec);
      if (!IdFieldOk(s)) {
        d.badId.push_back(s.Sec);
        continue;
      }
      switch (SectorDataState(s)) {
        case DataState::Bad:
          d.bad.push_back(s.Sec);
          break;
        case DataState::NoData:
          d.noData.push_back(s.Sec);
          break;
        case DataState::Good:
          break;
      }
    }
    if (volume.expectedSectors) {
      const std::bitset<256> missing = volume.expectedSectors(t) & ~seen;
      for (int r = 0; r < 256 && missing.any(); ++r) {
        if (missing.test(static_cast<size_t>(r))) d.missing.push_back(r);
      }
    }
    if (!d.bad.empty() || !d.noData.empty() || !d.missing.empty() || !d.badId.empty())
      out.damage.push_back(std::move(d));
  }
}

// The Hobeta header's checksum and the sectors it announces.
void CheckHobetaFile(const std::string& path, ImageCheck& out) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, out.error)) {
    out.verdict = ImageCheck::Verdict::Unreadable;
    return;
  }
  TTrdosFileEntry e;
  bool checksumOk = false;
  if (!ReadHobetaHeader(file, e, checksumOk)) {
    out.verdict = ImageCheck::Verdict::Unreadable;
    out.error = "shorter than a Hobeta header";
    return;
  }
  out.fileSystem = "hobeta";
  if (!checksumOk) out.problems.push_back("the Hobeta header's checksum does not match");
  const size_t want = kHobetaHeaderSize + size_t{e.SectorCount} * kTrdosSectorSize;
  if (file.size() < want) {
    out.problems.push_back("the header announces " + std::to_string(e.SectorCount) +
                           " sectors, the file holds " +
                           std::to_string((file.size() - kHobetaHeaderSize) / kTrdosSectorSize));
  }
  if (e.SectorCount * kTrdosSectorSize < e.Length)
    out.problems.push_back("the length " + std::to_string(e.Length) + " does not fit " +
                           std::to_string(e.SectorCount) + " sectors");
}

}  // namespace

const char* VerdictName(ImageCheck::Verdict v) {
  switch (v) {
    case ImageCheck::Verdict::Clean:
      return "clean";
    case ImageCheck::Verdict::Damaged:
      return "damaged";
    case ImageCheck::Verdict::Unreadable:
      return "unreadable";
  }
  return "";
}

bool IsCheckableFile(const std::string& path) {
  const std::string key = ExtensionKey(path);
  return key.starts_with('$') || FindImageFormat(key, ImageTypes::WithProject) != nullptr;
}

std::vector<std::string> CheckTrdosVolume(const TZX_Disk& disk, bool& isTrdos) {
  std::vector<std::string> problems;
  TTrdosCatalog cat;
  isTrdos = ReadTrdosCatalog(disk, cat);
  if (!isTrdos) {
    // The TR-DOS identifier with a type TR-DOS does not know.
    const TSectorRec* service = UsableSector(disk, 0, kTrdosServiceSector);
    if (service && service->Data()[trdos_service::kTrdosId] == kTrdosIdByte) {
      isTrdos = true;
      problems.push_back("the disk type " + Hex2(service->Data()[trdos_service::kDiskType]) +
                         " is not TR-DOS's");
    }
    return problems;
  }
  const int total = TrdosTotalSectors(cat.DiskType);

  // TR-DOS reads entries up to the first whose first byte is 0.
  int visible = 0, deleted = 0;
  while (visible < kTrdosMaxFiles && cat.Entries[visible].Name[0] != 0) {
    deleted += cat.Entries[visible].Name[0] == kDeletedMark;
    ++visible;
  }
  if (cat.FileCount != visible)
    problems.push_back("the service sector counts " + std::to_string(cat.FileCount) +
                       " files, the catalog lists " + std::to_string(visible));
  if (cat.DeletedCount != deleted)
    problems.push_back("the service sector counts " + std::to_string(cat.DeletedCount) +
                       " deleted files, the catalog marks " + std::to_string(deleted));
  for (int i = visible + 1; i < cat.ListedBound(); ++i) {
    if (cat.Entries[i].IsLive())
      problems.push_back("file " + EntryName(cat.Entries[i]) +
                         " lies after the catalog's end, where TR-DOS does not see it");
  }

  const int freeAt = cat.FirstFreeTrack * kTrdosSectorsPerTrack + cat.FirstFreeSector;
  if (cat.FirstFreeSector >= kTrdosSectorsPerTrack || freeAt < kTrdosSectorsPerTrack ||
      freeAt > total) {
    problems.push_back("the first free sector (track " + std::to_string(cat.FirstFreeTrack) +
                       ", sector " + std::to_string(cat.FirstFreeSector) +
                       ") lies outside the data area");
  } else if (cat.FreeSectors != FreeSectorsFrom(freeAt, total)) {
    problems.push_back("the service sector counts " + std::to_string(cat.FreeSectors) +
                       " free sectors, the free pointer leaves " +
                       std::to_string(FreeSectorsFrom(freeAt, total)));
  }

  struct Run {
    int first, end, entry;
  };
  std::vector<Run> runs;
  LinearSectorIndex index(disk);
  for (int i = 0; i < visible; ++i) {
    const TTrdosFileEntry& e = cat.Entries[i];
    // A deleted file's sectors are free to TR-DOS once the pointer is below them.
    if (!e.IsLive()) continue;
    const std::string name = EntryName(e);
    const int first = e.FirstLinear(), end = first + e.SectorCount;
    if (e.FirstSector >= kTrdosSectorsPerTrack || first < kTrdosSectorsPerTrack) {
      problems.push_back("file " + name + " starts outside the data area");
      continue;
    }
    if (end > total) problems.push_back("file " + name + " runs past the end of the disk");
    if (end > freeAt) problems.push_back("file " + name + " runs past the first free sector");
    if (e.SectorCount * kTrdosSectorSize < e.Length)
      problems.push_back("file " + name + ": the length " + std::to_string(e.Length) +
                         " does not fit its " + std::to_string(e.SectorCount) + " sectors");
    runs.push_back({first, end, i});
    for (int linear = first; linear < end; ++linear) {
      const TSectorRec* s = index.Usable(linear);
      if (!s || SectorDataState(*s) != DataState::Good) {
        const TSectorRec* slot = index.Logical(linear);
        const char* what = s                                            ? " is bad"
                           : slot && slot->Present && !IdFieldOk(*slot) ? " has an unreadable ID"
                                                                        : " is missing";
        problems.push_back("file " + name + ": sector " +
                           std::to_string(linear % kTrdosSectorsPerTrack + 1) + " of track " +
                           std::to_string(linear / kTrdosSectorsPerTrack) + what);
        break;
      }
    }
  }
  // Each run against the furthest-reaching one before it in disk order.
  std::ranges::sort(runs, {}, &Run::first);
  const Run* reach = nullptr;
  for (const Run& r : runs) {
    if (reach && r.first < reach->end)
      problems.push_back("files " + EntryName(cat.Entries[reach->entry]) + " and " +
                         EntryName(cat.Entries[r.entry]) + " share sectors");
    if (!reach || r.end > reach->end) reach = &r;
  }
  return problems;
}

std::vector<std::string> CheckCpmVolume(const TZX_Disk& disk) {
  return CheckCpmVolume(disk, CpmFormatOf(disk));
}

std::vector<std::string> CheckCpmVolume(const TZX_Disk& disk, const CpmFormat& format) {
  std::vector<std::string> problems;
  std::bitset<kCpmMaxBlocks> used;
  const int dirBlocks = format.DirBlocks();
  const int blockCount = std::min(format.blockCount, kCpmMaxBlocks);
  for (int b = 0; b < dirBlocks && b < blockCount; ++b)
    used.set(static_cast<size_t>(b));
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk, format);
  for (size_t i = 0; i < dir.size(); ++i) {
    const CpmDirEntry& e = dir[i];
    if (e.Deleted() || !e.IsFile()) continue;
    const std::string where = "directory entry " + std::to_string(i);
    const bool recordsFit = e.records <= kCpmRecordSize;
    if (!recordsFit)
      problems.push_back(where + " counts " + std::to_string(e.records) +
                         " records, an extent holds 128");
    int held = 0;
    for (const uint16_t block : e.Blocks()) {
      if (block == 0) continue;
      ++held;
      if (block >= blockCount) {
        problems.push_back(where + " names block " + std::to_string(block) +
                           ", past the end of the disk");
      } else if (used.test(block)) {
        problems.push_back(
            where + " names block " + std::to_string(block) +
            (block < dirBlocks ? ", which holds the directory" : ", used by another file"));
      } else {
        used.set(block);
      }
    }
    // The records of the entry's full logical extents and of its last.
    const int records = (e.extent & format.ExtentMask()) * kCpmRecordSize + e.records;
    const int needed = (records * kCpmRecordSize + format.blockSize - 1) / format.blockSize;
    if (recordsFit && needed > held) {
      problems.push_back(where + " counts " + std::to_string(records) + " records, its " +
                         std::to_string(held) + " block(s) hold " +
                         std::to_string(held * format.blockSize / kCpmRecordSize));
    }
  }
  return problems;
}

namespace {

bool CheckTrdos(const TZX_Disk& disk, VolumeFindings& out) {
  bool isTrdos = false;
  out.problems = CheckTrdosVolume(disk, isTrdos);
  if (!isTrdos) return false;
  out.fileSystem = "trdos";
  out.expectedSectors = [](int) {
    std::bitset<256> expected;
    for (int r = 1; r <= kTrdosSectorsPerTrack; ++r)
      expected.set(static_cast<size_t>(r));
    return expected;
  };
  return true;
}

// The sector numbers of a CP/M layout on image track `track`: none on the
// side a one-sided layout leaves unused.
std::bitset<256> CpmTrackSectors(const CpmFormat& format, int track) {
  std::bitset<256> expected;
  if (format.sides == CpmFormat::Sides::One && track % 2) return expected;
  for (int i = 0; i < format.sectorsPerTrack; ++i)
    expected.set(static_cast<size_t>(format.firstSector + i) & 0xFF);
  if (format.profiTrack0 && track == 0) {
    expected.reset(static_cast<size_t>(format.firstSector + kCpmSectorsPerTrack - 1));
    expected.set(9);
  }
  return expected;
}

bool CheckCpmLayout(const TZX_Disk& disk, const CpmFormat& format, VolumeFindings& out) {
  out.fileSystem = format.id;
  out.problems = CheckCpmVolume(disk, format);
  out.expectedSectors = [format](int track) { return CpmTrackSectors(format, track); };
  return true;
}

bool CheckPlus3OrCpc(const TZX_Disk& disk, VolumeFindings& out) {
  CpmFormat format;
  return FindPlus3Format(disk, format) && CheckCpmLayout(disk, format, out);
}

// The Profi disk tells itself by its track 0 of five sectors (six on some).
bool CheckProfiCpm(const TZX_Disk& disk, VolumeFindings& out) {
  const TTrack& track0 = disk.GetTrack(0);
  const int slots = track0.Present ? track0.PresentSlots() : 0;
  return (slots == 5 || slots == 6) && CheckCpmLayout(disk, kProfiCpmFormat, out);
}

constexpr FileSystemCheck kFileSystemChecks[] = {
    {"trdos", CheckTrdos},
    {"plus3dos / cpc", CheckPlus3OrCpc},
    {"cpm", CheckProfiCpm},
};

}  // namespace

void CheckImage(const TZX_Disk& disk, ImageCheck& out) {
  VolumeFindings volume;
  for (const FileSystemCheck& fs : kFileSystemChecks) {
    VolumeFindings found;
    if (fs.check(disk, found)) {
      volume = std::move(found);
      break;
    }
  }
  out.fileSystem = volume.fileSystem;
  CheckSectors(disk, volume, out);
  for (std::string& p : volume.problems)
    out.problems.push_back(std::move(p));
}

ImageCheck CheckImageFile(TZX_Disk& scratch, const std::string& path) {
  ImageCheck out;
  out.format = ExtensionKey(path);
  if (out.format.starts_with('$')) {
    CheckHobetaFile(path, out);
    out.Settle();
    return out;
  }
  if (out.format == "SCL") {
    // The reader refuses an archive whose sum is wrong; that is damage the
    // user can still recover from, not an unreadable file.
    std::vector<uint8_t> file;
    SclArchive scl;
    if (ReadWholeFile(path, file, out.error) && scl.Open(file) == SclArchive::Status::BadChecksum) {
      out.problems.push_back("the SCL file's checksum does not match");
      out.fileSystem = "trdos";
      out.Settle();
      return out;
    }
    out.error.clear();
  }
  const LoadResult r = LoadImageFile(scratch, path, ImageTypes::WithProject);
  if (!r.ok) {
    out.verdict = ImageCheck::Verdict::Unreadable;
    out.error = r.errorText;
    return out;
  }
  out.note = scratch.StatusText;
  CheckImage(scratch, out);
  out.Settle();
  return out;
}

}  // namespace kelvara
