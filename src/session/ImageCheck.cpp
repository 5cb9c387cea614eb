#include "session/ImageCheck.h"

#include <algorithm>
#include <array>
#include <bitset>

#include "filesystems/CpmCatalog.h"
#include "filesystems/Hobeta.h"
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

// The sector numbers a present track is laid out with, as a bit per number;
// none when the image's file system does not say.
std::bitset<256> ExpectedSectors(const std::string& fileSystem, int track) {
  std::bitset<256> expected;
  if (fileSystem == "trdos") {
    for (int r = 1; r <= kTrdosSectorsPerTrack; ++r)
      expected.set(static_cast<size_t>(r));
  } else if (fileSystem == "cpm") {
    for (int r = 1; r <= 4; ++r)
      expected.set(static_cast<size_t>(r));
    expected.set(track == 0 ? 9 : 5);
  }
  return expected;
}

void CheckSectors(const TZX_Disk& disk, ImageCheck& out) {
  const int last = disk.LastPresentTrack();
  for (int t = 0; t <= last; ++t) {
    const TTrack& track = disk.GetTrack(static_cast<uint8_t>(t));
    if (!track.Present) {
      out.missingTracks.push_back(t);
      continue;
    }
    ++out.tracks;
    TrackDamage d;
    d.track = t;
    std::bitset<256> seen;
    for (const TSectorRec& s : track.Sectors) {
      if (!s.Present) continue;
      seen.set(s.Sec);
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
    const std::bitset<256> missing = ExpectedSectors(out.fileSystem, t) & ~seen;
    for (int r = 0; r < 256 && missing.any(); ++r) {
      if (missing.test(static_cast<size_t>(r))) d.missing.push_back(r);
    }
    if (!d.bad.empty() || !d.noData.empty() || !d.missing.empty())
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
        problems.push_back("file " + name + ": sector " +
                           std::to_string(linear % kTrdosSectorsPerTrack + 1) + " of track " +
                           std::to_string(linear / kTrdosSectorsPerTrack) +
                           (s ? " is bad" : " is missing"));
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
  std::vector<std::string> problems;
  std::bitset<kCpmBlockCount> used;
  used.set(0);
  used.set(1);
  const std::vector<CpmDirEntry> dir = ReadCpmDirectory(disk);
  for (size_t i = 0; i < dir.size(); ++i) {
    const CpmDirEntry& e = dir[i];
    if (e.Deleted()) continue;
    const std::string where = "directory entry " + std::to_string(i);
    if (e.records > kCpmRecordSize)
      problems.push_back(where + " counts " + std::to_string(e.records) +
                         " records, an extent holds 128");
    for (const uint16_t block : e.blocks) {
      if (block == 0) continue;
      if (block >= kCpmBlockCount) {
        problems.push_back(where + " names block " + std::to_string(block) +
                           ", past the end of the disk");
      } else if (used.test(block)) {
        problems.push_back(where + " names block " + std::to_string(block) +
                           (block < 2 ? ", which holds the directory" : ", used by another file"));
      } else {
        used.set(block);
      }
    }
  }
  return problems;
}

void CheckImage(const TZX_Disk& disk, ImageCheck& out) {
  bool isTrdos = false;
  std::vector<std::string> volume = CheckTrdosVolume(disk, isTrdos);
  const int track0 = disk.GetTrack(0).Present ? disk.GetTrack(0).PresentSlots() : 0;
  if (isTrdos) {
    out.fileSystem = "trdos";
  } else if (track0 == 5 || track0 == 6) {
    out.fileSystem = "cpm";
    volume = CheckCpmVolume(disk);
  }
  CheckSectors(disk, out);
  for (std::string& p : volume)
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
